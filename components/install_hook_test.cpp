#include "components/install_hook.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sx {
namespace {

struct Entries {
    std::vector<const char*> names, values;
    Entries(std::initializer_list<std::pair<const char*, const char*>> list) {
        for (const auto& [name, value] : list) {
            names.push_back(name);
            values.push_back(value);
        }
    }
};

TEST(InstallHookArguments, FindsTheFirstEntryOfTheKeyBesideTheLibrary) {
    const char* library = "C:\\Apps\\Player\\skiffhook.dll";
    const struct {
        Entries entries;
        const char* expected;  // null: not found
    } cases[] = {
        {{{"skiff", "Stellarix3D.exe"}}, "C:\\Apps\\Player\\Stellarix3D.exe"},
        {{{"run", "x.exe"}, {"skiff", "bin\\sub\\Stellarix3D.exe"}},
         "C:\\Apps\\Player\\bin\\sub\\Stellarix3D.exe"},
        {{{"skiff", "first.exe"}, {"skiff", "second.exe"}}, "C:\\Apps\\Player\\first.exe"},
        {{{"Skiff", "upper.exe"}, {"skiff ", "space.exe"}}, nullptr},
        {{{"run", "x.exe"}}, nullptr},
        {{}, nullptr},
    };
    for (const auto& c : cases) {
        FilePath file("unchanged");
        const bool found =
            find_install_entry(library, static_cast<int>(c.entries.names.size()),
                               c.entries.names.data(), c.entries.values.data(), "skiff", &file);
        EXPECT_EQ(found, c.expected != nullptr);
        EXPECT_EQ(file.text(), c.expected ? c.expected : "unchanged");
    }
}

}  // namespace
}  // namespace sx
