// Writes small IGES files for tests and sample models: entities given as
// parameter lists, laid out in the fixed 80-column records with the
// directory entries and parameter lines pointing at each other.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace ruvane::iges::testing {

class IgesBuilder {
public:
    struct Options {
        char param_delim = ',';
        char record_delim = ';';
        int units_flag = 2;
        std::string units_name = "MM";
        double model_scale = 1.0;
        double resolution = 1e-6;
    };
    IgesBuilder() = default;
    explicit IgesBuilder(const Options& o) : opt_(o) {}

    // Adds an entity; `params` are the parameters after the type number,
    // already formatted (numbers, Hollerith strings or empty). Returns the
    // entity's DE pointer.
    int add(int type, const std::vector<std::string>& params, int form = 0, int transform = 0,
            const char* status = "00000000") {
        Entity e{type, form, transform, status, params};
        entities_.push_back(e);
        return static_cast<int>(2 * entities_.size() - 1);
    }
    // The DE pointer the next entity added will get.
    int next() const { return static_cast<int>(2 * entities_.size() + 1); }
    static std::string num(double v) {
        char b[40];
        std::snprintf(b, sizeof b, "%.17g", v);
        std::string s = b;
        if (s.find_first_of(".eEn") == std::string::npos) s += ".";
        return s;
    }
    static std::string integer(long v) { return std::to_string(v); }
    static std::string text(const std::string& s) { return std::to_string(s.size()) + "H" + s; }

    std::string str() const {
        std::string out;
        out += record("IGES file written for ruvane's tests", 'S', 1);
        std::string g;
        const std::string pd(1, opt_.param_delim), rd(1, opt_.record_delim);
        const std::vector<std::string> global = {"1H" + pd,
                                                 "1H" + rd,
                                                 text("ruvane"),
                                                 text("test.igs"),
                                                 text("ruvane"),
                                                 text("1"),
                                                 "32",
                                                 "38",
                                                 "6",
                                                 "308",
                                                 "15",
                                                 text("ruvane"),
                                                 num(opt_.model_scale),
                                                 integer(opt_.units_flag),
                                                 text(opt_.units_name),
                                                 "1",
                                                 "0.01",
                                                 text("20261207.120000"),
                                                 num(opt_.resolution),
                                                 "1000.",
                                                 text("test"),
                                                 text("test"),
                                                 "11",
                                                 "0",
                                                 text("20261207.120000")};
        std::vector<std::string> g_tokens;
        for (size_t i = 0; i < global.size(); ++i)
            g_tokens.push_back(global[i] + (i + 1 < global.size() ? pd : rd));
        int gseq = 0;
        for (const std::string& line : lines(g_tokens, 72)) out += record(line, 'G', ++gseq);
        std::vector<std::string> p_lines;
        std::vector<std::pair<int, int>> spans;
        for (size_t i = 0; i < entities_.size(); ++i) {
            const Entity& e = entities_[i];
            std::vector<std::string> tokens = {std::to_string(e.type)};
            for (const std::string& p : e.params) {
                tokens.back() += pd;
                tokens.push_back(p);
            }
            tokens.back() += rd;
            const int first = static_cast<int>(p_lines.size()) + 1;
            for (std::string chunk : lines(tokens, 64)) {
                chunk.resize(64, ' ');
                char de[9];
                std::snprintf(de, sizeof de, "%8d", static_cast<int>(2 * i + 1));
                p_lines.push_back(chunk + de);
            }
            spans.push_back({first, static_cast<int>(p_lines.size()) + 1 - first});
        }
        for (size_t i = 0; i < entities_.size(); ++i) {
            const Entity& e = entities_[i];
            char a[81], b[81];
            std::snprintf(a, sizeof a, "%8d%8d%8d%8d%8d%8d%8d%8d%8s", e.type, spans[i].first, 0, 1,
                          0, 0, e.transform, 0, e.status.c_str());
            std::snprintf(b, sizeof b, "%8d%8d%8d%8d%8d%8s%8s%8s%8d", e.type, 0, 0, spans[i].second,
                          e.form, "", "", "", 0);
            out += record(a, 'D', static_cast<int>(2 * i + 1));
            out += record(b, 'D', static_cast<int>(2 * i + 2));
        }
        for (size_t i = 0; i < p_lines.size(); ++i)
            out += record(p_lines[i], 'P', static_cast<int>(i + 1));
        char t[73];
        std::snprintf(t, sizeof t, "S%7dG%7dD%7dP%7d", 1, gseq,
                      static_cast<int>(2 * entities_.size()), static_cast<int>(p_lines.size()));
        out += record(t, 'T', 1);
        return out;
    }

private:
    struct Entity {
        int type, form, transform;
        std::string status;
        std::vector<std::string> params;
    };
    Options opt_;
    std::vector<Entity> entities_;

    // Parameters with their delimiters packed into lines of `width`; a
    // parameter is never split between lines (other readers take the two
    // halves as two numbers), unless it is longer than a line.
    static std::vector<std::string> lines(const std::vector<std::string>& tokens, size_t width) {
        std::vector<std::string> out(1);
        for (const std::string& t : tokens) {
            if (!out.back().empty() && out.back().size() + t.size() > width) out.emplace_back();
            for (size_t at = 0; at < t.size();) {
                if (out.back().size() == width) out.emplace_back();
                const size_t take = std::min(width - out.back().size(), t.size() - at);
                out.back() += t.substr(at, take);
                at += take;
            }
        }
        return out;
    }

    static std::string record(std::string body, char letter, int seq) {
        body.resize(72, ' ');
        char tail[9];
        std::snprintf(tail, sizeof tail, "%c%7d", letter, seq);
        return body + tail + "\n";
    }
};

}  // namespace ruvane::iges::testing
