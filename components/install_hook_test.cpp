#include "components/install_hook.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sx {
namespace {

TEST(InstallHookArguments, FindsTheFirstEntryOfTheKeyBesideTheLibrary) {
    using Entries = std::vector<std::pair<const char*, const char*>>;
    const struct {
        Entries entries;
        const char* expected;  // null: not found
    } cases[] = {
        {{{"skiff", "Stellarix3D.exe"}}, "C:\\Apps\\Player\\Stellarix3D.exe"},
        {{{"run", "x.exe"}, {"skiff", "bin\\sub\\Stellarix3D.exe"}},
         "C:\\Apps\\Player\\bin\\sub\\Stellarix3D.exe"},
        {{{"skiff", "first.exe"}, {"skiff", "second.exe"}}, "C:\\Apps\\Player\\first.exe"},
        {{{"Skiff", "upper.exe"}, {"skiff ", "space.exe"}}, nullptr},
        {{}, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<const char*> names, values;
        for (const auto& [name, value] : c.entries) {
            names.push_back(name);
            values.push_back(value);
        }
        FilePath file("unchanged");
        const bool found =
            find_install_entry("C:\\Apps\\Player\\skiffhook.dll", static_cast<int>(names.size()),
                               names.data(), values.data(), "skiff", &file);
        EXPECT_EQ(found, c.expected != nullptr);
        EXPECT_EQ(file.text(), c.expected ? c.expected : "unchanged");
    }
}

}  // namespace
}  // namespace sx
