#include "tools/sxreg/sxreg.h"

#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>
#include <utility>

#include "components/registry.h"
#include "platform/ascii_case.h"
#include "platform/platform.h"

namespace sx::sxreg {

namespace {

// The tool's own texts, as reg.exe words them.
namespace text {
constexpr const char* kDone = "The operation completed successfully.";
constexpr const char* kInvalidSyntax = "ERROR: Invalid syntax.";
constexpr const char* kUsageHint = "Type \"sxreg %s /?\" for usage.";
constexpr const char* kInvalidKey = "ERROR: Invalid key name.";
constexpr const char* kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* kAccessDenied = "ERROR: Access is denied.";
constexpr const char* kInvalidDword = "ERROR: Invalid value for a REG_DWORD: %s";
constexpr const char* kInvalidBinary = "ERROR: Invalid value for a REG_BINARY: %s";
constexpr const char* kInvalidType = "ERROR: Invalid type: %s";
constexpr const char* kCannotWrite = "ERROR: Cannot write the file %s.";
constexpr const char* kFailed = "ERROR: The operation failed (code %ld).";
constexpr const char* kCancelled = "The operation was cancelled by the user.";
constexpr const char* kOverwriteValue = "Value %s exists, overwrite(Yes/No)? ";
constexpr const char* kDeleteKey = "Permanently delete the registry key %s (Yes/No)? ";
constexpr const char* kDeleteValue = "Delete the registry value %s (Yes/No)? ";
constexpr const char* kDeleteAll = "Delete all values under the registry key %s (Yes/No)? ";
constexpr const char* kOverwriteFile = "File %s already exists. Overwrite (Yes/No)? ";
constexpr const char* kDefaultName = "(Default)";
constexpr const char* kValueNotSet = "(value not set)";
constexpr const char* kMatches = "End of search: %s match(es) found.";
constexpr const char* kRegFileHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kUsage =
    "Usage:\n"
    "  sxreg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
    "  sxreg query KEY [/v NAME | /ve] [/s]\n"
    "  sxreg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  sxreg export KEY FILE [/y]\n"
    "KEY: HKLM|HKCU|HKCR|HKU[\\subkey]; TYPE: REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ,\n"
    "REG_DWORD, REG_BINARY, REG_NONE.\n";
}  // namespace text

std::string format(const char* pattern, const std::string& argument) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, pattern, argument.c_str());
    return buffer;
}

struct Root {
    const char* short_name;
    const char* long_name;
    RegKey key;
};
constexpr Root kRoots[] = {
    {"HKLM", "HKEY_LOCAL_MACHINE", kHkeyLocalMachine},
    {"HKCU", "HKEY_CURRENT_USER", kHkeyCurrentUser},
    {"HKCR", "HKEY_CLASSES_ROOT", kHkeyClassesRoot},
    {"HKU", "HKEY_USERS", kHkeyUsers},
};

struct KeyName {
    const Root* root = nullptr;
    std::string subkey;  // without leading or trailing backslashes
    std::string full() const {
        return std::string(root->long_name) + (subkey.empty() ? "" : "\\" + subkey);
    }
};

bool parse_key(const std::string& text, KeyName* key) {
    const size_t cut = text.find('\\');
    const std::string root = text.substr(0, cut);
    for (const Root& r : kRoots)
        if (equals_ignoring_ascii_case(root, r.short_name) ||
            equals_ignoring_ascii_case(root, r.long_name))
            key->root = &r;
    if (!key->root) return false;
    key->subkey = cut == std::string::npos ? "" : text.substr(cut + 1);
    while (!key->subkey.empty() && key->subkey.back() == '\\') key->subkey.pop_back();
    return key->subkey.empty() || key->subkey[0] != '\\';
}

struct TypeName {
    const char* name;
    uint32_t type;
};
constexpr TypeName kTypes[] = {
    {"REG_NONE", kRegNone},     {"REG_SZ", kRegSz},       {"REG_EXPAND_SZ", kRegExpandSz},
    {"REG_BINARY", kRegBinary}, {"REG_DWORD", kRegDword}, {"REG_MULTI_SZ", kRegMultiSz},
    {"REG_QWORD", 11},
};

