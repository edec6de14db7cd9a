// Drives, path translation, case-insensitive names and directory listing.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "platform/posix/posix_internal.h"
#include "platform/testing/test_support.h"

namespace sx::posix {
namespace {

TEST(PosixPaths, NormalizeTable) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"C:\\a\\b", "C:\\a\\b"},
        {"C:/a/b/", "C:\\a\\b"},
        {"C:\\a\\\\b\\\\", "C:\\a\\b"},
        {"C:\\a\\.\\b", "C:\\a\\b"},
        {"C:\\a\\..\\b", "C:\\b"},
        {"C:\\..\\..\\b", "C:\\b"},  // never above the drive root
        {"C:\\", "C:\\"},
        {"c:", "c:"},
        {"\\Windows\\", "\\Windows"},
        {"a\\..\\..\\b", "..\\b"},  // relative paths keep what they cannot apply
        {"a\\.", "a"},
        {".", "."},
    };
    for (const Case& c : cases) EXPECT_EQ(normalize_windows_path(c.in), c.out) << c.in;
}

TEST(PosixPaths, TranslationTable) {
    const std::string root = winroot();
    struct Case {
        const char* windows;
        std::string host;
    } cases[] = {
        {"C:\\Windows\\System32", root + "/drive_c/Windows/System32"},
        {"c:\\windows\\system32\\", root + "/drive_c/Windows/System32"},  // case and trailing '\'
        {"C:\\Windows\\NoSuchDir\\New.TXT", root + "/drive_c/Windows/NoSuchDir/New.TXT"},
        {"C:\\", root + "/drive_c"},
        {"D:\\x", root + "/drive_d/x"},
        {"\\Windows", root + "/drive_c/Windows"},  // a single backslash: drive C
        {"Z:\\", "/"},
        {"Z:\\tmp", "/tmp"},
        {"z:\\TMP", "/tmp"},
        {"Z:\\usr\\..\\etc", "/etc"},
        {"relative\\name.txt", "relative/name.txt"},
    };
    for (const Case& c : cases) {
        std::string host;
        ASSERT_TRUE(to_host_path(c.windows, &host)) << c.windows;
        EXPECT_EQ(host, c.host) << c.windows;
    }
    std::string host;
    EXPECT_FALSE(to_host_path("", &host));
    EXPECT_FALSE(to_host_path("\\\\server\\share\\x", &host));
}

class PosixFiles : public testing::TempDirTest {};

TEST_F(PosixFiles, NamesIgnoreCase) {
    Platform& p = platform();
    ASSERT_TRUE(p.create_directory(file("MixedCase").c_str()));
    ASSERT_TRUE(testing::write_file(file("MixedCase\\Data.TXT"), "abc"));
    std::string content;
    EXPECT_TRUE(testing::read_file(file("MIXEDCASE\\data.txt"), &content));
    EXPECT_EQ(content, "abc");
    EXPECT_EQ(p.get_file_attributes(file("mixedcase\\").c_str()), kFileAttributeDirectory);
    // Opening an existing file in another case writes the same file ...
    ASSERT_TRUE(testing::write_file(file("mixedcase\\DATA.txt"), "xyz"));
    std::vector<std::string> names;
    ASSERT_TRUE(p.list_directory(file("MixedCase\\*.*").c_str(), &names));
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "Data.TXT"}));
    // ... and a new file keeps the case it was given.
    ASSERT_TRUE(testing::write_file(file("mixedcase\\New.Txt"), "n"));
    ASSERT_TRUE(p.list_directory(file("MixedCase\\*.txt").c_str(), &names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Data.TXT", "New.Txt"}));
    EXPECT_EQ(p.create_new_file(file("MIXEDCASE\\NEW.TXT").c_str()), CreateNewResult::exists);
    EXPECT_FALSE(p.create_directory(file("mixedCASE").c_str()));
}

TEST_F(PosixFiles, CopyMoveReplace) {
    Platform& p = platform();
    ASSERT_TRUE(testing::write_file(file("src"), "source"));
    ASSERT_TRUE(testing::write_file(file("dst"), "old"));
    std::string content;

    EXPECT_FALSE(p.copy_file(file("src").c_str(), file("dst").c_str(), true));
    ASSERT_TRUE(testing::read_file(file("dst"), &content));
    EXPECT_EQ(content, "old");
    EXPECT_TRUE(p.copy_file(file("src").c_str(), file("dst").c_str(), false));
    ASSERT_TRUE(testing::read_file(file("dst"), &content));
    EXPECT_EQ(content, "source");
    // Onto itself (in another case): refused, and the file survives whole.
    EXPECT_FALSE(p.copy_file(file("src").c_str(), file("SRC").c_str(), false));
    ASSERT_TRUE(testing::read_file(file("src"), &content));
    EXPECT_EQ(content, "source");
    EXPECT_FALSE(p.copy_file(file("missing").c_str(), file("x").c_str(), false));
    EXPECT_EQ(p.get_file_attributes(file("x").c_str()), kInvalidFileAttributes);

    // MoveFileA never replaces; a change of case only is a rename.
    EXPECT_FALSE(p.move_file(file("src").c_str(), file("dst").c_str()));
    EXPECT_TRUE(p.move_file(file("src").c_str(), file("moved").c_str()));
    EXPECT_EQ(p.get_file_attributes(file("src").c_str()), kInvalidFileAttributes);
    EXPECT_TRUE(p.move_file(file("moved").c_str(), file("MOVED").c_str()));
    std::vector<std::string> names;
    ASSERT_TRUE(p.list_directory(file("mov*").c_str(), &names));
    EXPECT_EQ(names, std::vector<std::string>{"MOVED"});

    ASSERT_TRUE(testing::write_file(file("new"), "new"));
    EXPECT_TRUE(p.replace_file(file("new").c_str(), file("dst").c_str()));
    ASSERT_TRUE(testing::read_file(file("dst"), &content));
    EXPECT_EQ(content, "new");
    EXPECT_EQ(p.get_file_attributes(file("new").c_str()), kInvalidFileAttributes);
    EXPECT_TRUE(
        p.replace_file(file("MOVED").c_str(), file("fresh").c_str()));  // `to` need not exist
    EXPECT_FALSE(p.replace_file(file("missing").c_str(), file("dst").c_str()));
}

TEST(PosixPaths, PatternMatch) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.*", "noext", true}, {"*.dat", "X.DAT", true}, {"*.dat", "x.dat.lock", false},
        {"a?c", "abc", true},   {"a?c", "ac", false},     {"*b*", "abc", true},
        {"*", "", true},        {"abc", "abd", false},    {"a*c*e", "abXcYe", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(match_pattern(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

}  // namespace
}  // namespace sx::posix
