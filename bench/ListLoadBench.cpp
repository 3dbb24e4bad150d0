// Loading the documents and buddies lists at start-up: the file read, the case folding and the
// look-up tables built, for lists of the size a busy site's buddies file reaches and beyond.

#include "parsing/NameList.h"
#include "platform/Paths.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace kavel {
namespace {

// Distinct host names with a share of repeats, as a hand-grown list has.
std::filesystem::path WriteList(std::int64_t lines) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("kavel-listload-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / ("kavel.buddies." + std::to_string(lines));
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (std::int64_t i = 0; i < lines; ++i)
        out << "Host-" << (i % 10 == 0 ? i / 2 : i) << ".Example.NET\r\n";
    return file;
}

void LoadList(benchmark::State& state) {
    const std::int64_t lines = state.range(0);
    const std::filesystem::path file = WriteList(lines);
    for (auto _ : state) {
        BuddyList list;
        list.Assign(LoadNameListFile(file));
        benchmark::DoNotOptimize(list.Count());
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.SetItemsProcessed(state.iterations() * lines);
    std::filesystem::remove_all(file.parent_path());
}

void LoadDocumentList(benchmark::State& state) {
    const std::int64_t lines = state.range(0);
    const std::filesystem::path file = WriteList(lines);
    for (auto _ : state) {
        DocumentList list;
        list.Assign(LoadNameListFile(file));
        benchmark::DoNotOptimize(list.IsDocumentExtension(".html"));
    }
    state.SetItemsProcessed(state.iterations() * lines);
    std::filesystem::remove_all(file.parent_path());
}

BENCHMARK(LoadList)->Arg(60000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadDocumentList)->Arg(60000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavel

BENCHMARK_MAIN();
