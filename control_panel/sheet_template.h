// The property sheet's own dialog template, adjusted before the sheet's
// window is made: no context-help button in the caption, and a sheet that
// can be sized, minimised and maximised where the template allows it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sx::cpl {

inline constexpr uint32_t kContextHelpStyle = 0x2000;  // DS_CONTEXTHELP
// WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX.
inline constexpr uint32_t kResizableFrameStyles = 0x00CF0000;

// Adjusts the template at `bytes` in place. A classic template keeps its
// style in its first 32 bits; an extended one (second 16-bit word 0xFFFF)
// after its version, signature, help id and extended style, and gets the
// frame styles too.
void adjust_sheet_template(void* bytes);

}  // namespace sx::cpl
