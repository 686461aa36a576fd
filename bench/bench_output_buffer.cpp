// Writing a message through the connection: with the output buffer (sent when 64 KiB are collected and
// before the reply is read) against one send call per line. Both put the same bytes on the wire.
//
// The peer is a sink on loopback that reads everything and answers "250 OK" after each "." line, so one
// iteration is one message body followed by its end mark and the server's reply, as in a mail transaction.

#include "bench/loopback_peer.h"
#include "transport/tcp_connection.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// A message body of the given number of lines of 76 characters, like a base64 attachment.
std::vector<std::string> BodyLines(int64_t count) {
    std::vector<std::string> lines;
    for (int64_t i = 0; i < count; ++i) lines.push_back(std::string(76, static_cast<char>('A' + i % 26)));
    return lines;
}

// range(0): lines per message; range(1): 1 with the output buffer, 0 with one send per line.
void BM_WriteMessage(benchmark::State& state) {
    const std::vector<std::string> lines = BodyLines(state.range(0));
    LoopbackPeer sink(&AnswerEveryEndMark);
    TIdTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = sink.Port();
    client.SetOutputBufferSize(state.range(1) != 0 ? TIdTCPConnection::kOutputBufferSize : 0);
    client.OpenConnection(1000);
    int64_t bytes = 0;
    for (auto _ : state) {
        for (const std::string& line : lines) client.WriteLine(line);
        client.SendCommand(".", 250);
        bytes += static_cast<int64_t>(lines.size() * 78 + 3);
    }
    state.SetBytesProcessed(bytes);
    client.CloseConnection();
}

}  // namespace

// 40 lines: a short text mail; 13800 lines: a mail with an attachment of about 750 KB.
BENCHMARK(BM_WriteMessage)
    ->ArgNames({"lines", "buffered"})
    ->Args({40, 0})
    ->Args({40, 1})
    ->Args({13800, 0})
    ->Args({13800, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
