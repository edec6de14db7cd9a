// A component directory's index ("compindx.dat") as installers and the
// uninstaller keep it: read whole, rewritten whole in one step.
#pragma once

#include <string>
#include <vector>

#include "components/component_search.h"
#include "components/file_path.h"

namespace sx {

extern const char kIndexFileName[];

// The index text of the records, one "key = value" per line, CR LF ended.
std::string format_index(const std::vector<IndexRecord>& records);

// Reads every complete record of an index; a missing index gives none. False
// only when the index exists but cannot be read.
bool read_index(const FilePath& index, std::vector<IndexRecord>* records);

// Replaces the index in one step (sibling file, flush, replace): a reader sees
// the old index or the new one, and a failed write leaves the old one as it
// was. Call with the index's lock held.
bool write_index(const FilePath& index, const std::vector<IndexRecord>& records);

}  // namespace sx
