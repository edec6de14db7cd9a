#include "components/component_index.h"

#include <cstdio>

#include "platform/platform.h"

namespace sx {

const char kIndexFileName[] = "compindx.dat";

namespace {
const char kRewriteSuffix[] = ".new";
const char kLineEnd[] = "\r\n";
}  // namespace

std::string format_index(const std::vector<IndexRecord>& records) {
    std::string text;
    for (const IndexRecord& record : records) {
        text += "component = " + record.name + kLineEnd;
        text += "version = " + std::to_string(record.version) + kLineEnd;
        for (const auto& [key, path] : record.files)
            text += "installed_local = " + key + ";" + path + kLineEnd;
        text += std::string("componentend") + kLineEnd;
    }
    return text;
}

bool read_index(const FilePath& index, std::vector<IndexRecord>* records) {
    records->clear();
    if (!index.exists()) return true;
    if (index.is_special_file()) return false;
    std::FILE* stream = index.open_stream("r");
    if (!stream) return false;
    IndexReader reader(stream);
    IndexRecord record;
    while (reader.read_component(&record)) records->push_back(record);
    std::fclose(stream);
    return true;
}

bool write_index(const FilePath& index, const std::vector<IndexRecord>& records) {
    const std::string text = format_index(records);
    const FilePath sibling(index.text() + kRewriteSuffix);
    std::FILE* out = sibling.open_stream("wb");
    if (!out) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    ok = ok && platform().flush_file(out);
    ok = (std::fclose(out) == 0) && ok;
    ok = ok && platform().replace_file(sibling.c_str(), index.c_str());
    if (!ok) sibling.delete_file();
    return ok;
}

}  // namespace sx
