#include "tools/sxinstall/component_installer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/component_search.h"
#include "components/file_lock.h"
#include "components/testing/component_env.h"
#include "components/testing/scratch.h"
#include "install_hooks/testing/hook_test_support.h"
#include "platform/platform.h"
#include "platform/testing/test_support.h"

namespace sx::install {
namespace {

using sx::testing::ComponentEnvironment;
using sx::testing::read_file;
using sx::testing::ScratchDir;
using sx::testing::write_file;

TEST(SxinstallPaths, RelativePathRules) {
    const struct {
        const char* path;
        bool valid;
    } cases[] = {
        {"viewer.exe", true},
        {"player\\viewer.exe", true},
        {"player/viewer.exe", true},
        {"a;b\\c=d.txt", true},
        {"", false},
        {"\\abs.exe", false},
        {"/abs.exe", false},
        {"C:\\x.exe", false},
        {"C:x.exe", false},
        {"..\\up.exe", false},
        {"a\\..\\b", false},
        {"a\\.\\b", false},
        {"a\\\\b", false},
        {"dir\\", false},
        {" lead.exe", false},
        {"trail.exe ", false},
        {"line\nbreak", false},
    };
    for (const auto& c : cases) EXPECT_EQ(valid_relative_path(c.path), c.valid) << c.path;
    EXPECT_TRUE(valid_file_key("run"));
    EXPECT_FALSE(valid_file_key("a;b"));
    EXPECT_FALSE(valid_file_key(""));
    EXPECT_FALSE(valid_component_name(" x"));
    EXPECT_FALSE(valid_component_name("x\r"));
}

// An installed component as the component search (the launcher's view) sees it.
TEST(Sxinstall, InstalledComponentsAreFoundByTheSearch) {
    ComponentEnvironment environment;
    const std::string directory = environment.system_components();
    ScratchDir sources;
    ASSERT_TRUE(write_file(sources / "viewer", "player program"));
    ASSERT_TRUE(FilePath(sources / "tree\\sub\\").ensure_directory());
    ASSERT_TRUE(write_file(sources / "tree\\sub\\data.bin", "data"));
    ASSERT_TRUE(write_file(sources / "tree\\top.txt", "top"));

    InstallRequest request;
    request.name = "interpreter1";
    request.version = 3;
    request.directory = FilePath(directory);
    request.folders.push_back(FilePath(sources / "tree"));
    request.files.push_back({"run", "player\\viewer.exe", FilePath(sources / "viewer")});
    request.files.push_back({"data", "sub/data.bin", FilePath()});
    std::string error;
    ASSERT_TRUE(install_component(request, &error)) << error;

    std::string copied;
    EXPECT_TRUE(read_file(directory + "player\\viewer.exe", &copied));
    EXPECT_EQ(copied, "player program");
    EXPECT_TRUE(read_file(directory + "top.txt", &copied));
    EXPECT_EQ(copied, "top");

    EXPECT_EQ(component_version("INTERPRETER1"), 3);
    char buffer[260];
    ASSERT_GT(find_component_file("interpreter1", "run", buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), directory + "player\\viewer.exe");
    ASSERT_GT(find_component_file("interpreter1", "data", buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), directory + "sub\\data.bin");
    EXPECT_FALSE(FilePath(directory + "compindx.dat.new").exists());
    EXPECT_FALSE(FilePath(directory + "compindx.dat.lock").exists());
}

TEST(Sxinstall, ReinstallReplacesTheRecordInPlace) {
    ScratchDir scratch;
    const FilePath directory(scratch / "components\\");
    ASSERT_TRUE(write_file(scratch / "file", "x"));
    std::string error;
    for (const char* name : {"first", "second", "third"}) {
        InstallRequest request;
        request.name = name;
        request.version = 1;
        request.directory = directory;
        request.files.push_back({"key", std::string(name) + ".bin", FilePath(scratch / "file")});
        ASSERT_TRUE(install_component(request, &error)) << error;
    }
    InstallRequest update;
    update.name = "SECOND";  // names are compared without case
    update.version = 7;
    update.directory = directory;
    update.files.push_back({"run", "second.bin", FilePath()});
    ASSERT_TRUE(install_component(update, &error)) << error;

    std::string index;
    ASSERT_TRUE(read_file(directory.text() + "compindx.dat", &index));
    EXPECT_EQ(index,
              "component = FIRST\r\nversion = 1\r\ninstalled_local = key;first.bin\r\n"
              "componentend\r\n"
              "component = SECOND\r\nversion = 7\r\ninstalled_local = run;second.bin\r\n"
              "componentend\r\n"
              "component = THIRD\r\nversion = 1\r\ninstalled_local = key;third.bin\r\n"
              "componentend\r\n");
}

TEST(Sxinstall, RefusesBadRequestsAndKeepsTheIndex) {
    ScratchDir scratch;
    const FilePath directory(scratch / "components\\");
    ASSERT_TRUE(write_file(scratch / "file", "x"));
    std::string error;
    InstallRequest good;
    good.name = "kept";
    good.directory = directory;
    good.files.push_back({"key", "kept.bin", FilePath(scratch / "file")});
    ASSERT_TRUE(install_component(good, &error)) << error;
    std::string before;
    ASSERT_TRUE(read_file(directory.text() + "compindx.dat", &before));

    auto request = [&](auto change) {
        InstallRequest r;
        r.name = "other";
        r.directory = directory;
        r.files.push_back({"key", "other.bin", FilePath(scratch / "file")});
        r.lock_timeout_ms = 0;
        change(r);
        return r;
    };
    const InstallRequest bad[] = {
        request([](InstallRequest& r) { r.name = ""; }),
        request([](InstallRequest& r) { r.files[0].relative_path = "..\\escape.bin"; }),
        request([](InstallRequest& r) { r.files[0].key = "a;b"; }),
        request([](InstallRequest& r) { r.files.push_back(r.files[0]); }),
        request([](InstallRequest& r) { r.hooks.push_back("nothere"); }),
        request([&](InstallRequest& r) { r.files[0].source = FilePath(scratch / "missing"); }),
        request([](InstallRequest& r) { r.files[0].source = FilePath(); }),  // not in place
    };
    for (const InstallRequest& r : bad) {
        error.clear();
        EXPECT_FALSE(install_component(r, &error));
        EXPECT_FALSE(error.empty());
    }

    // Another installer holds the index.
    {
        FileLockHolder other = acquire_lock(FilePath(directory.text() + "compindx.dat"), 0);
        ASSERT_TRUE(other);
        EXPECT_FALSE(install_component(request([](InstallRequest&) {}), &error));
        EXPECT_FALSE(FilePath(directory.text() + "other.bin").exists());  // nothing copied
    }
    std::string after;
    ASSERT_TRUE(read_file(directory.text() + "compindx.dat", &after));
    EXPECT_EQ(after, before);
}

// ---------------------------------------------------------------------------
// The program, with the real hook libraries, as a user or the demo runs it.

std::string program(const char* file) { return testing::host_to_windows_path(file); }

uint32_t run_sxinstall(const std::string& arguments, std::string* errors) {
    uint32_t exit_code = 999;
    EXPECT_TRUE(testing::run_program(quote_argument(program(SX_SXINSTALL_FILE)) + " " + arguments,
                                     &exit_code, errors));
    return exit_code;
}

class SxinstallHooks : public ::testing::Test {
protected:
    void SetUp() override { testing::clear_hook_registry(); }
    void TearDown() override { testing::clear_hook_registry(); }
    ScratchDir scratch_;
};

TEST_F(SxinstallHooks, LauncherComponentWithSkiffhookAssociatesApplets) {
    const std::string directory = scratch_ / "components\\";
    ASSERT_TRUE(write_file(scratch_ / "launcher", "launcher program"));
    std::string errors;
    const uint32_t code = run_sxinstall(
        "install --name skiff --version 2 --dir " + quote_argument(directory) + " --file " +
            quote_argument("skiff=Stellarix3D.exe:" + (scratch_ / "launcher")) + " --file " +
            quote_argument("skiffhook=skiffhook.dll:" + program(SX_SKIFFHOOK_FILE)) +
            " --hook skiffhook",
        &errors);
    ASSERT_EQ(code, 0u) << errors;
    testing::expect_values(testing::association_for(directory + "Stellarix3D.exe"));
}

}  // namespace
}  // namespace sx::install
