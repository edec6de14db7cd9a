#include "iges/iges_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

namespace ruvane::iges {
namespace {

constexpr size_t kRecord = 80;
constexpr size_t kLetterColumn = 72;
constexpr size_t kGlobalWidth = 72;
constexpr size_t kDataWidth = 64;

struct Line {
    const char* text;
    size_t length;  // up to 80, without line ends
};

// Lines of the file: one per line end, or fixed 80-byte records when the
// file has no line ends at all.
std::vector<Line> split_lines(const char* data, size_t size) {
    std::vector<Line> lines;
    const bool has_breaks = std::memchr(data, '\n', size) || std::memchr(data, '\r', size);
    if (!has_breaks) {
        for (size_t at = 0; at < size; at += kRecord)
            lines.push_back({data + at, size - at < kRecord ? size - at : kRecord});
        return lines;
    }
    // The line ends are found with memchr, which looks at many bytes a step.
    const char* nl = static_cast<const char*>(std::memchr(data, '\n', size));
    size_t at = 0;
    while (at < size) {
        if (nl && nl < data + at)
            nl = static_cast<const char*>(std::memchr(data + at, '\n', size - at));
        const size_t stop = nl ? static_cast<size_t>(nl - data) : size;
        const char* cr = static_cast<const char*>(std::memchr(data + at, '\r', stop - at));
        size_t end = cr ? static_cast<size_t>(cr - data) : stop;
        const size_t length = end - at;
        if (length > 0) lines.push_back({data + at, length > kRecord ? kRecord : length});
        if (end < size && data[end] == '\r' && end + 1 < size && data[end + 1] == '\n') ++end;
        at = end + 1;
    }
    return lines;
}

// The line's first `width` columns, padded with blanks, added to `out`.
void add_columns(const Line& line, size_t width, std::string* out) {
    const size_t n = line.length < width ? line.length : width;
    out->append(line.text, n);
    out->append(width - n, ' ');
}

std::string columns(const Line& line, size_t width) {
    std::string s(line.text, line.length < width ? line.length : width);
    s.resize(width, ' ');
    return s;
}

// An 8-column integer field of a directory entry; blank is 0, junk is `bad`.
// Read in place: the reader looks at six fields of every entry.
bool field_int(const Line& line, int field, int* out) {
    const size_t from = static_cast<size_t>(field) * 8;
    *out = 0;
    if (from >= line.length) return true;
    const char* a = line.text + from;
    const char* b = a + (line.length - from < 8 ? line.length - from : 8);
    while (a < b && *a == ' ') ++a;
    if (a == b) return true;
    while (b[-1] == ' ') --b;
    if (*a == '+') ++a;
    long v = 0;
    auto r = std::from_chars(a, b, v);
    if (r.ec != std::errc() || r.ptr != b) return false;
    *out = static_cast<int>(v);
    return true;
}

// The status field: four two-digit numbers, blanks read as zeros.
void status_digits(const Line& line, DirEntry* e) {
    char d[8];
    for (int i = 0; i < 8; ++i) {
        const size_t at = 64 + static_cast<size_t>(i);
        const char c = at < line.length ? line.text[at] : ' ';
        d[i] = std::isdigit(static_cast<unsigned char>(c)) ? c : '0';
    }
    e->blank = (d[0] - '0') * 10 + (d[1] - '0');
    e->subordinate = (d[2] - '0') * 10 + (d[3] - '0');
    e->use = (d[4] - '0') * 10 + (d[5] - '0');
}

bool read_entry(const Line& a, const Line& b, DirEntry* e) {
    const bool ok = field_int(a, 0, &e->type) && field_int(a, 1, &e->pd_first) &&
                    field_int(a, 2, &e->structure) && field_int(a, 6, &e->transform) &&
                    field_int(b, 3, &e->pd_count) && field_int(b, 4, &e->form);
    status_digits(a, e);
    return ok;
}

// A number in IGES free format: integer or real, E or D exponent, blanks
// inside ignored (fixed-column writers pad them in).
bool parse_number(const char* s, size_t n, double* out) {
    char buf[64];
    size_t k = 0;
    for (size_t i = 0; i < n; ++i) {
        char c = s[i];
        if (c == ' ') continue;
        if (c == 'D' || c == 'd') c = 'E';
        if (k + 1 >= sizeof buf) return false;
        buf[k++] = c;
    }
    if (k == 0) return false;
    const char* begin = buf;
    if (*begin == '+') ++begin;
    // "1." and ".5" are valid IGES reals; from_chars takes both.
    auto r = std::from_chars(begin, buf + k, *out);
    return r.ec == std::errc() && r.ptr == buf + k && std::isfinite(*out);
}

void parse_global(const std::string& g, const Limits& limits, Global* out,
                  std::vector<std::string>* problems) {
    // The first two parameters name the delimiters, each either defaulted
    // (the field is empty) or a one-character Hollerith string "1Hx".
    size_t at = 0;
    auto skip = [&] {
        while (at < g.size() && g[at] == ' ') ++at;
    };
    char pd = ',';
    skip();
    if (g.compare(at, 2, "1H") == 0 && at + 2 < g.size()) {
        pd = g[at + 2];
        at += 3;
        skip();
    }
    if (at < g.size() && g[at] == pd) ++at;
    char rd = ';';
    skip();
    if (g.compare(at, 2, "1H") == 0 && at + 2 < g.size()) {
        rd = g[at + 2];
        at += 3;
        skip();
    }
    if (pd == rd || pd == ' ' || rd == ' ') {
        problems->push_back("unusable delimiters in the Global section; defaults used");
        pd = ',';
        rd = ';';
    }
    out->param_delim = pd;
    out->record_delim = rd;
    std::vector<Param> p;
    if (at < g.size() && g[at] == pd) ++at;
    parse_params(g, at, pd, rd, limits.max_params, &p);
    // p[0] is global parameter 3.
    auto text = [&](size_t i) { return i < p.size() ? p[i].text : std::string(); };
    auto number = [&](size_t i, double dflt) {
        return i < p.size() && p[i].kind == Param::kNumber ? p[i].number : dflt;
    };
    out->sender = text(0);
    out->file_name = text(1);
    out->model_scale = number(10, 1.0);
    out->units_flag = static_cast<int>(number(11, 1.0));
    out->units_name = text(12);
    out->resolution = number(16, 0.0);
    if (!(out->model_scale > 0.0) || !std::isfinite(out->model_scale)) {
        problems->push_back("model space scale is not positive; 1 used");
        out->model_scale = 1.0;
    }
    double mm = unit_millimetres(out->units_flag, out->units_name);
    if (mm == 0.0) {
        problems->push_back("unknown model units; millimetres assumed");
        mm = 1.0;
    }
    out->unit_to_mm = mm / out->model_scale;
    if (!(out->resolution >= 0.0) || !std::isfinite(out->resolution)) out->resolution = 0.0;
}

}  // namespace

bool parse_params(const std::string& text, size_t from, char pd, char rd, size_t max,
                  std::vector<Param>* out) {
    size_t at = from;
    const size_t n = text.size();
    // Room for a parameter per eight characters (a short number and its
    // delimiter) at once, rather than growing by doubling: most entities
    // hold a few dozen. Bounded, as the text is the file's.
    out->reserve(std::min({max, (n - std::min(n, from)) / 8 + 2, size_t{4096}}));
    while (at < n) {
        if (out->size() >= max) return false;
        while (at < n && text[at] == ' ') ++at;
        if (at >= n) break;
        Param p;
        if (text[at] == pd || text[at] == rd) {
            const bool end = text[at] == rd;
            out->push_back(p);
            if (end) return true;
            ++at;
            continue;
        }
        size_t d = at;
        while (d < n && std::isdigit(static_cast<unsigned char>(text[d]))) ++d;
        if (d > at && d < n && (text[d] == 'H' || text[d] == 'h')) {
            size_t count = 0;
            for (size_t i = at; i < d && count <= n; ++i) count = count * 10 + (text[i] - '0');
            if (count > n - d - 1) {
                p.kind = Param::kBad;  // string runs past the record
                out->push_back(p);
                return true;
            }
            p.kind = Param::kText;
            p.text.assign(text, d + 1, count);
            at = d + 1 + count;
            while (at < n && text[at] == ' ') ++at;
        } else {
            size_t e = at;
            while (e < n && text[e] != pd && text[e] != rd) ++e;
            p.kind =
                parse_number(text.data() + at, e - at, &p.number) ? Param::kNumber : Param::kBad;
            at = e;
        }
        out->push_back(std::move(p));
        if (at >= n) break;
        if (text[at] == rd) return true;
        if (text[at] == pd) {
            ++at;
            // A delimiter right before the record delimiter or the end
            // leaves one more (empty) parameter; the loop adds it.
            continue;
        }
        // Junk after a string: skip to the next delimiter.
        while (at < n && text[at] != pd && text[at] != rd) ++at;
        if (at < n && text[at] == rd) return true;
        if (at < n) ++at;
    }
    return true;
}

double unit_millimetres(int flag, const std::string& name) {
    switch (flag) {
        case 1:
            return 25.4;
        case 2:
            return 1.0;
        case 4:
            return 304.8;
        case 5:
            return 1609344.0;
        case 6:
            return 1000.0;
        case 7:
            return 1.0e6;
        case 8:
            return 0.0254;
        case 9:
            return 1.0e-3;
        case 10:
            return 10.0;
        case 11:
            return 2.54e-5;
        case 3: {
            std::string u;
            for (char c : name) u += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (u == "IN" || u == "INCH") return 25.4;
            if (u == "MM") return 1.0;
            if (u == "FT") return 304.8;
            if (u == "MI") return 1609344.0;
            if (u == "M") return 1000.0;
            if (u == "KM") return 1.0e6;
            if (u == "MIL") return 0.0254;
            if (u == "UM") return 1.0e-3;
            if (u == "CM") return 10.0;
            if (u == "UIN") return 2.54e-5;
            return 0.0;
        }
        default:
            return 0.0;
    }
}

ReadStatus read_file(const char* data, size_t size, const Limits& limits, File* out) {
    if (size > limits.max_bytes) return ReadStatus::kTooLarge;
    const std::vector<Line> lines = split_lines(data, size);
    std::string global;
    std::vector<Line> d_lines;
    bool any_section = false;
    for (const Line& line : lines) {
        if (line.length <= kLetterColumn) {
            out->problems.push_back("line shorter than 73 columns ignored");
            continue;
        }
        switch (line.text[kLetterColumn]) {
            case 'S':
                out->start.push_back(columns(line, kGlobalWidth));
                break;
            case 'G':
                global += columns(line, kGlobalWidth);
                break;
            case 'D':
                d_lines.push_back(line);
                break;
            case 'P':
                add_columns(line, kDataWidth, &out->pd_text);
                break;
            case 'T':
                break;
            case 'B':
            case 'C':
                return ReadStatus::kUnsupportedForm;  // binary or compressed
            default:
                out->problems.push_back("line of no section ignored");
                continue;
        }
        any_section = true;
    }
    if (!any_section || (global.empty() && d_lines.empty())) return ReadStatus::kNotIges;
    parse_global(global, limits, &out->global, &out->problems);
    if (d_lines.size() % 2 != 0) out->problems.push_back("odd number of D lines; last dropped");
    const size_t count = d_lines.size() / 2;
    if (count > limits.max_entities) return ReadStatus::kTooLarge;
    out->entries.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        DirEntry e;
        if (!read_entry(d_lines[2 * i], d_lines[2 * i + 1], &e)) {
            e.type = -1;  // unreadable: kept so that pointers stay aligned
            out->problems.push_back("unreadable directory entry");
        }
        // Pointers address entries by the sequence number of their first
        // line; a file with gaps or junk numbers falls back on the order.
        e.seq = static_cast<int>(2 * i + 1);
        out->entries.push_back(e);
    }
    return ReadStatus::kOk;
}

int entry_index(const File& file, int seq) {
    if (seq <= 0 || seq % 2 == 0) return -1;
    const size_t i = static_cast<size_t>(seq - 1) / 2;
    return i < file.entries.size() ? static_cast<int>(i) : -1;
}

bool entity_params(const File& file, const DirEntry& entry, const Limits& limits,
                   std::vector<Param>* out) {
    out->clear();
    if (entry.pd_first <= 0 || entry.pd_count <= 0) return false;
    const size_t first = static_cast<size_t>(entry.pd_first) - 1;
    const size_t count = static_cast<size_t>(entry.pd_count);
    const size_t lines = file.pd_lines();
    if (first >= lines || count > lines - first) return false;
    const std::string text = file.pd_text.substr(first * kDataWidth, count * kDataWidth);
    return parse_params(text, 0, file.global.param_delim, file.global.record_delim,
                        limits.max_params, out);
}

}  // namespace ruvane::iges