std::string type_name(uint32_t type) {
    for (const TypeName& t : kTypes)
        if (t.type == type) return t.name;
    return "REG_UNKNOWN(" + std::to_string(type) + ")";
}

// Options of a command: switches, the values after /v /t /d /s, and the
// plain words.
struct Options {
    std::vector<std::string> words;
    bool has_v = false, ve = false, va = false, f = false, s = false, y = false;
    bool has_t = false, has_d = false, has_sep = false;
    std::string v, t, d, sep;
};

// The longest value name the registry keeps.
constexpr size_t kMaxValueNameLength = 16383;

bool parse_options(const std::vector<std::string>& args, size_t first, bool s_takes_value,
                   Options* o) {
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        const std::string name = a.size() >= 2 ? a.substr(1) : std::string();
        // Only the known switches: anything else, "/tmp/x.reg" included, is a word.
        bool is_switch = a.size() >= 2 && (a[0] == '/' || a[0] == '-');
        if (is_switch) {
            is_switch = false;
            for (const char* known : {"v", "t", "d", "s", "ve", "va", "f", "y"})
                if (equals_ignoring_ascii_case(name, known)) is_switch = true;
        }
        if (!is_switch) {
            o->words.push_back(a);
            continue;
        }
        auto value = [&](bool* flag, std::string* out) {
            if (*flag || i + 1 >= args.size()) return false;
            *flag = true;
            *out = args[++i];
            return true;
        };
        // A switch given twice is refused, as is a separator that is not
        // exactly one character.
        auto flag = [](bool* set) { return !std::exchange(*set, true); };
        bool ok = true;
        if (equals_ignoring_ascii_case(name, "v"))
            ok = value(&o->has_v, &o->v) && o->v.size() <= kMaxValueNameLength;
        else if (equals_ignoring_ascii_case(name, "t"))
            ok = value(&o->has_t, &o->t);
        else if (equals_ignoring_ascii_case(name, "d"))
            ok = value(&o->has_d, &o->d);
        else if (equals_ignoring_ascii_case(name, "s") && s_takes_value)
            ok = value(&o->has_sep, &o->sep) && o->sep.size() == 1;
        else if (equals_ignoring_ascii_case(name, "s"))
            ok = flag(&o->s);
        else if (equals_ignoring_ascii_case(name, "ve"))
            ok = flag(&o->ve);
        else if (equals_ignoring_ascii_case(name, "va"))
            ok = flag(&o->va);
        else if (equals_ignoring_ascii_case(name, "f"))
            ok = flag(&o->f);
        else if (equals_ignoring_ascii_case(name, "y"))
            ok = flag(&o->y);
        else
            ok = false;
        if (!ok) return false;
    }
    return true;
}

bool ask(std::istream& in, std::ostream& out, const std::string& question) {
    out << question << std::flush;
    std::string answer;
    if (!std::getline(in, answer)) {
        out << "\n";
        return false;
    }
    return equals_ignoring_ascii_case(answer, "y") || equals_ignoring_ascii_case(answer, "yes");
}

bool parse_number(const std::string& s, uint64_t limit, uint64_t* value) {
    if (s.empty()) return false;
    int base = 10;
    size_t i = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    uint64_t v = 0;
    for (; i < s.size(); ++i) {
        const char c = ascii_lower(s[i]);
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return false;
        v = v * base + static_cast<uint64_t>(digit);
        if (v > limit) return false;
    }
    *value = v;
    return true;
}

std::string hex_bytes(const std::string& bytes, bool upper, const char* separator) {
    static const char* const digits[2] = {"0123456789abcdef", "0123456789ABCDEF"};
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i && separator) out += separator;
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        out += digits[upper][b >> 4];
        out += digits[upper][b & 15];
    }
    return out;
}

