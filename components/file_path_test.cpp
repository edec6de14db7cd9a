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
        {"abc", "abc", "abc", false},
        {"C:\\", "C:", "C:", true},
        {"C:\\a\\b\\", "C:\\a", "b", true},
        {"C:\\a\\b", "C:\\a", "b", false},
        {"\\", "", "", true},
        {"a\\", "a", "a", true},
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

// The append rules depend on what exists on disk, so they run in a scratch
// folder holding a directory "Data" and nothing else.
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
        {data, false, "x", data + "\\x"},              // existing directory: descend
        {data + "\\a.txt", false, "x", data + "\\x"},  // file name: replaced
        {data + "\\", true, "x", data + "\\x\\"},
        {data, true, "x", data + "\\x\\"},
        {"", false, "x", "x"},
        {root + "missing", false, "x", root + "x"},      // missing directory: replaced
        {root + "file.txt", false, "y", root + "y"},     // existing file: replaced
        {root + "file.txt", true, "d\\", root + "d\\"},  // no second separator
        {data + "\\", false, "sub\\deeper.txt", data + "\\sub\\deeper.txt"},
        {data, false, "..\\up", data + "\\..\\up"},
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
    const std::string deep = scratch / "new\\deeper\\";
    FilePath target(deep);
    EXPECT_FALSE(target.exists());
    ASSERT_TRUE(target.ensure_directory());
    bool is_directory = false;
    EXPECT_TRUE(FilePath(scratch / "new").exists(&is_directory));
    EXPECT_TRUE(is_directory);
    EXPECT_TRUE(target.exists(&is_directory));
    EXPECT_TRUE(is_directory);
    EXPECT_TRUE(target.ensure_directory());  // already there

    // A relative single name has no parent to create first.
    EXPECT_FALSE(FilePath("sx-no-such-relative-folder-7f3a").ensure_directory());

    // A file in the way is not a directory.
    ASSERT_TRUE(write_file(scratch / "plain", "x"));
    EXPECT_FALSE(FilePath(scratch / "plain").ensure_directory());
    EXPECT_FALSE(FilePath(scratch / "plain").create_directory());
    EXPECT_FALSE(FilePath(scratch / "plain\\below\\").ensure_directory());

    // Deleting files and removing directories, each refusing the other kind.
    EXPECT_FALSE(FilePath(scratch / "plain").remove_directory());
    EXPECT_FALSE(FilePath(deep).delete_file());
    EXPECT_TRUE(FilePath(scratch / "plain").delete_file());
    EXPECT_FALSE(FilePath(scratch / "plain").exists());
    EXPECT_FALSE(FilePath(scratch / "new").remove_directory());  // not empty
    EXPECT_TRUE(FilePath(deep).remove_directory());
    EXPECT_TRUE(FilePath(scratch / "new").remove_directory());
    // What does not exist is already gone.
    EXPECT_TRUE(FilePath(scratch / "new").remove_directory());
    EXPECT_TRUE(FilePath(scratch / "plain").delete_file());
}

TEST(FilePathFiles, CopyToRespectsOverwriteAndCopiesExactly) {
    ScratchDir scratch;
    // More than one 32 KiB block, with every byte value.
    std::string payload;
    for (int i = 0; i < 100000; ++i) payload.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    ASSERT_TRUE(write_file(scratch / "src.bin", payload));
    ASSERT_TRUE(write_file(scratch / "dst.bin", "keep"));

    FilePath source(scratch / "src.bin");
    EXPECT_FALSE(source.copy_to(FilePath(scratch / "dst.bin"), false));
    std::string content;
    ASSERT_TRUE(read_file(scratch / "dst.bin", &content));
    EXPECT_EQ(content, "keep");

    EXPECT_TRUE(source.copy_to(FilePath(scratch / "dst.bin"), true));
    ASSERT_TRUE(read_file(scratch / "dst.bin", &content));
    EXPECT_EQ(content, payload);

    ASSERT_TRUE(write_file(scratch / "empty", ""));
    EXPECT_TRUE(FilePath(scratch / "empty").copy_to(FilePath(scratch / "empty2"), false));
    ASSERT_TRUE(read_file(scratch / "empty2", &content));
    EXPECT_EQ(content, "");

    // A missing source or an unwritable destination gives false.
    EXPECT_FALSE(FilePath(scratch / "nothing").copy_to(FilePath(scratch / "x"), true));
    EXPECT_FALSE(source.copy_to(FilePath(scratch / "no\\such\\dir\\x"), true));
}

TEST(FilePathFiles, ForEachEntryListsEverythingAndAllowsDeletion) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch / "a.txt", "1"));
    ASSERT_TRUE(write_file(scratch / "b.txt", "2"));
    ASSERT_TRUE(FilePath(scratch / "sub\\").ensure_directory());

    struct Seen {
        std::set<std::string> files, dirs;
    } seen;
    // Without a trailing separator the folder is still listed, since it exists.
    FilePath folder(scratch.path());
    folder.to_parent();
    folder.append_dir(scratch.path().file_name());
    EXPECT_TRUE(folder.for_each_entry(
        [](const FilePath& entry, void* argument, bool is_directory) {
            auto* s = static_cast<Seen*>(argument);
            (is_directory ? s->dirs : s->files).insert(entry.file_name());
            // Deleting what we are given must not disturb the listing.
            if (!is_directory) entry.delete_file();
            return true;
        },
        &seen));
    EXPECT_EQ(seen.files, (std::set<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(seen.dirs, (std::set<std::string>{".", "..", "sub"}));
    EXPECT_FALSE(FilePath(scratch / "a.txt").exists());

    // Stopping early, and folders that cannot be listed.
    int calls = 0;
    EXPECT_TRUE(scratch.path().for_each_entry(
        [](const FilePath&, void* argument, bool) {
            ++*static_cast<int*>(argument);
            return false;
        },
        &calls));
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(write_file(scratch / "f", ""));
    calls = 0;
    auto count = [](const FilePath&, void* argument, bool) {
        ++*static_cast<int*>(argument);
        return true;
    };
    EXPECT_FALSE(FilePath(scratch / "f").for_each_entry(count, &calls));
    EXPECT_FALSE(FilePath(scratch / "none\\").for_each_entry(count, &calls));
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace sx
