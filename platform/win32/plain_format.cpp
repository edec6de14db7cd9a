// Linked into the install hooks only: their few formats ("%s", "%d", "%08X")
// come out the same from the system's C runtime, and the runtime's own C99
// formatter (about 24 KB with its floating-point conversion) would be a
// quarter of each hook. msvcrt's _vsnprintf does not count a text that does
// not fit (and _vscprintf is newer than Windows 2000), so such a text reports
// `size`: not less than the room given, which is all our callers ask of it
// (they grow the buffer and try again).
#include <cstdarg>
#include <cstddef>
#include <cstdio>

extern "C" int __cdecl __mingw_vsnprintf(char* buffer, size_t size, const char* format,
                                         va_list arguments) {
    if (size == 0) return 1;
    const int written = _vsnprintf(buffer, size, format, arguments);
    if (written >= 0 && static_cast<size_t>(written) < size) return written;
    // Cut, and perhaps without its zero.
    buffer[size - 1] = '\0';
    return size > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<int>(size);
}
