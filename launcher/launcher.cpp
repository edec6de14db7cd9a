#include "launcher/launcher.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "bytecode/ext_bytecode_header.h"
#include "components/component_search.h"
#include "components/data_directories.h"
#include "components/file_path.h"
#include "components/text_util.h"
#include "platform/ascii_case.h"
#include "platform/platform.h"

namespace sx {
namespace {

// The launcher's own start-up messages; they do not go through the catalogue.
constexpr char kErrorCaption[] = "Error";
constexpr char kUnableToOpen[] = "Unable to open %s.\n";
constexpr char kErrorReadingFile[] = "Error reading file %s.\n";
constexpr char kNotRegularFile[] = "Unable to open %s: not a regular file.\n";
constexpr char kNotUpToDate[] = "Your Stellarix Player is not up to date.\n";
constexpr char kUnableToLocate1[] = "Unable to locate the Stellarix Player 1.\n";
constexpr char kUnableToLocate2[] = "Unable to locate the Stellarix Player 2.\n";
constexpr char kUnableToStart[] = "Unable to open the Stellarix Player.\n";

constexpr char kRunFileKey[] = "run";
// An applet's header is one line; a longer one is not an applet.
constexpr size_t kMaxHeaderLine = 1024 * 1024;
constexpr size_t kMessageBufferSize = 1024;
constexpr int kFailure = -1;

// Shows one launcher message. The text is formatted into a buffer of fixed
// size; a file name too long for it is cut rather than written past its end.
int fail(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
int fail(const char* format, ...) {
    char message[kMessageBufferSize];
    va_list arguments;
    va_start(arguments, format);
    int written = std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    if (written < 0) message[0] = '\0';
    platform().message_box(message, kErrorCaption, kMbIconError);
    return kFailure;
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string native_applet_path(const std::string& name) {
#ifdef _WIN32
    return name;
#else
    // Host paths are drive Z:, as for the Windows programs under emulation.
    if (name.empty() || name[0] != '/') return name;
    std::string path = "Z:" + name;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
#endif
}

std::string applet_file_argument(const std::string& command_line) {
    size_t i = 0;
    while (i < command_line.size() && is_blank(command_line[i])) ++i;
    if (i < command_line.size() && command_line[i] == '"') {
        size_t close = command_line.find('"', i + 1);
        if (close == std::string::npos) return command_line.substr(i + 1);
        return command_line.substr(i + 1, close - i - 1);
    }
    size_t end = i;
    while (end < command_line.size() && !is_blank(command_line[end])) ++end;
    return command_line.substr(i, end - i);
}

std::string command_line_after_program(const std::string& full_command_line) {
    const std::string& s = full_command_line;
    size_t i = 0;
    if (i < s.size() && s[i] == '"') {
        size_t close = s.find('"', 1);
        i = close == std::string::npos ? s.size() : close + 1;
    } else {
        while (i < s.size() && static_cast<unsigned char>(s[i]) > ' ') ++i;
    }
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= ' ') ++i;
    return s.substr(i);
}

int launcher_main(const std::string& command_line) {
    register_component_directories();

    // A blank command line names no file; it ends like a file that cannot be
    // opened (an empty path opens nothing).
    const std::string name = native_applet_path(applet_file_argument(command_line));

    // A pipe or device would keep the launcher waiting for a header line.
    if (FilePath(name).is_special_file()) return fail(kNotRegularFile, name.c_str());
    std::FILE* stream = FilePath(name).open_stream("r");
    if (!stream) return fail(kUnableToOpen, name.c_str());
    std::string line;
    bool have_line = read_text_line(stream, &line, kMaxHeaderLine);
    std::fclose(stream);
    if (!have_line) return fail(kErrorReadingFile, name.c_str());

    AppletHeader header;
    if (!parse_applet_header(line, &header)) return kFailure;  // already reported
    if (header.unsupported) return kFailure;

    // Every component directory's index is read once, however many
    // requirements the header lists.
    if (!header.requirements.empty()) {
        const ComponentDatabase installed = build_component_database();
        for (const ComponentRequirement& requirement : header.requirements) {
            const auto found = installed.find(ascii_upper(requirement.name));
            const int version = found == installed.end() ? 0 : found->second.version;
            if (version < requirement.version) return fail("%s", kNotUpToDate);
        }
    }

    const char* run_name = header.run.name.c_str();
    int size = find_component_file(run_name, kRunFileKey, nullptr, 0);
    if (size <= 0) return fail("%s", kUnableToLocate1);
    // The second call searches again, so an index that changed meanwhile is
    // seen. A path that grew in between no longer fits and is not written:
    // that counts as not found rather than starting an empty command.
    std::vector<char> player(static_cast<size_t>(size) + 1, '\0');
    int found = find_component_file(run_name, kRunFileKey, player.data(), size);
    if (found <= 0 || found > size) return fail("%s", kUnableToLocate2);

    std::string command = format_text("\"%s\" %s", player.data(), command_line.c_str());
    ProcessHandle process = nullptr;
    if (!platform().start_process(command.c_str(), nullptr, &process))
        return fail("%s", kUnableToStart);
    if (process) platform().close_process(process);
    return 0;
}

}  // namespace sx
