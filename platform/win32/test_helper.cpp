// A second process for platform_win32_test.
//
//   helper hold-lock LOCK READY       takes LOCK, creates READY, waits to be killed
//   helper command-line OUT ARGS...   writes its command line, then each argv
//                                     element after its own name, into OUT,
//                                     one per line
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

bool write_lines(const char* path, int argc, char** argv) {
    std::FILE* out = std::fopen(path, "wb");
    if (!out) return false;
    std::fputs(GetCommandLineA(), out);
    std::fputc('\n', out);
    for (int i = 1; i < argc; ++i) {
        std::fputs(argv[i], out);
        std::fputc('\n', out);
    }
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 100;
    sx::Platform& os = sx::native_platform();
    if (std::strcmp(argv[1], "hold-lock") == 0 && argc == 4) {
        sx::LockHandle lock = os.open_lock_file(argv[2]);
        if (!lock) return 101;
        std::FILE* ready = std::fopen(argv[3], "wb");
        if (!ready) return 102;
        std::fclose(ready);
        Sleep(INFINITE);
        return 0;
    }
    if (std::strcmp(argv[1], "command-line") == 0)
        return write_lines(argv[2], argc, argv) ? 0 : 103;
    return 100;
}
