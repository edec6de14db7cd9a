// Helpers for tests of both builds: files, temporary directories, programs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace sx::testing {

// "Z:" and the Linux path with backslashes: both builds (Wine too) see the
// Linux root as drive Z:.
std::string host_to_windows_path(const std::string& linux_path);

// Writes `content` to `path` (Windows form) through the active platform.
bool write_file(const std::string& path, const std::string& content);
// Reads a whole file; false when it cannot be opened.
bool read_file(const std::string& path, std::string* content);
// Removes a file or a directory with everything in it.
bool remove_tree(const std::string& path);

// A fresh temporary directory, removed with its contents when the object goes.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    // Windows form, without a trailing backslash.
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

// Runs a command line to its end; false when it could not be started or did
// not end in time. `stderr_text` (may be null) gets its standard error.
bool run_program(const std::string& command_line, uint32_t* exit_code, std::string* stderr_text,
                 uint32_t timeout_ms = 60000);

}  // namespace sx::testing
