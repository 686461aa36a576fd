#include "transport/tls_io_handler.h"

#include "transport/socket_errors.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <stdexcept>

namespace {

const std::string kFailed = "TLS-Verbindung fehlgeschlagen: ";
const std::string kServerClosed = "der Server hat die Verbindung während der Aushandlung beendet";

// ---------------------------------------------------------------------------------------------------------
// The socket as OpenSSL sees it. OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when
// the peer has gone; this one sends with MSG_NOSIGNAL like the plain adapter. Every call is non-blocking
// (MSG_DONTWAIT), so that the adapter can wait with poll under the connection's time limits; the socket
// itself stays a blocking socket.

int SocketOf(BIO* bio) { return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio))); }

int SocketBioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t count;
    do {
        count = send(SocketOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (count == -1 && errno == EINTR);
    if (count == -1 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_write(bio);
    return static_cast<int>(count);
}

int SocketBioRead(BIO* bio, char* data, int size) {
    BIO_clear_retry_flags(bio);
    ssize_t count;
    do {
        count = recv(SocketOf(bio), data, static_cast<size_t>(size), MSG_DONTWAIT);
    } while (count == -1 && errno == EINTR);
    if (count == -1 && (errno == EAGAIN || errno == EWOULDBLOCK)) BIO_set_retry_read(bio);
    // OpenSSL asks BIO_eof after a read of 0 to tell the peer's close from other failures.
    if (count == 0) BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
    return static_cast<int>(count);
}

long SocketBioControl(BIO* bio, int command, long, void*) {
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
    default:
        return 0;
    }
}

BIO_METHOD* SocketBioMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "postira socket");
        if (made == nullptr) throw std::bad_alloc();
        BIO_meth_set_write(made, &SocketBioWrite);
        BIO_meth_set_read(made, &SocketBioRead);
        BIO_meth_set_ctrl(made, &SocketBioControl);
        return made;
    }();
    return method;
}

// ---------------------------------------------------------------------------------------------------------

// The first reason on OpenSSL's error queue of this thread; the queue is emptied.
std::string TakeOpenSSLReason() {
    unsigned long code = ERR_peek_error();
    std::string reason;
    if (code != 0) {
        const char* text = ERR_reason_error_string(code);
        if (text != nullptr) {
            reason = text;
        } else {
            char buffer[256] = {};
            ERR_error_string_n(code, buffer, sizeof buffer);
            reason = buffer;
        }
    }
    ERR_clear_error();
    return reason;
}

// The text of a system error in the words of the socket error messages.
std::string SocketReason(int error) {
    const int code = SocketCodeFromErrno(error);
    std::string description = SocketErrorDescription(code);
    std::string reason = "Socket-Fehler # " + std::to_string(code);
    return description.empty() ? reason : reason + ": " + description;
}

