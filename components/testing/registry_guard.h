// Saves one registry value and puts it back (or removes it) when the test
// ends, so tests that run in a shared Windows prefix leave it as they found it.
#pragma once

#include <string>
#include <vector>

#include "components/registry.h"
#include "platform/platform.h"

namespace sx::testing {

class RegistryValueGuard {
public:
    RegistryValueGuard(RegKey root, std::string subkey, std::string name)
        : root_(root), subkey_(std::move(subkey)), name_(std::move(name)) {
        RegistryKey key;
        RegistryValue saved;
        if (key.open(root_, subkey_.c_str(), kKeyQueryValue) != kErrorSuccess) return;
        had_value_ = read_registry_value(key.get(), name_.c_str(), &saved) == kErrorSuccess;
        type_ = saved.type;
        data_.assign(saved.data.begin(), saved.data.end());
    }
    ~RegistryValueGuard() {
        Platform& os = platform();
        RegKey key = 0;
        if (had_value_) {
            if (os.reg_create_key(root_, subkey_.c_str(), &key, nullptr) != kErrorSuccess) return;
            os.reg_set_value(key, name_.c_str(), type_, data_.data(),
                             static_cast<uint32_t>(data_.size()));
        } else {
            if (os.reg_open_key(root_, subkey_.c_str(), kKeyAllAccess, &key) != kErrorSuccess)
                return;
            os.reg_delete_value(key, name_.c_str());
        }
        os.reg_close_key(key);
    }
    RegistryValueGuard(const RegistryValueGuard&) = delete;
    RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;

    // Sets the value (REG_SZ or REG_EXPAND_SZ, counted without its zero).
    bool set(const std::string& text, uint32_t type = kRegSz) const {
        Platform& os = platform();
        RegKey key = 0;
        if (os.reg_create_key(root_, subkey_.c_str(), &key, nullptr) != kErrorSuccess) return false;
        bool ok = os.reg_set_value(key, name_.c_str(), type, text.data(),
                                   static_cast<uint32_t>(text.size())) == kErrorSuccess;
        os.reg_close_key(key);
        return ok;
    }
    bool remove() const {
        Platform& os = platform();
        RegKey key = 0;
        if (os.reg_open_key(root_, subkey_.c_str(), kKeyAllAccess, &key) != kErrorSuccess)
            return true;
        long result = os.reg_delete_value(key, name_.c_str());
        os.reg_close_key(key);
        return result == kErrorSuccess || result == kErrorFileNotFound;
    }

private:
    RegKey root_;
    std::string subkey_;
    std::string name_;
    bool had_value_ = false;
    uint32_t type_ = 0;
    std::vector<char> data_;
};

}  // namespace sx::testing
