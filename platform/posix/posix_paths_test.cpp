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

TEST(PosixPaths, RootIsPrimed) {
    Platform& p = platform();
    for (const char* dir :
         {"C:\\Windows", "C:\\Windows\\System32", "C:\\Windows\\Temp", "C:\\Program Files"})
        EXPECT_EQ(p.get_file_attributes(dir), kFileAttributeDirectory) << dir;
    std::string roaming = "C:\\Users\\" + user_name() + "\\AppData\\Roaming";
    EXPECT_EQ(p.get_file_attributes(roaming.c_str()), kFileAttributeDirectory);

    struct Value {
        RegKey root;
        const char* key;
        const char* name;
        uint32_t type;
        std::string data;
    } values[] = {
        {kHkeyCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
         "AppData", kRegSz, roaming},
        {kHkeyCurrentUser,
         "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders", "AppData",
         kRegExpandSz, "%USERPROFILE%\\AppData\\Roaming"},
        {kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
         kRegSz, "C:\\Program Files"},
    };
    for (const Value& v : values) {
        RegKey key;
        ASSERT_EQ(p.reg_open_key(v.root, v.key, kKeyQueryValue, &key), kErrorSuccess) << v.key;
        char buffer[300];
        uint32_t size = sizeof buffer, type = 0;
        ASSERT_EQ(p.reg_query_value(key, v.name, &type, buffer, &size), kErrorSuccess);
        EXPECT_EQ(type, v.type);
        EXPECT_EQ(std::string(buffer, size), v.data + '\0');  // stored as Windows does
        p.reg_close_key(key);
    }
    // The expanded form of the per-user folder is the folder itself.
    char expanded[300];
    p.expand_environment_strings("%USERPROFILE%\\AppData\\Roaming", expanded, sizeof expanded);
    EXPECT_EQ(std::string(expanded), roaming);
}

