#include "components/file_lock.h"

namespace sx {

FileLock::~FileLock() {
    if (handle_) platform().close_lock_file(handle_);
}

FileLockHolder acquire_lock(const FilePath& file, unsigned timeout_ms) {
    Platform& os = platform();
    const uint32_t start = os.tick_count();

    FilePath directory(file);
    directory.to_parent();
    bool is_directory = false;
    // Nothing is created for a lock: a missing folder fails at once.
    if (!directory.exists(&is_directory) || !is_directory) return nullptr;

    const std::string lock_path = file.text() + ".lock";
    for (;;) {
        if (LockHandle handle = os.open_lock_file(lock_path.c_str())) {
            return std::make_unique<FileLock>(handle);
        }
        if (timeout_ms == 0) return nullptr;
        os.sleep_ms(100);
        // Unsigned difference: correct across the tick counter's wrap.
        if (static_cast<uint32_t>(os.tick_count() - start) >= timeout_ms) return nullptr;
    }
}

}  // namespace sx
