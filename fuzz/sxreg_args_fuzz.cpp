// Feeds arbitrary command lines to sxreg, all below one scratch key: every
// run ends with exit code 0 or 1.
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
    if (args[0] == "export") args.push_back("/dev/null");
    // The rest: arguments separated by zero bytes.
    std::istringstream rest(std::string(data + 1, data + size));
    for (std::string arg; std::getline(rest, arg, '\0');) args.push_back(arg);
    std::istringstream in("n\n");
    std::ostringstream out, err;
    const int code = sx::sxreg::run(args, in, out, err);
    if (code != 0 && code != 1) __builtin_trap();
    return 0;
}
