#include "control_panel/rasterizer_model.h"

#include <algorithm>

#include "components/registry.h"
#include "control_panel/cpl_texts.h"
#include "platform/platform.h"

namespace sx::cpl {

const rasterizer_info rasterizer_table[kRasterizerCount] = {
    {"d3d_hw", "Direct 3D with Acceleration",
     "Direct 3D with Acceleration is the preferred rasterizer for users running Windows "
     "95/98/2000 with a 3D accelerator card."},
    {"d3d_sw", "Direct 3D without Acceleration",
     "Direct3D without Acceleration is the preferred rasterizer for users running Windows "
     "95/98/2000 without a 3D accelerator card."},
    {"ogl_3dfx", "3dfx OpenGL",
     "3dfx OpenGL is recommended for users with 3dfx Voodoo Video Cards."},
    {"ogl_icd", "OpenGL ICD",
     "OpenGL Installable Client Driver (ICD) is recommended for users running Windows NT 4 with "
     "a 3D accelerator card."},
    {"ogl_mcd", "OpenGL MCD",
     "OpenGL Mini Client Driver (MCD) is recommended for advanced users only."},
    {"ogl", "OpenGL Software",
     "The OpenGL software render is recommended for users running Windows NT without 3D "
     "acclerators."},
    {"dib", "Legacy Stellarix Software Rasterizer",
     "This rasterizer is present for legacy reasons only.  It should not be used."},
    {"ogl_noicd", "OpenGL non-ICD", "The OpenGL non-ICD renderer is for advanced users only."},
    {"t3d", "Stellarix Software Rasterizer",
     "Recommended for all computers without 3D accelerator cards without DirectX installed."},
    {"dotf", "Drop on the floor", "I like the floor."},
};

namespace {

// The list buffers: what is read of "Rasterizers" and "VideoCard_LastUsed",
// and of "LastRasterizer".
constexpr uint32_t kListBufferSize = 1023;
constexpr uint32_t kLastRasterizerBufferSize = 1024;

// "dotf" is kept in the table for the player's sake but is never a row.
bool is_hidden_id(std::string_view id) {
    constexpr std::string_view hidden = "dotf";
    if (id.size() != hidden.size()) return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const char c = id[i] >= 'A' && id[i] <= 'Z' ? char(id[i] - 'A' + 'a') : id[i];
        if (c != hidden[i]) return false;
    }
    return true;
}

// The table row an id turns into, or null when it gives no row.
const rasterizer_info* row_for_id(const std::string& id) {
    const rasterizer_info* info = find_rasterizer_by_id(id);
    if (!info || !info->display_name || !*info->display_name || is_hidden_id(id)) return nullptr;
    return info;
}

bool read_list_text(std::string* text) {
    // Open-or-create with full access, as every read and write of the list.
    RegistryKey key;
    RegistryValue value;
    if (key.create(kHkeyLocalMachine, kPlayerKey) != kErrorSuccess ||
        read_registry_value(key.get(), kRasterizersValue, &value) != kErrorSuccess)
        return false;
    // Counted text of any type; a list longer than the usual buffer is still
    // the user's list, read whole rather than replaced by the default.
    *text = registry_value_text(value);
    return true;
}

bool write_list_text(RegKey key, const std::string& text) {
    return platform().reg_set_value(key, kRasterizersValue, kRegSz, text.data(),
                                    static_cast<uint32_t>(text.size())) == kErrorSuccess;
}

void write_default_list(const Notify& notify) {
    RegistryKey key;
    if (key.create(kHkeyLocalMachine, kPlayerKey) != kErrorSuccess) {
        notify(kKeyCreateFailed, kErrorCaption, ui::Icon::none);
        return;
    }
    if (write_list_text(key.get(), default_rasterizers)) {
        // The player's cached card choices belong to the list it replaces.
        platform().reg_delete_value(key.get(), kVideoCardOpenGlValue);
        platform().reg_delete_value(key.get(), kVideoCardDirect3DValue);
    }
}

// A string value of the player's key opened for reading, held in a buffer of
// `buffer_size` bytes.
bool read_player_string(const char* name, uint32_t buffer_size, std::string* text) {
    RegistryKey key;
    return key.open(kHkeyLocalMachine, kPlayerKey, kKeyRead) == kErrorSuccess &&
           read_string_value(key.get(), name, text, buffer_size);
}

}  // namespace

