#include "components/data_directories.h"

#include <gtest/gtest.h>

#include "components/testing/component_env.h"

namespace sx {
namespace {

TEST(DataDirectories, SystemDirectorySourcesAndRegistration) {
    testing::ComponentEnvironment env;
    // Registered with the components folders; names are exact.
    FilePath system, user, found;
    ASSERT_TRUE(find_component_directory("Components-System", &system));
    ASSERT_TRUE(find_component_directory("Components-User", &user));
    EXPECT_EQ(system.text() + "|" + user.text(),
              env.system_components() + "|" + env.user_components());
    EXPECT_FALSE(find_component_directory("components-system", &found));

    // The installer's value is used as it is, and created.
    const std::string given = env.scratch() / "given\\place";
    ASSERT_TRUE(env.system_path().set(given));
    ASSERT_TRUE(system_data_directory(&found));
    EXPECT_EQ(found.text(), given);
    bool is_directory = false;
    EXPECT_TRUE(FilePath(given).exists(&is_directory) && is_directory);

    // A value that cannot become a directory gives way to the program files
    // folder with two folders appended. That folder exists on a real machine;
    // one that did not would have its last element replaced when appended to.
    const std::string program_files = env.scratch() / "Program Files";
    ASSERT_TRUE(FilePath(program_files + "\\").ensure_directory());
    ASSERT_TRUE(testing::write_file(env.scratch() / "blocker", "x"));
    ASSERT_TRUE(env.system_path().set(env.scratch() / "blocker\\inside"));
    ASSERT_TRUE(env.program_files().set(program_files));
    ASSERT_TRUE(system_data_directory(&found));
    EXPECT_EQ(found.text(), program_files + "\\Stellarix\\Stellarix Player\\");
    EXPECT_TRUE(found.exists(&is_directory) && is_directory);
    // A second registration keeps the first entries.
    register_component_directories();
    ASSERT_TRUE(find_component_directory("Components-System", &found));
    EXPECT_EQ(found.text(), env.system_components());

    // Neither source: no system directory, and only the user's is registered.
    ASSERT_TRUE(env.system_path().remove() && env.program_files().remove());
    EXPECT_FALSE(system_data_directory(&found));
    reset_component_directories();
    register_component_directories();
    EXPECT_FALSE(find_component_directory("Components-System", &found));
    ASSERT_TRUE(find_component_directory("Components-User", &found));
    EXPECT_EQ(found.text(), env.user_components());
}

}  // namespace
}  // namespace sx
