// Drives, path translation, case-insensitive names, listing and links.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "platform/posix/posix_internal.h"
#include "platform/testing/test_support.h"

namespace sx::posix {
namespace {

TEST(PosixPaths, TranslationTable) {
    const std::string root = winroot();
    const std::pair<const char*, std::string> cases[] = {
        {"c:\\windows\\system32\\", root + "/drive_c/Windows/System32"},  // case, trailing '\'
        {"C:/Windows/NoSuchDir/New.TXT", root + "/drive_c/Windows/NoSuchDir/New.TXT"},
        {"D:\\x\\\\y\\.\\..\\z", root + "/drive_d/x/z"},
        {"\\Windows\\..\\..\\x", root + "/drive_c/x"},  // a single backslash: drive C
        {"Z:\\", "/"},
        {"z:\\TMP", "/tmp"},
        {"relative\\..\\..\\name.txt", "../name.txt"},  // kept where it cannot apply
    };
    std::string host;
    for (const auto& [windows, expected] : cases) {
        ASSERT_TRUE(to_host_path(windows, &host)) << windows;
        EXPECT_EQ(host, expected) << windows;
    }
    EXPECT_FALSE(to_host_path("", &host));
    EXPECT_FALSE(to_host_path("\\\\server\\share\\x", &host));
}

class PosixFiles : public testing::TempDirTest {
protected:
    std::string content(const std::string& name) {
        std::string text;
        return testing::read_file(file(name), &text) ? text : "(unreadable)";
    }
    std::vector<std::string> listed(const std::string& pattern) {
        std::vector<std::string> names;
        EXPECT_TRUE(p.list_directory(file(pattern).c_str(), &names));
        std::sort(names.begin(), names.end());
        return names;
    }
    Platform& p = platform();
};

TEST_F(PosixFiles, NamesIgnoreCase) {
    ASSERT_TRUE(p.create_directory(file("MixedCase").c_str()));
    ASSERT_TRUE(testing::write_file(file("MixedCase\\Data.TXT"), "abc"));
    EXPECT_EQ(content("MIXEDCASE\\data.txt"), "abc");
    EXPECT_EQ(p.get_file_attributes(file("mixedcase\\").c_str()), kFileAttributeDirectory);
    // An existing file opened in another case is the same file; a new file
    // keeps the case it was given; "*.*" matches a name without a dot.
    ASSERT_TRUE(testing::write_file(file("mixedcase\\DATA.txt"), "xyz"));
    ASSERT_TRUE(testing::write_file(file("mixedcase\\NewFile"), "n"));
    EXPECT_EQ(listed("MixedCase\\*.*"),
              (std::vector<std::string>{".", "..", "Data.TXT", "NewFile"}));
    EXPECT_EQ(listed("MixedCase\\*.txt"), (std::vector<std::string>{"Data.TXT"}));
    EXPECT_EQ(p.create_new_file(file("MIXEDCASE\\NEWFILE").c_str()), CreateNewResult::exists);
    EXPECT_FALSE(p.create_directory(file("mixedCASE").c_str()));
}

TEST_F(PosixFiles, CopyMoveReplace) {
    ASSERT_TRUE(testing::write_file(file("src"), "source"));
    ASSERT_TRUE(testing::write_file(file("dst"), "old"));
    // Onto itself (in another case): refused, and the file survives whole.
    EXPECT_FALSE(p.copy_file(file("src").c_str(), file("SRC").c_str(), false));
    EXPECT_EQ(content("src"), "source");
    EXPECT_FALSE(p.copy_file(file("missing").c_str(), file("x").c_str(), false));
    EXPECT_EQ(p.get_file_attributes(file("x").c_str()), kInvalidFileAttributes);

    // MoveFileA never replaces; a change of case only is a rename.
    EXPECT_FALSE(p.move_file(file("src").c_str(), file("dst").c_str()));
    EXPECT_TRUE(p.move_file(file("src").c_str(), file("moved").c_str()));
    EXPECT_TRUE(p.move_file(file("moved").c_str(), file("MOVED").c_str()));
    EXPECT_EQ(listed("*"), (std::vector<std::string>{".", "..", "MOVED", "dst"}));

    ASSERT_TRUE(testing::write_file(file("new"), "new"));
    EXPECT_TRUE(p.replace_file(file("new").c_str(), file("dst").c_str()));
    EXPECT_EQ(content("dst"), "new");
    EXPECT_EQ(p.get_file_attributes(file("new").c_str()), kInvalidFileAttributes);
    EXPECT_TRUE(p.replace_file(file("MOVED").c_str(), file("fresh").c_str()));  // `to` may be new
    EXPECT_FALSE(p.replace_file(file("missing").c_str(), file("dst").c_str()));
}

TEST_F(PosixFiles, LinksAreRemovedWithoutFollowing) {
    std::string host;
    ASSERT_TRUE(to_host_path(dir(), &host));
    ASSERT_EQ(mkdir((host + "/target").c_str(), 0777), 0);
    ASSERT_TRUE(testing::write_file(file("target\\kept.txt"), "k"));
    ASSERT_TRUE(testing::write_file(file("file.txt"), "f"));
    for (const auto& [target, link] :
         {std::pair{"/target", "/dirlink"}, {"/file.txt", "/filelink"}, {"/nothing", "/dangling"}})
        ASSERT_EQ(symlink((host + target).c_str(), (host + link).c_str()), 0);
    const std::pair<const char*, uint32_t> cases[] = {
        {"dirlink", kFileAttributeReparsePoint | kFileAttributeDirectory},
        {"filelink", kFileAttributeReparsePoint | kFileAttributeArchive},
        {"dangling", kFileAttributeReparsePoint | kFileAttributeArchive},
    };
    for (const auto& [name, attributes] : cases)
        EXPECT_EQ(p.get_file_attributes(file(name).c_str()), attributes) << name;

    EXPECT_FALSE(p.delete_file(file("dirlink").c_str())) << "a folder link is no file";
    EXPECT_EQ(p.last_error(), kErrorAccessDenied);
    EXPECT_FALSE(p.remove_directory(file("filelink").c_str())) << "a file link is no folder";
    EXPECT_EQ(p.last_error(), kErrorDirectory);
    EXPECT_TRUE(p.remove_directory(file("dirlink").c_str()));
    EXPECT_TRUE(p.delete_file(file("filelink").c_str()));
    EXPECT_TRUE(p.delete_file(file("dangling").c_str()));
    // The links are gone; what they pointed at is all still there.
    EXPECT_EQ(listed("*"), (std::vector<std::string>{".", "..", "file.txt", "target"}));
    EXPECT_EQ(content("target\\kept.txt"), "k");
}

}  // namespace
}  // namespace sx::posix
