#include "transport/smtp.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <exception>

#include "transport/byte_text.h"
#include "transport/encoders.h"

namespace {

const std::vector<int16_t> kAnyCode{};

// "Service not available, closing transmission channel": the server ends the connection after it.
constexpr int16_t kServiceClosing = 421;

// Removes the "." that was put before every line starting with one, as the server does (RFC 5321, 4.5.2).
void UndoDotStuffing(std::string& text) {
    std::size_t out = 0;
    bool lineStart = true;
    for (const char c : text) {
        if (lineStart && c == '.') {
            lineStart = false;
            continue;
        }
        lineStart = c == '\n';
        text[out++] = c;
    }
    text.resize(out);
}

}  // namespace

EIdSMTPInjectedInput::EIdSMTPInjectedInput()
    : EIdException("Unverschlüsselte Daten nach STARTTLS: jemand schiebt der Verbindung Antworten unter. "
                   "Die Verbindung wird beendet.") {}

EIdSMTPPlainLoginRefused::EIdSMTPPlainLoginRefused()
    : EIdException("Der Server bietet keine verschlüsselte Verbindung (STARTTLS) an. Das Passwort wird nicht "
                   "unverschlüsselt gesendet. Nur wenn Sie dem Netz bis zum Server vertrauen: in den "
                   "Versandoptionen \"Anmeldung ohne Verschlüsselung erlauben\" einschalten "
                   "(postira-run: --allow-plain-login).") {}

EIdSMTPUnprotectedServer::EIdSMTPUnprotectedServer()
    : EIdException("Der Server bietet weder Verschlüsselung (STARTTLS) noch Anmeldung an: so sieht auch ein Server "
                   "aus, dem jemand auf dem Weg beides gestrichen hat. Ohne die Versandoption \"Anmeldung ohne "
                   "Verschlüsselung erlauben\" (postira-run: --allow-plain-login) geht keine Mail unverschlüsselt "
                   "hinaus; nur einschalten, wenn Sie dem Netz bis zum Server vertrauen.") {}

EIdSMTPNotSignedIn::EIdSMTPNotSignedIn()
    : EIdException("Nicht mit OAuth2 angemeldet. Bitte in den Versandoptionen \"Anmelden\" wählen "
                   "(postira-run: --sign-in).") {}

EIdSMTPTokenRefused::EIdSMTPTokenRefused(const std::string& serverSays)
    : EIdException("Der Server hat die Anmeldung mit OAuth2 abgelehnt" +
                   (serverSays.empty() ? std::string() : " (" + serverSays + ")") +
                   ". Bitte in den Versandoptionen neu anmelden.") {}

TIdSMTP::TIdSMTP() { Port = kDefaultPort; }

bool TIdSMTP::PlainLoginRefused() const {
    if (Encrypted() || AllowPlainLogin) return false;
    auto* socket = dynamic_cast<const TIdIOHandlerSocket*>(IOHandler());
    const std::string peer = socket != nullptr && socket->Binding() != nullptr ? socket->Binding()->PeerIP() : "";
    return !(PeerIsLocal && PeerIsLocal(peer));
}

bool TIdSMTP::Encrypted() const {
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(IOHandler());
    return tls != nullptr && tls->IsOpen() && tls->Encrypted();
}

void TIdSMTP::PrepareTLS() {
    // An open connection is left alone (opening it again fails as it should).
    if (IOHandler() != nullptr && IOHandler()->IsOpen()) return;
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(IOHandler());
    // Closing the connection deletes the adapter it owns, and the plain adapter the connection would
    // make then must never carry a session: every connection gets a TLS adapter before it opens.
    if (tls == nullptr) {
        tls = new TIdIOHandlerTLS();
        SetIOHandler(tls, true);
    }
    tls->ImplicitTLS = ImplicitTLS || Port == kImplicitTLSPort;
    // The output buffer already joins what belongs together, and a mail's "." goes out in a send of its
    // own right after the message: with Nagle's algorithm it would wait for the acknowledgement of the
    // message, which a receiver may delay by up to 40 ms, on every mail.
    tls->UseNagle = false;
    tls->CAFile = CAFile;
    tls->HandshakeTimeout = ReplyTimeLimit > 0 ? ReplyTimeLimit : WaitForever;
}

void TIdSMTP::SetAuthenticationType(TAuthenticationType type) {
    authenticationType_ = type;
    if (type != atNone) useEhlo_ = true;
}

void TIdSMTP::SetUseEhlo(bool useEhlo) {
    useEhlo_ = useEhlo;
    if (!useEhlo) authenticationType_ = atNone;
}

