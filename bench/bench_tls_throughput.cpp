// Bytes per second through the TLS adapter against the plain socket adapter, on loopback, with the peak
// memory of the process.
//
// send: one message of 200 MB in lines of 76 characters (a base64 attachment), written with WriteLine
// and ended with ".", answered "250 OK" by the peer: the mail data of a large attachment.
// receive: the peer sends 200 MB in lines and the client reads them with ReadLine.
//
// The peer runs in the same process (on its own thread, decrypting with OpenSSL too), so the figures hold
// both ends' work on 2 shared cores. Peak memory is the process's high-water mark of resident memory
// during one benchmark (reset before it through /proc/self/clear_refs); "growth" is that less the
// resident memory at the start.

#include "bench/bench_certificate.h"
#include "bench/loopback_peer.h"
#include "transport/tcp_connection.h"
#include "transport/tls_io_handler.h"

#include <benchmark/benchmark.h>

#include <openssl/ssl.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

constexpr int64_t kMessageBytes = 200LL * 1000 * 1000;
constexpr size_t kLineLength = 76;
constexpr int64_t kLines = kMessageBytes / (kLineLength + 2);

// A value of /proc/self/status in kB ("VmRSS", "VmHWM").
int64_t StatusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) return std::strtoll(line.c_str() + field.size() + 1, nullptr, 10);
    }
    return 0;
}

// Resets the high-water mark of resident memory to the present resident memory.
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

class MemoryWatch {
public:
    MemoryWatch() {
        ResetPeakMemory();
        startKb_ = StatusKilobytes("VmRSS");
    }
    void Report(benchmark::State& state) const {
        const int64_t peakKb = StatusKilobytes("VmHWM");
        state.counters["peak_MB"] = static_cast<double>(peakKb) / 1024;
        state.counters["growth_MB"] = static_cast<double>(peakKb - startKb_) / 1024;
    }

private:
    int64_t startKb_ = 0;
};

// A client connected to the peer, over TLS (implicit, checked against the certificate) or plain.
void Open(TIdTCPClient& client, const LoopbackPeer& peer, bool tls) {
    if (tls) {
        auto* handler = new TIdIOHandlerTLS();
        handler->ImplicitTLS = true;
        handler->CAFile = TheCertificate().File();
        client.SetIOHandler(handler, true);
    }
    client.Host = "localhost";
    client.Port = peer.Port();
    client.ReadTimeout = 60000;
    client.OpenConnection(1000);
}

std::string Line(int64_t i) { return std::string(kLineLength, static_cast<char>('A' + i % 26)); }

// range(0): 1 over TLS, 0 plain.
void BM_SendLines(benchmark::State& state) {
    const bool tls = state.range(0) != 0;
    MemoryWatch memory;
    LoopbackPeer peer(&AnswerEveryEndMark, tls ? TheCertificate().ServerContext() : nullptr);
    TIdTCPClient client;
    Open(client, peer, tls);
    for (auto _ : state) {
        for (int64_t i = 0; i < kLines; ++i) client.WriteLine(Line(i));
        client.SendCommand(".", 250);
    }
    state.SetBytesProcessed(state.iterations() * kLines * static_cast<int64_t>(kLineLength + 2));
    client.CloseConnection();
    memory.Report(state);
}

// range(0): 1 over TLS, 0 plain.
void BM_ReceiveLines(benchmark::State& state) {
    const bool tls = state.range(0) != 0;
    MemoryWatch memory;
    // Sends the lines in blocks of about 1 MB and "." after them, for every "NEXT" the client sends.
    auto source = [](LoopbackPeer::Channel& channel) {
        std::string block;
        for (int64_t i = 0; i < 13000; ++i) block += Line(i) + "\r\n";
        const int64_t blockLines = 13000;
        char request[64];
        while (channel.Read(request, sizeof request) > 0) {
            for (int64_t sent = 0; sent < kLines; sent += blockLines) {
                if (!channel.Write(block.data(), block.size())) return;
            }
            channel.Write(".\r\n", 3);
        }
    };
    LoopbackPeer peer(source, tls ? TheCertificate().ServerContext() : nullptr);
    TIdTCPClient client;
    Open(client, peer, tls);
    int64_t bytes = 0;
    for (auto _ : state) {
        client.WriteLine("NEXT");
        for (std::string line = client.ReadLine(); line != "."; line = client.ReadLine()) {
            bytes += static_cast<int64_t>(line.size() + 2);
        }
    }
    state.SetBytesProcessed(bytes);
    client.CloseConnection();
    memory.Report(state);
}

}  // namespace

BENCHMARK(BM_SendLines)->ArgName("tls")->Arg(0)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveLines)->ArgName("tls")->Arg(0)->Arg(1)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
