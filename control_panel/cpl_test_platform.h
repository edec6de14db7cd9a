// A platform for the install hook's and the About page's tests: the system
// directory is a folder of the test's own, started programs are recorded
// (and not run), and a chosen file can be made to fail once it is written.
#pragma once

#include <string>
#include <vector>

#include "platform/testing/faulty_platform.h"

namespace sx::testing {
using namespace sx::cpl;

class PanelTestPlatform : public FaultyPlatform {
public:
    explicit PanelTestPlatform(std::string system_directory)
        : FaultyPlatform(&platform()), system_directory_(std::move(system_directory)) {}

    std::vector<std::string> started;
    // A stream opened for writing `broken_file` is created, then refuses
    // every byte.
    std::string broken_file;

    uint32_t get_system_directory(char* buffer, uint32_t size) override {
        if (system_directory_.size() >= size) return uint32_t(system_directory_.size() + 1);
        system_directory_.copy(buffer, size);
        buffer[system_directory_.size()] = '\0';
        return uint32_t(system_directory_.size());
    }
    bool start_process(const char* command_line, ProcessHandle*) override {
        started.push_back(command_line);
        return false;
    }
    std::FILE* open_file(const char* path, const char* mode) override {
        if (broken_file.empty() || broken_file != path ||
            std::string(mode).find('w') == std::string::npos)
            return FaultyPlatform::open_file(path, mode);
        if (std::FILE* created = FaultyPlatform::open_file(path, mode)) std::fclose(created);
        return FaultyPlatform::open_file(path, "rb");
    }

private:
    std::string system_directory_;
};

}  // namespace sx::testing