// The bytes to store for /t TYPE /d DATA, as reg.exe stores them.
bool encode_data(uint32_t type, const Options& o, std::string* bytes, std::string* error) {
    const std::string& d = o.d;
    switch (type) {
        case kRegDword: {
            uint64_t v = 0;
            if (!parse_number(o.has_d ? d : "0", 0xFFFFFFFFu, &v)) {
                *error = format(text::kInvalidDword, d);
                return false;
            }
            for (int i = 0; i < 4; ++i) *bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
            return true;
        }
        case 11: {
            uint64_t v = 0;
            if (!parse_number(o.has_d ? d : "0", ~uint64_t{0}, &v)) {
                *error = format(text::kInvalidDword, d);
                return false;
            }
            for (int i = 0; i < 8; ++i) *bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
            return true;
        }
        case kRegBinary: {
            if (d.size() % 2) {
                *error = format(text::kInvalidBinary, d);
                return false;
            }
            for (size_t i = 0; i < d.size(); i += 2) {
                uint64_t v;
                if (!parse_number("0x" + d.substr(i, 2), 255, &v)) {
                    *error = format(text::kInvalidBinary, d);
                    return false;
                }
                *bytes += static_cast<char>(v);
            }
            return true;
        }
        case kRegMultiSz: {
            const std::string sep = o.has_sep ? o.sep : "\\0";
            if (sep.empty()) {
                *error = text::kInvalidSyntax;
                return false;
            }
            size_t start = 0;
            while (!d.empty() && start <= d.size()) {
                size_t end = d.find(sep, start);
                if (end == std::string::npos) end = d.size();
                *bytes += d.substr(start, end - start);
                *bytes += '\0';
                start = end + sep.size();
            }
            *bytes += '\0';
            return true;
        }
        default:
            // Strings (and REG_NONE) with their terminating zero, as Windows keeps them.
            *bytes = d;
            *bytes += '\0';
            return true;
    }
}

// One value's data as reg.exe's query shows it.
std::string display_data(uint32_t type, const std::string& bytes) {
    switch (type) {
        case kRegSz:
        case kRegExpandSz:
            return bytes.substr(0, bytes.find('\0'));
        case kRegDword:
            if (bytes.size() == 4) {
                uint32_t v = 0;
                for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
                char buffer[16];
                std::snprintf(buffer, sizeof buffer, "0x%x", v);
                return buffer;
            }
            break;
        case kRegMultiSz: {
            std::string out;
            size_t start = 0;
            while (start < bytes.size() && bytes[start] != '\0') {
                size_t end = bytes.find('\0', start);
                if (end == std::string::npos) end = bytes.size();
                if (!out.empty()) out += "\\0";
                out += bytes.substr(start, end - start);
                start = end + 1;
            }
            return out;
        }
        default:
            break;
    }
    return hex_bytes(bytes, true, nullptr);
}

class Tool {
public:
    Tool(std::istream& in, std::ostream& out, std::ostream& err)
        : in_(in), out_(out), err_(err), p_(platform()) {}

