#pragma once
// The IMAP client (RFC 3501) that puts the copy of a sent mail into the account's Sent folder: it
// connects, logs in, finds the folder and appends the message, nothing more. It runs on the same
// connection, TLS adapter and certificate checks as the SMTP client.
//
// The connection is encrypted whenever the server allows it: on port 993 (or with ImplicitTLS) TLS runs
// from the first byte; otherwise a CAPABILITY that offers STARTTLS leads to the upgrade (RFC 2595)
// before anything else, and what the server said in plain text is forgotten. A failed handshake ends the
// session. Without TLS no password or token goes to a server that is not on this machine, unless the
// caller allows it.
//
// Every command gets a tag of its own ("A001", "A002", ...) and is answered when its tagged response
// arrives; the untagged responses before it are read and bounded in number and size. Every wait has a
// time limit.
//
//     TIdIMAP imap;
//     imap.Host = "imap.example.org"; imap.Port = TIdIMAP::kImplicitTLSPort;
//     imap.Username = ...; imap.Password = ...;
//     imap.OpenSession(connectLimitMs);
//     imap.Append(imap.FindSentFolder(""), mailBytes, sentAt);
//     imap.CloseSession();

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/access_token.h"
#include "transport/imap_mailbox_name.h"
#include "transport/imap_reply.h"
#include "transport/loopback_address.h"
#include "transport/tcp_connection.h"

// The server sent more after its OK to STARTTLS, before the handshake: someone on the path injects
// plain text that would otherwise pass for encrypted responses (RFC 2595, 3.1). The session ends.
class EIdIMAPInjectedInput : public EIdException {
public:
    EIdIMAPInjectedInput();
};

// The password or token would go over a connection without TLS to a server that is not on this machine.
// Nothing of the login is sent; the text names the option that allows it.
class EIdIMAPPlainLoginRefused : public EIdException {
public:
    EIdIMAPPlainLoginRefused();
};

// A server elsewhere greets a connection without TLS as logged in already (PREAUTH): no STARTTLS can
// follow, and the copy of the mail would travel in clear. So looks a server whose STARTTLS someone on
// the path has struck, too. The session ends unless AllowPlainLogin.
class EIdIMAPUnprotectedServer : public EIdException {
public:
    EIdIMAPUnprotectedServer();
};

// The login that is configured cannot be done with this server: the reason is the text.
class EIdIMAPLoginUnavailable : public EIdException {
public:
    explicit EIdIMAPLoginUnavailable(const std::string& reason);
};

// The server refused the user name and password.
class EIdIMAPLoginRefused : public EIdException {
public:
    explicit EIdIMAPLoginRefused(const std::string& serverSays);
};

// The server refused the OAuth2 token, also a fresh one: the sign-in must be renewed.
class EIdIMAPTokenRefused : public EIdException {
public:
    explicit EIdIMAPTokenRefused(const std::string& serverSays);
};

// The server ended the session (an untagged BYE where none was asked for, or a BYE greeting).
class EIdIMAPServerClosed : public EIdException {
public:
    explicit EIdIMAPServerClosed(const std::string& serverSays);
};

// A command other than the login and APPEND was answered NO or BAD.
class EIdIMAPCommandRefused : public EIdException {
public:
    EIdIMAPCommandRefused(const std::string& command, const std::string& serverSays);
};

// The configured folder is not among the server's mailboxes.
class EIdIMAPFolderMissing : public EIdException {
public:
    explicit EIdIMAPFolderMissing(const std::string& name);
};

// No folder was configured and the server marks none with \Sent.
class EIdIMAPNoSentFolder : public EIdException {
public:
    EIdIMAPNoSentFolder();
};

// The server did not store the copy (NO or BAD to APPEND), or the copy cannot be sent at all.
class EIdIMAPAppendRefused : public EIdException {
public:
    explicit EIdIMAPAppendRefused(const std::string& serverSays);
};

// The date-time of APPEND (RFC 3501, 9): "08-Dec-2026 04:55:40 +0100", the instant in the time zone of
// the offset. Empty when the year does not have four digits there: the server then takes the time of its
// own arrival, which the date-time is optional for.
std::string FormatIMAPDateTime(std::time_t when, std::chrono::minutes offset);

// One mailbox of a LIST response.
struct TIdIMAPMailbox {
    std::string Name;                     // UTF-8
    std::string WireName;                 // as the server sent it
    std::vector<std::string> Attributes;  // upper case: "\SENT", "\NOSELECT", ...

