// Cost of reading one index record with many file entries: the launcher
// rereads every index once per requirement, so a record's reading must stay
// linear in its entries.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "components/component_search.h"

namespace {

// An index of one record with `entries` distinct file keys, in a temporary
// file that goes away when closed.
std::FILE* make_index(long entries) {
    std::FILE* stream = std::tmpfile();
    if (!stream) return nullptr;
    std::fputs("component = big\nversion = 1\n", stream);
    for (long i = 0; i < entries; ++i)
        std::fprintf(stream, "installed_local = key%ld;files\\file%ld.dat\n", i, i);
    std::fputs("componentend\n", stream);
    return stream;
}

void BM_ReadRecordWithManyFiles(benchmark::State& state) {
    std::FILE* stream = make_index(state.range(0));
    if (!stream) {
        state.SkipWithError("no temporary file");
        return;
    }
    for (auto _ : state) {
        std::rewind(stream);
        sx::IndexReader reader(stream);
        sx::IndexRecord record;
        if (!reader.read_component(&record)) state.SkipWithError("record not read");
        benchmark::DoNotOptimize(record.files.size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    std::fclose(stream);
}
BENCHMARK(BM_ReadRecordWithManyFiles)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
