#include "platform/testing/program_icons.h"

// Nothing in the Linux build: its programs carry no resources.
#if defined(_WIN32)
#include <windows.h>

#include <cstring>

namespace sx::testing {
namespace {

BOOL CALLBACK collect_group(HMODULE, LPCSTR, LPSTR name, LONG_PTR argument) {
    reinterpret_cast<std::vector<LPSTR>*>(argument)->push_back(name);
    return TRUE;
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bits;
    DWORD size;
    WORD id;
};
#pragma pack(pop)

}  // namespace

std::vector<std::vector<IconImage>> icon_groups(const std::string& program) {
    std::vector<std::vector<IconImage>> groups;
    // As data only: the program's code is neither mapped to run nor started.
    HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return groups;
    std::vector<LPSTR> names;
    EnumResourceNamesA(module, RT_GROUP_ICON, collect_group, reinterpret_cast<LONG_PTR>(&names));
    for (LPSTR name : names) {
        HRSRC found = FindResourceA(module, name, RT_GROUP_ICON);
        const BYTE* data =
            found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
        groups.emplace_back();
        GroupEntry entry;
        for (WORD i = 0; data && i < *reinterpret_cast<const WORD*>(data + 4); ++i) {
            std::memcpy(&entry, data + 6 + i * sizeof entry, sizeof entry);
            groups.back().push_back({entry.width, entry.height, entry.bits});
        }
    }
    FreeLibrary(module);
    return groups;
}

}  // namespace sx::testing

#endif