int32_t TIdSMTP::FillInputBuffer(bool raiseIfDisconnected, int32_t timeoutMs, bool raiseOnTimeout) {
    if (replyDeadline_) {
        // The whole reply counts against its limit, however slowly its bytes trickle in.
        if (timeoutMs == UseReadTimeout) timeoutMs = ReadTimeout == 0 ? WaitForever : ReadTimeout;
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*replyDeadline_ - std::chrono::steady_clock::now())
                        .count();
        const int32_t leftMs = static_cast<int32_t>(std::max<long long>(left, 1));
        if (timeoutMs == WaitForever || timeoutMs > leftMs) timeoutMs = leftMs;
    }
    return TIdMessageClient::FillInputBuffer(raiseIfDisconnected, timeoutMs, raiseOnTimeout);
}

int16_t TIdSMTP::ReadReplyWithin(const std::vector<int16_t>& expected, int32_t limitMs) {
    struct DeadlineScope {
        std::optional<std::chrono::steady_clock::time_point>& deadline;
        ~DeadlineScope() { deadline.reset(); }
    } scope{replyDeadline_};
    if (limitMs > 0) replyDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    const int16_t code = ReadReply(expected);
    if (code == kServiceClosing) RaiseReplyError();
    return code;
}

int16_t TIdSMTP::Command(const std::string& line, const std::vector<int16_t>& expected, int32_t limitMs) {
    WriteLine(line);
    return ReadReplyWithin(expected, limitMs);
}

void TIdSMTP::OpenSession(int32_t timeoutMs) {
    PrepareTLS();
    OpenConnection(timeoutMs);
    LimitSendWaits(ReplyTimeLimit);
    // A new connection needs a login of its own, also when the last one was closed by the server
    // rather than by CloseSession.
    loggedIn_ = false;
    pipelining_ = false;
    groupSentAhead_.clear();
    try {
        ReadReplyWithin({220}, ReplyTimeLimit);
        supportedAuthSchemes_.clear();
        const std::string name = HeloName.empty() ? TIdStack::Instance().LocalHostName() : HeloName;
        if (useEhlo_ && Command("EHLO " + name, kAnyCode, ReplyTimeLimit) == 250) {
            if (!Encrypted() && OffersStartTLS()) UpgradeToTLS(name);
            CollectAuthSchemes();
            pipelining_ = OffersKeyword("PIPELINING");
            return;
        }
        Command("HELO " + name, {250}, ReplyTimeLimit);
    } catch (...) {
        // An error of CloseSession itself replaces the first one.
        CloseSession();
        throw;
    }
}

bool TIdSMTP::OffersKeyword(const char* keyword) const {
    return std::any_of(LastReply().Lines.begin(), LastReply().Lines.end(), [keyword](const std::string& line) {
        return SameTextIgnoringCase(line.substr(0, line.find(' ')), keyword);
    });
}

bool TIdSMTP::OffersStartTLS() const { return OffersKeyword("STARTTLS"); }

void TIdSMTP::UpgradeToTLS(const std::string& heloName) {
    Command("STARTTLS", {220}, ReplyTimeLimit);
    // The 220 must be the server's last plain word: whatever came with it or after it was not sent by
    // the server through TLS, and must not be read as its reply to the encrypted EHLO.
    if (HasUnreadInput()) throw EIdSMTPInjectedInput();
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(IOHandler());
    if (tls == nullptr) throw EIdNotConnected();
    tls->StartTLS(Host);
    Command("EHLO " + heloName, {250}, ReplyTimeLimit);
}

void TIdSMTP::CollectAuthSchemes() {
    supportedAuthSchemes_.clear();
    for (const std::string& reply : LastReply().Lines) {
        std::string line = UpperCaseAscii(reply);
        if (line.compare(0, 5, "AUTH ") != 0 && line.compare(0, 5, "AUTH=") != 0) continue;
        std::string rest = line.substr(4);
        std::replace(rest.begin(), rest.end(), '=', ' ');
        std::size_t start = 0;
        while ((start = rest.find_first_not_of(' ', start)) != std::string::npos) {
            std::size_t end = rest.find(' ', start);
            std::string word = rest.substr(start, end - start);
            auto same = [&](const std::string& known) { return SameTextIgnoringCase(known, word); };
            if (std::none_of(supportedAuthSchemes_.begin(), supportedAuthSchemes_.end(), same)) {
                supportedAuthSchemes_.push_back(word);
            }
            start = end;
        }
    }
}

bool TIdSMTP::SupportsAuthType(TAuthenticationType type) {
    if (type == atNone) return false;
    const char* name = type == atLogin ? "LOGIN" : "XOAUTH2";
    return std::any_of(supportedAuthSchemes_.begin(), supportedAuthSchemes_.end(),
                       [name](const std::string& scheme) { return SameTextIgnoringCase(scheme, name); });
}

