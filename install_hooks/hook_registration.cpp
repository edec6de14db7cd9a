#include "install_hooks/hook_registration.h"

#include <vector>

#include "components/maker_info.h"
#include "components/registry.h"
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
    for (const KeyValues& entry : keys) {
        RegistryKey key;
        if (key.create(entry.root, entry.key) != kErrorSuccess) return false;
        for (const NamedText& value : entry.values) {
            // A value that cannot be set is left out; the others still go in.
            platform().reg_set_value(key.get(), value.name, kRegSz, value.data.data(),
                                     static_cast<uint32_t>(value.data.size()));
        }
    }
    return true;
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