class Deadline {
public:
    // limitMs: WaitForever, or a limit (values below 0 count as 0).
    explicit Deadline(int32_t limitMs)
        : forever_(limitMs == WaitForever), end_(Clock::now() + std::chrono::milliseconds(std::max(limitMs, 0))) {}
    // What is left for poll: -1 without limit.
    int PollMs() const {
        if (forever_) return -1;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

private:
    using Clock = std::chrono::steady_clock;
    bool forever_;
    Clock::time_point end_;
};

// Waits until the socket is ready for what OpenSSL asked for (SSL_ERROR_WANT_READ or _WRITE); false when
// the deadline passed first.
bool WaitForSocket(int socket, int sslError, const Deadline& deadline) {
    pollfd watched{socket, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    for (;;) {
        int ready = poll(&watched, 1, deadline.PollMs());
        // A signal is not a timeout: wait for the rest of the time.
        if (ready == -1 && errno == EINTR) continue;
        // A failed poll counts as ready: the next OpenSSL call reports the socket's state.
        return ready != 0;
    }
}

}  // namespace

EIdTLSHandshakeError::EIdTLSHandshakeError(const std::string& what, const std::string& reason)
    : EIdException(reason.empty() ? what : what + " (" + reason + ")"), reason_(reason) {}

TIdIOHandlerTLS::~TIdIOHandlerTLS() { FreeTLS(); }

void TIdIOHandlerTLS::FreeTLS() {
    if (ssl_ != nullptr) SSL_free(ssl_);  // frees the socket BIO with it
    if (context_ != nullptr) SSL_CTX_free(context_);
    ssl_ = nullptr;
    context_ = nullptr;
    readEnded_ = false;
    readEnd_ = {0, 0};
    broken_ = false;
}

void TIdIOHandlerTLS::PrepareHandle() {
    FreeTLS();
    TIdIOHandlerSocket::PrepareHandle();
}

void TIdIOHandlerTLS::ConnectTo(const std::string& host, int port, int32_t timeoutMs, const std::string& boundIP,
                                int boundPort) {
    FreeTLS();
    TIdIOHandlerSocket::ConnectTo(host, port, timeoutMs, boundIP, boundPort);
    if (ImplicitTLS) StartTLS(host);
}

std::string TIdIOHandlerTLS::ProtocolVersion() const { return ssl_ != nullptr ? SSL_get_version(ssl_) : ""; }

// ---------------------------------------------------------------------------------------------------------
// Handshake

void TIdIOHandlerTLS::StartTLS(const std::string& hostName) {
    if (!IsOpen()) throw EIdClosedSocket();
    if (ssl_ != nullptr) throw std::logic_error("TLS is already running on this connection");
    lastTLSError_.clear();
    try {
        Handshake(hostName);
    } catch (const EIdTLSHandshakeError&) {
        throw;
    } catch (...) {
        // Whatever else went wrong (no memory), the socket must not stay open for plain text.
        FreeTLS();
        TIdIOHandlerSocket::ShutdownAndClose();
        throw;
    }
}

void TIdIOHandlerTLS::FailHandshake(const std::string& what, const std::string& reason) {
    ERR_clear_error();
    FreeTLS();
    // No way back to plain text: the socket is closed, so nothing more can be sent on it.
    TIdIOHandlerSocket::ShutdownAndClose();
    throw EIdTLSHandshakeError(kFailed + what, reason);
}

void TIdIOHandlerTLS::Handshake(const std::string& hostName) {
    ERR_clear_error();
    if (hostName.empty()) FailHandshake("kein Servername, gegen den das Zertifikat geprüft werden kann", "");
    // A TLS server waits for the client's hello: bytes already here come from someone else on the path.
    if (TIdIOHandlerSocket::HasUnreadInput()) FailHandshake("vor der Aushandlung sind unerwartete Daten eingetroffen", "");

    context_ = SSL_CTX_new(TLS_client_method());
    if (context_ == nullptr) FailHandshake("TLS kann nicht eingerichtet werden", TakeOpenSSLReason());
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    // Renegotiation would let the server start a new handshake in the middle of the data.
    SSL_CTX_set_options(context_, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(context_) != 1) {
        FailHandshake("die vertrauenswürdigen Zertifikate des Systems können nicht gelesen werden",
                      TakeOpenSSLReason());
    }
    if (!CAFile.empty() && SSL_CTX_load_verify_locations(context_, CAFile.c_str(), nullptr) != 1) {
        FailHandshake("die CA-Datei " + CAFile + " kann nicht gelesen werden", TakeOpenSSLReason());
    }

    ssl_ = SSL_new(context_);
    BIO* bio = ssl_ != nullptr ? BIO_new(SocketBioMethod()) : nullptr;
    if (bio == nullptr) FailHandshake("TLS kann nicht eingerichtet werden", TakeOpenSSLReason());
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(Binding()->Handle())));
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl_, bio, bio);

    // An address is checked against the certificate's IP addresses and sent without SNI (which carries
    // names only); a name is checked by OpenSSL after RFC 6125, wildcards only as a whole left label.
    X509_VERIFY_PARAM* check = SSL_get0_param(ssl_);
    in6_addr ip6{};
    bool named = true;
    if (TIdStack::IsDottedQuad(hostName)) {
        // The connected peer's address is the host's address in its usual spelling (no leading zeros).
        named = false;
        if (X509_VERIFY_PARAM_set1_ip_asc(check, Binding()->PeerIP().c_str()) != 1) named = true;
    } else if (inet_pton(AF_INET6, hostName.c_str(), &ip6) == 1) {
        named = X509_VERIFY_PARAM_set1_ip_asc(check, hostName.c_str()) != 1;
    }
    if (named) {
        X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(ssl_, hostName.c_str()) != 1 || SSL_set_tlsext_host_name(ssl_, hostName.c_str()) != 1) {
            FailHandshake("der Servername " + hostName + " ist nicht verwendbar", TakeOpenSSLReason());
        }
    }
    SSL_set_connect_state(ssl_);

    const Call call = Drive([this] { return SSL_connect(ssl_); }, HandshakeTimeout > 0 ? HandshakeTimeout : WaitForever);
    if (call.timedOut) {
        FailHandshake("Zeitüberschreitung, der Server antwortet nicht", std::to_string(HandshakeTimeout) + " ms");
    }
    if (call.result == 1) return;
    const long verified = SSL_get_verify_result(ssl_);
    if (verified != X509_V_OK) FailHandshake("Zertifikat des Servers ungültig", X509_verify_cert_error_string(verified));
    if (call.error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
        if (call.savedErrno == 0) FailHandshake(kServerClosed, "unexpected eof while reading");
        FailHandshake("die Verbindung ist abgebrochen", SocketReason(call.savedErrno));
    }
    if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        FailHandshake(kServerClosed, TakeOpenSSLReason());
    }
    std::string reason = TakeOpenSSLReason();
    if (reason.empty()) reason = "SSL error " + std::to_string(call.error);
    FailHandshake("Aushandlung der Verschlüsselung gescheitert", reason);
}

// ---------------------------------------------------------------------------------------------------------
// Reading and writing

TIdIOHandlerTLS::Call TIdIOHandlerTLS::Drive(const std::function<int()>& operation, int32_t limitMs) {
    const Deadline deadline(limitMs);
    for (;;) {
        ERR_clear_error();
        errno = 0;
        const int result = operation();
        const int savedErrno = errno;
        if (result > 0) return {result, SSL_ERROR_NONE, 0, false};
        const int error = SSL_get_error(ssl_, result);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) return {result, error, savedErrno, false};
        if (!WaitForSocket(Binding()->Handle(), error, deadline)) return {result, error, savedErrno, true};
    }
}

