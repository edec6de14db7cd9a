// Feeds arbitrary bytes to the component index reader and to the line reader
// the search list uses.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "components/component_search.h"
#include "components/text_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::FILE* stream = fmemopen(const_cast<uint8_t*>(data), size, "r");
    if (!stream) return 0;
    sx::IndexReader reader(stream);
    sx::IndexRecord record;
    while (reader.read_component(&record)) {
        // Every record has a name; file keys are unique within it.
        if (record.name.empty()) __builtin_trap();
        for (size_t i = 0; i < record.files.size(); ++i)
            for (size_t j = i + 1; j < record.files.size(); ++j)
                if (record.files[i].first == record.files[j].first) __builtin_trap();
    }
    std::rewind(stream);
    std::string line;
    size_t total = 0;
    while (sx::read_text_line(stream, &line)) total += line.size() + 1;
    if (total > size) __builtin_trap();
    std::fclose(stream);
    return 0;
}