bool TIdSMTP::LoginWithToken(const std::string& token, std::string& serverSays) {
    // The initial response of RFC 4954 in the form the providers define for XOAUTH2.
    const std::string response = "user=" + Username + "\x01" + "auth=Bearer " + token + "\x01\x01";
    const int16_t code = Command("AUTH XOAUTH2 " + EncodeText<TIdEncoderMIME>(response), {235, 334, 535},
                                 ReplyTimeLimit);
    if (code == 235) return true;
    if (code == 334) {
        // The provider's reason as base64 JSON; the client ends the exchange with an empty line and the
        // server answers with its failure code.
        serverSays = DecodeBase64Text(LastReply().Lines.empty() ? std::string() : LastReply().Lines.front());
        Command("", {535, 501, 454}, ReplyTimeLimit);
    } else {
        serverSays = LastReply().Lines.empty() ? std::string() : LastReply().Lines.front();
    }
    return false;
}

bool TIdSMTP::Login() {
    if (authenticationType_ == atXOAuth2) {
        if (PlainLoginRefused()) throw EIdSMTPPlainLoginRefused();
        if (AccessTokens == nullptr) throw EIdSMTPNotSignedIn();
        // A bearer token lets whoever runs the server act as the user: it goes only where it belongs.
        if (const std::optional<std::string> refusal = AccessTokens->Refusal(Host, Port)) throw EIdException(*refusal);
        std::string serverSays;
        // A token the server refuses is renewed once: it may have been revoked or have run out early.
        if (!LoginWithToken(AccessTokens->AccessToken(false), serverSays) &&
            !LoginWithToken(AccessTokens->AccessToken(true), serverSays)) {
            throw EIdSMTPTokenRefused(serverSays);
        }
    }
    if (authenticationType_ == atLogin) {
        if (PlainLoginRefused()) throw EIdSMTPPlainLoginRefused();
        Command("AUTH LOGIN", {334}, ReplyTimeLimit);
        Command(EncodeText<TIdEncoderMIME>(Username), {334}, ReplyTimeLimit);
        Command(EncodeText<TIdEncoderMIME>(Password), {235}, ReplyTimeLimit);
    }
    loggedIn_ = true;
    return true;
}

std::vector<TIdSMTP::EnvelopeCommand> TIdSMTP::Envelope(const TIdMessage& message) {
    std::vector<EnvelopeCommand> commands{{"MAIL FROM:<" + message.From.Address + ">", {250}, false}};
    for (const TIdEMailAddressList* list : {&message.Recipients, &message.CCList, &message.BccList}) {
        for (const TIdEMailAddressItem& item : *list) {
            commands.push_back({"RCPT TO:<" + item.Address + ">", {250, 251}, true});
        }
    }
    commands.push_back({"DATA", {354}, false});
    return commands;
}

bool TIdSMTP::HasLineBreak(const std::vector<EnvelopeCommand>& commands) {
    return std::any_of(commands.begin(), commands.end(), [](const EnvelopeCommand& command) {
        return command.line.find_first_of("\r\n") != std::string::npos;
    });
}

void TIdSMTP::WriteEnvelopeGroup(const std::vector<EnvelopeCommand>& commands, bool withReset) {
    // A line that would be refused must not leave the start of its group in the output buffer.
    if (HasLineBreak(commands)) throw EIdLineBreakInLine();
    if (withReset) WriteLine("RSET");
    for (const EnvelopeCommand& command : commands) WriteLine(command.line);
}

void TIdSMTP::ReadEnvelopeReplies(const std::vector<EnvelopeCommand>& commands, bool withReset) {
    // The group leaves with the first read. A 421 raises at once: the server is going away and answers
    // nothing more.
    if (withReset) ReadReplyWithin(kAnyCode, ReplyTimeLimit);
    std::optional<EIdProtocolReplyError> refusal;
    bool recipientAccepted = false;
    try {
        for (const EnvelopeCommand& command : commands) {
            const int16_t code = ReadReplyWithin(kAnyCode, ReplyTimeLimit);
            const bool accepted =
                std::find(command.expected.begin(), command.expected.end(), code) != command.expected.end();
            if (accepted && command.recipient) recipientAccepted = true;
            if (!accepted && !refusal) refusal.emplace(LastReply().Code, LastReply().Text());
        }
        if (!refusal) return;
        AbandonRefusedGroup(recipientAccepted);
    } catch (...) {
        if (!refusal) throw;
        // The mail failed by its refusal already; a connection that fails as well while the rest of the
        // group is read is dropped, and the refusal is what the caller learns, as without PIPELINING.
        loggedIn_ = false;
        DropSocket();
    }
    throw *refusal;
}

