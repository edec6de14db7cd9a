#include "tools/sxinstall/component_installer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
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

TEST(Sxinstall, ReinstallReplacesTheRecordInPlaceAndRemoveDeletesIt) {
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

    ASSERT_TRUE(remove_component(directory, "first", &error)) << error;
    EXPECT_FALSE(FilePath(directory.text() + "first.bin").exists());
    EXPECT_TRUE(FilePath(directory.text() + "third.bin").exists());
    std::vector<IndexRecord> records;
    ASSERT_TRUE(list_components(directory, &records, &error));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "SECOND");
    EXPECT_EQ(records[1].name, "THIRD");
    EXPECT_FALSE(remove_component(directory, "first", &error));
}

TEST(Sxinstall, RefusesBadRequestsAndKeepsTheIndexWhenItCannotWrite) {
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
    // The new index cannot be written beside the old one.
    ASSERT_TRUE(FilePath(directory.text() + "compindx.dat.new\\").ensure_directory() &&
                write_file(directory.text() + "compindx.dat.new\\x", "x"));
    EXPECT_FALSE(install_component(request([](InstallRequest&) {}), &error));
    EXPECT_FALSE(FilePath(directory.text() + "other.bin").exists());

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

#ifdef SX_SXREG_FILE
// The values of one key as `sxreg export` writes them: name ("@" for the
// default value) to the exact bytes held.
std::map<std::string, std::string> exported_values(const std::string& key,
                                                   const std::string& file) {
    std::map<std::string, std::string> values;
    uint32_t code = 1;
    std::string errors;
    EXPECT_TRUE(testing::run_program(quote_argument(program(SX_SXREG_FILE)) + " export " +
                                         quote_argument(key) + " " + quote_argument(file) + " /y",
                                     &code, &errors));
    EXPECT_EQ(code, 0u) << errors;
    std::string text;
    EXPECT_TRUE(read_file(file, &text));
    // Join continued lines, then read name=data lines.
    std::string joined;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() &&
            (text[i + 1] == '\n' || text[i + 1] == '\r')) {
            while (i + 1 < text.size() && std::isspace(static_cast<unsigned char>(text[i + 1])))
                ++i;
            continue;
        }
        joined += text[i];
    }
    size_t start = 0;
    int sections = 0;  // only the key itself, not the subkeys exported after it
    while (start < joined.size()) {
        size_t end = joined.find_first_of("\r\n", start);
        if (end == std::string::npos) end = joined.size();
        const std::string line = joined.substr(start, end - start);
        start = end + 1;
        const size_t equals = line.find('=');
        if (!line.empty() && line[0] == '[') ++sections;
        if (sections != 1 || line.empty() || line[0] == '[' || equals == std::string::npos)
            continue;
        std::string name = line.substr(0, equals);
        if (name.size() >= 2 && name.front() == '"') name = name.substr(1, name.size() - 2);
        const std::string data = line.substr(equals + 1);
        std::string bytes;
        if (data.rfind("hex(1):", 0) == 0) {
            for (size_t at = 7; at + 1 < data.size(); at += 3)
                bytes += static_cast<char>(std::stoi(data.substr(at, 2), nullptr, 16));
        } else if (data.size() >= 2 && data.front() == '"') {
            bytes = data.substr(1, data.size() - 2) + std::string(1, '\0');  // held with its zero
        } else {
            bytes = "unexpected form: " + data;
        }
        values[name] = bytes;
    }
    return values;
}
#endif

// Checks the values through the registry API and, natively, through sxreg as
// a user would look at them.
void expect_registry(const std::vector<testing::ExpectedValue>& expected,
                     [[maybe_unused]] const std::string& export_file) {
    testing::expect_values(expected);
#ifdef SX_SXREG_FILE
    for (const testing::ExpectedValue& e : expected) {
        const std::string root = e.root == kHkeyClassesRoot ? "HKCR\\" : "HKLM\\";
        EXPECT_EQ(exported_values(root + e.key, export_file)[e.name ? e.name : "@"], e.data)
            << e.key;
    }
#endif
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
    expect_registry(testing::association_for(directory + "Stellarix3D.exe"),
                    scratch_ / "export.reg");
}

}  // namespace
}  // namespace sx::install
