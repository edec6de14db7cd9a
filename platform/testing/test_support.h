// Helpers for tests of both builds: Windows names of Linux files, fresh
// temporary directories, files in one call, and programs run to the end.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace sx::testing {

// The Windows name of a Linux path: "Z:" followed by the path with
// backslashes. Both builds see the Linux root as drive Z: (Wine maps it so).
std::string host_to_windows_path(const std::string& linux_path);

// Writes `content` to `path` (Windows form) through the active platform.
bool write_file(const std::string& path, const std::string& content);
// Reads a whole file; false when it cannot be opened.
bool read_file(const std::string& path, std::string* content);
// Removes a file or a directory with everything in it.
bool remove_tree(const std::string& path);

// A fresh directory under the platform's temporary directory, removed with
// its contents when the object goes.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    // The directory, Windows form, without a trailing backslash.
    const std::string& path() const { return path_; }
    // path() + "\" + name.
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    bool ok() const { return ok_; }

private:
    std::string path_;
    bool ok_ = false;
};

// A fixture giving every test its own temporary directory.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(temp_.ok()) << temp_.path(); }
    const std::string& dir() const { return temp_.path(); }
    std::string file(const std::string& name) const { return temp_.file(name); }

private:
    TemporaryDirectory temp_;
};

// Runs a command line (Windows rules) to its end; false when it could not be
// started or did not end within `timeout_ms`. `stderr_text` (may be null)
// receives what the program wrote to standard error.
bool run_program(const std::string& command_line, uint32_t* exit_code, std::string* stderr_text,
                 uint32_t timeout_ms = 60000);

}  // namespace sx::testing
