#include "components/file_path.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "components/testing/scratch.h"
#include "platform/testing/faulty_platform.h"

namespace sx {
namespace {

using testing::read_file;
using testing::ScratchDir;
using testing::write_file;

TEST(FilePathText, PureTextOperations) {
    // Path, its parent, its name, whether it ends with a separator.
    const std::tuple<const char*, const char*, const char*, bool> cases[] = {
        {"", "", "", false},
        {"C:\\", "C:", "C:", true},
        {"C:\\a\\b\\", "C:\\a", "b", true},
        {"C:\\a\\b", "C:\\a", "b", false},
        {"C:\\a\\\\", "C:\\a", "", true},
    };
    for (const auto& [text, parent, name, separator] : cases) {
        FilePath path(text);
        EXPECT_EQ(path.ends_with_separator(), separator) << text;
        EXPECT_EQ(path.file_name(), name) << text;
        path.to_parent();
        EXPECT_EQ(path.text(), parent) << text;
    }
}

// Appending descends into a directory that exists and replaces anything
// else, so the cases run in a folder holding a directory "Data" and a file.
TEST(FilePathAppend, FollowsTheDiskState) {
    ScratchDir scratch;
    const std::string root = scratch.path().text();  // ends with a backslash
    const std::string data = root + "Data";
    ASSERT_TRUE(FilePath(data + "\\").ensure_directory() && write_file(root + "file.txt", "x"));
    // Path, appended as a directory, name, result.
    const std::tuple<std::string, bool, const char*, std::string> cases[] = {
        {data, false, "x", data + "\\x"},
        {data + "\\a.txt", false, "x", data + "\\x"},
        {data, true, "x", data + "\\x\\"},
        {"", false, "x", "x"},
        {root + "missing", false, "x", root + "x"},
        {root + "file.txt", true, "d\\", root + "d\\"},
        {data + "\\", false, "sub\\deeper.txt", data + "\\sub\\deeper.txt"},
    };
    for (const auto& [text, as_dir, name, expected] : cases) {
        FilePath path(text);
        as_dir ? path.append_dir(name) : path.append_file(name);
        EXPECT_EQ(path.text(), expected) << text << " + " << name;
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

    // A file is no directory, and each kind refuses the other's removal.
    ASSERT_TRUE(write_file(plain.text(), "x"));
    EXPECT_FALSE(plain.ensure_directory() || plain.create_directory());
    EXPECT_FALSE(FilePath(scratch / "plain\\below\\").ensure_directory());
    EXPECT_FALSE(plain.remove_directory() || deep.delete_file());
    EXPECT_TRUE(plain.delete_file());
    EXPECT_FALSE(FilePath(scratch / "new").remove_directory());  // not empty
    EXPECT_TRUE(deep.remove_directory());
    EXPECT_FALSE(deep.exists() || plain.exists());
    // What does not exist is already gone.
    EXPECT_TRUE(deep.remove_directory() && plain.delete_file());
}

// A copy is exact or leaves no destination behind.
TEST(FilePathFiles, CopyToRespectsOverwriteAndCopiesExactly) {
    ScratchDir scratch;
    // More than one 32 KiB block, with every byte value.
    std::string payload, content;
    for (int i = 0; i < 100000; ++i) payload.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    ASSERT_TRUE(write_file(scratch / "src", payload) && write_file(scratch / "dst", "keep"));
    const FilePath source(scratch / "src");
    const FilePath destination(scratch / "dst");
    EXPECT_FALSE(source.copy_to(destination, false));
    ASSERT_TRUE(read_file(destination.text(), &content));
    EXPECT_EQ(content, "keep");
    EXPECT_TRUE(source.copy_to(destination, true));
    ASSERT_TRUE(read_file(destination.text(), &content));
    EXPECT_EQ(content, payload);
    EXPECT_FALSE(FilePath(scratch / "nothing").copy_to(FilePath(scratch / "x"), true));
    EXPECT_FALSE(source.copy_to(FilePath(scratch / "no\\such\\dir\\x"), true));

    const FilePath failing(scratch / "failing");
    FaultyPlatform faults;
    ScopedPlatform use(&faults);
    faults.fail_open_file(failing.text(), "w");
    EXPECT_FALSE(source.copy_to(failing, true) || failing.exists());
    if (FaultyPlatform::supports_disk_full()) {
        faults.clear_rules();
        faults.fail_after_writes(failing.text(), 40000);  // the disk fills in the second block
        EXPECT_FALSE(source.copy_to(failing, true) || failing.exists());
    }
}

}  // namespace
}  // namespace sx
