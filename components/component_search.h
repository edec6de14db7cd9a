// The component index ("compindx.dat") and the search over every component
// directory.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "components/file_path.h"

namespace sx {

struct ComponentInfo {
    std::string name;  // upper case
    int version = 0;
    std::map<std::string, FilePath> files;  // key -> resolved path
};

using ComponentDatabase = std::map<std::string, ComponentInfo>;

// One record as read from an index, before it is resolved against the
// directory: file entries keep their relative paths, in file order, first
// entry of a key kept.
struct IndexRecord {
    std::string name;  // upper case
    int version = 0;
    std::vector<std::pair<std::string, std::string>> files;  // key, relative path
};

// Reads index records from an open stream. The reader never keeps more than
// one line in memory.
class IndexReader {
public:
    explicit IndexReader(std::FILE* stream) : stream_(stream) {}
    // The next complete record; false at the end of the stream (an unfinished
    // record is dropped).
    bool read_component(IndexRecord* record);
    long lines_read() const { return lines_; }

private:
    bool next_line(std::string* line);
    std::FILE* stream_;
    long lines_ = 0;
};

std::vector<FilePath> build_search_list();
void scan_directory(ComponentDatabase* database, const FilePath& directory);
ComponentDatabase build_component_database();

int component_version(const char* name);
int find_component_file(const char* name, const char* key, char* buffer, int buffer_size);

}  // namespace sx
