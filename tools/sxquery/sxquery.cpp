// sxquery: answers component queries the way the launcher asks them.
//
//   sxquery list                  every directory searched and what it holds
//   sxquery version NAME          the installed version of NAME (0: none)
//   sxquery file NAME KEY         the path NAME registers under KEY
//
// Exit code 0 when the answer was found, 1 when not, 2 on bad usage.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "components/component_search.h"
#include "components/data_directories.h"

namespace {

const char kUsage[] =
    "usage: sxquery list\n"
    "       sxquery version NAME\n"
    "       sxquery file NAME KEY\n";

int usage_error(const char* why) {
    std::fprintf(stderr, "sxquery: %s (sxquery --help shows the usage)\n", why);
    return 2;
}

int list() {
    int found = 0;
    for (const char* name : {"Components-System", "Components-User"}) {
        sx::FilePath directory;
        if (sx::find_component_directory(name, &directory)) {
            std::printf("%s: %s\n", name, directory.c_str());
            ++found;
        } else {
            std::printf("%s: (none)\n", name);
        }
    }
    std::printf("search order:\n");
    for (const sx::FilePath& directory : sx::build_search_list())
        std::printf("  %s\n", directory.empty() ? "(current directory)" : directory.c_str());
    sx::ComponentDatabase database = sx::build_component_database();
    std::printf("components: %zu\n", database.size());
    for (const auto& [name, info] : database) {
        std::printf("  %s version %d\n", name.c_str(), info.version);
        for (const auto& [key, path] : info.files)
            std::printf("    %s = %s\n", key.c_str(), path.c_str());
    }
    if (found == 0) {
        std::fprintf(stderr, "sxquery: no component directory is registered\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("no command");
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "/?") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    sx::register_component_directories();
    if (command == "list" && argc == 2) return list();
    if (command == "version" && argc == 3) {
        int version = sx::component_version(argv[2]);
        std::printf("%d\n", version);
        if (version != 0) return 0;
        std::fprintf(stderr, "sxquery: no component %s is installed\n", argv[2]);
        return 1;
    }
    if (command == "file" && argc == 4) {
        int size = sx::find_component_file(argv[2], argv[3], nullptr, 0);
        if (size <= 0) {
            std::fprintf(stderr, "sxquery: component %s has no file under key %s\n", argv[2],
                         argv[3]);
            return 1;
        }
        std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
        if (sx::find_component_file(argv[2], argv[3], buffer.data(), size) <= 0) return 1;
        std::printf("%s\n", buffer.data());
        return 0;
    }
    return usage_error(("wrong use of " + command).c_str());
}
