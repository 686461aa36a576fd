// Throughput of the pure encoders and parsers of the mail transport, in bytes per second of input:
// base64 and quoted-printable bodies, encoded header words, header folding and address parsing.

#include "transport/email_address.h"
#include "transport/encoders.h"
#include "transport/header_list.h"
#include "transport/header_words.h"
#include "transport/message_encoders.h"

#include <benchmark/benchmark.h>

#include <random>
#include <sstream>
#include <string>

namespace {

std::string RandomBytes(size_t size) {
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

// German mail text: mostly ASCII with umlauts (UTF-8) and lines of typical length.
std::string GermanText(size_t size) {
    const std::string line = "Sehr geehrte Frau Müller, anbei die Unterlagen für Ihre Bürogeräte – Grüße aus Köln.\r\n";
    std::string text;
    while (text.size() < size) text += line;
    text.resize(size);
    return text;
}

void Base64(benchmark::State& state) {
    const std::string data = RandomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::istringstream source(data);
        TIdEncoderMIME encoder;
        benchmark::DoNotOptimize(encoder.Encode(source));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(Base64)->Arg(1 << 20);

// The attachment form: lines of 76 characters with CR LF, as the message writer sends a file.
void Base64AttachmentLines(benchmark::State& state) {
    const std::string data = RandomBytes(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::istringstream source(data);
        std::ostringstream lines;
        TIdMessageEncoderMIME encoder;
        encoder.EncodeStream(source, lines);
        benchmark::DoNotOptimize(lines.str());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(Base64AttachmentLines)->Arg(1 << 20);

void QuotedPrintable(benchmark::State& state) {
    const std::string data = GermanText(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::istringstream source(data);
        TIdEncoderQuotedPrintable encoder;
        benchmark::DoNotOptimize(encoder.Encode(source));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(QuotedPrintable)->Arg(1 << 20);

// The form the message writer uses for a body: the text in memory, no stream.
void QuotedPrintableInMemory(benchmark::State& state) {
    const std::string data = GermanText(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::string encoded;
        AppendQuotedPrintable(data, encoded);
        benchmark::DoNotOptimize(encoded);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(QuotedPrintableInMemory)->Arg(1 << 20);

void EncodedWords(benchmark::State& state) {
    const std::string subject = "Ihr Angebot über Büromöbel für die Geschäftsräume in Köln – Grüße";
    for (auto _ : state) benchmark::DoNotOptimize(EncodeHeaderWords(subject, "", 'Q', TTransfer::bit8, "UTF-8"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * subject.size()));
}
BENCHMARK(EncodedWords);

void HeaderFolding(benchmark::State& state) {
    std::string line = "Cc: ";
    for (int i = 0; i < 40; ++i) line += "\"Empfänger " + std::to_string(i) + "\" <empfaenger" + std::to_string(i) + "@example.de>, ";
    for (auto _ : state) benchmark::DoNotOptimize(WrapHeaderText(line));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(HeaderFolding);

void AddressParsing(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "\"Meier, Hans " + std::to_string(i) + "\" <hans" + std::to_string(i) + "@example.de>; ";
    for (auto _ : state) {
        TIdEMailAddressList list;
        list.SetFromText(text);
        benchmark::DoNotOptimize(list);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(AddressParsing);

}  // namespace

BENCHMARK_MAIN();
