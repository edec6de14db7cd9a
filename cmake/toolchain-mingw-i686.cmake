# 32-bit Windows through the MinGW-w64 i686 cross compiler. The -win32
# variants: their runtime threads through the Win32 API alone, where the
# -posix ones carry a thread library that imports Vista and XP functions
# (GetTickCount64, AddVectoredExceptionHandler) and so cannot load on
# Windows 2000 or older. They have no std::thread or std::mutex; GoogleTest
# builds with them (cmake/gtest_win32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# The product computes with SSE2, never with the x87 stack: x87 keeps 80-bit
# intermediates, so geometric decisions would differ from every other build
# (the tessellator returned nothing at all under it). Minimum processor:
# Pentium 4 / Athlon 64.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
# The compile commands let a test check those flags on every source.
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine through a wrapper that uses the build's own
# prefix (see cmake/wine-run.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
