// Rules of the seam that the Windows build and the emulation keep alike.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"

namespace sx {
namespace {

TEST(AsciiCase, LettersOnlyWhateverTheLocale) {
    const struct {
        const char* text;
        const char* upper;
        const char* lower;
    } cases[] = {
        {"Run", "RUN", "run"},
        {"a-Z_09@[`{", "A-Z_09@[`{", "a-z_09@[`{"},     // the neighbours of the letters stay
        {"caf\xE9\xC9", "CAF\xE9\xC9", "caf\xE9\xC9"},  // bytes above 0x7F stay
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ascii_upper(std::string(c.text)), c.upper) << c.text;
        EXPECT_EQ(ascii_lower(std::string(c.text)), c.lower) << c.text;
        EXPECT_TRUE(equals_ignoring_ascii_case(c.upper, c.lower)) << c.text;
    }
    EXPECT_FALSE(equals_ignoring_ascii_case("\xE9", "\xC9"));
    EXPECT_FALSE(equals_ignoring_ascii_case("ab", "abc"));
    EXPECT_EQ(find_ignoring_ascii_case("HKEY\\Software\\Key", "software\\k"), 5u);
    EXPECT_EQ(find_ignoring_ascii_case("abc", ""), 0u);
    EXPECT_EQ(find_ignoring_ascii_case("ab", "abc"), std::string::npos);
    EXPECT_TRUE(starts_with_ignoring_ascii_case("COMPINDX.DAT.new", "compindx.dat"));
    EXPECT_FALSE(starts_with_ignoring_ascii_case("x\\compindx.dat", "compindx.dat"));
    EXPECT_TRUE(ends_with_ignoring_ascii_case("Player.EXE", ".exe"));
    EXPECT_FALSE(ends_with_ignoring_ascii_case("exe", ".exe"));
}

// A fresh folder in the temporary directory, for the file-error table.
class FileErrors : public ::testing::Test {
protected:
    void SetUp() override {
        Platform& os = platform();
        char temp[300] = {};
        const uint32_t n = os.get_temp_path(temp, sizeof temp);
        ASSERT_TRUE(n > 0 && n < sizeof temp);
        dir_ = std::string(temp) + "sx-file-errors-" + std::to_string(os.current_process_id());
        ASSERT_TRUE(os.create_directory(dir_.c_str()));
        ASSERT_TRUE(os.create_directory(file("full").c_str()));
        ASSERT_TRUE(write(file("full\\inner.txt")));
        ASSERT_TRUE(write(file("present.txt")));
    }
    void TearDown() override {
        Platform& os = platform();
        os.delete_file(file("full\\inner.txt").c_str());
        os.remove_directory(file("full").c_str());
        os.delete_file(file("present.txt").c_str());
        os.remove_directory(dir_.c_str());
    }
    std::string file(const std::string& name) const { return dir_ + "\\" + name; }
    static bool write(const std::string& path) {
        std::FILE* f = platform().open_file(path.c_str(), "wb");
        return f && std::fclose(f) == 0;
    }
    std::string dir_;
};

TEST_F(FileErrors, CallersCanTellWhyAFileCallFailed) {
    Platform& os = platform();
    const std::string gone = file("gone.txt"), nowhere = file("nowhere\\x.txt");
    const std::string full = file("full"), present = file("present.txt");
    const std::string inner = file("full\\inner.txt");
    const struct {
        const char* what;
        std::function<bool()> fails;  // makes the call; true when it failed
        long error;
    } cases[] = {
        {"delete a missing file", [&] { return !os.delete_file(gone.c_str()); },
         kErrorFileNotFound},
        {"delete in a missing folder", [&] { return !os.delete_file(nowhere.c_str()); },
         kErrorPathNotFound},
        {"attributes of a missing file",
         [&] { return os.get_file_attributes(gone.c_str()) == kInvalidFileAttributes; },
         kErrorFileNotFound},
        {"open in a missing folder", [&] { return !os.open_file(nowhere.c_str(), "rb"); },
         kErrorPathNotFound},
        {"delete a folder as a file", [&] { return !os.delete_file(full.c_str()); },
         kErrorAccessDenied},
        {"create an existing folder", [&] { return !os.create_directory(full.c_str()); },
         kErrorAlreadyExists},
        {"remove a folder that holds a file", [&] { return !os.remove_directory(full.c_str()); },
         kErrorDirNotEmpty},
        {"remove a file as a folder", [&] { return !os.remove_directory(present.c_str()); },
         kErrorDirectory},
        {"create an existing file exclusively",
         [&] { return os.create_new_file(present.c_str()) == CreateNewResult::exists; },
         kErrorFileExists},
        {"copy onto a file that must not exist",
         [&] { return !os.copy_file(present.c_str(), inner.c_str(), true); }, kErrorFileExists},
        {"move onto an existing file",
         [&] { return !os.move_file(present.c_str(), inner.c_str()); }, kErrorAlreadyExists},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.fails()) << c.what;
        EXPECT_EQ(os.last_error(), c.error) << c.what;
    }
}

TEST_F(FileErrors, InUseIsToldFromMissing) {
    Platform& os = platform();
    const std::string lock = file("held.lock");
    LockHandle held = os.open_lock_file(lock.c_str());
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(os.open_lock_file(lock.c_str()), nullptr);
    EXPECT_EQ(os.last_error(), kErrorSharingViolation);
    os.close_lock_file(held);

    // The fault-injecting platform reports the error its rule names, and the
    // real one's again after a call it let through.
    FaultyPlatform faulty;
    faulty.fail_delete_file("present.txt").error = kErrorSharingViolation;
    EXPECT_FALSE(faulty.delete_file(file("present.txt").c_str()));
    EXPECT_EQ(faulty.last_error(), kErrorSharingViolation);
    EXPECT_FALSE(faulty.delete_file(file("gone.txt").c_str()));
    EXPECT_EQ(faulty.last_error(), kErrorFileNotFound);
    EXPECT_EQ(faulty.injected(Call::delete_file), 1);
}

}  // namespace
}  // namespace sx
