// Links in the emulated file system: seen as links, removed without following.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/posix_internal.h"

namespace sx::posix {
namespace {

class PosixLinks : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[300] = {};
        const uint32_t n = platform().get_temp_path(temp, sizeof temp);
        ASSERT_TRUE(n > 0 && n < sizeof temp);
        dir_ = std::string(temp) + "sx-links-" + std::to_string(getpid());
        ASSERT_TRUE(platform().create_directory(dir_.c_str()));
        ASSERT_TRUE(to_host_path(dir_, &host_));
        ASSERT_EQ(mkdir((host_ + "/target").c_str(), 0777), 0);
        ASSERT_TRUE(touch(host_ + "/target/kept.txt"));
        ASSERT_TRUE(touch(host_ + "/file.txt"));
        ASSERT_EQ(symlink((host_ + "/target").c_str(), (host_ + "/dirlink").c_str()), 0);
        ASSERT_EQ(symlink((host_ + "/file.txt").c_str(), (host_ + "/filelink").c_str()), 0);
        ASSERT_EQ(symlink((host_ + "/nothing").c_str(), (host_ + "/dangling").c_str()), 0);
    }
    void TearDown() override {
        for (const char* name : {"dirlink", "filelink", "dangling", "file.txt", "target/kept.txt"})
            unlink((host_ + "/" + name).c_str());
        rmdir((host_ + "/target").c_str());
        rmdir(host_.c_str());
    }
    static bool touch(const std::string& host) {
        std::FILE* f = std::fopen(host.c_str(), "w");
        return f && std::fclose(f) == 0;
    }
    bool present(const std::string& name) const {
        struct stat st;
        return lstat((host_ + "/" + name).c_str(), &st) == 0;
    }
    std::string path(const std::string& name) const { return dir_ + "\\" + name; }
    std::string dir_, host_;
};

TEST_F(PosixLinks, AttributesShowTheLinkAndWhatItStandsFor) {
    const struct {
        const char* name;
        uint32_t attributes;
    } cases[] = {
        {"target", kFileAttributeDirectory},
        {"file.txt", kFileAttributeArchive},
        {"dirlink", kFileAttributeReparsePoint | kFileAttributeDirectory},
        {"filelink", kFileAttributeReparsePoint | kFileAttributeArchive},
        {"dangling", kFileAttributeReparsePoint | kFileAttributeArchive},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform().get_file_attributes(path(c.name).c_str()), c.attributes) << c.name;
}

TEST_F(PosixLinks, RemovingALinkLeavesItsTarget) {
    Platform& os = platform();
    EXPECT_FALSE(os.delete_file(path("dirlink").c_str())) << "a folder link is no file";
    EXPECT_EQ(os.last_error(), kErrorAccessDenied);
    EXPECT_FALSE(os.remove_directory(path("filelink").c_str())) << "a file link is no folder";
    EXPECT_EQ(os.last_error(), kErrorDirectory);
    EXPECT_TRUE(os.remove_directory(path("dirlink").c_str()));
    EXPECT_TRUE(os.delete_file(path("filelink").c_str()));
    EXPECT_TRUE(os.delete_file(path("dangling").c_str()));
    EXPECT_FALSE(present("dirlink") || present("filelink") || present("dangling"));
    EXPECT_TRUE(present("target/kept.txt") && present("file.txt"));
}

}  // namespace
}  // namespace sx::posix
