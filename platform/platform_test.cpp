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
        {"a-Z_09@[`{", "A-Z_09@[`{", "a-z_09@[`{"},     // the letters' neighbours stay
        {"caf\xE9\xC9", "CAF\xE9\xC9", "caf\xE9\xC9"},  // bytes above 0x7F stay
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ascii_upper(std::string(c.text)), c.upper) << c.text;
        EXPECT_EQ(ascii_lower(std::string(c.text)), c.lower) << c.text;
        EXPECT_TRUE(equals_ignoring_ascii_case(c.upper, c.lower)) << c.text;
    }
    EXPECT_FALSE(equals_ignoring_ascii_case("ab", "abc"));
    EXPECT_EQ(find_ignoring_ascii_case("HKEY\\Software\\Key", "software\\k"), 5u);
    EXPECT_EQ(find_ignoring_ascii_case("ab", "abc"), std::string::npos);
    EXPECT_FALSE(starts_with_ignoring_ascii_case("x\\compindx.dat", "COMPINDX.DAT"));
    EXPECT_FALSE(ends_with_ignoring_ascii_case("exe", ".EXE"));
}

TEST(FileErrors, CallersCanTellWhyAFileCallFailed) {
    Platform& os = platform();
    char temp[300] = {};
    const uint32_t n = os.get_temp_path(temp, sizeof temp);
    ASSERT_TRUE(n > 0 && n < sizeof temp);
    const std::string dir = temp + ("sx-file-errors-" + std::to_string(os.current_process_id()));
    const std::string full = dir + "\\full", inner = full + "\\inner.txt";
    const std::string gone = dir + "\\gone.txt", nowhere = dir + "\\nowhere\\x.txt";
    const std::string lock = dir + "\\held.lock";
    ASSERT_TRUE(os.create_directory(dir.c_str()) && os.create_directory(full.c_str()));
    std::FILE* f = os.open_file(inner.c_str(), "wb");
    ASSERT_TRUE(f && std::fclose(f) == 0);
    LockHandle held = os.open_lock_file(lock.c_str());
    EXPECT_NE(held, nullptr);

    const struct {
        const char* what;
        std::function<bool()> fails;  // makes the call; true when it failed
        long error;
    } cases[] = {
        {"delete a missing file", [&] { return !os.delete_file(gone.c_str()); },
         kErrorFileNotFound},
        {"open in a missing folder", [&] { return !os.open_file(nowhere.c_str(), "rb"); },
         kErrorPathNotFound},
        {"delete a folder as a file", [&] { return !os.delete_file(full.c_str()); },
         kErrorAccessDenied},
        {"remove a file as a folder", [&] { return !os.remove_directory(inner.c_str()); },
         kErrorDirectory},
        {"remove a folder that holds a file", [&] { return !os.remove_directory(full.c_str()); },
         kErrorDirNotEmpty},
        {"create an existing folder", [&] { return !os.create_directory(full.c_str()); },
         kErrorAlreadyExists},
        {"create an existing file",
         [&] { return os.create_new_file(inner.c_str()) == CreateNewResult::exists; },
         kErrorFileExists},
        {"move onto an existing file", [&] { return !os.move_file(full.c_str(), inner.c_str()); },
         kErrorAlreadyExists},
        {"lock a held lock", [&] { return !os.open_lock_file(lock.c_str()); },
         kErrorSharingViolation},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(c.fails()) << c.what;
        EXPECT_EQ(os.last_error(), c.error) << c.what;
    }

    // A rule's error is what the fault-injecting platform reports, and the
    // real platform's again after a call it let through.
    FaultyPlatform faulty;
    faulty.fail_delete_file("inner.txt").error = kErrorSharingViolation;
    EXPECT_FALSE(faulty.delete_file(inner.c_str()));
    EXPECT_EQ(faulty.last_error(), kErrorSharingViolation);
    EXPECT_FALSE(faulty.delete_file(gone.c_str()));
    EXPECT_EQ(faulty.last_error(), kErrorFileNotFound);

    os.close_lock_file(held);
    EXPECT_TRUE(os.delete_file(inner.c_str()) && os.remove_directory(full.c_str()));
    EXPECT_TRUE(os.remove_directory(dir.c_str()));
}

}  // namespace
}  // namespace sx