    int run(const std::vector<std::string>& args) {
        if (args.empty() || args[0] == "/?" || args[0] == "-?" || args[0] == "-h" ||
            args[0] == "--help" || equals_ignoring_ascii_case(args[0], "help")) {
            out_ << text::kUsage;
            return args.empty() ? 1 : 0;
        }
        command_ = ascii_upper(args[0]);
        Options o;
        const bool is_add = command_ == "ADD";
        if (args.size() > 1 && (args[1] == "/?" || args[1] == "-h" || args[1] == "--help")) {
            out_ << text::kUsage;
            return 0;
        }
        if (!parse_options(args, 1, is_add, &o) || o.words.empty()) return syntax_error();
        KeyName key;
        if (!parse_key(o.words[0], &key)) return fail(text::kInvalidKey);
        if (command_ == "ADD" && o.words.size() == 1) return add(key, o);
        if (command_ == "QUERY" && o.words.size() == 1) return query(key, o);
        if (command_ == "DELETE" && o.words.size() == 1) return remove(key, o);
        if (command_ == "EXPORT" && o.words.size() == 2) return export_key(key, o.words[1], o);
        return syntax_error();
    }

private:
    int syntax_error() {
        err_ << text::kInvalidSyntax << "\n" << format(text::kUsageHint, command_) << "\n";
        return 1;
    }
    int fail(const std::string& message) {
        err_ << message << "\n";
        return 1;
    }
    int fail_code(long rc) {
        if (rc == kErrorFileNotFound || rc == kErrorPathNotFound) return fail(text::kNotFound);
        if (rc == kErrorAccessDenied) return fail(text::kAccessDenied);
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, text::kFailed, rc);
        return fail(buffer);
    }
    int done() {
        out_ << text::kDone << "\n";
        return 0;
    }

    // Reads every value of an open key, in order.
    struct Value {
        std::string name;
        uint32_t type;
        std::string bytes;
    };
    long read_values(RegKey k, std::vector<Value>* values) {
        for (uint32_t i = 0;; ++i) {
            char name[16384];
            uint32_t name_size = sizeof name, type = 0, size = 0;
            long rc = p_.reg_enum_value(k, i, name, &name_size, &type, nullptr, &size);
            if (rc == kErrorNoMoreItems) return kErrorSuccess;
            if (rc != kErrorSuccess) return rc;
            RegistryValue value;
            const std::string value_name(name, name_size);
            rc = read_registry_value(k, value_name.c_str(), &value);
            if (rc != kErrorSuccess) return rc;
            values->push_back(
                Value{value_name, value.type, std::string(value.data.begin(), value.data.end())});
        }
    }
    // The name as it was written (names match ignoring case).
    std::string stored_name(RegKey k, const std::string& name) {
        std::vector<Value> values;
        read_values(k, &values);
        for (const Value& v : values)
            if (v.name.size() == name.size() && equals_ignoring_ascii_case(v.name, name.c_str()))
                return v.name;
        return name;
    }
    long read_subkeys(RegKey k, std::vector<std::string>* names) {
        for (uint32_t i = 0;; ++i) {
            char name[512];
            uint32_t size = sizeof name;
            long rc = p_.reg_enum_key(k, i, name, &size);
            if (rc == kErrorNoMoreItems) return kErrorSuccess;
            if (rc != kErrorSuccess) return rc;
            names->emplace_back(name, size);
        }
    }

    int add(const KeyName& key, const Options& o) {
        if (o.has_v && o.ve) return syntax_error();
        if (o.s || o.va || o.y) return syntax_error();
        uint32_t type = kRegSz;
        if (o.has_t) {
            bool known = false;
            for (const TypeName& t : kTypes)
                if (equals_ignoring_ascii_case(o.t, t.name)) {
                    type = t.type;
                    known = true;
                }
            if (!known) return fail(format(text::kInvalidType, o.t));
        }
        if (o.has_sep && type != kRegMultiSz) return syntax_error();
        std::string bytes, error;
        if (!encode_data(type, o, &bytes, &error)) return fail(error);
        if (key.subkey.empty() && !o.has_v && !o.ve) return fail(text::kInvalidKey);

        RegistryKey k;
        long rc = k.create(key.root->key, key.subkey.c_str());
        if (rc != kErrorSuccess) return fail_code(rc);
        if (o.has_v || o.ve || o.has_d || o.has_t) {
            const std::string name = o.has_v ? o.v : "";
            uint32_t size = 0;
            if (!o.f &&
                p_.reg_query_value(k.get(), name.c_str(), nullptr, nullptr, &size) ==
                    kErrorSuccess &&
                !ask(in_, out_,
                     format(text::kOverwriteValue, name.empty() ? text::kDefaultName : name))) {
                out_ << text::kCancelled << "\n";
                return 1;
            }
            rc = p_.reg_set_value(k.get(), name.c_str(), type, bytes.data(),
                                  static_cast<uint32_t>(bytes.size()));
        }
        return rc == kErrorSuccess ? done() : fail_code(rc);
    }

    int query(const KeyName& key, const Options& o) {
        if ((o.has_v && o.ve) || o.has_t || o.has_d || o.va || o.f || o.y) return syntax_error();
        RegistryKey k;
        long rc = k.open(key.root->key, key.subkey.c_str(), kKeyRead);
        if (rc != kErrorSuccess) return fail_code(rc);
        unsigned matches = 0;
        if (o.has_v || o.ve) {
            // One value, in this key (and with /s in every key below).
            rc = query_one(k.get(), key.full(), o.has_v ? o.v : "", o.s, &matches);
            if (rc != kErrorSuccess) return fail_code(rc);
            if (o.s) out_ << "\n" << format(text::kMatches, std::to_string(matches)) << "\n";
            if (!matches) return fail(text::kNotFound);
            return 0;
        }
        rc = query_all(k.get(), key.full(), o.s);
        return rc == kErrorSuccess ? 0 : fail_code(rc);
    }

    void print_value(const std::string& name, uint32_t type, const std::string& bytes) {
        out_ << "    " << (name.empty() ? text::kDefaultName : name) << "    " << type_name(type)
             << "    " << display_data(type, bytes) << "\n";
    }

    long query_one(RegKey k, const std::string& path, const std::string& name, bool recurse,
                   unsigned* matches) {
        RegistryValue value;
        long rc = read_registry_value(k, name.c_str(), &value);
        if (rc == kErrorSuccess) {
            out_ << "\n" << path << "\n";
            print_value(stored_name(k, name), value.type,
                        std::string(value.data.begin(), value.data.end()));
            ++*matches;
        } else if (rc == kErrorFileNotFound && name.empty() && !recurse) {
            out_ << "\n" << path << "\n";
            out_ << "    " << text::kDefaultName << "    REG_SZ    " << text::kValueNotSet << "\n";
            ++*matches;
        } else if (rc != kErrorFileNotFound) {
            return rc;
        }
        if (!recurse) return kErrorSuccess;
        std::vector<std::string> subkeys;
        rc = read_subkeys(k, &subkeys);
        if (rc != kErrorSuccess) return rc;
        for (const std::string& sub : subkeys) {
            RegistryKey child;
            if (child.open(k, sub.c_str(), kKeyRead) != kErrorSuccess) continue;
            rc = query_one(child.get(), path + "\\" + sub, name, true, matches);
            if (rc != kErrorSuccess) return rc;
        }
        return kErrorSuccess;
    }

    long query_all(RegKey k, const std::string& path, bool recurse) {
        std::vector<Value> values;
        std::vector<std::string> subkeys;
        long rc = read_values(k, &values);
        if (rc == kErrorSuccess) rc = read_subkeys(k, &subkeys);
        if (rc != kErrorSuccess) return rc;
        out_ << "\n" << path << "\n";
        for (const Value& v : values) print_value(v.name, v.type, v.bytes);
        if (!recurse) {
            if (!subkeys.empty()) out_ << "\n";
            for (const std::string& sub : subkeys) out_ << path << "\\" << sub << "\n";
            return kErrorSuccess;
        }
        for (const std::string& sub : subkeys) {
            RegistryKey child;
            if (child.open(k, sub.c_str(), kKeyRead) != kErrorSuccess) continue;
            rc = query_all(child.get(), path + "\\" + sub, true);
            if (rc != kErrorSuccess) return rc;
        }
        return kErrorSuccess;
    }

    int remove(const KeyName& key, const Options& o) {
        const int forms = (o.has_v ? 1 : 0) + (o.ve ? 1 : 0) + (o.va ? 1 : 0);
        if (forms > 1 || o.has_t || o.has_d || o.s || o.y) return syntax_error();
        RegistryKey k;
        long rc = k.open(key.root->key, key.subkey.c_str(), kKeyAllAccess);
        if (rc != kErrorSuccess) return fail_code(rc);
        if (forms == 0) {
            k.close();
            if (key.subkey.empty()) return fail(text::kInvalidKey);
            if (!o.f && !ask(in_, out_, format(text::kDeleteKey, key.full()))) {
                out_ << text::kCancelled << "\n";
                return 1;
            }
            // reg.exe's delete takes the key with everything below it.
            return delete_registry_tree(key.root->key, key.subkey, kKeyAllAccess, &rc)
                       ? done()
                       : fail_code(rc);
        }
        if (o.va) {
            if (!o.f && !ask(in_, out_, format(text::kDeleteAll, key.full()))) {
                out_ << text::kCancelled << "\n";
                return 1;
            }
            std::vector<Value> values;
            rc = read_values(k.get(), &values);
            for (size_t i = 0; rc == kErrorSuccess && i < values.size(); ++i)
                rc = p_.reg_delete_value(k.get(), values[i].name.c_str());
        } else {
            const std::string name = o.has_v ? o.v : "";
            uint32_t size = 0;
            rc = p_.reg_query_value(k.get(), name.c_str(), nullptr, nullptr, &size);
            if (rc == kErrorSuccess && !o.f &&
                !ask(in_, out_,
                     format(text::kDeleteValue, name.empty() ? text::kDefaultName : name))) {
                out_ << text::kCancelled << "\n";
                return 1;
            }
            if (rc == kErrorSuccess) rc = p_.reg_delete_value(k.get(), name.c_str());
        }
        return rc == kErrorSuccess ? done() : fail_code(rc);
    }

    long export_tree(RegKey k, const std::string& path, std::string* out) {
        std::vector<Value> values;
        std::vector<std::string> subkeys;
        long rc = read_values(k, &values);
        if (rc == kErrorSuccess) rc = read_subkeys(k, &subkeys);
        if (rc != kErrorSuccess) return rc;
        *out += "[" + path + "]\r\n";
        for (const Value& v : values) {
            if (v.name.empty()) {
                *out += "@=";
            } else {
                *out += "\"" + escape(v.name) + "\"=";
            }
            *out += reg_file_data(v.type, v.bytes) + "\r\n";
        }
        *out += "\r\n";
        for (const std::string& sub : subkeys) {
            RegistryKey child;
            rc = child.open(k, sub.c_str(), kKeyRead);
            if (rc != kErrorSuccess) return rc;
            rc = export_tree(child.get(), path + "\\" + sub, out);
            if (rc != kErrorSuccess) return rc;
        }
        return kErrorSuccess;
    }

    int export_key(const KeyName& key, std::string file, const Options& o) {
        if (o.has_v || o.ve || o.va || o.has_t || o.has_d || o.s || o.f) return syntax_error();
        // On Linux a path from the shell is a Linux path; its Windows name is Z:.
        if (!file.empty() && file[0] == '/') {
            std::string windows = "Z:";
            for (char c : file) windows += c == '/' ? '\\' : c;
            file = windows;
        }
        std::string content = std::string(text::kRegFileHeader) + "\r\n\r\n";
        {
            RegistryKey k;
            long rc = k.open(key.root->key, key.subkey.c_str(), kKeyRead);
            if (rc != kErrorSuccess) return fail_code(rc);
            rc = export_tree(k.get(), key.full(), &content);
            if (rc != kErrorSuccess) return fail_code(rc);
        }
        const uint32_t attributes = p_.get_file_attributes(file.c_str());
        if (attributes != kInvalidFileAttributes && !o.y &&
            !ask(in_, out_, format(text::kOverwriteFile, file))) {
            out_ << text::kCancelled << "\n";
            return 1;
        }
        std::FILE* f = p_.open_file(file.c_str(), "wb");
        if (!f) return fail(format(text::kCannotWrite, file));
        bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
        ok = std::fclose(f) == 0 && ok;
        if (!ok) return fail(format(text::kCannotWrite, file));
        return done();
    }

    static std::string escape(const std::string& s) {
        std::string out;
        for (char c : s) {
            if (c == '\\' || c == '"') out += '\\';
            out += c;
        }
        return out;
    }

    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;
    Platform& p_;
    std::string command_;
};

}  // namespace