TIdIOHandlerTLS::Outcome TIdIOHandlerTLS::Failed(const Call& call) {
    if (call.error == SSL_ERROR_ZERO_RETURN) return {0, 0};  // the peer's close_notify
    // Any other failure is fatal for the TLS channel.
    broken_ = true;
    if (call.error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
        if (call.savedErrno == 0) return {0, 0};  // end of input without close_notify
        return {-1, call.savedErrno};
    }
    // A peer that closes without close_notify is closed too: SMTP's replies and the end of the mail
    // data are marked in the data itself, so a cut-off reply is noticed without TLS's help.
    if (ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        ERR_clear_error();
        return {0, 0};
    }
    lastTLSError_ = TakeOpenSSLReason();
    if (lastTLSError_.empty()) lastTLSError_ = "SSL error " + std::to_string(call.error);
    return {-1, ECONNABORTED};
}

bool TIdIOHandlerTLS::WaitReadable(int32_t timeoutMs) {
    if (ssl_ == nullptr) return TIdIOHandlerSocket::WaitReadable(timeoutMs);
    if (!IsOpen()) throw EIdConnClosedGracefully();
    if (readEnded_ || SSL_pending(ssl_) > 0) return true;
    // Readable means that a read returns at once. Bytes on the socket are not enough: they may be half a
    // record, or a record without data (a session ticket), after which a read would block. So OpenSSL is
    // asked to open what has arrived until it holds data, the channel ends, or the time is over.
    char probe = 0;
    const Call call = Drive([&] { return SSL_peek(ssl_, &probe, 1); },
                            timeoutMs == WaitForever ? WaitForever : std::max(timeoutMs, 0));
    if (call.timedOut) return false;
    if (call.result <= 0) EndReading(call);
    return true;
}

void TIdIOHandlerTLS::EndReading(const Call& call) {
    readEnd_ = Failed(call);
    readEnded_ = true;
}

int32_t TIdIOHandlerTLS::ReceiveSome(char* buffer, int32_t size) {
    if (ssl_ == nullptr) return TIdIOHandlerSocket::ReceiveSome(buffer, size);
    if (!IsOpen()) throw EIdClosedSocket();
    if (!readEnded_) {
        // Blocks like recv on a blocking socket; the connection asks WaitReadable first.
        const Call call = Drive([&] { return SSL_read(ssl_, buffer, size); }, WaitForever);
        if (call.result > 0) return call.result;
        EndReading(call);
    }
    errno = readEnd_.error;
    return readEnd_.result;
}

int32_t TIdIOHandlerTLS::SendSome(const char* buffer, int32_t size) {
    if (ssl_ == nullptr) return TIdIOHandlerSocket::SendSome(buffer, size);
    if (!IsOpen()) throw EIdClosedSocket();
    if (size <= 0) return 0;
    if (broken_) {
        errno = ECONNABORTED;
        return -1;
    }
    // Blocks like send on a blocking socket, and like it at most as long as the socket's send time limit
    // (SO_SNDTIMEO) allows. After WANT_WRITE the call is repeated with the same arguments, as OpenSSL
    // requires.
    const Call call = Drive([&] { return SSL_write(ssl_, buffer, size); }, SendTimeLimit());
    if (call.result > 0) return call.result;
    if (call.timedOut) {
        // Part of a record may be out: the channel cannot carry anything more, not even close_notify.
        broken_ = true;
        errno = EAGAIN;
        return -1;
    }
    const Outcome outcome = Failed(call);
    // The peer has closed: "cannot send after shutdown", as for the plain socket.
    errno = outcome.result == 0 ? EPIPE : outcome.error;
    return -1;
}

int32_t TIdIOHandlerTLS::SendTimeLimit() const {
    timeval limit{};
    socklen_t size = sizeof limit;
    if (getsockopt(Binding()->Handle(), SOL_SOCKET, SO_SNDTIMEO, &limit, &size) != 0) return WaitForever;
    const long long ms = static_cast<long long>(limit.tv_sec) * 1000 + limit.tv_usec / 1000;
    if (ms <= 0) return limit.tv_usec > 0 ? 1 : WaitForever;
    return static_cast<int32_t>(std::min<long long>(ms, INT32_MAX));
}

void TIdIOHandlerTLS::ShutdownAndClose() {
    if (ssl_ != nullptr && !broken_ && IsOpen()) {
        // One attempt without waiting: the close_notify goes out unless the socket cannot take it now.
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
    }
    FreeTLS();
    TIdIOHandlerSocket::ShutdownAndClose();
}

bool TIdIOHandlerTLS::HasUnreadInput() {
    if (ssl_ == nullptr || !IsOpen()) return TIdIOHandlerSocket::HasUnreadInput();
    // Records on the socket are data only once OpenSSL has opened them; the end of the channel is not.
    return WaitReadable(0) && !readEnded_;
}
