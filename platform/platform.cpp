#include "platform/platform.h"

namespace sx {

namespace {
Platform* g_current = nullptr;
}

Platform& platform() {
    if (!g_current) g_current = &native_platform();
    return *g_current;
}

Platform* set_platform(Platform* replacement) {
    Platform* previous = &platform();
    g_current = replacement ? replacement : &native_platform();
    return previous;
}

std::vector<std::string> split_command_line(const std::string& line) {
    std::vector<std::string> args;
    size_t i = 0;
    const size_t n = line.size();
    auto is_space = [](char c) { return c == ' ' || c == '\t'; };

    // The program name: quotes toggle, no backslash processing.
    while (i < n && is_space(line[i])) ++i;
    if (i >= n) return args;
    {
        std::string program;
        bool quoted = false;
        for (; i < n; ++i) {
            char c = line[i];
            if (c == '"') {
                quoted = !quoted;
                continue;
            }
            if (!quoted && is_space(c)) break;
            program += c;
        }
        args.push_back(program);
    }

    for (;;) {
        while (i < n && is_space(line[i])) ++i;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n) {
            char c = line[i];
            if (c == '\\') {
                size_t slashes = 0;
                while (i < n && line[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < n && line[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        arg += '"';
                        ++i;
                    }
                    // An even count leaves the quote to be read as a delimiter.
                } else {
                    arg.append(slashes, '\\');
                }
                continue;
            }
            if (c == '"') {
                // Inside quotes, a doubled quote is a literal quote.
                if (quoted && i + 1 < n && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            if (!quoted && is_space(c)) break;
            arg += c;
            ++i;
        }
        args.push_back(arg);
    }
    return args;
}

std::string quote_argument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        if (c == '"') {
            out.append(slashes * 2 + 1, '\\');
        } else {
            out.append(slashes, '\\');
        }
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, '\\');
    out += '"';
    return out;
}

}  // namespace sx
