#include "control_panel/rasterizer_model.h"

#include <algorithm>

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

// The bytes of a counted value as text. A value written by someone else may
// still carry a terminating zero; nothing after it belongs to the text.
std::string counted_text(const char* data, uint32_t size) {
    std::string text(data, size);
    const size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

// Open-or-create with full access, as every read and write of the list does.
class PlayerKey {
public:
    PlayerKey() {
        ok_ = platform().reg_create_key(kHkeyLocalMachine, kPlayerKey, &key_, nullptr) ==
              kErrorSuccess;
    }
    ~PlayerKey() {
        if (ok_) platform().reg_close_key(key_);
    }
    PlayerKey(const PlayerKey&) = delete;
    PlayerKey& operator=(const PlayerKey&) = delete;
    bool ok() const { return ok_; }
    RegKey get() const { return key_; }

private:
    RegKey key_ = 0;
    bool ok_ = false;
};

bool read_list_text(std::string* text) {
    PlayerKey key;
    if (!key.ok()) return false;
    std::vector<char> buffer(kListBufferSize);
    uint32_t type = 0;
    uint32_t size = kListBufferSize;
    long status =
        platform().reg_query_value(key.get(), kRasterizersValue, &type, buffer.data(), &size);
    // A list longer than the usual buffer is still the user's list: read it
    // whole rather than take it for missing and overwrite it with the default.
    if (status == kErrorMoreData && size > buffer.size()) {
        buffer.resize(size);
        status =
            platform().reg_query_value(key.get(), kRasterizersValue, &type, buffer.data(), &size);
    }
    if (status != kErrorSuccess) return false;
    *text = counted_text(buffer.data(), std::min<uint32_t>(size, uint32_t(buffer.size())));
    return true;
}

bool write_list_text(RegKey key, const std::string& text) {
    return platform().reg_set_value(key, kRasterizersValue, kRegSz, text.data(),
                                    static_cast<uint32_t>(text.size())) == kErrorSuccess;
}

void write_default_list(const Notify& notify) {
    PlayerKey key;
    if (!key.ok()) {
        notify(kKeyCreateFailed, kErrorCaption, kMbOk);
        return;
    }
    if (write_list_text(key.get(), default_rasterizers)) {
        // The player's cached card choices belong to the list it replaces.
        platform().reg_delete_value(key.get(), kVideoCardOpenGlValue);
        platform().reg_delete_value(key.get(), kVideoCardDirect3DValue);
    }
}

// A string value of the player's key opened for reading; false when the key
// or the value is missing or the value is not a string.
bool read_player_string(const char* name, uint32_t buffer_size, std::string* text) {
    RegKey key = 0;
    if (platform().reg_open_key(kHkeyLocalMachine, kPlayerKey, kKeyRead, &key) != kErrorSuccess)
        return false;
    std::vector<char> buffer(buffer_size);
    uint32_t type = 0;
    uint32_t size = buffer_size;
    const long status = platform().reg_query_value(key, name, &type, buffer.data(), &size);
    platform().reg_close_key(key);
    if (status != kErrorSuccess || type != kRegSz) return false;
    *text = counted_text(buffer.data(), std::min(size, buffer_size));
    return true;
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
    notify(kListCreateFailed, kErrorCaption, kMbOk);
    return false;
}

bool store_enabled_rasterizers(const std::vector<RasterizerRow>& rows, const Notify& notify) {
    const std::vector<std::string> ids = collect_enabled_ids(rows);
    if (ids.empty()) {
        notify(kNothingChecked, kPanelCaption, kMbOk | kMbIconWarning);
        return false;
    }
    // A list that did not reach the registry is not saved: the user is told,
    // and the sheet stays open with the changes rather than losing them.
    PlayerKey key;
    if (!key.ok() || !write_list_text(key.get(), format_rasterizer_list(ids))) {
        notify(kListSaveFailed, kErrorCaption, kMbOk | kMbIconError);
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
    if (!read_player_string(kLastRasterizerValue, kLastRasterizerBufferSize, &id))
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
