// A process that holds a component-services lock for the tests of locks
// between processes.
//
//   sx_lock_holder FILE READY_MARKER [HOLD_MS]
//
// Takes the lock of FILE, creates READY_MARKER (so the parent knows the lock
// is held), holds the lock for HOLD_MS (default 60 s) and exits, releasing it.
#include <cstdio>
#include <cstdlib>

#include "components/file_lock.h"
#include "components/file_path.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: sx_lock_holder FILE READY_MARKER [HOLD_MS]\n");
        return 64;
    }
    const unsigned hold_ms =
        argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 60000;
    sx::FileLockHolder lock = sx::acquire_lock(sx::FilePath(argv[1]), 5000);
    if (!lock) return 2;
    std::FILE* marker = sx::FilePath(argv[2]).open_stream("wb");
    if (!marker) return 3;
    std::fclose(marker);
    sx::platform().sleep_ms(hold_ms);
    return 0;
}
