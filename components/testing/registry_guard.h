// Saves one registry value and puts it back (or removes it) when the test
// ends, so tests that run in a shared Windows prefix leave it as they found it.
#pragma once

#include <string>

#include "components/registry.h"
#include "platform/platform.h"

namespace sx::testing {

class RegistryValueGuard {
public:
    RegistryValueGuard(RegKey root, std::string subkey, std::string name)
        : root_(root), subkey_(std::move(subkey)), name_(std::move(name)) {
        RegistryKey key;
        had_value_ = key.open(root_, subkey_.c_str(), kKeyQueryValue) == kErrorSuccess &&
                     read_registry_value(key.get(), name_.c_str(), &saved_) == kErrorSuccess;
    }
    ~RegistryValueGuard() {
        if (had_value_) {
            write(saved_.type, saved_.data.data(), saved_.data.size());
        } else {
            remove();
        }
    }
    RegistryValueGuard(const RegistryValueGuard&) = delete;
    RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;

    // Sets the value (REG_SZ or REG_EXPAND_SZ, counted without its zero).
    bool set(const std::string& text, uint32_t type = kRegSz) const {
        return write(type, text.data(), text.size());
    }
    bool remove() const {
        RegistryKey key;
        if (key.open(root_, subkey_.c_str(), kKeyAllAccess) != kErrorSuccess) return true;
        const long result = platform().reg_delete_value(key.get(), name_.c_str());
        return result == kErrorSuccess || result == kErrorFileNotFound;
    }

private:
    bool write(uint32_t type, const void* data, size_t size) const {
        RegistryKey key;
        return key.create(root_, subkey_.c_str()) == kErrorSuccess &&
               platform().reg_set_value(key.get(), name_.c_str(), type, data,
                                        static_cast<uint32_t>(size)) == kErrorSuccess;
    }

    RegKey root_;
    std::string subkey_;
    std::string name_;
    bool had_value_ = false;
    RegistryValue saved_;
};

}  // namespace sx::testing
