// Settings files and the percent decoding take bytes from any editor or disk.
// The reader must accept everything; what it keeps must be valid keys and
// must survive a write and a second read unchanged. A rewrite that changes
// nothing gives the file back byte for byte; one that changes a value reads
// back as the values with that change.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "components/settings_encoding.h"
#include "components/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string decoded = sx::percent_decode(text);
    if (decoded.size() > text.size()) std::abort();
    if (sx::percent_decode(sx::percent_encode(text)) != text) std::abort();

    std::FILE* in = std::tmpfile();
    if (!in || std::fwrite(data, 1, size, in) != size) std::abort();
    std::rewind(in);
    sx::SettingsMap values, again;
    sx::read_settings_stream(in, &values);
    for (const auto& entry : values)
        if (!sx::valid_setting_key(entry.first) || sx::ascii_upper(entry.first) != entry.first)
            std::abort();

    sx::SettingsMap changed = values;
    changed["FUZZ/CHANGED"] = text.substr(0, 8);
    if (!values.empty()) changed.begin()->second += "=\r\n";
    for (const sx::SettingsMap* target : {&values, &changed}) {
        std::rewind(in);
        std::FILE* copy = std::tmpfile();
        if (!copy || !sx::rewrite_settings_stream(in, copy, values, *target)) std::abort();
        std::rewind(copy);
        if (target == &values) {
            std::string bytes(size, '\0');
            if (std::fread(bytes.data(), 1, size, copy) != size || std::fgetc(copy) != EOF ||
                bytes != text)
                std::abort();
        } else {
            sx::SettingsMap reread;
            sx::read_settings_stream(copy, &reread);
            if (reread != changed) std::abort();
        }
        std::fclose(copy);
    }
    std::fclose(in);

    std::FILE* out = std::tmpfile();
    if (!out || !sx::write_settings_stream(out, values)) std::abort();
    std::rewind(out);
    sx::read_settings_stream(out, &again);
    std::fclose(out);
    if (again != values) std::abort();
    return 0;
}
