// Registry work shared by the deliverables: keys that close themselves,
// values read whole whatever their size, and the removal of a key with
// everything below it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace sx {

// An open registry key, closed when the object goes. Predefined roots are
// never held: open() or create() always give a key of its own.
class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() { close(); }
    RegistryKey(RegistryKey&& other) noexcept : key_(other.release()) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // RegOpenKeyExA / RegCreateKeyExA; the Win32 result. Whatever was held
    // before is closed first; on failure nothing is held.
    long open(RegKey parent, const char* subkey, uint32_t access);
    long create(RegKey parent, const char* subkey, bool* created = nullptr);

    RegKey get() const { return key_; }
    explicit operator bool() const { return key_ != 0; }
    // Gives up the key without closing it.
    RegKey release();
    void close();

private:
    RegKey key_ = 0;
};

struct RegistryValue {
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;  // exactly the stored bytes
};

// Reads the whole of a value. The size is asked first and the value read
// into that much room; a value that grew in between is asked for again. The
// Win32 result: kErrorFileNotFound for a missing value.
long read_registry_value(RegKey key, const char* name, RegistryValue* value);

// The text of a value of any type: its bytes up to the first zero.
std::string registry_value_text(const RegistryValue& value);

// The text of a REG_SZ value of an open key, up to its first zero byte
// (writers may or may not count one). False when the value is missing, of
// another type, or longer than `max_bytes`, as a buffer of that size would
// not hold it.
bool read_string_value(RegKey key, const char* name, std::string* text,
                       size_t max_bytes = SIZE_MAX);

// The string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ).
bool is_registry_string_type(uint32_t type);

// Deletes `path` under `root` with all its subkeys, opening each key with
// `access` to list it. Subkeys go first, one at a time; the walk ends at a
// subkey that cannot be removed or whose name is too long to list (the rest
// stays; the enumeration would otherwise name it again forever), and the key
// itself is still attempted, since systems that delete whole trees take it
// anyway. True only when the key is gone; otherwise `error` (may be null)
// receives the first Win32 error met.
bool delete_registry_tree(RegKey root, const std::string& path, uint32_t access = kKeyRead,
                          long* error = nullptr);

}  // namespace sx
