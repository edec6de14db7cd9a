// The stored rasterizer list comes from the registry, where anyone may have
// written anything: parsing must take any bytes, and what it gives must come
// back unchanged through formatting and parsing again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "control_panel/rasterizer_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace sx::cpl;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto ids = parse_rasterizer_list(text);
    for (const auto& id : ids)
        if (id.empty() || id == "eol" || id.find(',') != std::string::npos) std::abort();
    if (!ids.empty() && parse_rasterizer_list(format_rasterizer_list(ids)) != ids) std::abort();
    const auto rows = merge_rasterizer_rows(ids, parse_rasterizer_list(offered_rasterizers));
    if (rows.size() > ids.size() + 6) std::abort();
    for (const auto& row : rows)
        if (!find_rasterizer_by_name(row.name)) std::abort();
    return 0;
}
