// Links in the emulated file system: seen as links, removed without following.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/posix_internal.h"

namespace sx::posix {
namespace {

TEST(PosixLinks, SeenAsLinksAndRemovedWithoutFollowing) {
    Platform& os = platform();
    char temp[300] = {};
    ASSERT_GT(os.get_temp_path(temp, sizeof temp), 0u);
    const std::string dir = temp + ("sx-links-" + std::to_string(getpid()));
    std::string host;
    ASSERT_TRUE(os.create_directory(dir.c_str()) && to_host_path(dir, &host));
    ASSERT_EQ(mkdir((host + "/target").c_str(), 0777), 0);
    for (const char* file : {"/target/kept.txt", "/file.txt"})
        ASSERT_EQ(std::fclose(std::fopen((host + file).c_str(), "w")), 0);
    for (const auto& [target, link] :
         {std::pair{"/target", "/dirlink"}, {"/file.txt", "/filelink"}, {"/nothing", "/dangling"}})
        ASSERT_EQ(symlink((host + target).c_str(), (host + link).c_str()), 0);

    const struct {
        const char* name;
        uint32_t attributes;
    } cases[] = {
        {"target", kFileAttributeDirectory},
        {"dirlink", kFileAttributeReparsePoint | kFileAttributeDirectory},
        {"filelink", kFileAttributeReparsePoint | kFileAttributeArchive},
        {"dangling", kFileAttributeReparsePoint | kFileAttributeArchive},
    };
    for (const auto& c : cases)
        EXPECT_EQ(os.get_file_attributes((dir + "\\" + c.name).c_str()), c.attributes) << c.name;

    EXPECT_FALSE(os.delete_file((dir + "\\dirlink").c_str())) << "a folder link is no file";
    EXPECT_EQ(os.last_error(), kErrorAccessDenied);
    EXPECT_FALSE(os.remove_directory((dir + "\\filelink").c_str())) << "a file link is no folder";
    EXPECT_EQ(os.last_error(), kErrorDirectory);
    EXPECT_TRUE(os.remove_directory((dir + "\\dirlink").c_str()));
    EXPECT_TRUE(os.delete_file((dir + "\\filelink").c_str()));
    EXPECT_TRUE(os.delete_file((dir + "\\dangling").c_str()));
    struct stat st;
    for (const char* gone : {"/dirlink", "/filelink", "/dangling"})
        EXPECT_NE(lstat((host + gone).c_str(), &st), 0) << gone;
    // What the links pointed at is all still there.
    EXPECT_EQ(unlink((host + "/target/kept.txt").c_str()), 0);
    EXPECT_EQ(unlink((host + "/file.txt").c_str()), 0);
    EXPECT_EQ(rmdir((host + "/target").c_str()), 0);
    EXPECT_EQ(rmdir(host.c_str()), 0);
}

}  // namespace
}  // namespace sx::posix
