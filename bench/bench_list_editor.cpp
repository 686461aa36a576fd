// The recipient list editor with a list of 100 000 lines: loading it into the table, sorting it by a
// column (by name, and by send time), saving it, and importing the same text through the import window.
// Each should stay well under a second on a small machine.

#include "listedit/form_grid.h"
#include "listedit/form_import.h"
#include "listedit/import_text.h"
#include "listedit/line_number_editor.h"
#include "mailing/file_io.h"
#include "mailing/send_time.h"
#include "ui/services.h"

#include <QApplication>
#include <QDateTime>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

namespace {

constexpr int kLines = 100000;

// Save dialogs answer with the benchmark's own file.
class FixedDialogs : public FileDialogs {
public:
    QString path;
    std::optional<QString> OpenFile(QWidget*, const QString&, const QString&) override { return path; }
    std::optional<QString> SaveFile(QWidget*, const QString&, const QString&) override { return path; }
};

struct Scratch {
    std::filesystem::path folder;
    std::string list;
    std::string saved;
    Scratch() {
        folder = std::filesystem::temp_directory_path() / ("postira-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        list = (folder / "sendlist.csv").string();
        saved = (folder / "saved.csv").string();
        std::mt19937 random(42);
        const QDateTime start(QDate(2024, 1, 1), QTime(0, 0));
        std::string text;
        for (int i = 0; i < kLines; ++i) {
            const std::string name = "Name" + std::to_string(random() % 1000000);
            const std::string sent = FormatSendTime(start.addSecs(static_cast<qint64>(random() % 60000000)));
            text += name + ";Vorname" + std::to_string(i) + ";person" + std::to_string(i) +
                    "@example.de;Angebot Nummer " + std::to_string(i) + ";default;" + sent + ";;\r\n";
        }
        WriteFileAtomic(list, text);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

Scratch& Files() {
    static Scratch scratch;
    return scratch;
}

// The window lives until main() ends, before the application goes.
std::unique_ptr<TFormGrid> g_grid;

TFormGrid& LoadedGrid() {
    if (!g_grid) g_grid = std::make_unique<TFormGrid>();
    g_grid->ListFileName = Files().list;
    g_grid->ClearRows();
    g_grid->LoadList();
    return *g_grid;
}

void BM_LoadList(benchmark::State& state) {
    TFormGrid& grid = LoadedGrid();
    for (auto _ : state) {
        grid.ClearRows();
        grid.LoadList();
    }
    state.counters["rows"] = grid.Table().RowCount() - 1;
}

void SortBy(benchmark::State& state, int column) {
    TFormGrid& grid = LoadedGrid();
    for (auto _ : state) {
        state.PauseTiming();
        grid.ClearRows();
        grid.LoadList();
        grid.ResetSort();
        state.ResumeTiming();
        grid.StringGrid1MouseDown(0, column, true);
    }
}

void BM_SortByName(benchmark::State& state) { SortBy(state, 1); }
void BM_SortBySendTime(benchmark::State& state) { SortBy(state, 6); }

void BM_SaveList(benchmark::State& state) {
    TFormGrid& grid = LoadedGrid();
    FixedDialogs dialogs;
    dialogs.path = QString::fromStdString(Files().saved);
    services::SetDialogs(&dialogs);
    for (auto _ : state) grid.SaveList();
    services::SetDialogs(nullptr);
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(Files().saved));
}

void BM_ImportText(benchmark::State& state) {
    TFormGrid& grid = LoadedGrid();
    TFormImport& import = grid.ImportWindow();
    import.LoadFile(QString::fromStdString(Files().list));
    import.DetectSeparator();
    for (auto _ : state) import.ToolButton11Click();
}

}  // namespace

BENCHMARK(BM_LoadList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByName)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortBySendTime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportText)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // The users' locale: send times are German dates, names sort by German collation.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_grid.reset();
    return 0;
}
