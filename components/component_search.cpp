#include "components/component_search.h"

#include <cstdlib>
#include <cstring>
#include <unordered_set>

#include "components/component_index.h"
#include "components/data_directories.h"
#include "components/file_lock.h"
#include "components/text_util.h"
#include "platform/ascii_case.h"

namespace sx {

namespace {

constexpr const char* kSearchListPath = "c:\\ComponentSearch.txt";
constexpr unsigned kIndexLockWaitMs = 250;

// No record line can meaningfully be longer than this; a longer line is read
// to its end and dropped, so a damaged index cannot exhaust memory.
constexpr size_t kMaxIndexLine = 1 << 20;

struct IndexFile {
    std::FILE* stream = nullptr;
    ~IndexFile() {
        if (stream) std::fclose(stream);
    }
};

}  // namespace

bool IndexReader::next_line(std::string* line) {
    line->clear();
    bool overlong = false;
    for (;;) {
        int c = std::fgetc(stream_);
        // Text after the last line break is never used.
        if (c == EOF) return false;
        if (c == '\r' || c == '\n') {
            ++lines_;
            if (overlong) line->clear();
            return true;
        }
        if (line->size() < kMaxIndexLine) {
            line->push_back(static_cast<char>(c));
        } else {
            overlong = true;
        }
    }
}

bool IndexReader::read_component(IndexRecord* record) {
    if (!stream_) return false;
    std::string line;
    bool in_record = false;
    // The keys of the record's entries, beside them: a record may list tens of
    // thousands of files, and searching the list for each would be quadratic.
    std::unordered_set<std::string> file_keys;
    while (next_line(&line)) {
        size_t equals = line.find('=');
        std::string key = trim_spaces(line.substr(0, equals));
        std::string value =
            equals == std::string::npos ? std::string() : trim_spaces(line.substr(equals + 1));
        if (key.empty() && value.empty()) continue;
        key = ascii_lower(key);

        if (!in_record) {
            if (key == "component" && !value.empty()) {
                *record = IndexRecord();
                file_keys.clear();
                record->name = ascii_upper(value);
                in_record = true;
            }
            continue;
        }
        if (key == "version") {
            record->version = std::atoi(value.c_str());
        } else if (key == "installed_local") {
            size_t semicolon = value.find(';');
            std::string file_key;
            std::string relative;
            if (semicolon == std::string::npos) {
                file_key = relative = value;
            } else {
                if (semicolon == 0 || semicolon + 1 == value.size()) continue;
                file_key = trim_spaces(value.substr(0, semicolon));
                relative = trim_spaces(value.substr(semicolon + 1));
            }
            // The first entry of a key is kept.
            if (file_keys.insert(file_key).second) record->files.emplace_back(file_key, relative);
        } else if (key == "componentend") {
            return true;
        }
    }
    // The file ended inside a record: it is dropped.
    return false;
}

std::vector<FilePath> build_search_list() {
    std::vector<FilePath> list;
    FilePath directory;
    if (find_component_directory("Components-System", &directory)) list.push_back(directory);
    if (find_component_directory("Components-User", &directory)) list.push_back(directory);

    if (std::FILE* stream = FilePath(kSearchListPath).open_stream("r")) {
        std::string line;
        while (read_text_line(stream, &line)) list.emplace_back(trim_spaces(line));
        std::fclose(stream);
    }
    return list;
}

void scan_directory(ComponentDatabase* database, const FilePath& directory) {
    FilePath index_path(directory);
    index_path.append_file(kIndexFileName);

    // The lock only makes us wait a little for a writer; the index is read
    // whether or not it was obtained.
    FileLockHolder lock = acquire_lock(index_path, kIndexLockWaitMs);
    IndexFile file;
    file.stream = index_path.open_stream("r");
    if (!file.stream) return;

    IndexReader reader(file.stream);
    IndexRecord record;
    while (reader.read_component(&record)) {
        auto existing = database->find(record.name);
        if (existing != database->end() && existing->second.version >= record.version) continue;
        if (existing != database->end()) database->erase(existing);

        ComponentInfo info;
        info.name = record.name;
        info.version = record.version;
        for (const auto& [key, relative] : record.files) {
            FilePath path(directory);
            path.append_file(relative);
            info.files.emplace(key, path);
        }
        database->emplace(record.name, std::move(info));
    }
}

ComponentDatabase build_component_database() {
    ComponentDatabase database;
    for (const FilePath& directory : build_search_list()) scan_directory(&database, directory);
    return database;
}

int component_version(const char* name) {
    if (!name) return 0;
    ComponentDatabase database = build_component_database();
    auto it = database.find(ascii_upper(name));
    return it == database.end() ? 0 : it->second.version;
}

int find_component_file(const char* name, const char* key, char* buffer, int buffer_size) {
    if (!name || !key) return 0;
    ComponentDatabase database = build_component_database();
    auto component = database.find(ascii_upper(name));
    if (component == database.end()) return 0;
    auto file = component->second.files.find(key);
    if (file == component->second.files.end()) return 0;
    const std::string& path = file->second.text();
    const int needed = static_cast<int>(path.size()) + 1;
    if (buffer && buffer_size >= needed) std::memcpy(buffer, path.c_str(), needed);
    return needed;
}

}  // namespace sx
