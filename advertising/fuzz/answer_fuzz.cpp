// Ad-server answers and "dist.id" files from the fuzzer: whatever the bytes,
// the readers end, stay inside their buffers and only ever hand over lines
// of the "%d %s\n" form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "advertising/exchange.h"
#include "advertising/host_memory.h"

namespace {

void* allocate(size_t size) { return std::malloc(size == 0 ? 1 : size); }
void release(void* block) { std::free(block); }

class CheckingSink : public ad::UpgradeSink {
public:
    void commit(const char* lines, std::size_t size) override {
        if (size == 0 || lines[size - 1] != '\n') std::abort();
        const char* p = lines;
        if (*p == '-') ++p;
        if (*p < '0' || *p > '9') std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ComponentServices& host = ad::host_table();
    host.allocate = allocate;
    host.release = release;
    for (int reader = 0; reader < 2; ++reader) {
        std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "r");
        if (!stream) return 0;
        if (reader == 0) {
            CheckingSink sink;
            ad::parse_answer_stream(stream, &sink);
        } else {
            int32_t value = 0;
            ad::read_distribution_stream(stream, &value);
        }
        std::fclose(stream);
    }
    return 0;
}
