#include "tests/support/tls_test_server.h"

#include "tests/support/loopback_ports.h"

#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

// How long the peer waits for the client at most, for the connect and for every read and write.
constexpr int kWaitMs = 10000;
// The accept waits in slices of this length, so that a stopping server is noticed.
constexpr int kSliceMs = 20;

std::string OpenSSLError() {
    char text[256] = "no OpenSSL error";
    if (unsigned long code = ERR_get_error(); code != 0) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Peer

void TlsTestServer::Peer::Send(const std::string& bytes) {
    if (ssl_ == nullptr) return SendRaw(bytes);
    size_t written = 0;
    if (!bytes.empty() && SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written) != 1) {
        throw std::runtime_error("TLS send failed: " + OpenSSLError());
    }
}

void TlsTestServer::Peer::SendRaw(const std::string& bytes) {
    size_t position = 0;
    while (position < bytes.size()) {
        ssize_t count = send(fd_, bytes.data() + position, bytes.size() - position, MSG_NOSIGNAL);
        if (count <= 0) throw std::runtime_error("send failed");
        position += static_cast<size_t>(count);
    }
}

bool TlsTestServer::Peer::Receive() {
    char buffer[16384];
    if (ssl_ != nullptr) {
        size_t count = 0;
        if (SSL_read_ex(ssl_, buffer, sizeof buffer, &count) == 1) {
            unread_.append(buffer, count);
            received_.append(buffer, count);
            return true;
        }
        if (SSL_get_error(ssl_, 0) == SSL_ERROR_ZERO_RETURN) return false;
        throw std::runtime_error("TLS read failed: " + OpenSSLError());
    }
    ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
    if (count < 0) throw std::runtime_error("read failed or timed out");
    unread_.append(buffer, static_cast<size_t>(count));
    received_.append(buffer, static_cast<size_t>(count));
    return count > 0;
}

std::string TlsTestServer::Peer::ReadBytes(size_t count) {
    while (unread_.size() < count) {
        if (!Receive()) throw std::runtime_error("the client closed before the literal ended");
    }
    std::string bytes = unread_.substr(0, count);
    unread_.erase(0, count);
    return bytes;
}

bool TlsTestServer::Peer::Quiet(int milliseconds) {
    if (!unread_.empty() || (ssl_ != nullptr && SSL_pending(ssl_) > 0)) return false;
    pollfd watched{fd_, POLLIN, 0};
    return poll(&watched, 1, milliseconds) == 0;
}

void TlsTestServer::Peer::ReadUntilClosed() {
    try {
        while (Receive()) {}
    } catch (const std::runtime_error&) {
        // A reset or a channel that failed: what came before it is recorded.
    }
}

std::string TlsTestServer::Peer::ReadLine() {
    for (;;) {
        if (size_t end = unread_.find("\r\n"); end != std::string::npos) {
            std::string line = unread_.substr(0, end);
            unread_.erase(0, end + 2);
            return line;
        }
        if (!Receive()) throw std::runtime_error("the client closed before a line ended");
    }
}

void TlsTestServer::Peer::ExpectLine(const std::string& line) {
    std::string got = ReadLine();
    if (got != line) throw std::runtime_error("expected \"" + line + "\", got \"" + got + "\"");
}

bool TlsTestServer::Peer::AcceptTLS() {
    ssl_ = SSL_new(context_);
    SSL_set_fd(ssl_, fd_);
    ERR_clear_error();
    const bool accepted = SSL_accept(ssl_) == 1;
    if (const char* name = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name); name != nullptr) serverName_ = name;
    if (!accepted) {
        handshakeError_ = OpenSSLError();
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    return accepted;
}

std::string TlsTestServer::Peer::ReadRawSome() {
    char buffer[16384];
    ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
    if (count <= 0) throw std::runtime_error("the client sent nothing");
    return std::string(buffer, static_cast<size_t>(count));
}

std::string TlsTestServer::Peer::ReadRawUntilClosed() {
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
        if (count < 0) throw std::runtime_error("the client did not close in time");
        if (count == 0) return bytes;
        bytes.append(buffer, static_cast<size_t>(count));
    }
}

void TlsTestServer::Peer::CloseNotify() {
    if (ssl_ != nullptr) SSL_shutdown(ssl_);
    Close();
}

void TlsTestServer::Peer::Close() { shutdown(fd_, SHUT_WR); }

void TlsTestServer::Peer::Reset() {
    linger abort{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

// ---------------------------------------------------------------------------------------------------------
// Server

TlsTestServer::TlsTestServer(const CertificateFiles& certificate, Play play, size_t connections) {
    context_ = SSL_CTX_new(TLS_server_method());
    if (context_ == nullptr || SSL_CTX_use_certificate_chain_file(context_, certificate.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_, certificate.key.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(context_);
        throw std::runtime_error("TLS test server: " + OpenSSLError());
    }
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    port_ = BindLoopback(listener_);
    if (listen(listener_, 4) == -1) {
        close(listener_);
        SSL_CTX_free(context_);
        throw std::runtime_error("TLS test server: cannot listen on loopback");
    }
    thread_ = std::thread(&TlsTestServer::Run, this, std::move(play), connections);
}

TlsTestServer::~TlsTestServer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        // Ends a read or write that still waits for the client.
        if (connection_ != -1) shutdown(connection_, SHUT_RDWR);
    }
    thread_.join();
    close(listener_);
    SSL_CTX_free(context_);
}

void TlsTestServer::Run(Play play, size_t connections) {
    // OpenSSL writes to the socket with write(): a client that has gone must not end the test program
    // with SIGPIPE. Blocked on this thread only, so the client's thread still meets any SIGPIPE of its own.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    std::string problem;
    for (size_t connection = 0; connection < connections && problem.empty(); ++connection) problem = Serve(play);
    std::lock_guard<std::mutex> lock(mutex_);
    problem_ = problem;
    done_ = true;
    changed_.notify_all();
}

std::string TlsTestServer::Serve(const Play& play) {
    std::string problem;
    int fd = -1;
    for (int waited = 0; fd == -1 && problem.empty(); waited += kSliceMs) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) problem = "stopped before the client connected";
        }
        pollfd watched{listener_, POLLIN, 0};
        if (problem.empty() && poll(&watched, 1, kSliceMs) == 1) fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (waited > kWaitMs) problem = "no client connected";
    }
    if (fd != -1) {
        timeval limit{kWaitMs / 1000, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            connection_ = fd;
        }
        Peer peer(fd, context_);
        try {
            play(peer);
        } catch (const std::exception& error) {
            problem = error.what();
        }
        if (peer.ssl_ != nullptr) SSL_free(peer.ssl_);
        std::lock_guard<std::mutex> lock(mutex_);
        connection_ = -1;
        close(fd);
    }
    return problem;
}

::testing::AssertionResult TlsTestServer::Finish(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, limit, [this] { return done_; })) {
        return ::testing::AssertionFailure() << "the server's part did not end in time";
    }
    if (!problem_.empty()) return ::testing::AssertionFailure() << problem_;
    return ::testing::AssertionSuccess();
}
