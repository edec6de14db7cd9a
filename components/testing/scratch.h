// A fresh scratch folder per test, written in Windows form so the same tests
// run in both builds.
#pragma once

#include <string>

#include "components/file_path.h"
#include "platform/testing/test_support.h"

namespace sx::testing {

// The platform's temporary folder as a FilePath with a trailing backslash,
// the form the component services extend.
class ScratchDir {
public:
    ScratchDir() : path_(directory_.path() + "\\") {}

    const FilePath& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_.text() + relative; }

private:
    TemporaryDirectory directory_;
    FilePath path_;
};

}  // namespace sx::testing
