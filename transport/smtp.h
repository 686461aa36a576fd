#pragma once
// The SMTP client: greets the server (EHLO, else HELO), logs in with AUTH LOGIN once per connection
// when asked to and offered, and sends one mail transaction per SendMail over plain TCP. The message
// text between DATA and the final "." comes from the MIME writer it derives from.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transport/message.h"
#include "transport/message_client.h"

enum TAuthenticationType { atNone, atLogin };

class TIdSMTP : public TIdMessageClient {
public:
    static constexpr int kDefaultPort = 25;
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

    // atLogin also switches EHLO on; switching EHLO off also sets atNone.
    TAuthenticationType AuthenticationType() const { return authenticationType_; }
    void SetAuthenticationType(TAuthenticationType type);
    bool UseEhlo() const { return useEhlo_; }
    void SetUseEhlo(bool useEhlo);

    // The upper-case words of the AUTH lines of the last EHLO reply, each once.
    const std::vector<std::string>& SupportedAuthSchemes() const { return supportedAuthSchemes_; }
    bool LoggedIn() const { return loggedIn_; }

    // Connects, reads the greeting (220) and greets with EHLO or HELO. Any error after the connect
    // closes the session and is raised again.
    virtual void OpenSession(int32_t timeoutMs);
    // "QUIT" without waiting for a reply when connected, then the connection is closed.
    virtual void CloseSession();
    virtual bool SupportsAuthType(TAuthenticationType type);
    // AUTH LOGIN with the base64 user name and password.
    virtual bool Login();
    // One mail transaction: RSET, login when needed, MAIL FROM, RCPT TO for To, Cc and Bcc, DATA, the
    // message, ".". Catches nothing.
    virtual void SendMail(TIdMessage& message);

    int32_t FillInputBuffer(bool raiseIfDisconnected, int32_t timeoutMs, bool raiseOnTimeout) override;

private:
    // Writes the line and reads one reply, awaited at most limitMs (0: no limit).
    int16_t Command(const std::string& line, const std::vector<int16_t>& expected, int32_t limitMs);
    int16_t ReadReplyWithin(const std::vector<int16_t>& expected, int32_t limitMs);
    // A server that stops reading must not hold a send for ever either: a send call that cannot hand
    // over a single byte within ReplyTimeLimit fails with a socket error.
    void LimitSendWaits();
    void CollectAuthSchemes();

    TAuthenticationType authenticationType_ = atNone;
    bool useEhlo_ = true;
    bool loggedIn_ = false;
    std::vector<std::string> supportedAuthSchemes_;
    std::optional<std::chrono::steady_clock::time_point> replyDeadline_;
};
