#include "transport/socket_errors.h"

#include <cerrno>
#include <cstdio>
#include <netdb.h>
#include <utility>

namespace {

struct CodeText {
    int code;
    const char* text;
};

// The descriptions shown after "Socket-Fehler # <code>"; codes missing here show an empty description.
constexpr CodeText kDescriptions[] = {
    {10004, "Unterbrochener Systemaufruf."},
    {10009, "Falsche Dateinummer."},
    {10013, "Zugriff verweigert."},
    {10014, "Falsche Adresse."},
    {10022, "Ungültiges Argument."},
    {10024, "Zu viele geöffnete Dateien."},
    {10035, "Die Operation würde blockieren. "},
    {10036, "Die Operation wird gerade durchgeführt."},
    {10037, "Die Operation wird bereits durchgeführt."},
    {10038, "Socket-Operation auf Nicht-Socket."},
    {10039, "Zieladresse erforderlich."},
    {10040, "Die Botschaft ist zu lang."},
    {10041, "Das Protokoll hat für Socket den falschen Typ."},
    {10042, "Falsche Protokolloption."},
    {10043, "Das Protokoll wird nicht unterstützt."},
    {10044, "Sockettyp wird nicht unterstützt."},
    {10045, "Die Operation wird bei Socket nicht unterstützt."},
    {10046, "Die Protokollfamilie wird nicht unterstützt."},
    {10047, "Die Adressfamilie wird von der Protokollfamilie nicht unterstützt."},
    {10048, "Die Adresse ist bereits in Gebrauch."},
    {10049, "Die angeforderte Adresse kann nicht zugewiesen werden."},
    {10050, "Das Netzwerk ist ausgefallen."},
    {10051, "Das Netzwerk ist nicht erreichbar."},
    {10052, "Netz hat die Verbindung verloren oder zurückgesetzt."},
    {10053, "Die Software hat den Abbruch der Verbindung verursacht."},
    {10054, "Die Verbindung wurde von Peer zurückgesetzt."},
    {10055, "Es ist kein Pufferplatz verfügbar."},
    {10056, "Socket ist bereits verbunden."},
    {10057, "Socket ist nicht verbunden."},
    {10058, "Nach Schließen des Socket kann weder gesendet noch empfangen werden."},
    {10059, "Zu viele Referenzen; keine Verbindungen möglich."},
    {10060, "Zeitüberschreitung bei Verbindung."},
    {10061, "Verbindung abgelehnt."},
    {10062, "Zu viele Ebenen von symbolischen Links."},
    {10063, "Dateiname ist zu lang."},
    {10064, "Der Host ist ausgefallen."},
    {10065, "Keine Route zum Host."},
    {10066, "Verzeichnis ist nicht leer"},
    {11001, "Host nicht gefunden."},
};

// errno values and the socket error codes that mean the same. EPIPE is what Linux reports for a send
// after the sending side was shut down or the connection was torn down: "cannot send after shutdown".
constexpr std::pair<int, int> kErrnoCodes[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},        {EFAULT, 10014},
    {EINVAL, 10022},       {EMFILE, 10024},          {EWOULDBLOCK, 10035},   {EINPROGRESS, 10036},
    {EALREADY, 10037},     {ENOTSOCK, 10038},        {EDESTADDRREQ, 10039},  {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},     {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},  {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},      {ENETUNREACH, 10051},
    {ENETRESET, 10052},    {ECONNABORTED, 10053},    {ECONNRESET, 10054},    {ENOBUFS, 10055},
    {EISCONN, 10056},      {ENOTCONN, 10057},        {ESHUTDOWN, 10058},     {EPIPE, 10058},
    {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061},  {ELOOP, 10062},
    {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065},  {ENOTEMPTY, 10066},
};

}  // namespace

std::string SocketErrorDescription(int code) {
    for (const auto& entry : kDescriptions) {
        if (entry.code == code) return entry.text;
    }
    return {};
}

std::string SocketErrorText(int code) {
    return "Socket-Fehler # " + std::to_string(code) + "\r\n" + SocketErrorDescription(code);
}

int SocketCodeFromErrno(int error) {
    for (const auto& [errnoValue, code] : kErrnoCodes) {
        if (errnoValue == error) return code;
    }
    return error;
}

int SocketCodeFromLookupResult(int result, int error) {
    switch (result) {
    case EAI_NONAME:
        return socket_code::kHostNotFound;
    case EAI_AGAIN:
        return socket_code::kTryAgain;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return socket_code::kNoData;
    case EAI_MEMORY:
        return 10055;
    case EAI_SYSTEM:
        return SocketCodeFromErrno(error);
    default:
        return socket_code::kNoRecovery;
    }
}

EIdSocketError::EIdSocketError(int code) : EIdException(SocketErrorText(code)), code_(code) {}

EIdInvalidSocket::EIdInvalidSocket() : EIdException("Socket kann nicht zugewiesen werden.") {}

EIdCouldNotBindSocket::EIdCouldNotBindSocket()
    : EIdException("Socket konnte nicht gebunden werden. Adresse und Port werden bereits benutzt.") {}

EIdConnectTimeout::EIdConnectTimeout() : EIdException("Zeitüberschreitung der Verbindung.") {}

EIdConnectException::EIdConnectException(const std::string& message) : EIdException(message) {}

EIdConnClosedGracefully::EIdConnClosedGracefully()
    : EIdException("Die Verbindung wurde erfolgreich geschlossen.") {}

EIdClosedSocket::EIdClosedSocket() : EIdException("Verbindung aufgehoben.") {}
