// A 100 000-line recipient list in the mailing core: lines split from the file's bytes, each line split into
// its fields and joined again, and the run's line buffer read from and written to disk.

#include "mailing/file_io.h"
#include "mailing/list_file.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

constexpr int kLines = 100000;

std::string MakeList() {
    std::string list;
    for (int i = 0; i < kLines; ++i) {
        list += "Müller" + std::to_string(i) + ";Jürgen;juergen" + std::to_string(i) +
                "@example.de;Ihr Angebot über Büromöbel;default;08.12.2026 14:05:31;/home/anna/preisliste.pdf;\r\n";
    }
    return list;
}

void SplitAndJoinList(benchmark::State& state) {
    const std::string list = MakeList();
    for (auto _ : state) {
        TextLines lines = SplitTextLines(list);
        for (std::string& line : lines.lines) line = JoinFieldsUntrimmed(SplitListLine(line));
        benchmark::DoNotOptimize(JoinTextLines(lines));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kLines);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * list.size()));
}
BENCHMARK(SplitAndJoinList)->Unit(benchmark::kMillisecond);

void EditorJoinList(benchmark::State& state) {
    const TextLines lines = SplitTextLines(MakeList());
    for (auto _ : state) {
        std::string out;
        for (const std::string& line : lines.lines) out += JoinListLine(SplitListLine(line)) + "\r\n";
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kLines);
}
BENCHMARK(EditorJoinList)->Unit(benchmark::kMillisecond);

void LineBufferReadWrite(benchmark::State& state) {
    char folder[] = "/tmp/postira-bench-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = std::string(folder) + "/sendlist.csv";
    WriteFileAtomic(path, MakeList());
    for (auto _ : state) {
        TextLines lines = SplitTextLines(ReadWholeFile(path));
        WriteFileAtomic(path, JoinTextLines(lines));
    }
    std::remove(path.c_str());
    rmdir(folder);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kLines);
}
BENCHMARK(LineBufferReadWrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
