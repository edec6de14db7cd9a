// Advisory locks between processes: a ".lock" companion file held open
// exclusively and deleted by the system when its last handle closes.
#pragma once

#include <memory>

#include "components/file_path.h"
#include "platform/platform.h"

namespace sx {

class FileLock {
public:
    explicit FileLock(LockHandle handle) : handle_(handle) {}
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    LockHandle handle_;
};

// The scoped holder: owns at most one FileLock.
using FileLockHolder = std::unique_ptr<FileLock>;

// Takes the lock of `file` (its path followed by ".lock"), retrying every
// 100 ms until `timeout_ms` has passed; 0 makes exactly one attempt. Gives
// none at once when the file's directory does not exist.
FileLockHolder acquire_lock(const FilePath& file, unsigned timeout_ms);

}  // namespace sx
