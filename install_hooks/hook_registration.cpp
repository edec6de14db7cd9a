#include "install_hooks/hook_registration.h"

#include <vector>

#include "components/maker_info.h"
#include "components/text_util.h"
#include "install_hooks/hook_texts.h"

namespace sx::hooks {

namespace {

struct NamedText {
    const char* name;  // null: the key's default value
    std::string data;
};

struct KeyValues {
    RegKey root;
    const char* key;
    std::vector<NamedText> values;
};

// Writes each key with its values in order; stops at a key that cannot be
// created. Values are counted strings without the terminating zero.
bool write_keys(const std::vector<KeyValues>& keys) {
    Platform& os = platform();
    for (const KeyValues& entry : keys) {
        RegKey key = 0;
        if (os.reg_create_key(entry.root, entry.key, &key, nullptr) != kErrorSuccess) return false;
        for (const NamedText& value : entry.values) {
            // A value that cannot be set is left out; the others still go in.
            os.reg_set_value(key, value.name, kRegSz, value.data.data(),
                             static_cast<uint32_t>(value.data.size()));
        }
        os.reg_close_key(key);
    }
    return true;
}

// Deeper than the registry allows (512 levels): a loop, or a tree we should
// not be walking.
constexpr int kMaxTreeDepth = 512;
constexpr uint32_t kSubkeyNameBuffer = 261;

bool delete_tree_at(RegKey root, const std::string& path, int depth) {
    if (depth > kMaxTreeDepth) return false;
    Platform& os = platform();
    RegKey key = 0;
    if (os.reg_open_key(root, path.c_str(), kKeyRead, &key) != kErrorSuccess) return false;
    for (;;) {
        char name[kSubkeyNameBuffer];
        uint32_t size = kSubkeyNameBuffer;
        if (os.reg_enum_key(key, 0, name, &size) != kErrorSuccess) break;
        // Index 0 would name the same subkey again if it stayed: stop at the
        // first one that cannot be removed.
        if (!delete_tree_at(root, format_text("%s\\%s", path.c_str(), name), depth + 1)) break;
    }
    os.reg_close_key(key);
    return os.reg_delete_key(root, path.c_str()) == kErrorSuccess;
}

}  // namespace

bool register_applet_association(const FilePath& launcher) {
    const std::string path = launcher.text();
    return write_keys({
        {kHkeyClassesRoot,
         kAppletExtensionKey,
         {{nullptr, kAppletClass}, {kContentTypeName, kAppletContentType}}},
        {kHkeyClassesRoot, kAppletClass, {{nullptr, kAppletClassDescription}}},
        {kHkeyClassesRoot,
         kDefaultIconKey,
         {{nullptr, format_text(kIconFormat, path.c_str(), kAppletIconIndex)}}},
        {kHkeyClassesRoot,
         kOpenCommandKey,
         {{nullptr, format_text(kOpenCommandFormat, path.c_str())}}},
        {kHkeyLocalMachine, kPlayerSoftwareKey, {{kSkiffPathName, path}}},
    });
}

bool delete_registry_tree(RegKey root, const std::string& path) {
    return delete_tree_at(root, path, 0);
}

bool register_uninstall_entry(const FilePath& uninstaller) {
    FilePath location(uninstaller);
    location.to_parent();
    location.to_parent();

    delete_registry_tree(kHkeyLocalMachine, kOlderUninstallKey);
    return write_keys({{kHkeyLocalMachine,
                        kUninstallKey,
                        {
                            {kDisplayNameName, kDisplayName},
                            {kDisplayVersionName, kDisplayVersion},
                            {kPublisherName, kMakerName},
                            {kUninstallStringName, uninstaller.text()},
                            {kInstallLocationName, location.text()},
                            {kHelpLinkName, kMakerSupportPage},
                            {kUrlInfoAboutName, kMakerWebSite},
                        }}});
}

}  // namespace sx::hooks
