// sxinstall: the command line of the component installer. Shipped with the
// release: the setup program installs every component through it, and it
// runs the install hooks for those who unpack the release by hand.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "components/component_installer.h"
#include "platform/platform.h"

namespace {

const char kUsage[] =
    "Stellarix Player component installer\n"
    "\n"
    "usage:\n"
    "  sxinstall install --name NAME [--version N] [--dir DIR | --user]\n"
    "                    [--from FOLDER]... [--file KEY=RELPATH:SOURCE]...\n"
    "                    [--entry KEY=RELPATH]... [--hook KEY]... [--force]\n"
    "  sxinstall list [--dir DIR | --user]\n"
    "  sxinstall remove NAME [--dir DIR | --user] [--force]\n"
    "\n"
    "install  copies the component's files into the component directory and\n"
    "         adds (or replaces) its record in compindx.dat:\n"
    "           --from FOLDER   copy everything below FOLDER, keeping its layout\n"
    "           --file K=R:S    copy the file S to R and list it under key K\n"
    "           --entry K=R     list R (copied with --from) under key K\n"
    "           --hook K        the file under key K is an install hook: load it\n"
    "                           and call its component_install_initialize\n"
    "list     prints the components of compindx.dat and their files\n"
    "remove   deletes a component's record and its files\n"
    "--force  lets install overwrite, and remove delete, files that another\n"
    "         component's record lists\n"
    "\n"
    "DIR defaults to the player's system components directory (--user: the\n"
    "per-user one), C:\\Program Files\\Stellarix\\Stellarix Player\\components\n"
    "by default. RELPATH is relative to DIR, with \\ or /; a relative FOLDER or\n"
    "SOURCE is taken from the current folder.\n"
    "\n"
    "Exit code: 0 done, 1 failed (the message says why), 2 wrong command line.\n"
    "Example, as the setup runs it for the launcher:\n"
    "  sxinstall install --name skiff --version 1 --force\n"
    "    --file skiff=skiff/Stellarix3D.exe:payload\\skiff\\Stellarix3D.exe\n"
    "    --file skiffhook=skiff/skiffhook.dll:payload\\skiff\\skiffhook.dll\n"
    "    --hook skiffhook\n";

// "/usr/x" is drive Z: in both builds; a relative path is taken from the
// current directory, since component directories are always absolute.
sx::FilePath path_argument(std::string text) {
    if (!text.empty() && text[0] == '/') {
        for (char& c : text)
            if (c == '/') c = '\\';
        return sx::FilePath("Z:" + text);
    }
    const bool absolute =
        (text.size() >= 2 && text[1] == ':') || (!text.empty() && text[0] == '\\');
    if (absolute || text.empty()) return sx::FilePath(text);
    std::string base = sx::platform().current_directory();
    if (!base.empty() && base.back() != '\\') base += '\\';
    return sx::FilePath(base + text);
}

// A wrong command line: one line saying what is wrong, exit code 2.
int usage_error(const std::string& message) {
    std::fprintf(stderr, "sxinstall: %s (sxinstall --help shows the usage)\n", message.c_str());
    return 2;
}

int failure(const std::string& message) {
    std::fprintf(stderr, "sxinstall: %s\n", message.c_str());
    return 1;
}

bool split_at(const std::string& text, char separator, std::string* before, std::string* after) {
    const size_t at = text.find(separator);
    if (at == std::string::npos) return false;
    *before = text.substr(0, at);
    *after = text.substr(at + 1);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage_error("no command given");
    const std::string command = args[0];
    if (command == "--help" || command == "-h" || command == "/?" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }

    sx::install::InstallRequest request;
    std::string remove_name;
    bool per_user = false;
    bool have_dir = false;
    bool have_name = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool has_value = i + 1 < args.size();
        auto value = [&]() { return args[++i]; };
        if (arg == "--help" || arg == "-h" || arg == "/?") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--force") {
            request.force = true;
        } else if (arg == "--user") {
            per_user = true;
        } else if (arg == "--dir" && has_value) {
            request.directory = path_argument(value());
            have_dir = true;
        } else if (command == "install" && arg == "--name" && has_value) {
            request.name = value();
            have_name = true;
        } else if (command == "install" && arg == "--version" && has_value) {
            const std::string text = value();
            char* end = nullptr;
            const long number = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end || number < -2147483647L - 1 || number > 2147483647L)
                return usage_error("not a version number: " + text);
            request.version = static_cast<int>(number);
        } else if (command == "install" && arg == "--from" && has_value) {
            request.folders.push_back(path_argument(value()));
        } else if (command == "install" && (arg == "--file" || arg == "--entry") && has_value) {
            const std::string text = value();
            sx::install::ComponentFile file;
            std::string rest;
            if (!split_at(text, '=', &file.key, &rest))
                return usage_error(arg + " needs KEY=RELPATH: " + text);
            // "K=C:\x:S" would otherwise split at the drive's colon.
            if (rest.size() >= 2 && rest[1] == ':')
                return usage_error(arg + ": RELPATH is relative to the component directory, not " +
                                   rest.substr(0, rest.find(':', 2)));
            if (arg == "--file") {
                // The relative path has no ':', so the first one ends it.
                std::string source;
                if (!split_at(rest, ':', &file.relative_path, &source) || source.empty())
                    return usage_error("--file needs KEY=RELPATH:SOURCE: " + text);
                file.source = path_argument(source);
            } else {
                file.relative_path = rest;
            }
            request.files.push_back(file);
        } else if (command == "install" && arg == "--hook" && has_value) {
            request.hooks.push_back(value());
        } else if (command == "remove" && remove_name.empty() && arg[0] != '-') {
            remove_name = arg;
        } else {
            return usage_error("unexpected argument: " + arg);
        }
    }
    if (have_dir && per_user) return usage_error("--dir and --user exclude each other");
    if (!have_dir && !sx::install::default_component_directory(per_user, &request.directory))
        return failure("no component directory found; give one with --dir");

    std::string error;
    if (command == "install") {
        if (!have_name) return usage_error("install needs --name");
        if (!sx::install::install_component(request, &error)) return failure(error);
        std::printf("installed %s version %d in %s\n", request.name.c_str(), request.version,
                    request.directory.c_str());
        return 0;
    }
    if (command == "remove") {
        if (remove_name.empty()) return usage_error("remove needs the component's name");
        if (!sx::install::remove_component(request.directory, remove_name, &error, 10000,
                                           request.force))
            return failure(error);
        std::printf("removed %s from %s\n", remove_name.c_str(), request.directory.c_str());
        return 0;
    }
    if (command == "list") {
        std::vector<sx::IndexRecord> records;
        if (!sx::install::list_components(request.directory, &records, &error))
            return failure(error);
        for (const sx::IndexRecord& record : records) {
            std::printf("%s version %d\n", record.name.c_str(), record.version);
            for (const auto& [key, path] : record.files)
                std::printf("  %s = %s\n", key.c_str(), path.c_str());
        }
        return 0;
    }
    return usage_error("unknown command: " + command);
}
