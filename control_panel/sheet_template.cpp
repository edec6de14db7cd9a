#include "control_panel/sheet_template.h"

#include <cstring>

namespace sx::cpl {
namespace {

constexpr uint16_t kExtendedSignature = 0xFFFF;
// Offsets of the style in the two kinds of template.
constexpr size_t kClassicStyleOffset = 0;
constexpr size_t kExtendedStyleOffset = 12;  // version, signature, help id, ex-style

}  // namespace

void adjust_sheet_template(void* bytes) {
    auto* base = static_cast<unsigned char*>(bytes);
    uint16_t signature = 0;
    std::memcpy(&signature, base + 2, sizeof signature);
    const bool extended = signature == kExtendedSignature;
    unsigned char* field = base + (extended ? kExtendedStyleOffset : kClassicStyleOffset);
    uint32_t style = 0;
    std::memcpy(&style, field, sizeof style);
    style &= ~kContextHelpStyle;
    if (extended) style |= kResizableFrameStyles;
    std::memcpy(field, &style, sizeof style);
}

}  // namespace sx::cpl
