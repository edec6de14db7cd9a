// Feeds arbitrary lines to the applet header reader and checks what it
// promises about the header it gives back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bytecode/ext_bytecode_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    sx::AppletHeader header;
    const sx::HeaderStatus status = sx::read_applet_header(line, &header);
    if (status != sx::HeaderStatus::ok) return 0;
    if (header.unsupported) {
        // Nothing past the format number is read.
        if (!header.requirements.empty() || !header.run.name.empty()) __builtin_trap();
        return 0;
    }
    if (header.format < 0 || header.format > 2) __builtin_trap();
    // The run component always closes the list.
    if (header.requirements.empty() || !(header.requirements.back() == header.run)) {
        __builtin_trap();
    }
    if (header.header_version != 0 && header.header_version < 10) __builtin_trap();
    if (header.header_version == 0) {
        if (header.requirements.size() != 1 || header.run.name != "interpreter1") __builtin_trap();
    }
    // Names come from the line itself.
    for (const sx::ComponentRequirement& requirement : header.requirements) {
        if (requirement.name.size() > size) __builtin_trap();
    }
    return 0;
}
