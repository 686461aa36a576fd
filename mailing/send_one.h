#pragma once
// Sending the one mail that the main window's fields describe: the translation from field texts to what the
// mail transport needs, and the one error message a failed send shows.

#include "mailing/html_text.h"
#include "mailing/mail_pictures.h"
#include "mailing/send_options.h"
#include "mailing/settings_text.h"

#include "transport/access_token.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// A text that is not a whole number: "'%s' ist kein gültiger Integerwert".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Converts a port text like the classic StrToInt: leading blanks skipped, an optional sign, decimal digits
// or hexadecimal after "$" or "0x"; anything else (a trailing blank too) throws EConvertError.
int ConvertPort(const std::string& text);
// The same, 0 for a text that is no whole number (for checks before the send, which reports the port).
int PortOrZero(const std::string& text);

// One mail as the transport receives it: the account and the message, all texts trimmed already.
struct OutgoingMail {
    std::string host;
    int port = 25;
    std::string username;  // the sender mail address is the login name
    std::string password;  // empty: no login
    bool allowPlainLogin = false;  // the password may go without TLS to a server elsewhere
    // With an OAuth2 method the login is AUTH XOAUTH2 with a token from accessTokens, not the password.
    SignInMethod signIn = SignInMethod::Password;
    std::shared_ptr<TIdAccessTokenSource> accessTokens;
    std::string from;      // parsed as one address
    std::string recipients;  // address list text
    std::string cc;          // address list text, may be empty
    std::string subject;
    std::vector<std::string> bodyLines;
    // An HTML mail: its HTML, text part and pictures; bodyLines is then empty. Nothing: a plain mail.
    std::shared_ptr<const HtmlMail> html;
    std::string attachmentPath;  // an existing file, or empty
    int mailNumber = 0;          // the line's position in the list during a run, else 0
};

// Why a mail did not go out, as far as the transport can tell.
enum class SendFailure {
    None,
    Permanent,  // refused for good (a 5xx reply, a failed connect, a refused login): do not try again
    Temporary,  // a 4xx reply, or the connection lost before the mail's end was sent: try again later
    InDoubt,    // the connection lost, or no reply in time, after the mail's end was sent: it may have
                // arrived, so it must not be sent again by itself
};

// The mail transport behind the sends: one connection that stays open from one mail to the next.
class MailTransport {
public:
    virtual ~MailTransport() = default;
    virtual bool IsConnected() = 0;
    // Sends one mail, connecting first when needed. An address text that cannot be parsed throws before
    // anything is sent. A failure of the connection, the server or the login returns false, with the
    // connection closed. The message is emptied after every attempt.
    virtual bool Transmit(const OutgoingMail& mail) = 0;
    // The mail the caller will hand to the next Transmit right after the coming one, with nothing in
    // between (no wait): a transport that can, sends that mail's envelope ahead behind the coming mail's
    // end (SMTP with PIPELINING), so that it costs one wait for the server less. Good for the coming
    // Transmit only; nothing: no such mail known.
    virtual void AnnounceNext(const std::optional<OutgoingMail>& /*next*/) {}
    virtual void CloseSession() = 0;
    // Why the last Transmit returned false, in the words of the failure (for the log of the command
    // line); empty when nothing failed or the transport cannot tell.
    virtual std::string LastErrorText() const { return {}; }
    // What kind of failure the last false Transmit was.
    virtual SendFailure LastFailure() const { return SendFailure::Permanent; }
    // Keeps the bytes of every mail the server accepts, as the recipient gets them (no Bcc), for its copy
    // in the Sent folder. Off by default: it costs a copy of every mail.
    virtual void KeepSentMessages(bool /*keep*/) {}
    // The bytes of the mail that the last Transmit sent, handed over once; empty when none were kept.
    virtual std::string TakeSentMessage() { return {}; }
};

// The window's fields as they are at the moment of sending, untrimmed.
struct MailFields {
    AccountSettings account;
    SendOptions options;
    std::shared_ptr<TIdAccessTokenSource> accessTokens;  // for the OAuth2 methods
    std::string recipients;
    std::string cc;
    std::string subject;
    std::string attachment;
    std::string body;  // the whole message text; CR LF, CR and LF all end a line
    // How the body is to be read: a plain text, HTML, or Markdown that becomes HTML. Pictures of the
    // HTML are found relative to textFolder (the text file's folder, with a trailing "/").
    TextKind textKind = TextKind::Plain;
    std::string textFolder;
    int mailNumber = 0;
};

// The kind of the body and the folder of its pictures, by the file the text came from (empty: none, a
// plain text).
void SetTextFile(MailFields& fields, const std::string& textFile);

// What the send shows.
class SendFrontEnd {
public:
    virtual ~SendFrontEnd() = default;
    // "Fehler beim Mailversand. Bitte prüfen Sie Ihre Firewalleinstellungen und die Internetverbindung!",
    // and below it `details`: whom the mail was for and what the server said (empty: nothing known).
    virtual void ShowSendError(const std::string& details) = 0;
    // The online picture instead of the offline one.
    virtual void ShowConnected() = 0;
};

inline constexpr const char* kSendErrorText =
    "Fehler beim Mailversand. Bitte prüfen Sie Ihre Firewalleinstellungen und die Internetverbindung!";

// Why the sign-in's tokens must not go to the account's server (another provider, client or server than
// the sign-in was made for); nothing when they may, or when there are no tokens (a password account).
std::optional<std::string> SignInRefusal(const AccountSettings& account, TIdAccessTokenSource* tokens);

// What the error box adds below its sentence: the line (0: none), the address and the server's reply.
std::string SendErrorDetails(int lineNumber, const std::string& address, const std::string& reply);

// Sends the mail the fields describe without showing anything: what the mailing run uses, which reports
// failures itself. False for an empty recipient (nothing sent) or a failed send. Errors in the port text
// or in an address text leave as exceptions.
bool TrySendMessage(const MailFields& fields, MailTransport& transport);

// Builds the mail from the fields; throws EConvertError for a port that is not a whole number.
OutgoingMail TransmitMessageFields(const MailFields& fields, const std::string& recipients, const std::string& cc,
                                   const std::string& subject);

// Sends the mail the fields describe. Returns true when it went out (the caller's SendFailed is the
// opposite). An empty recipient sends nothing and shows nothing. Errors in the port text or in an address
// text leave as exceptions; a failed send shows the one error message and returns false.
bool SendOneMessage(const MailFields& fields, MailTransport& transport, SendFrontEnd& frontEnd);
