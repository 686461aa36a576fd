#pragma once
// Where the SMTP session gets the access token for a login with AUTH XOAUTH2. The session never knows
// where tokens come from (a provider's token endpoint, a test); it only asks.

#include <optional>
#include <string>

class TIdAccessTokenSource {
public:
    virtual ~TIdAccessTokenSource() = default;

    // A bearer token to log in with. With `renew` the last token was refused by the mail server, so a
    // new one is fetched even when the last still looked valid. Throws an exception derived from
    // std::runtime_error with a German text (the cause the user sees) when no token can be had.
    virtual std::string AccessToken(bool renew) = 0;

    // Why no token of this source may go to the mail server `host`:`port` (German, naming both servers),
    // or why the stored sign-in does not fit the settings; nothing when a login there may go ahead.
    virtual std::optional<std::string> Refusal(const std::string& /*host*/, int /*port*/) { return std::nullopt; }
    // The same for the IMAP server that takes the copies of the sent mails. A provider's IMAP server
    // has a name of its own beside its SMTP server; a source that knows nothing of it answers as for an
    // SMTP server of that name, which refuses any server but the sign-in's own.
    virtual std::optional<std::string> IMAPRefusal(const std::string& host, int port) { return Refusal(host, port); }
};