TEST(PosixPaths, PrimingTwiceAtOnceIsSafe) {
    test::TemporaryDirectory temp;
    ASSERT_TRUE(temp.ok());
    std::string host;
    ASSERT_TRUE(to_host_path(temp.path(), &host));
    const std::string root = host + "/root";
    // Two processes prime the same fresh root at the same moment.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(prime_root(root) ? 0 : 1);
    const bool mine = prime_root(root);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(mine);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    struct stat st;
    EXPECT_EQ(stat((root + "/drive_c/Windows/Temp").c_str(), &st), 0);
    EXPECT_EQ(stat((root + "/.primed").c_str(), &st), 0);

    Registry registry(registry_path(root));
    RegKey key;
    ASSERT_EQ(registry.open_key(kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion",
                                kKeyRead, &key),
              kErrorSuccess);
    uint32_t size = 0;
    EXPECT_EQ(registry.query_value(key, "ProgramFilesDir", nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(size, sizeof "C:\\Program Files");
    // One value, not two: the second primer found the work done.
    char name[64];
    uint32_t name_size = sizeof name;
    EXPECT_EQ(registry.enum_value(key, 2, name, &name_size, nullptr, nullptr, nullptr),
              kErrorNoMoreItems);
}

TEST(PosixPaths, DefaultRootFollowsXdg) {
    const char* saved_xdg = getenv("XDG_DATA_HOME");
    const std::string keep = saved_xdg ? saved_xdg : "";
    setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(default_winroot(), "/data/home/stellarix/winroot");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(default_winroot(), std::string(getenv("HOME")) + "/.local/share/stellarix/winroot");
    if (saved_xdg) setenv("XDG_DATA_HOME", keep.c_str(), 1);
}

class PosixFiles : public test::TempDirTest {};

TEST_F(PosixFiles, NamesIgnoreCase) {
    Platform& p = platform();
    ASSERT_TRUE(p.create_directory(file("MixedCase").c_str()));
    ASSERT_TRUE(test::write_file(file("MixedCase\\Data.TXT"), "abc"));
    std::string content;
    EXPECT_TRUE(test::read_file(file("MIXEDCASE\\data.txt"), &content));
    EXPECT_EQ(content, "abc");
    EXPECT_EQ(p.get_file_attributes(file("mixedcase\\").c_str()), kFileAttributeDirectory);
    // Opening an existing file in another case writes the same file ...
    ASSERT_TRUE(test::write_file(file("mixedcase\\DATA.txt"), "xyz"));
    std::vector<std::string> names;
    ASSERT_TRUE(p.list_directory(file("MixedCase\\*.*").c_str(), &names));
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "Data.TXT"}));
    // ... and a new file keeps the case it was given.
    ASSERT_TRUE(test::write_file(file("mixedcase\\New.Txt"), "n"));
    ASSERT_TRUE(p.list_directory(file("MixedCase\\*.txt").c_str(), &names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Data.TXT", "New.Txt"}));
    EXPECT_EQ(p.create_new_file(file("MIXEDCASE\\NEW.TXT").c_str()), CreateNewResult::exists);
    EXPECT_FALSE(p.create_directory(file("mixedCASE").c_str()));
}

TEST_F(PosixFiles, AttributesAndDeletion) {
    Platform& p = platform();
    ASSERT_TRUE(test::write_file(file("f"), "1"));
    ASSERT_TRUE(p.create_directory(file("d").c_str()));
    EXPECT_EQ(p.get_file_attributes(file("d").c_str()), kFileAttributeDirectory);
    EXPECT_EQ(p.get_file_attributes(file("f").c_str()) & kFileAttributeDirectory, 0u);
    EXPECT_EQ(p.get_file_attributes(file("f\\").c_str()), kInvalidFileAttributes);
    EXPECT_EQ(p.open_file(file("f\\").c_str(), "rb"), nullptr);
    EXPECT_NE(p.get_file_attributes(file("f").c_str()), kInvalidFileAttributes);
    EXPECT_EQ(p.get_file_attributes(file("missing").c_str()), kInvalidFileAttributes);
    EXPECT_FALSE(p.delete_file(file("d").c_str()));       // never a directory
    EXPECT_FALSE(p.remove_directory(file("f").c_str()));  // never a file
    ASSERT_TRUE(test::write_file(file("d\\inner"), "x"));
    EXPECT_FALSE(p.remove_directory(file("d").c_str()));  // not empty
    EXPECT_TRUE(p.delete_file(file("d\\inner").c_str()));
    EXPECT_TRUE(p.remove_directory(file("d\\").c_str()));
    EXPECT_FALSE(p.delete_file(file("missing").c_str()));
    EXPECT_FALSE(p.create_directory(file("no\\parent").c_str()));
    EXPECT_EQ(p.open_file(dir().c_str(), "rb"), nullptr);  // a directory is no file
}

TEST_F(PosixFiles, ListDirectoryPatterns) {
    Platform& p = platform();
    for (const char* name : {"a.dat", "b.DAT", "noext", "c.dat.lock"})
        ASSERT_TRUE(test::write_file(file(name), ""));
    struct Case {
        const char* pattern;
        std::vector<std::string> names;
    } cases[] = {
        {"*.*", {".", "..", "a.dat", "b.DAT", "c.dat.lock", "noext"}},
        {"*", {".", "..", "a.dat", "b.DAT", "c.dat.lock", "noext"}},
        {"*.dat", {"a.dat", "b.DAT"}},
        {"?.dat", {"a.dat", "b.DAT"}},
        {"*.lock", {"c.dat.lock"}},
        {"NOEXT", {"noext"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names;
        ASSERT_TRUE(p.list_directory(file(c.pattern).c_str(), &names)) << c.pattern;
        // "." and ".." come first; the rest in the system's order.
        std::sort(names.begin() + (names[0] == "." ? 2 : 0), names.end());
        EXPECT_EQ(names, c.names) << c.pattern;
    }
    std::vector<std::string> names;
    EXPECT_FALSE(p.list_directory(file("*.none").c_str(), &names));
    EXPECT_FALSE(p.list_directory(file("missing\\*.*").c_str(), &names));
}

TEST_F(PosixFiles, CopyMoveReplace) {
    Platform& p = platform();
    ASSERT_TRUE(test::write_file(file("src"), "source"));
    ASSERT_TRUE(test::write_file(file("dst"), "old"));
    std::string content;

    EXPECT_FALSE(p.copy_file(file("src").c_str(), file("dst").c_str(), true));
    ASSERT_TRUE(test::read_file(file("dst"), &content));
    EXPECT_EQ(content, "old");
    EXPECT_TRUE(p.copy_file(file("src").c_str(), file("dst").c_str(), false));
    ASSERT_TRUE(test::read_file(file("dst"), &content));
    EXPECT_EQ(content, "source");
    // Onto itself (in another case): refused, and the file survives whole.
    EXPECT_FALSE(p.copy_file(file("src").c_str(), file("SRC").c_str(), false));
    ASSERT_TRUE(test::read_file(file("src"), &content));
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

    ASSERT_TRUE(test::write_file(file("new"), "new"));
    EXPECT_TRUE(p.replace_file(file("new").c_str(), file("dst").c_str()));
    ASSERT_TRUE(test::read_file(file("dst"), &content));
    EXPECT_EQ(content, "new");
    EXPECT_EQ(p.get_file_attributes(file("new").c_str()), kInvalidFileAttributes);
    EXPECT_TRUE(
        p.replace_file(file("MOVED").c_str(), file("fresh").c_str()));  // `to` need not exist
    EXPECT_FALSE(p.replace_file(file("missing").c_str(), file("dst").c_str()));
}

TEST_F(PosixFiles, CreateNewAndFlush) {
    Platform& p = platform();
    EXPECT_EQ(p.create_new_file(file("n").c_str()), CreateNewResult::created);
    EXPECT_EQ(p.create_new_file(file("n").c_str()), CreateNewResult::exists);
    EXPECT_EQ(p.create_new_file(file("missing\\n").c_str()), CreateNewResult::failed);
    std::FILE* f = p.open_file(file("n").c_str(), "ab");
    ASSERT_NE(f, nullptr);
    std::fputs("data", f);
    EXPECT_TRUE(p.flush_file(f));
    std::string content;
    ASSERT_TRUE(test::read_file(file("n"), &content));
    EXPECT_EQ(content, "data");
    std::fclose(f);
}

TEST_F(PosixFiles, CurrentDirectoryInWindowsForm) {
    Platform& p = platform();
    std::string host;
    ASSERT_TRUE(to_host_path(dir(), &host));
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(host.c_str()), 0);
    const std::string current = p.current_directory();
    // A relative name is found from there.
    const bool written = test::write_file("rel.txt", "r");
    ASSERT_EQ(chdir("/tmp"), 0);
    const std::string tmp = p.current_directory();
    ASSERT_EQ(chdir(saved), 0);

    // The temporary directory lies on drive C of the root.
    EXPECT_EQ(current.substr(0, 3), "C:\\");
    EXPECT_EQ(p.get_file_attributes(current.c_str()), kFileAttributeDirectory);
    EXPECT_TRUE(written);
    EXPECT_NE(p.get_file_attributes(file("rel.txt").c_str()), kInvalidFileAttributes);
    EXPECT_EQ(tmp, "Z:\\tmp");
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
