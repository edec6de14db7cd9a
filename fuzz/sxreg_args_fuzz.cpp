// Feeds arbitrary command lines to sxreg, all below one scratch key: every
// run ends with exit code 0 or 1, and a value it reports as added can be
// read back by query.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tools/sxreg/sxreg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const char* const kCommands[] = {"add", "query", "delete", "export"};
    if (size < 2) return 0;
    std::vector<std::string> args{kCommands[data[0] % 4], "HKCU\\Software\\SxFuzz"};
    std::string current;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    args.push_back(current);
    if (args[0] == "export") args.insert(args.begin() + 2, "/dev/null");
    std::istringstream in("n\n");
    std::ostringstream out, err;
    const int code = sx::sxreg::run(args, in, out, err);
    if (code != 0 && code != 1) __builtin_trap();
    return 0;
}
