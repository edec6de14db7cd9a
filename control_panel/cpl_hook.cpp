#include "control_panel/cpl_hook.h"

#include <cctype>
#include <string>

#include "components/file_path.h"
#include "components/install_hook.h"
#include "control_panel/cpl_texts.h"
#include "platform/platform.h"

namespace sx::cpl {
namespace {

constexpr uint32_t kSystemDirectoryLimit = 260;

void record_test_applet(const FilePath& applet) {
    RegKey key = 0;
    if (platform().reg_create_key(kHkeyLocalMachine, kPlayerKey, &key, nullptr) != kErrorSuccess)
        return;
    // Like the subsystem's other texts: the length, without a zero.
    platform().reg_set_value(key, kTestAppletValue, kRegSz, applet.c_str(),
                             static_cast<uint32_t>(applet.text().size()));
    platform().reg_close_key(key);
}

bool system_copy_path(FilePath* destination) {
    char buffer[kSystemDirectoryLimit + 1] = {};
    const uint32_t length = platform().get_system_directory(buffer, kSystemDirectoryLimit);
    if (length == 0 || length >= kSystemDirectoryLimit) return false;
    // Always a folder, even where it does not exist: the copy goes inside
    // it or nowhere, never beside it.
    std::string folder(buffer);
    if (folder.back() != '\\') folder += '\\';
    destination->set(folder);
    destination->append_file(kPanelFileName);
    return true;
}

bool same_path(const FilePath& a, const FilePath& b) {
    if (a.text().size() != b.text().size()) return false;
    for (size_t i = 0; i < a.text().size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a.text()[i])) !=
            std::tolower(static_cast<unsigned char>(b.text()[i])))
            return false;
    return true;
}

// A library installed into the system directory itself is already in
// place: copying a file onto itself would empty it.
bool put_in_place(const FilePath& library, const FilePath& destination) {
    return same_path(library, destination) || library.copy_to(destination, true);
}

void cancel_scheduled_removal() {
    RegKey key = 0;
    if (platform().reg_open_key(kHkeyLocalMachine, kRunOnceKey, kKeyAllAccess, &key) !=
        kErrorSuccess)
        return;
    platform().reg_delete_value(key, kPanelRemovalValue);
    platform().reg_close_key(key);
}

}  // namespace

void install_control_panel(const char* library_path, int count, const char* const* names,
                           const char* const* values) {
    if (!library_path) return;
    const FilePath library(library_path);
    FilePath applet;
    if (find_install_entry(library_path, count, names, values, kTestAppletEntry, &applet))
        record_test_applet(applet);

    FilePath destination;
    // A copy in use by the Control Panel fails: the old one stays, and so
    // does any removal scheduled for it.
    if (system_copy_path(&destination) && put_in_place(library, destination))
        cancel_scheduled_removal();
}

}  // namespace sx::cpl
