// Feeds the index reader a file that may be a regular file holding the input,
// a pipe, a device, or a link to one of them: every read ends, and only a
// regular file (directly or through a link) is read.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "components/component_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::string folder = [] {
        char pattern[] = "/tmp/sxindexfuzz-XXXXXX";
        return std::string(mkdtemp(pattern) ? pattern : "/tmp");
    }();
    const std::string index = folder + "/compindx.dat", data_file = folder + "/data";
    unlink(index.c_str());
    if (std::FILE* out = std::fopen(data_file.c_str(), "wb")) {
        std::fwrite(data + 1, 1, size - 1, out);
        std::fclose(out);
    }
    const int kind = data[0] % 5;
    if (kind == 0) link(data_file.c_str(), index.c_str());
    if (kind == 1) mkfifo(index.c_str(), 0600);
    const char* targets[] = {nullptr, nullptr, "/dev/zero", data_file.c_str(), "/dev/null"};
    if (targets[kind]) symlink(targets[kind], index.c_str());
    std::vector<sx::IndexRecord> records;
    std::string windows = "Z:" + index;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    const bool read = sx::read_index(sx::FilePath(windows), &records);
    if (read != (kind == 0 || kind == 3)) __builtin_trap();
    return 0;
}
