#pragma once
// The SMTP client: greets the server (EHLO, else HELO), logs in with AUTH LOGIN once per connection
// when asked to and offered, and sends one mail transaction per SendMail. The message text between DATA
// and the final "." comes from the MIME writer it derives from.
//
// The connection is encrypted whenever the server allows it: on port 465 (or with ImplicitTLS) TLS runs
// from the first byte (RFC 8314); on any other port an EHLO reply that offers STARTTLS leads to the
// upgrade (RFC 3207) before anything else is sent, and the session starts afresh with a new EHLO. A
// failed handshake ends the session; nothing falls back to plain text. A server that offers no STARTTLS
// gets the plain session, but no login over it unless the server is on this machine or the caller
// allows it.
//
// A server whose EHLO reply (the one through TLS, where there is TLS) offers PIPELINING (RFC 2920) gets
// each mail's RSET, MAIL FROM, RCPT TO lines and DATA in one write, and their replies are read and
// checked in order afterwards: two waits for the server a mail instead of one for every command, and one
// where the caller names the next mail, whose group then follows the "." of this one. Without the
// keyword every command waits for its reply, as before.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "transport/access_token.h"
#include "transport/loopback_address.h"
#include "transport/message.h"
#include "transport/message_client.h"
#include "transport/tls_io_handler.h"

// The server sent more after its "220" to STARTTLS, before the handshake: someone on the path injects
// plain text that would otherwise pass for encrypted replies (RFC 3207, 6). The session ends.
class EIdSMTPInjectedInput : public EIdException {
public:
    EIdSMTPInjectedInput();
};

// The password would go over a connection without TLS to a server that is not on this machine: the
// server offers no STARTTLS (or someone on the path removed it from the plain EHLO reply). Nothing of
// the login is sent; the text names the option that allows it.
class EIdSMTPPlainLoginRefused : public EIdException {
public:
    EIdSMTPPlainLoginRefused();
};

// A login is configured, but a server elsewhere offers neither TLS nor a login: no mail goes to it in
// clear, unless AllowPlainLogin.
class EIdSMTPUnprotectedServer : public EIdException {
public:
    EIdSMTPUnprotectedServer();
};


// atXOAuth2: AUTH XOAUTH2 with a bearer token from AccessTokens, for providers that take no passwords.
enum TAuthenticationType { atNone, atLogin, atXOAuth2 };

// An OAuth2 login without a source of tokens: the user has not signed in.
class EIdSMTPNotSignedIn : public EIdException {
public:
    EIdSMTPNotSignedIn();
};

// The server refused the OAuth2 token, also a fresh one: the sign-in must be renewed.
class EIdSMTPTokenRefused : public EIdException {
public:
    explicit EIdSMTPTokenRefused(const std::string& serverSays);
};

class TIdSMTP : public TIdMessageClient {
public:
    static constexpr int kDefaultPort = 25;
    // The submission port with TLS from the first byte.
    static constexpr int kImplicitTLSPort = 465;
    // A server that stops answering must not hold the program for ever: every reply is awaited at most
    // this long, the reply to the final "." longer, since the server may check the whole message
    // first (RFC 5321, 4.5.3.2). Exceeding either raises EIdReadTimeout.
    static constexpr int32_t kReplyTimeLimitMs = 5 * 60 * 1000;
    static constexpr int32_t kDataEndTimeLimitMs = 10 * 60 * 1000;
    // The time limit of the connect that the program uses.
    static constexpr int32_t kConnectTimeLimitMs = 1000;

    TIdSMTP();

    std::string Username;
    std::string Password;
    std::string HeloName;   // empty: the computer's host name
    std::string MailAgent;  // "X-Mailer" value; empty: no such header
    // Limits of the waits for replies, in ms; 0: no limit. ReplyTimeLimit also bounds each wait of a
    // send for the server to take more data; it applies from the next OpenSession on.
    int32_t ReplyTimeLimit = kReplyTimeLimitMs;
    int32_t DataEndTimeLimit = kDataEndTimeLimitMs;
    // TLS from the first byte also on another port than 465.
    bool ImplicitTLS = false;
    // A PEM file of CA certificates trusted besides the system's trust store; empty: the store alone.
    std::string CAFile;
    // The login goes only through TLS, unless the server is on this machine or this is set. A server
    // that offers STARTTLS is upgraded either way.
    bool AllowPlainLogin = false;
    // Where the tokens for atXOAuth2 come from; not owned.
    TIdAccessTokenSource* AccessTokens = nullptr;
    // Tells whether the numeric peer address of the connection is on this machine; tests put in
    // their own answer.
    std::function<bool(const std::string& peerIP)> PeerIsLocal = IsLoopbackAddress;
    // When set, SendMail keeps here the message as the recipient gets it, for a copy in the Sent folder:
    // the bytes written between DATA's 354 and the final ".", with the dot-stuffing undone (header,
    // empty line, body, every line ending in CR LF). Emptied when SendMail starts and left empty unless
    // the whole message was written. Not owned.
    std::string* MessageCapture = nullptr;

    // atLogin and atXOAuth2 also switch EHLO on; switching EHLO off also sets atNone.
    TAuthenticationType AuthenticationType() const { return authenticationType_; }
    void SetAuthenticationType(TAuthenticationType type);
    bool UseEhlo() const { return useEhlo_; }
    void SetUseEhlo(bool useEhlo);

