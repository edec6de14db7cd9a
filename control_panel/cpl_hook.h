// What the panel's install hook does once the installer has placed the
// library in its component directory: record where the test applet went,
// put a copy of the library where the Control Panel finds applets, and,
// when that copy is in place, cancel a removal of the panel scheduled by an
// earlier uninstall.
#pragma once

namespace sx::cpl {

// `library_path` is the installed library file; `names` and `values` are
// the installer's `count` pairs. Every failure is silent.
void install_control_panel(const char* library_path, int count, const char* const* names,
                           const char* const* values);

}  // namespace sx::cpl
