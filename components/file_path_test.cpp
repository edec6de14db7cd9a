#include "components/file_path.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "components/testing/scratch.h"

namespace sx {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

TEST(FilePathText, PureTextOperations) {
    struct Case {
        const char* path;
        const char* parent;
        const char* name;
        bool ends_with_separator;
    };
    const Case cases[] = {
        {"", "", "", false},
        {"C:\\", "C:", "C:", true},
        {"C:\\a\\b\\", "C:\\a", "b", true},
        {"C:\\a\\b", "C:\\a", "b", false},
        {"\\", "", "", true},
        {"C:\\a\\\\", "C:\\a", "", true},
    };
    for (const Case& c : cases) {
        FilePath path(c.path);
        EXPECT_EQ(path.ends_with_separator(), c.ends_with_separator) << c.path;
        EXPECT_EQ(path.file_name(), c.name) << c.path;
        path.to_parent();
        EXPECT_EQ(path.text(), c.parent) << c.path;
    }
}

// Appending descends into a directory that exists and replaces anything
// else, so the cases run in a folder holding a directory "Data" and a file.
TEST(FilePathAppend, FollowsTheDiskState) {
    ScratchDir scratch;
    const std::string root = scratch.path().text();  // ends with a backslash
    const std::string data = root + "Data";
    ASSERT_TRUE(FilePath(data + "\\").ensure_directory());
    ASSERT_TRUE(write_file(root + "file.txt", "x"));

    struct Case {
        std::string path;
        bool as_dir;
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        {data, false, "x", data + "\\x"},
        {data + "\\a.txt", false, "x", data + "\\x"},
        {data, true, "x", data + "\\x\\"},
        {"", false, "x", "x"},
        {root + "missing", false, "x", root + "x"},
        {root + "file.txt", true, "d\\", root + "d\\"},
        {data + "\\", false, "sub\\deeper.txt", data + "\\sub\\deeper.txt"},
    };
    for (const Case& c : cases) {
        FilePath path(c.path);
        if (c.as_dir) {
            path.append_dir(c.name);
        } else {
            path.append_file(c.name);
        }
        EXPECT_EQ(path.text(), c.expected) << c.path << " + " << c.name;
    }
}

TEST(FilePathDirectories, EnsureCreateAndRemove) {
    ScratchDir scratch;
    const FilePath deep(scratch / "new\\deeper\\");
    const FilePath plain(scratch / "plain");
    ASSERT_TRUE(deep.ensure_directory());
    bool is_directory = false;
    EXPECT_TRUE(deep.exists(&is_directory) && is_directory);
    EXPECT_TRUE(deep.ensure_directory());  // already there
    // A relative single name has no parent to create first.
    EXPECT_FALSE(FilePath("sx-no-such-relative-folder-7f3a").ensure_directory());

    // A file is no directory, and each kind refuses the other's removal.
    ASSERT_TRUE(write_file(plain.text(), "x"));
    EXPECT_FALSE(plain.ensure_directory() || plain.create_directory());
    EXPECT_FALSE(FilePath(scratch / "plain\\below\\").ensure_directory());
    EXPECT_FALSE(plain.remove_directory() || deep.delete_file());
    EXPECT_TRUE(plain.delete_file());
    EXPECT_FALSE(plain.exists());
    EXPECT_FALSE(FilePath(scratch / "new").remove_directory());  // not empty
    EXPECT_TRUE(deep.remove_directory());
    // What does not exist is already gone.
    EXPECT_TRUE(deep.remove_directory() && plain.delete_file());
}

TEST(FilePathFiles, CopyToRespectsOverwriteAndCopiesExactly) {
    ScratchDir scratch;
    // More than one 32 KiB block, with every byte value.
    std::string payload;
    for (int i = 0; i < 100000; ++i) payload.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    ASSERT_TRUE(write_file(scratch / "src.bin", payload));
    ASSERT_TRUE(write_file(scratch / "dst.bin", "keep"));
    const FilePath source(scratch / "src.bin");
    const FilePath destination(scratch / "dst.bin");

    std::string content;
    EXPECT_FALSE(source.copy_to(destination, false));
    ASSERT_TRUE(read_file(destination.text(), &content));
    EXPECT_EQ(content, "keep");
    EXPECT_TRUE(source.copy_to(destination, true));
    ASSERT_TRUE(read_file(destination.text(), &content));
    EXPECT_EQ(content, payload);

    EXPECT_FALSE(FilePath(scratch / "nothing").copy_to(FilePath(scratch / "x"), true));
    EXPECT_FALSE(source.copy_to(FilePath(scratch / "no\\such\\dir\\x"), true));
}

TEST(FilePathFiles, ForEachEntryListsEverythingAndAllowsDeletion) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch / "a.txt", "1") && write_file(scratch / "b.txt", "2"));
    ASSERT_TRUE(FilePath(scratch / "sub\\").ensure_directory());

    // Without a trailing separator the folder is still listed, since it exists.
    FilePath folder(scratch.path());
    folder.to_parent();
    folder.append_dir(scratch.path().file_name());
    std::set<std::string> seen;
    EXPECT_TRUE(folder.for_each_entry(
        [](const FilePath& entry, void* argument, bool is_directory) {
            static_cast<std::set<std::string>*>(argument)->insert(entry.file_name() +
                                                                  (is_directory ? "\\" : ""));
            // Deleting what we are given must not disturb the listing.
            if (!is_directory) entry.delete_file();
            return true;
        },
        &seen));
    EXPECT_EQ(seen, (std::set<std::string>{".\\", "..\\", "sub\\", "a.txt", "b.txt"}));
    EXPECT_FALSE(FilePath(scratch / "a.txt").exists());

    // Stopping early, and folders that cannot be listed.
    auto once = [](const FilePath&, void* argument, bool) {
        return ++*static_cast<int*>(argument) < 0;
    };
    int calls = 0;
    EXPECT_TRUE(scratch.path().for_each_entry(once, &calls));
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(write_file(scratch / "f", ""));
    EXPECT_FALSE(FilePath(scratch / "f").for_each_entry(once, &calls));
    EXPECT_FALSE(FilePath(scratch / "none\\").for_each_entry(once, &calls));
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace sx
