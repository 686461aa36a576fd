// The check of a whole mailing ("Mailing prüfen", postira-run --check) over a generated list of 100 000
// lines: three message texts (the standard text, a text with an unknown placeholder, one named but
// missing), three attachments of 10 KiB, 200 KiB and 2 MiB on every fourth line, a line without first
// name every hundred, German umlauts in names, subjects and texts. Each run builds every line's mail with
// the run's code and measures it as the dry run writes it.

#include "mailing/file_io.h"
#include "mailing/mailing_check.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr int kLines = 100000;

std::string GermanText(const char* greeting) {
    std::string text = std::string(greeting) + "\r\n\r\n";
    for (int i = 0; i < 12; ++i) {
        text += "wir freuen uns, Ihnen unser neues Angebot über Büromöbel und Zubehör vorzustellen. Größere\r\n";
    }
    return text + "\r\nMit freundlichen Grüßen\r\nIhre Möbelwerkstatt\r\n";
}

struct Mailing {
    std::string folder;
    CheckInput input;

    Mailing() {
        char name[] = "/tmp/postira-bench-check-XXXXXX";
        if (mkdtemp(name) == nullptr) std::abort();
        folder = name;
        WriteFileAtomic(folder + "/defaultmail.txt", GermanText("Sehr geehrte(r) $Prename $Name,"));
        WriteFileAtomic(folder + "/angebot.txt", GermanText("Hallo $Vorname,"));
        const std::string attachments[] = {folder + "/preise.pdf", folder + "/katalog.pdf", folder + "/film.mp4"};
        const long sizes[] = {10 * 1024, 200 * 1024, 2 * 1024 * 1024};
        for (int i = 0; i < 3; ++i) WriteFileAtomic(attachments[i], std::string(static_cast<size_t>(sizes[i]), 'x'));
        const std::string texts[] = {"default", folder + "/angebot.txt", folder + "/fehlt.txt"};
        std::string list;
        for (int i = 0; i < kLines; ++i) {
            const std::string firstName = i % 100 == 99 ? "" : "Jürgen";
            const std::string attachment = i % 4 == 0 ? attachments[i / 4 % 3] : "";
            list += "Müller" + std::to_string(i) + ";" + firstName + ";juergen" + std::to_string(i) +
                    "@example.de;Ihr Angebot über Büromöbel;" + texts[i % 3] + ";not send;" + attachment + ";\r\n";
        }
        WriteFileAtomic(folder + "/sendlist.csv", list);
        input.dataFolder = folder + "/";
        input.listPath = folder + "/sendlist.csv";
        input.account = {"smtp.example.de", "versand@example.de", "geheim", "587"};
        input.options.mailsPerMinute = 30;
        input.cc = "Büro <buero@example.de>";
    }
    ~Mailing() { std::filesystem::remove_all(folder); }
};

void CheckWholeList(benchmark::State& state) {
    const Mailing mailing;
    CheckReport report;
    for (auto _ : state) {
        report = CheckMailing(mailing.input);
        benchmark::DoNotOptimize(report);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kLines);
    state.counters["mails"] = report.mails;
    state.counters["findings"] = static_cast<double>(report.findings.size());
}
BENCHMARK(CheckWholeList)->Unit(benchmark::kMillisecond);

void PreviewOneLine(benchmark::State& state) {
    const Mailing mailing;
    for (auto _ : state) benchmark::DoNotOptimize(PreviewLine(mailing.input, kLines / 2 + 1));
}
BENCHMARK(PreviewOneLine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