void TIdSMTP::AbandonRefusedGroup(bool recipientAccepted) {
    // The last reply is DATA's. Refused, as a server refuses DATA after a refused MAIL FROM or without
    // any recipient: the transaction is over and the connection in step.
    if (LastReply().Code != 354) return;
    if (recipientAccepted) {
        // The server waits for the message, and a "." would deliver an empty mail to the recipients it
        // took. A server that loses the connection before the "." delivers nothing (RFC 5321, 4.1.1.4),
        // so the connection is closed; the next mail opens a new one.
        loggedIn_ = false;
        CloseConnection();
        return;
    }
    // No recipient at all: the lone "." ends the empty data, which the server has no one to deliver to
    // (RFC 2920, 3.1). Whatever it answers, the mail has failed by its refusal.
    WriteLine(".");
    ReadReplyWithin(kAnyCode, ReplyTimeLimit);
}

bool TIdSMTP::LoginNeeded() {
    return authenticationType_ != atNone && SupportsAuthType(authenticationType_) && !loggedIn_;
}

void TIdSMTP::SendMail(TIdMessage& message) { SendMail(message, nullptr); }

void TIdSMTP::SendMail(TIdMessage& message, const TIdMessage* next) {
    dataEndSent_ = false;
    if (MessageCapture != nullptr) MessageCapture->clear();
    // With a login configured, a server elsewhere that offers neither TLS nor a login is what an attacker
    // on the path makes of a real one by striking both from its reply. A TLS session without a login (a
    // relay that trusts by address) and a server on this machine go ahead as before.
    if (authenticationType_ != atNone && !loggedIn_ && !SupportsAuthType(authenticationType_) && PlainLoginRefused())
        throw EIdSMTPUnprotectedServer();
    const bool loginNeeded = LoginNeeded();
    const std::vector<EnvelopeCommand> envelope = Envelope(message);
    if (!groupSentAhead_.empty()) {
        const bool announced = groupSentAhead_ == envelope;
        groupSentAhead_.clear();
        if (!announced) {
            // The server waits in the transaction of a mail that is not coming; only the end of the
            // connection takes it back.
            loggedIn_ = false;
            CloseConnection();
            throw EIdNotConnected();
        }
        ReadEnvelopeReplies(envelope, true);
    } else if (pipelining_) {
        // AUTH must wait for its replies; the RSET before it goes alone, as without PIPELINING.
        if (loginNeeded) {
            Command("RSET", kAnyCode, ReplyTimeLimit);
            Login();
        }
        WriteEnvelopeGroup(envelope, !loginNeeded);
        ReadEnvelopeReplies(envelope, !loginNeeded);
    } else {
        Command("RSET", kAnyCode, ReplyTimeLimit);
        if (loginNeeded) Login();
        for (const EnvelopeCommand& command : envelope) Command(command.line, command.expected, ReplyTimeLimit);
    }
    message.ExtraHeaders.SetHeaderValue("X-Mailer", MailAgent);
    WriteCapturedMessage(message);
    FlushOutput();
    // From here on the server may have the whole mail, even when writing the "." fails halfway.
    dataEndSent_ = true;
    WriteLine(".");
    if (pipelining_ && next != nullptr) SendAhead(*next);
    ReadReplyWithin({250}, DataEndTimeLimit);
}

void TIdSMTP::WriteCapturedMessage(TIdMessage& message) {
    if (MessageCapture == nullptr) return WriteMessage(message, false);
    // Only the message's own bytes: the capture ends before the "." and whatever follows it.
    struct CaptureScope {
        TIdSMTP& smtp;
        bool complete = false;
        ~CaptureScope() {
            smtp.SetWriteCapture(nullptr);
            if (!complete) smtp.MessageCapture->clear();
        }
    } scope{*this};
    SetWriteCapture(MessageCapture);
    WriteMessage(message, false);
    SetWriteCapture(nullptr);
    UndoDotStuffing(*MessageCapture);
    scope.complete = true;
}

void TIdSMTP::SendAhead(const TIdMessage& next) {
    std::vector<EnvelopeCommand> envelope = Envelope(next);
    // A login is always over once a mail has gone through, but the settings may have changed since. An
    // address the next SendMail refuses is left to it.
    if (LoginNeeded() || HasLineBreak(envelope)) return;
    WriteEnvelopeGroup(envelope, true);
    groupSentAhead_ = std::move(envelope);
}

void TIdSMTP::CloseSession() {
    std::exception_ptr error;
    // A group sent ahead may have put the server into the data of a mail that is not coming: a "QUIT"
    // would be a line of that mail, so the connection just ends, and the server delivers nothing.
    const bool groupSentAhead = !groupSentAhead_.empty();
    groupSentAhead_.clear();
    try {
        if (IsConnected() && !groupSentAhead) WriteLine("QUIT");
    } catch (...) {
        error = std::current_exception();
    }
    try {
        CloseConnection();
    } catch (...) {
        if (!error) error = std::current_exception();
    }
    loggedIn_ = false;
    if (error) std::rethrow_exception(error);
}
