#include "components/registry.h"

namespace sx {

namespace {

// A value that keeps growing between the size query and the read is given up
// after this many rounds rather than chased forever.
constexpr int kValueReadRounds = 8;

// Registry names are at most 255 characters; the enumeration buffer has room
// for 260 and the zero.
constexpr uint32_t kSubkeyNameBuffer = 261;

// Deeper than the registry allows (512 levels): a loop, or a tree we should
// not be walking.
constexpr int kMaxTreeDepth = 512;

long delete_tree_at(RegKey root, const std::string& path, uint32_t access, int depth) {
    if (depth > kMaxTreeDepth) return kErrorInvalidParameter;
    Platform& os = platform();
    long first_error = kErrorSuccess;
    {
        RegistryKey key;
        const long opened = key.open(root, path.c_str(), access);
        if (opened != kErrorSuccess) return opened;
        for (;;) {
            char name[kSubkeyNameBuffer];
            uint32_t size = kSubkeyNameBuffer;
            const long listed = os.reg_enum_key(key.get(), 0, name, &size);
            if (listed == kErrorNoMoreItems) break;
            if (listed != kErrorSuccess) {
                first_error = listed;
                break;
            }
            // Index 0 would name the same subkey again if it stayed: stop at
            // the first one that cannot be removed.
            const long removed = delete_tree_at(root, path + "\\" + name, access, depth + 1);
            if (removed != kErrorSuccess) {
                first_error = removed;
                break;
            }
        }
    }
    const long deleted = os.reg_delete_key(root, path.c_str());
    if (deleted == kErrorSuccess) return kErrorSuccess;
    return first_error != kErrorSuccess ? first_error : deleted;
}

}  // namespace

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        close();
        key_ = other.release();
    }
    return *this;
}

long RegistryKey::open(RegKey parent, const char* subkey, uint32_t access) {
    close();
    RegKey opened = 0;
    const long rc = platform().reg_open_key(parent, subkey, access, &opened);
    if (rc == kErrorSuccess) key_ = opened;
    return rc;
}

long RegistryKey::create(RegKey parent, const char* subkey, bool* created) {
    close();
    RegKey opened = 0;
    const long rc = platform().reg_create_key(parent, subkey, &opened, created);
    if (rc == kErrorSuccess) key_ = opened;
    return rc;
}

RegKey RegistryKey::release() {
    const RegKey key = key_;
    key_ = 0;
    return key;
}

void RegistryKey::close() {
    if (key_) platform().reg_close_key(release());
}

long read_registry_value(RegKey key, const char* name, RegistryValue* value) {
    Platform& os = platform();
    uint32_t type = kRegNone;
    uint32_t size = 0;
    long rc = os.reg_query_value(key, name, &type, nullptr, &size);
    for (int round = 0; rc == kErrorSuccess && round < kValueReadRounds; ++round) {
        std::vector<uint8_t> data(size);
        uint32_t got = size;
        rc = os.reg_query_value(key, name, &type, data.empty() ? nullptr : data.data(), &got);
        if (rc == kErrorSuccess && got <= data.size()) {
            data.resize(got);
            value->type = type;
            value->data = std::move(data);
            return kErrorSuccess;
        }
        if (rc != kErrorSuccess && rc != kErrorMoreData) return rc;
        // It grew: `got` is its size now.
        size = got;
        rc = kErrorSuccess;
    }
    return rc == kErrorSuccess ? kErrorMoreData : rc;
}

std::string registry_value_text(const RegistryValue& value) {
    std::string text(value.data.begin(), value.data.end());
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

bool read_string_value(RegKey key, const char* name, std::string* text, size_t max_bytes) {
    RegistryValue value;
    if (read_registry_value(key, name, &value) != kErrorSuccess || value.type != kRegSz ||
        value.data.size() > max_bytes)
        return false;
    *text = registry_value_text(value);
    return true;
}

bool is_registry_string_type(uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

bool delete_registry_tree(RegKey root, const std::string& path, uint32_t access, long* error) {
    const long rc = delete_tree_at(root, path, access, 0);
    if (error) *error = rc;
    return rc == kErrorSuccess;
}

}  // namespace sx
