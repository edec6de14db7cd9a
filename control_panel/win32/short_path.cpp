#include "control_panel/win32/short_path.h"

#include <windows.h>

namespace sx::cpl {

bool shorten_path(std::string* path) {
    char buffer[1024];
    const DWORD length = GetShortPathNameA(path->c_str(), buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return false;
    path->assign(buffer, length);
    return true;
}

}  // namespace sx::cpl
