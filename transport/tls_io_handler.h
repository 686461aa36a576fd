#pragma once
// The socket adapter with TLS (OpenSSL). Until StartTLS it is the plain socket adapter; from then on every
// read and write of the connection goes through OpenSSL, so the connection's buffers, line reading, time
// limits and error handling work unchanged on the encrypted channel.
//
//     auto* tls = new TIdIOHandlerTLS();
//     client.SetIOHandler(tls, true);
//     client.OpenConnection(limit);           // plain TCP (or TLS at once with ImplicitTLS)
//     ... "STARTTLS", reply 220, nothing else waiting (client.HasUnreadInput() is false) ...
//     tls->StartTLS(client.Host);             // EIdTLSHandshakeError when it fails; the socket is closed then
//
// The server's certificate is checked against the system's trust store (OpenSSL's default verify paths,
// so SSL_CERT_FILE and SSL_CERT_DIR apply) and the CA file of the CAFile setting, if any; OpenSSL checks
// the host name (or the IP address, when the host is one). TLS 1.2 is the oldest version accepted.
// There is no way back to plain text: a failed handshake closes the socket.

#include "transport/id_exception.h"
#include "transport/socket_layer.h"

#include <cstdint>
#include <functional>
#include <string>

struct ssl_ctx_st;
struct ssl_st;

// The TLS handshake failed: the server's certificate was refused, the server does not speak TLS, the
// time ran out, or the connection broke. The text is German and ends with OpenSSL's reason in brackets,
// for example "TLS-Verbindung fehlgeschlagen: Zertifikat des Servers ungültig (certificate has expired)".
class EIdTLSHandshakeError : public EIdException {
public:
    EIdTLSHandshakeError(const std::string& what, const std::string& reason);
    // OpenSSL's reason alone ("certificate has expired", "hostname mismatch", "wrong version number", ...).
    const std::string& Reason() const { return reason_; }

private:
    std::string reason_;
};

class TIdIOHandlerTLS : public TIdIOHandlerSocket {
public:
    // Limit of the handshake when none is given, in ms.
    static constexpr int32_t kDefaultHandshakeTimeout = 60000;

    TIdIOHandlerTLS() = default;
    ~TIdIOHandlerTLS() override;

    // Settings, read when the handshake starts.
    // TLS right after the TCP connect (port 465), with the host name given to ConnectTo.
    bool ImplicitTLS = false;
    // A PEM file of further trusted CA certificates; empty: the system's trust store alone.
    std::string CAFile;
    // Time limit of the handshake in ms; 0 or WaitForever: none.
    int32_t HandshakeTimeout = kDefaultHandshakeTimeout;

    void PrepareHandle() override;
    void ConnectTo(const std::string& host, int port, int32_t timeoutMs, const std::string& boundIP,
                   int boundPort) override;
    bool WaitReadable(int32_t timeoutMs) override;
    int32_t ReceiveSome(char* buffer, int32_t size) override;
    int32_t SendSome(const char* buffer, int32_t size) override;
    // Sends TLS's close_notify when the channel is encrypted and intact, then closes the socket.
    void ShutdownAndClose() override;
    // Once encrypted: whether OpenSSL holds data, after opening the records that have arrived.
    bool HasUnreadInput() override;

    // Runs the TLS handshake on the connected socket and checks the server's certificate for hostName
    // (a name, or an IP address). Raises EIdTLSHandshakeError and closes the socket when it fails.
    void StartTLS(const std::string& hostName);
    // Whether the handshake has been done on the current socket.
    bool Encrypted() const { return ssl_ != nullptr; }
    // The negotiated protocol ("TLSv1.3", ...); empty while not encrypted.
    std::string ProtocolVersion() const;
    // OpenSSL's reason of the last failure of the encrypted channel after the handshake (such a failure
    // reaches the connection as the socket error "connection aborted"); empty when there was none.
    const std::string& LastTLSError() const { return lastTLSError_; }

private:
    // One OpenSSL call: its result, and when that is not above 0, OpenSSL's error code and errno after it.
    struct Call {
        int result;
        int error;
        int savedErrno;
        bool timedOut;  // OpenSSL still waited for the socket when the limit passed
    };
    // What a failed call means for the caller: 0 closed, -1 with the errno value to report.
    struct Outcome {
        int32_t result;
        int error;
    };

    void Handshake(const std::string& hostName);
    [[noreturn]] void FailHandshake(const std::string& what, const std::string& reason);
    // Runs the operation on the non-blocking channel, waiting for the socket whenever OpenSSL asks to, until
    // it succeeds, fails, or the limit (ms, or WaitForever) has passed.
    Call Drive(const std::function<int()>& operation, int32_t limitMs);
    // Marks the channel broken after a fatal failure and tells what the caller reports.
    Outcome Failed(const Call& call);
    // The socket's send time limit (SO_SNDTIMEO) in ms, WaitForever when it has none.
    int32_t SendTimeLimit() const;
    // Remembers how reading ended.
    void EndReading(const Call& call);
    void FreeTLS();

    ssl_ctx_st* context_ = nullptr;
    ssl_st* ssl_ = nullptr;
    // A read that ended the channel (closed or failed) is remembered, so that every later read answers
    // the same; OpenSSL must not be asked again after a failure.
    bool readEnded_ = false;
    Outcome readEnd_{0, 0};
    // After a fatal failure no close_notify may be sent.
    bool broken_ = false;
    std::string lastTLSError_;
};
