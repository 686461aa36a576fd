// Sends one mail with a 200 MB attachment through TIdSMTP to an SMTP sink on loopback and reports the
// throughput and the peak memory of the process. The attachment is streamed from the file 57 bytes at a
// time, so the memory must not grow with the file. With --starttls the sink offers STARTTLS and the
// session upgrades to TLS before it sends, as with a submission server on port 587.
//
//     ./build/bench/bench_smtp_attachment [megabytes] [--starttls]

#include "transport/smtp.h"

#include "bench/bench_certificate.h"
#include "bench/loopback_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// Speaks just enough SMTP for one session: 220, then 250 to each command, 354 to DATA, the data
// discarded up to its end mark and answered 250; ends at QUIT. Given a server context, it offers
// STARTTLS and speaks TLS after it.
class SmtpSink {
public:
    explicit SmtpSink(SSL_CTX* tls = nullptr) : tls_(tls) {
        listener_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SmtpSink() {
        thread_.join();
        if (ssl_ != nullptr) SSL_free(ssl_);
        close(listener_);
    }
    int Port() const { return port_; }
    long long DataBytes() const { return dataBytes_; }

private:
    void Say(const char* reply) {
        const size_t size = std::char_traits<char>::length(reply);
        if (ssl_ != nullptr) {
            size_t written = 0;
            SSL_write_ex(ssl_, reply, size, &written);
        } else {
            send(fd_, reply, size, MSG_NOSIGNAL);
        }
    }
    ssize_t Receive(char* buffer, size_t size) {
        if (ssl_ == nullptr) return recv(fd_, buffer, size, 0);
        size_t count = 0;
        return SSL_read_ex(ssl_, buffer, size, &count) == 1 ? static_cast<ssize_t>(count) : 0;
    }
    bool StartTLS() {
        Say("220 go ahead\r\n");
        ssl_ = SSL_new(tls_);
        SSL_set_fd(ssl_, fd_);
        return SSL_accept(ssl_) == 1;
    }

    void Serve() {
        fd_ = accept(listener_, nullptr, nullptr);
        Say("220 sink\r\n");
        std::string pending;
        bool inData = false;
        char buffer[65536];
        for (;;) {
            ssize_t count = Receive(buffer, sizeof buffer);
            if (count <= 0) break;
            pending.append(buffer, static_cast<size_t>(count));
            for (;;) {
                if (inData) {
                    size_t end = pending.find("\r\n.\r\n");
                    if (end == std::string::npos) {
                        // Keep only what may begin the end mark.
                        size_t keep = std::min<size_t>(pending.size(), 4);
                        dataBytes_ += static_cast<long long>(pending.size() - keep);
                        pending.erase(0, pending.size() - keep);
                        break;
                    }
                    dataBytes_ += static_cast<long long>(end + 2);
                    pending.erase(0, end + 5);
                    inData = false;
                    Say("250 queued\r\n");
                    continue;
                }
                size_t end = pending.find("\r\n");
                if (end == std::string::npos) break;
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 2);
                if (line == "DATA") {
                    inData = true;
                    Say("354 go\r\n");
                } else if (tls_ != nullptr && ssl_ == nullptr && line.rfind("EHLO", 0) == 0) {
                    Say("250-sink\r\n250 STARTTLS\r\n");
                } else if (tls_ != nullptr && ssl_ == nullptr && line == "STARTTLS") {
                    if (!StartTLS()) break;
                } else if (line == "QUIT") {
                    close(fd_);
                    return;
                } else {
                    Say("250 ok\r\n");
                }
            }
        }
        close(fd_);
    }

    SSL_CTX* tls_;
    SSL* ssl_ = nullptr;
    int listener_ = -1;
    int fd_ = -1;
    int port_ = 0;
    long long dataBytes_ = 0;
    std::thread thread_;
};

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void WriteRandomFile(const std::string& path, long long bytes) {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(42);
    std::string block(1 << 20, '\0');
    for (long long written = 0; written < bytes; written += static_cast<long long>(block.size())) {
        for (size_t i = 0; i < block.size(); i += 8) {
            const uint64_t value = random();
            std::memcpy(&block[i], &value, 8);
        }
        out.write(block.data(), static_cast<std::streamsize>(std::min<long long>(bytes - written, block.size())));
    }
}

}  // namespace

int main(int argc, char** argv) {
    long long megabytes = 200;
    bool starttls = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--starttls") == 0) {
            starttls = true;
        } else {
            megabytes = std::atoll(argv[i]);
        }
    }
    const long long bytes = megabytes * 1024 * 1024;
    char folder[] = "/tmp/postira-bench.XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    const std::string path = std::string(folder) + "/anlage.bin";
    WriteRandomFile(path, bytes);

    int result = 0;
    {
        SmtpSink sink(starttls ? TheCertificate().ServerContext() : nullptr);
        TIdSMTP smtp;
        smtp.Host = starttls ? "localhost" : "127.0.0.1";
        if (starttls) smtp.CAFile = TheCertificate().File();
        smtp.Port = sink.Port();
        smtp.HeloName = "bench";
        TIdMessage message;
        message.From.SetText("a@example.org");
        message.Recipients.SetFromText("b@example.org");
        message.Subject = "Benchmark";
        message.Body = {"Anbei die Datei."};
        message.PartList.Add<TIdAttachment>(path);
        message.ContentType = "multipart/mixed";

        smtp.OpenSession(TIdSMTP::kConnectTimeLimitMs);
        const bool encrypted = smtp.Encrypted();
        if (starttls && !encrypted) throw std::runtime_error("the session did not upgrade to TLS");
        const long before = PeakResidentKiB();
        const auto start = std::chrono::steady_clock::now();
        smtp.SendMail(message);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long peak = PeakResidentKiB();
        smtp.CloseSession();

        const double mib = static_cast<double>(bytes) / (1024 * 1024);
        std::printf("connection            %s\n", encrypted ? "TLS (STARTTLS)" : "plain");
        std::printf("attachment            %.0f MiB\n", mib);
        std::printf("data on the wire      %.1f MiB\n", static_cast<double>(sink.DataBytes()) / (1024 * 1024));
        std::printf("send time             %.2f s\n", seconds);
        std::printf("throughput            %.1f MiB/s of attachment (%.1f MiB/s on the wire)\n", mib / seconds,
                    static_cast<double>(sink.DataBytes()) / (1024 * 1024) / seconds);
        std::printf("peak resident memory  %.1f MiB before the send, %.1f MiB after it\n", before / 1024.0,
                    peak / 1024.0);
        if (peak - before > 16 * 1024) {
            std::printf("memory grew with the attachment\n");
            result = 1;
        }
    }
    std::filesystem::remove_all(folder);
    return result;
}
