// The record level of an IGES file: the five sections of fixed 80-column
// lines, the Global section's delimiters, units and tolerance, the directory
// entries and the free-format parameter records of each entity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ruvane::iges {

// Bounds that keep a hostile file finite.
struct Limits {
    size_t max_bytes = size_t{256} << 20;   // whole file
    size_t max_entities = size_t{1} << 20;  // directory entries
    size_t max_params = size_t{1} << 22;    // parameters of one entity
    size_t max_doubles = size_t{1} << 25;   // geometry built from the whole file
    int max_depth = 24;                     // nesting of entity references
};

struct Global {
    char param_delim = ',';
    char record_delim = ';';
    double model_scale = 1.0;  // model space / real world
    int units_flag = 2;
    std::string units_name;
    double resolution = 0.0;  // the model's tolerance, model units
    double unit_to_mm = 1.0;  // one model unit in millimetres (scale applied)
    std::string sender;
    std::string file_name;
};

struct DirEntry {
    int type = 0;
    int pd_first = 0;  // sequence number of the first P line
    int structure = 0;
    int transform = 0;    // DE pointer of a 124, 0 for none
    int blank = 0;        // status digits 1-2: 1 = blanked
    int subordinate = 0;  // digits 3-4: 1 physically, 2 logically, 3 both dependent
    int use = 0;          // digits 5-6
    int pd_count = 0;
    int form = 0;
    int seq = 0;  // sequence number of the entry's first D line
};

struct Param {
    enum Kind { kEmpty, kNumber, kText, kBad } kind = kEmpty;
    double number = 0.0;
    std::string text;
};

struct File {
    Global global;
    std::vector<std::string> start;
    std::vector<DirEntry> entries;
    // Columns 1-64 of every P line, in order, end to end (one block rather
    // than a string per line): line k is pd_text.substr(64 * k, 64).
    std::string pd_text;
    size_t pd_lines() const { return pd_text.size() / 64; }
    std::vector<std::string> problems;  // file-level faults that were survived
};

enum class ReadStatus { kOk, kNotIges, kTooLarge, kUnsupportedForm };

// Splits and checks the sections. Anything broken below the file level
// (a bad directory entry, a short parameter record) is recorded in
// `problems` or left for the entity reader to refuse.
ReadStatus read_file(const char* data, size_t size, const Limits& limits, File* out);

// The parameters of one entity (the type number first), up to its record
// delimiter. False when the entity's P lines are out of range or its
// parameters exceed the limit.
bool entity_params(const File& file, const DirEntry& entry, const Limits& limits,
                   std::vector<Param>* out);

// Free-format parameters of `text` up to the record delimiter, Hollerith
// strings and D exponents included; stops after `max` parameters (false).
bool parse_params(const std::string& text, size_t from, char pd, char rd, size_t max,
                  std::vector<Param>* out);

// Millimetres per unit for the Global section's unit flag (and name for
// flag 3); 0 when unknown.
double unit_millimetres(int flag, const std::string& name);

// Index of the entry whose first D line has sequence number `seq`, or -1.
int entry_index(const File& file, int seq);

}  // namespace ruvane::iges
