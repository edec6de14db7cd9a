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

TEST(InstallHookArguments, BadArgumentsFindNothing) {
    const char* names[] = {"skiff", nullptr};
    const char* values[] = {"a.exe", "b.exe"};
    const char* null_values[] = {nullptr, nullptr};
    FilePath file;
    EXPECT_FALSE(find_install_entry("C:\\h.dll", 0, names, values, "skiff", &file));
    EXPECT_FALSE(find_install_entry("C:\\h.dll", -1, names, values, "skiff", &file));
    EXPECT_FALSE(find_install_entry(nullptr, 1, names, values, "skiff", &file));
    EXPECT_FALSE(find_install_entry("C:\\h.dll", 1, nullptr, values, "skiff", &file));
    EXPECT_FALSE(find_install_entry("C:\\h.dll", 1, names, nullptr, "skiff", &file));
    EXPECT_FALSE(find_install_entry("C:\\h.dll", 1, names, null_values, "skiff", &file));
    // A null name is passed over, not dereferenced.
    const char* later_names[] = {nullptr, "skiff"};
    EXPECT_TRUE(find_install_entry("C:\\h.dll", 2, later_names, values, "skiff", &file));
    EXPECT_EQ(file.text(), "C:\\b.exe");
}

}  // namespace
}  // namespace sx
