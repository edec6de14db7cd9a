// The removal run by the uninstaller's second stage: the player's data and
// component folders, the control panel file, the browser plug-ins, the
// per-user data of every profile and the registry keys of the installers.
//
// A registry value only says where to look, never what to delete. In a data
// folder only what is provably the player's goes: the files the player writes
// there, and in its "components" folder what its own index lists (each listed
// file, and the whole folder a listed path lies in). Everything else stays,
// and a folder goes only once it is empty. Every step is attempted whatever
// happened before; what stays is reported, so that the user can finish.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sx {

struct RemovalReport {
    // "path: why" for each part of the player's that is still there.
    std::vector<std::string> left;
    // "path: why" for what the removal met and left alone, not being the player's.
    std::vector<std::string> kept;
    bool complete() const { return left.empty(); }
};

// Why a full path from the registry is not trusted to name a place to clean
// up; empty when it is sound. Refused: relative, UNC and device paths
// ("\\?\", "\\.\"), forward slashes, "." and ".." elements, short (8.3)
// names, elements Windows would rewrite, drive roots, over-long paths.
std::string unsound_path_reason(const std::string& path);

// Removes what is provably the player's from one data folder (see above),
// then the folder itself when it is empty and named "Stellarix Player", and
// its parent when that is an empty "Stellarix". `source` names where the path
// came from, for the report. Links are never followed.
void clean_data_folder(const std::string& folder, const char* source, RemovalReport* report);

// The command that deletes `path` at the next system start.
std::string delete_command(const std::string& path, uint32_t platform_id);

// A Netscape version subkey read as a plain decimal number ("10", "4.73");
// 0 for anything else ("0x20", "1e9", "inf", "-3", "4.5b").
double netscape_version_number(const std::string& name);

// The Netscape install directory; false when none is recorded.
bool find_netscape_directory(std::string* directory);

// The whole removal, in order. The Add/Remove Programs entry stays when the
// report is not complete.
RemovalReport remove_player();

// Writes the report as a plain-text log in the temporary folder, replacing
// an earlier one (never through a link); its path, or empty when it could
// not be written.
std::string write_uninstall_log(const RemovalReport& report);

}  // namespace sx