const rasterizer_info* find_rasterizer_by_id(std::string_view id) {
    for (const rasterizer_info& info : rasterizer_table)
        if (id == info.id) return &info;
    return nullptr;
}

const rasterizer_info* find_rasterizer_by_name(std::string_view display_name) {
    for (const rasterizer_info& info : rasterizer_table)
        if (info.display_name && display_name == info.display_name) return &info;
    return nullptr;
}

std::vector<std::string> parse_rasterizer_list(std::string_view text) {
    std::vector<std::string> ids;
    for (;;) {
        const size_t comma = text.find(',');
        const std::string_view token = text.substr(0, comma);
        if (token == "eol") break;
        if (!token.empty()) ids.emplace_back(token);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return ids;
}

std::string format_rasterizer_list(const std::vector<std::string>& ids) {
    std::string text;
    for (const std::string& id : ids) text += id + ",";
    return text + "eol";
}

std::vector<RasterizerRow> merge_rasterizer_rows(const std::vector<std::string>& enabled,
                                                 const std::vector<std::string>& offered) {
    std::vector<RasterizerRow> rows;
    for (const std::string& id : enabled)
        if (const rasterizer_info* info = row_for_id(id))
            rows.push_back({info->display_name, true});
    for (const std::string& id : offered) {
        const rasterizer_info* info = row_for_id(id);
        if (info && std::find(enabled.begin(), enabled.end(), id) == enabled.end())
            rows.push_back({info->display_name, false});
    }
    return rows;
}

std::vector<std::string> collect_enabled_ids(const std::vector<RasterizerRow>& rows) {
    std::vector<std::string> ids;
    for (const RasterizerRow& row : rows) {
        if (!row.checked) continue;
        if (const rasterizer_info* info = find_rasterizer_by_name(row.name))
            ids.push_back(info->id);
    }
    return ids;
}

bool load_enabled_rasterizers(std::vector<std::string>* ids, const Notify& notify) {
    ids->clear();
    std::string text;
    if (read_list_text(&text)) {
        *ids = parse_rasterizer_list(text);
        return true;
    }
    write_default_list(notify);
    if (read_list_text(&text)) {
        *ids = parse_rasterizer_list(text);
        return true;
    }
    notify(kListCreateFailed, kErrorCaption, ui::Icon::none);
    return false;
}

bool store_enabled_rasterizers(const std::vector<RasterizerRow>& rows, const Notify& notify) {
    const std::vector<std::string> ids = collect_enabled_ids(rows);
    if (ids.empty()) {
        notify(kNothingChecked, kPanelCaption, ui::Icon::warning);
        return false;
    }
    // A list that did not reach the registry is not saved: the user is told,
    // and the sheet stays open with the changes rather than losing them.
    RegistryKey key;
    if (key.create(kHkeyLocalMachine, kPlayerKey) != kErrorSuccess ||
        !write_list_text(key.get(), format_rasterizer_list(ids))) {
        notify(kListSaveFailed, kErrorCaption, ui::Icon::error);
        return false;
    }
    return true;
}

std::vector<RasterizerRow> reset_rasterizer_rows() {
    return merge_rasterizer_rows(parse_rasterizer_list(default_rasterizers),
                                 parse_rasterizer_list(offered_rasterizers));
}

std::string rasterizer_description(const std::string* selected_row_text) {
    if (!selected_row_text) return kNotAvailable;
    const rasterizer_info* info = find_rasterizer_by_name(*selected_row_text);
    return info ? info->description : kNotAvailable;
}

std::string last_rasterizer_name() {
    std::string id;
    if (!read_player_string(kLastRasterizerValue, kLastRasterizerBufferSize, &id) || id.empty())
        return kNotAvailable;
    // An id this panel does not know is shown as the player wrote it: that
    // is more use to whoever reads it than "N/A".
    const rasterizer_info* info = find_rasterizer_by_id(id);
    return info ? info->display_name : id;
}

std::string last_video_card() {
    std::string card;
    return read_player_string(kLastVideoCardValue, kListBufferSize, &card) ? card : kNotAvailable;
}

}  // namespace sx::cpl