    bool Has(std::string_view attribute) const;
};

class TIdIMAP : public TIdTCPClient {
public:
    static constexpr int kDefaultPort = 143;
    // IMAP with TLS from the first byte (RFC 8314).
    static constexpr int kImplicitTLSPort = 993;
    // A server that stops answering must not hold the program for ever: every command's responses are
    // awaited at most this long, the answer to the end of an APPEND longer, since the server may check
    // and store the whole message first. Exceeding either raises EIdReadTimeout.
    static constexpr int32_t kReplyTimeLimitMs = 5 * 60 * 1000;
    static constexpr int32_t kAppendEndTimeLimitMs = 10 * 60 * 1000;
    // How long CloseSession waits for the answer to LOGOUT: the copy is stored by then, so only
    // politeness is at stake.
    static constexpr int32_t kLogoutTimeLimitMs = 2000;
    // The most untagged responses one command may get, and the most bytes they may have together, so that
    // a server sending endless responses cannot eat all the memory. A LIST of a real account has a few
    // hundred mailboxes, a very large one some thousands.
    static constexpr std::size_t kMaxUntaggedResponses = 100000;
    static constexpr std::size_t kMaxUntaggedBytes = 64 * 1024 * 1024;
    // Literals up to this size may go without waiting for the server where it offers LITERAL- (RFC 7888).
    static constexpr std::size_t kLiteralMinusLimit = 4096;

    TIdIMAP();

    std::string Username;
    std::string Password;
    // Limits of the waits for responses, in ms; 0: no limit. ReplyTimeLimit also bounds each wait of a
    // send for the server to take more data; it applies from the next OpenSession on.
    int32_t ReplyTimeLimit = kReplyTimeLimitMs;
    int32_t AppendEndTimeLimit = kAppendEndTimeLimitMs;
    // TLS from the first byte also on another port than 993.
    bool ImplicitTLS = false;
    // A PEM file of CA certificates trusted besides the system's trust store; empty: the store alone.
    std::string CAFile;
    // The login goes only through TLS, unless the server is on this machine or this is set. A server
    // that offers STARTTLS is upgraded either way.
    bool AllowPlainLogin = false;
    // When set, the login is AUTHENTICATE XOAUTH2 with tokens from here instead of the password; not owned.
    TIdAccessTokenSource* AccessTokens = nullptr;
    // Tells whether the numeric peer address of the connection is on this machine; tests put in
    // their own answer.
    std::function<bool(const std::string& peerIP)> PeerIsLocal = IsLoopbackAddress;

    // Connects, reads the greeting (a PREAUTH greeting counts as logged in, a BYE greeting raises
    // EIdIMAPServerClosed), learns the capabilities and upgrades to TLS where offered. Any error after
    // the connect closes the session and is raised again.
    void OpenSession(int32_t connectTimeoutMs);
    // LOGIN, AUTHENTICATE PLAIN where LOGIN is disabled, or AUTHENTICATE XOAUTH2 with AccessTokens; does
    // nothing when logged in already. Over a connection without TLS to another machine it raises
    // EIdIMAPPlainLoginRefused instead, unless AllowPlainLogin.
    void Login();
    // The mailbox the copy goes to, in UTF-8. An empty name asks for the one the server marks \Sent
    // (RFC 6154); a name must be among the mailboxes LIST shows (INBOX in any case). Logs in first when
    // needed. Raises EIdIMAPNoSentFolder or EIdIMAPFolderMissing.
    std::string FindSentFolder(const std::string& configuredName);
    // Stores the message (its exact bytes, CR LF lines) in the mailbox, flagged \Seen, with the time it
    // was sent; returns when the server has confirmed it. Logs in first when needed. A refusal raises
    // EIdIMAPAppendRefused; the session stays usable.
    void Append(const std::string& mailboxUtf8, std::string_view message, std::time_t sentAt);
    // One message to append and the time it was sent.
    struct AppendedMessage {
        std::string_view message;
        std::time_t sentAt = 0;
    };
    // The same for several messages in one command (MULTIAPPEND, RFC 3502), which the server stores all
    // or none of: one answer for all of them instead of one wait for each. Only where the server offers
    // MULTIAPPEND, unless there is just one message.
    void Append(const std::string& mailboxUtf8, const std::vector<AppendedMessage>& messages);
    void Noop();
    // LOGOUT when connected, a short wait for its answer, then the connection is closed. Never raises.
    void CloseSession();