std::string reg_file_data(uint32_t type, const std::string& bytes) {
    // A string is written as text only when reading the text back gives the
    // same bytes: the text, one terminating zero, no zero inside, no line break.
    if (type == kRegSz && !bytes.empty() && bytes.back() == '\0' &&
        bytes.find('\0') == bytes.size() - 1 && bytes.find_first_of("\r\n") == std::string::npos) {
        std::string out = "\"";
        for (size_t i = 0; i + 1 < bytes.size(); ++i) {
            if (bytes[i] == '\\' || bytes[i] == '"') out += '\\';
            out += bytes[i];
        }
        return out + "\"";
    }
    if (type == kRegDword && bytes.size() == 4) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
        char buffer[20];
        std::snprintf(buffer, sizeof buffer, "dword:%08x", v);
        return buffer;
    }
    std::string out = type == kRegBinary ? "hex:" : "hex(" + [&] {
        char buffer[12];
        std::snprintf(buffer, sizeof buffer, "%x", type);
        return std::string(buffer);
    }() + "):";
    // Long lists continue on the next line, as the registry editor writes them.
    size_t column = out.size();
    for (size_t i = 0; i < bytes.size(); ++i) {
        out += hex_bytes(bytes.substr(i, 1), false, nullptr);
        column += 2;
        if (i + 1 < bytes.size()) {
            out += ',';
            ++column;
            if (column > 75) {
                out += "\\\r\n  ";
                column = 2;
            }
        }
    }
    return out;
}

int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err) {
    return Tool(in, out, err).run(args);
}

}  // namespace sx::sxreg
