#pragma once
// Errors of the socket layer and the table that turns a socket error code into its German text.
//
// The codes are those of Windows Sockets (10061 for a refused connection, 11001 for an unknown host, ...):
// the messages the user may see are written in those terms, so errno values and name lookup results are
// mapped onto them first.

#include "transport/id_exception.h"

#include <string>

// "Socket-Fehler # <code>\r\n<description>"; carries the code.
class EIdSocketError : public EIdException {
public:
    explicit EIdSocketError(int code);
    int Code() const { return code_; }

private:
    int code_;
};

class EIdInvalidSocket : public EIdException {
public:
    EIdInvalidSocket();
};

class EIdCouldNotBindSocket : public EIdException {
public:
    EIdCouldNotBindSocket();
};

class EIdConnectTimeout : public EIdException {
public:
    EIdConnectTimeout();
};

// A connect that failed inside the connect worker; the text is the one the worker stored.
class EIdConnectException : public EIdException {
public:
    explicit EIdConnectException(const std::string& message);
};

class EIdConnClosedGracefully : public EIdException {
public:
    EIdConnClosedGracefully();
};

class EIdClosedSocket : public EIdException {
public:
    EIdClosedSocket();
};

// Socket error codes in the Windows Sockets numbering that the messages use.
namespace socket_code {
inline constexpr int kInterrupted = 10004;
inline constexpr int kBadFile = 10009;
inline constexpr int kNotSocket = 10038;
inline constexpr int kAddressInUse = 10048;
inline constexpr int kConnectionAborted = 10053;
inline constexpr int kConnectionReset = 10054;
inline constexpr int kShutDown = 10058;
inline constexpr int kTimedOut = 10060;
inline constexpr int kConnectionRefused = 10061;
inline constexpr int kHostNotFound = 11001;
inline constexpr int kTryAgain = 11002;
inline constexpr int kNoRecovery = 11003;
inline constexpr int kNoData = 11004;
}  // namespace socket_code

// The description of a socket error code; empty for a code the table does not list.
std::string SocketErrorDescription(int code);
// The full message of EIdSocketError for a code.
std::string SocketErrorText(int code);

// An errno value as a socket error code. Values without a counterpart keep their own number, which
// then has no description.
int SocketCodeFromErrno(int error);
// A getaddrinfo result (EAI_...) as a socket error code; EAI_SYSTEM uses the errno value given.
int SocketCodeFromLookupResult(int result, int error);
