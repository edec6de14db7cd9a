// sxreg: reg.exe's syntax over the emulated registry (see sxreg.h).
#include <iostream>
#include <string>
#include <vector>

#include "tools/sxreg/sxreg.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return sx::sxreg::run(args, std::cin, std::cout, std::cerr);
}
