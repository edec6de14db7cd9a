// The rasterizer priority list behind the Rasterizers page: the table of
// known rasterizers, the stored list text, the rows the user sees, and the
// registry values the player and the panel share. No window is involved; the
// registry is reached through the platform seam and messages through a
// caller-supplied function, so every rule runs without a window system.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/view.h"

namespace sx::cpl {

struct rasterizer_info {
    const char* id;            // compared case-sensitively
    const char* display_name;  // the row's text on the page
    const char* description;   // shown under the list for the selected row
};

inline constexpr int kRasterizerCount = 10;
extern const rasterizer_info rasterizer_table[kRasterizerCount];

// First table row with exactly this id / display name, or null.
const rasterizer_info* find_rasterizer_by_id(std::string_view id);
const rasterizer_info* find_rasterizer_by_name(std::string_view display_name);

inline constexpr char offered_rasterizers[] = "d3d_hw,d3d_sw,ogl_icd,ogl_3dfx,ogl_mcd,t3d,eol";
inline constexpr char default_rasterizers[] = "d3d_hw,ogl_icd,ogl_mcd,d3d_sw,t3d,eol";

std::vector<std::string> parse_rasterizer_list(std::string_view text);
std::string format_rasterizer_list(const std::vector<std::string>& ids);

// One row of the page: display name and check mark.
struct RasterizerRow {
    std::string name;
    bool checked = false;
    bool operator==(const RasterizerRow&) const = default;
};

std::vector<RasterizerRow> merge_rasterizer_rows(const std::vector<std::string>& enabled,
                                                 const std::vector<std::string>& offered);
// Ids of the checked rows, top to bottom; rows whose name has no table row
// are left out.
std::vector<std::string> collect_enabled_ids(const std::vector<RasterizerRow>& rows);

// Shows a message (text, caption, picture) with an OK button and waits for it.
using Notify = std::function<void(const char* text, const char* caption, ui::Icon icon)>;

// Reads the enabled list, writing the default list first when none can be
// read. False when the list could not be read even then (both messages have
// been shown and `ids` is empty): the page must then be view-only.
bool load_enabled_rasterizers(std::vector<std::string>* ids, const Notify& notify);

// Stores the checked rows as the enabled list. False, after a message, when
// no row is checked or the list could not be written.
bool store_enabled_rasterizers(const std::vector<RasterizerRow>& rows, const Notify& notify);

// The rows "&Use Defaults" restores.
std::vector<RasterizerRow> reset_rasterizer_rows();

// Description for the selected row's text; "N/A" for no selection (null) or
// a text without a table row.
std::string rasterizer_description(const std::string* selected_row_text);

// What the player recorded last; "N/A" when missing, empty or not a string.
std::string last_rasterizer_name();
std::string last_video_card();

}  // namespace sx::cpl
