#include "components/data_directories.h"

#include <gtest/gtest.h>

#include "components/testing/component_env.h"

namespace sx {
namespace {

using testing::ComponentEnvironment;

TEST(DataDirectories, SystemDirectorySources) {
    ComponentEnvironment env;
    const std::string given = env.scratch() / "given\\place";
    const std::string program_files = env.scratch() / "Program Files";
    // The shell folders of a real machine exist; a value naming a folder that
    // does not exist would have its last element replaced when appended to.
    ASSERT_TRUE(FilePath(program_files + "\\").ensure_directory());

    // The installer's value is used as it is, and created.
    ASSERT_TRUE(env.system_path().set(given));
    FilePath found;
    ASSERT_TRUE(system_data_directory(&found));
    EXPECT_EQ(found.text(), given);
    bool is_directory = false;
    EXPECT_TRUE(FilePath(given).exists(&is_directory) && is_directory);

    // Without it, the program files folder with two folders appended.
    ASSERT_TRUE(env.system_path().remove());
    ASSERT_TRUE(env.program_files().set(program_files));
    ASSERT_TRUE(system_data_directory(&found));
    EXPECT_EQ(found.text(), program_files + "\\Stellarix\\Stellarix Player\\");
    EXPECT_TRUE(found.exists(&is_directory) && is_directory);

    // A value that cannot become a directory falls through to the next source.
    ASSERT_TRUE(testing::write_file(env.scratch() / "blocker", "x"));
    ASSERT_TRUE(env.system_path().set(env.scratch() / "blocker\\inside"));
    ASSERT_TRUE(system_data_directory(&found));
    EXPECT_EQ(found.text(), program_files + "\\Stellarix\\Stellarix Player\\");

    // Neither: no system directory, and only the user's is registered.
    ASSERT_TRUE(env.system_path().remove());
    ASSERT_TRUE(env.program_files().remove());
    EXPECT_FALSE(system_data_directory(&found));
    reset_component_directories();
    register_component_directories();
    EXPECT_FALSE(find_component_directory("Components-System", &found));
    ASSERT_TRUE(find_component_directory("Components-User", &found));
    EXPECT_EQ(found.text(), env.user_components());
}

TEST(ComponentDirectories, RegisteredOnceWithComponentsFolders) {
    ComponentEnvironment env;
    FilePath system;
    FilePath user;
    ASSERT_TRUE(find_component_directory("Components-System", &system));
    ASSERT_TRUE(find_component_directory("Components-User", &user));
    EXPECT_EQ(system.text(), env.system_components());
    EXPECT_EQ(user.text(), env.user_components());
    // Only the data directories are created, not the components folders.
    EXPECT_TRUE(FilePath(env.scratch() / "system").exists());
    EXPECT_FALSE(system.exists());

    // Names are exact; a second registration keeps the first entries.
    EXPECT_FALSE(find_component_directory("components-system", &system));
    EXPECT_FALSE(find_component_directory("Components-Other", &system));
    ASSERT_TRUE(env.system_path().set(env.scratch() / "elsewhere"));
    register_component_directories();
    ASSERT_TRUE(find_component_directory("Components-System", &system));
    EXPECT_EQ(system.text(), env.system_components());
}

}  // namespace
}  // namespace sx
