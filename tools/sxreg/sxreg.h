// sxreg: the emulated registry from the command line, with the syntax of
// Windows' reg.exe.
//
//   sxreg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]
//   sxreg query KEY [/v NAME | /ve] [/s]
//   sxreg delete KEY [/v NAME | /ve | /va] [/f]
//   sxreg export KEY FILE [/y]
//
// KEY starts with HKLM, HKCU, HKCR, HKU or their long names. Exit code 0 on
// success, 1 on failure with "ERROR: ..." on standard error.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace sx::sxreg {

// Runs one command (the arguments after the program name). Questions (an
// overwrite without /f) are read from `in`.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err);

// The text of one value in a .reg file, after "name"= (without line end).
std::string reg_file_data(uint32_t type, const std::string& bytes);

}  // namespace sx::sxreg