    // The upper-case words of the AUTH lines of the last EHLO reply, each once.
    const std::vector<std::string>& SupportedAuthSchemes() const { return supportedAuthSchemes_; }
    bool LoggedIn() const { return loggedIn_; }
    // Whether the last SendMail got as far as writing the final "." of its message: a failure after that
    // point may come after the server took the mail.
    bool DataEndSent() const { return dataEndSent_; }
    // Whether the current connection is encrypted.
    bool Encrypted() const;
    // Whether the server offered PIPELINING in the EHLO reply that counts, so that SendMail sends each
    // mail's commands up to DATA as one group.
    bool Pipelining() const { return pipelining_; }

    // Connects, reads the greeting (220) and greets with EHLO or HELO. Any error after the connect
    // closes the session and is raised again.
    virtual void OpenSession(int32_t timeoutMs);
    // "QUIT" without waiting for a reply when connected, then the connection is closed.
    virtual void CloseSession();
    virtual bool SupportsAuthType(TAuthenticationType type);
    // AUTH LOGIN with the base64 user name and password. Over a connection without TLS to another
    // machine it raises EIdSMTPPlainLoginRefused instead, unless AllowPlainLogin.
    virtual bool Login();
    // One mail transaction: RSET, login when needed, MAIL FROM, RCPT TO for To, Cc and Bcc, DATA, the
    // message, ".". Catches nothing. With PIPELINING the commands up to DATA go out together; a refusal
    // among them raises the first refusal in their order, as it would have without, once the replies of
    // the group are read and the transaction is left (see AbandonRefusedGroup).
    virtual void SendMail(TIdMessage& message);
    // The same, and with PIPELINING the RSET, MAIL FROM, RCPT TO lines and DATA of `next` go out right
    // behind this mail's "." (RFC 2920 lets a message start a group), so that the next mail costs one
    // wait for the server instead of two. `next` is the mail the caller sends next on this connection,
    // right away: a SendMail for another envelope closes the connection and raises EIdNotConnected, and a
    // CloseSession says no QUIT (the server may be waiting for that mail's data; with the connection
    // gone before its "." it delivers nothing).
    void SendMail(TIdMessage& message, const TIdMessage* next);

    int32_t FillInputBuffer(bool raiseIfDisconnected, int32_t timeoutMs, bool raiseOnTimeout) override;

private:
    // Writes the line and reads one reply, awaited at most limitMs (0: no limit).
    int16_t Command(const std::string& line, const std::vector<int16_t>& expected, int32_t limitMs);
    // A 421 raises whatever was expected: the server is closing the connection (RFC 5321, 3.8).
    int16_t ReadReplyWithin(const std::vector<int16_t>& expected, int32_t limitMs);
    // The MAIL FROM and RCPT TO lines of the message, and DATA, with the codes each must be answered by.
    struct EnvelopeCommand {
        std::string line;
        std::vector<int16_t> expected;
        bool recipient;
        bool operator==(const EnvelopeCommand& other) const { return line == other.line; }
    };
    static std::vector<EnvelopeCommand> Envelope(const TIdMessage& message);
    static bool HasLineBreak(const std::vector<EnvelopeCommand>& commands);
    // The commands written together, RSET first unless it went out before a login.
    void WriteEnvelopeGroup(const std::vector<EnvelopeCommand>& commands, bool withReset);
    // Their replies, read and checked in order; the first refusal among them is raised.
    void ReadEnvelopeReplies(const std::vector<EnvelopeCommand>& commands, bool withReset);
    // A login is asked for, offered, and not yet done on this connection.
    bool LoginNeeded();
    // Writes the group of the next mail behind the "." when no login must come first.
    void SendAhead(const TIdMessage& next);
    // Leaves a transaction whose group had a refusal: a DATA the server took anyway is ended.
    void AbandonRefusedGroup(bool recipientAccepted);
    void CollectAuthSchemes();
    // Whether a line of the last reply starts with the keyword (as a whole word, in any case).
    bool OffersKeyword(const char* keyword) const;
    bool OffersStartTLS() const;
    // The login would travel without TLS to another machine and is not allowed to.
    bool PlainLoginRefused() const;
    // AUTH XOAUTH2 with a token; false when the server refused it (its reason in `serverSays`).
    bool LoginWithToken(const std::string& token, std::string& serverSays);
    // STARTTLS, the handshake and the new EHLO; what the plain EHLO reply told is forgotten.
    void UpgradeToTLS(const std::string& heloName);
    // Gives a closed connection a TLS adapter with the session's settings.
    void PrepareTLS();
    // WriteMessage, with the bytes it writes kept in MessageCapture when that is set.
    void WriteCapturedMessage(TIdMessage& message);

    TAuthenticationType authenticationType_ = atNone;
    bool useEhlo_ = true;
    bool loggedIn_ = false;
    bool dataEndSent_ = false;
    bool pipelining_ = false;
    // The group written behind the last "." whose replies are still to be read.
    std::vector<EnvelopeCommand> groupSentAhead_;
    std::vector<std::string> supportedAuthSchemes_;
    std::optional<std::chrono::steady_clock::time_point> replyDeadline_;
};
