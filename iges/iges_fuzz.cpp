// libFuzzer target: any bytes through the IGES reader, within small limits
// so that a slow input shows up as a slow unit rather than a timeout.
#include <cstddef>
#include <cstdint>
#include <string>

#include "iges/iges_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ruvane::iges::Limits limits;
    limits.max_bytes = size_t{1} << 20;
    limits.max_doubles = size_t{1} << 20;
    ruvane::iges::Model model;
    std::string why;
    ruvane::iges::read_model(reinterpret_cast<const char*>(data), size, limits, &model, &why);
    return 0;
}
