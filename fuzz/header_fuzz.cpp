// Feeds arbitrary lines to the applet header reader and checks what it
// promises about the header it gives back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bytecode/ext_bytecode_header.h"

static void check(bool promise) {
    if (!promise) __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    sx::AppletHeader h;
    if (sx::read_applet_header(line, &h) != sx::HeaderStatus::ok) return 0;
    // Nothing past an unsupported format number is read.
    check(!h.unsupported || (h.requirements.empty() && h.run.name.empty()));
    if (h.unsupported) return 0;
    check(h.format >= 0 && h.format <= 2);
    // The run component always closes the list.
    check(!h.requirements.empty() && h.requirements.back() == h.run);
    check(h.header_version == 0 || h.header_version >= 10);
    check(h.header_version != 0 || (h.requirements.size() == 1 && h.run.name == "interpreter1"));
    // Names come from the line itself.
    for (const sx::ComponentRequirement& r : h.requirements) check(r.name.size() <= size);
    return 0;
}
