#pragma once
// A TLS peer for tests: on a free loopback port it accepts one connection (or a given number, one after
// the other) and runs the test's function for each on a thread of its own. The function talks plain text first and starts TLS when it likes (as a
// mail server does after STARTTLS), or at once for implicit TLS. Every wait of the peer is limited, so
// a client that does not do what the test expects ends the function with an error instead of a hang.
//
//     TlsTestServer server(GetTestCertificates().localhost, [](TlsTestServer::Peer& peer) {
//         peer.Send("220 ready\r\n");
//         peer.ExpectLine("STARTTLS");
//         peer.Send("220 go ahead\r\n");
//         peer.AcceptTLS();
//         peer.ExpectLine("EHLO x");
//     });
//     ... client connects to server.Port() ...
//     EXPECT_TRUE(server.Finish());

#include "tests/support/test_certificates.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct ssl_ctx_st;
struct ssl_st;

class TlsTestServer {
public:
    // The accepted connection as the test's function sees it. Its reads and writes are plain until
    // AcceptTLS has succeeded, encrypted after. Failures throw std::runtime_error.
    class Peer {
    public:
        void Send(const std::string& bytes);
        // Bytes on the socket itself, past TLS (a forged or broken record).
        void SendRaw(const std::string& bytes);
        // The next line without its CR LF.
        std::string ReadLine();
        void ExpectLine(const std::string& line);
        // The TLS handshake as server; false when it failed (HandshakeError tells why).
        bool AcceptTLS();
        const std::string& HandshakeError() const { return handshakeError_; }
        // The host name the client sent with SNI; empty when it sent none.
        const std::string& ServerName() const { return serverName_; }
        // Exactly count bytes (a literal of the IMAP client).
        std::string ReadBytes(size_t count);
        // True when nothing arrives from the client within the time.
        bool Quiet(int milliseconds);
        // Every byte received through the channel so far (decrypted once TLS runs).
        const std::string& Received() const { return received_; }
        // Reads through the channel until the client closes (or the channel fails), recording it all.
        void ReadUntilClosed();
        // What has arrived on the socket, read past TLS; waits for at least one byte.
        std::string ReadRawSome();
        // Everything the client still sends, read past TLS until it closes.
        std::string ReadRawUntilClosed();
        // Ends the connection: with TLS's close_notify first, or with a plain close (FIN).
        void CloseNotify();
        void Close();
        // Makes the socket's close, when the function returns, a reset (RST); the function's last step.
        void Reset();

    private:
        friend class TlsTestServer;
        Peer(int fd, ssl_ctx_st* context) : fd_(fd), context_(context) {}
        // Some bytes into unread_; false at the end of input.
        bool Receive();

        int fd_;
        ssl_ctx_st* context_;
        ssl_st* ssl_ = nullptr;
        std::string unread_;
        std::string received_;
        std::string handshakeError_;
        std::string serverName_;
    };

    using Play = std::function<void(Peer& peer)>;

    TlsTestServer(const CertificateFiles& certificate, Play play, size_t connections = 1);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    int Port() const { return port_; }

    // Waits until the function has returned; fails with its error, or when it has not ended in time.
    ::testing::AssertionResult Finish(std::chrono::milliseconds limit = std::chrono::seconds(30));

private:
    void Run(Play play, size_t connections);
    // Accepts one connection and plays it; what went wrong, or nothing.
    std::string Serve(const Play& play);

    int listener_ = -1;
    int port_ = 0;
    ssl_ctx_st* context_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    bool stopping_ = false;
    int connection_ = -1;
    std::string problem_;
};