    bool Encrypted() const;
    bool LoggedIn() const { return loggedIn_; }
    // Whether the last Append got as far as writing the whole message: a failure after that point may
    // come after the server stored it.
    bool AppendDataSent() const { return appendDataSent_; }
    // The capabilities the server named last (through TLS, where there is TLS), in upper case.
    const std::vector<std::string>& Capabilities() const { return capabilities_; }
    bool HasCapability(std::string_view name) const;
    // The mailboxes of the last FindSentFolder.
    const std::vector<TIdIMAPMailbox>& Mailboxes() const { return mailboxes_; }

private:
    using Clock = std::chrono::steady_clock;

    // One command on its way: its tag and what its untagged responses have used of their bounds.
    struct Exchange {
        explicit Exchange(std::string command) : name(std::move(command)) {}
        std::string name;  // the command's name, for errors
        std::string tag;
        bool byeExpected = false;
        std::size_t untagged = 0;
        std::size_t untaggedBytes = 0;
        // Data responses the command asked for (LIST); others are read and dropped.
        std::function<void(const TIdIMAPResponse&)> onData;
    };
    // A command's text with the literals it carries: texts[i] comes before literals[i], the last text
    // after the last literal.
    struct CommandText {
        std::vector<std::string> texts{std::string()};
        std::vector<std::string_view> literals;

        CommandText& operator<<(std::string_view text);
        // A string argument as a quoted string, or as a literal when a quoted string cannot carry it.
        void AddString(std::string_view text);
    };

    std::string NextTag();
    // Sends the command and returns its tagged response; each synchronising literal waits for the
    // server's go-ahead, and a tagged response instead ends the command there. What follows the last
    // literal is awaited at most finalLimitMs.
    TIdIMAPResponse Run(Exchange& exchange, const CommandText& command, int32_t finalLimitMs,
                        bool continuationAllowed = false);
    TIdIMAPResponse Run(Exchange& exchange, const std::string& command, bool continuationAllowed = false);
    // The command's responses up to its tagged one (or a continuation, where one may come).
    TIdIMAPResponse Await(Exchange& exchange, int32_t limitMs, bool continuationAllowed);
    void TakeUntagged(Exchange& exchange, const TIdIMAPResponse& response);
    // The next response, whatever it is, read by the deadline.
    TIdIMAPResponse ReadResponse(std::optional<Clock::time_point> deadline);
    // Ends a connection that is out of step after a failure; nothing more is said on it.
    void Abandon();
    // Raises EIdIMAPCommandRefused unless the response is OK.
    static void RequireOK(const TIdIMAPResponse& response, const std::string& command);

    void ReadGreeting();
    void Capability();
    void TakeCapabilityCode(const TIdIMAPResponse& response);
    void UpgradeToTLS();
    // The login would travel without TLS to another machine and is not allowed to.
    bool PlainLoginRefused() const;
    void LoginWithPassword();
    void LoginWithTokens();
    // AUTHENTICATE with the initial response (inline with SASL-IR, else after the first "+"). A further
    // "+" after it is answered with an empty response where `challenge` is given (XOAUTH2's failure,
    // whose decoded text goes there), else the exchange is cancelled with "*".
    TIdIMAPResponse Authenticate(const std::string& mechanism, const std::string& initialResponse,
                                 std::string* challenge);
    bool NonSynchronizingLiteral(std::size_t size) const;
    std::vector<TIdIMAPMailbox> List(bool specialUseOnly);
    std::string WireName(const std::string& mailboxUtf8) const;
    // Gives a closed connection a TLS adapter with the session's settings.
    void PrepareTLS();

    TIdIMAPReplyReader reader_;
    unsigned tagCount_ = 0;
    bool loggedIn_ = false;
    bool appendDataSent_ = false;
    // Whether the last command was written to its end (with all its literals).
    bool commandWritten_ = false;
    // Whether capabilities_ holds what the server named in the current state; false after the STARTTLS
    // upgrade and the login, whose new capabilities are asked for unless the server told them unasked.
    bool capabilitiesKnown_ = false;
    std::vector<std::string> capabilities_;
    std::vector<TIdIMAPMailbox> mailboxes_;
};
