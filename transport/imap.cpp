#include "transport/imap.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "transport/byte_text.h"
#include "transport/encoders.h"
#include "transport/internet_date.h"
#include "transport/tls_io_handler.h"

EIdIMAPInjectedInput::EIdIMAPInjectedInput()
    : EIdException("Unverschlüsselte Daten nach STARTTLS: jemand schiebt der Verbindung zum IMAP-Server Antworten "
                   "unter. Die Verbindung wird beendet.") {}

EIdIMAPPlainLoginRefused::EIdIMAPPlainLoginRefused()
    : EIdException("Der IMAP-Server bietet keine verschlüsselte Verbindung (STARTTLS) an. Die Anmeldedaten werden "
                   "nicht unverschlüsselt gesendet. Nur wenn Sie dem Netz bis zum Server vertrauen: in den "
                   "Versandoptionen \"Anmeldung ohne Verschlüsselung erlauben\" einschalten "
                   "(postira-run: --allow-plain-login).") {}

EIdIMAPUnprotectedServer::EIdIMAPUnprotectedServer()
    : EIdException("Der IMAP-Server meldet die Verbindung ohne Verschlüsselung als angemeldet (PREAUTH): so sieht "
                   "auch ein Server aus, dem jemand auf dem Weg die Verschlüsselung gestrichen hat. Ohne die "
                   "Versandoption \"Anmeldung ohne Verschlüsselung erlauben\" (postira-run: --allow-plain-login) "
                   "geht keine Kopie unverschlüsselt hinaus; nur einschalten, wenn Sie dem Netz bis zum Server "
                   "vertrauen.") {}

EIdIMAPLoginUnavailable::EIdIMAPLoginUnavailable(const std::string& reason) : EIdException(reason) {}

namespace {

// The server's words in brackets after a sentence, when it said any.
std::string Saying(const std::string& serverSays) {
    const std::string cleaned = CleanIMAPText(serverSays);
    return cleaned.empty() ? std::string() : " (" + cleaned + ")";
}

// The server's words after a colon, or the sentence ends where it said nothing.
std::string Colon(const std::string& serverSays) {
    const std::string cleaned = CleanIMAPText(serverSays);
    return cleaned.empty() ? std::string(".") : ": " + cleaned;
}

const char* const kNoPasswordLogin =
    "Der IMAP-Server nimmt keine Anmeldung mit Passwort an (LOGINDISABLED und kein AUTHENTICATE PLAIN).";
const char* const kNoTokenLogin = "Der IMAP-Server bietet keine Anmeldung mit OAuth2 (AUTHENTICATE XOAUTH2) an.";
const char* const kNulInLogin =
    "Benutzername oder Passwort enthalten ein Nullzeichen und können nicht an den IMAP-Server gehen.";
const char* const kNulInMessage = "die Mail enthält ein Nullbyte, das IMAP nicht übertragen kann";
const char* const kNoMultiAppend = "der Server nimmt nicht mehrere Mails in einem Befehl an (MULTIAPPEND)";

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The deadline of a wait of limitMs from now; none for 0.
std::optional<std::chrono::steady_clock::time_point> DeadlineAfter(int32_t limitMs) {
    if (limitMs <= 0) return std::nullopt;
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
}

bool HasNul(std::string_view text) { return std::memchr(text.data(), '\0', text.size()) != nullptr; }

// A quoted string may hold 7-bit characters other than CR and LF (RFC 3501, 9: quoted-char); anything
// else needs a literal.
bool FitsQuoted(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        return c == '\r' || c == '\n' || static_cast<unsigned char>(c) >= 0x80;
    });
}

// A status response's text, or its code where the text is empty.
std::string ServerSays(const TIdIMAPResponse& response) {
    return response.Text.empty() ? response.Code : response.Text;
}

// The words of a capability list, in upper case.
std::vector<std::string> CapabilityWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while ((start = text.find_first_not_of(' ', start)) != std::string_view::npos) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(UpperCaseAscii(text.substr(start, end - start)));
        start = end;
    }
    return words;
}

}  // namespace

EIdIMAPLoginRefused::EIdIMAPLoginRefused(const std::string& serverSays)
    : EIdException("Der IMAP-Server hat die Anmeldung abgelehnt" + Colon(serverSays)) {}

EIdIMAPTokenRefused::EIdIMAPTokenRefused(const std::string& serverSays)
    : EIdException("Der IMAP-Server hat die Anmeldung mit OAuth2 abgelehnt" + Saying(serverSays) +
                   ". Bitte in den Versandoptionen neu anmelden.") {}

EIdIMAPServerClosed::EIdIMAPServerClosed(const std::string& serverSays)
    : EIdException("Der IMAP-Server hat die Verbindung beendet" + Colon(serverSays)) {}

EIdIMAPCommandRefused::EIdIMAPCommandRefused(const std::string& command, const std::string& serverSays)
    : EIdException("Der IMAP-Server hat den Befehl " + command + " abgelehnt" + Colon(serverSays)) {}

EIdIMAPFolderMissing::EIdIMAPFolderMissing(const std::string& name)
    : EIdException("Der Ordner „" + CleanIMAPText(name) + "“ ist auf dem IMAP-Server nicht vorhanden.") {}

EIdIMAPNoSentFolder::EIdIMAPNoSentFolder()
    : EIdException("Der IMAP-Server nennt keinen Ordner für gesendete Mails. Bitte tragen Sie den Ordner in den "
                   "Versandoptionen ein.") {}

EIdIMAPAppendRefused::EIdIMAPAppendRefused(const std::string& serverSays)
    : EIdException("Der IMAP-Server hat die Kopie nicht abgelegt" + Colon(serverSays)) {}

std::string FormatIMAPDateTime(std::time_t when, std::chrono::minutes offset) {
    // A day's margin keeps the shift by the offset from overflowing; such instants have no 4-digit year.
    constexpr std::time_t kMargin = 86400;
    if (when > std::numeric_limits<std::time_t>::max() - kMargin || when < std::numeric_limits<std::time_t>::min() + kMargin)
        return {};
    const std::time_t shifted = when + static_cast<std::time_t>(offset.count()) * 60;
    std::tm time{};
    if (gmtime_r(&shifted, &time) == nullptr || time.tm_year + 1900 < 1 || time.tm_year + 1900 > 9999) return {};
    char text[40];
    std::snprintf(text, sizeof text, "%02d-%s-%04d %02d:%02d:%02d %s", time.tm_mday, kMonths[time.tm_mon],
                  time.tm_year + 1900, time.tm_hour, time.tm_min, time.tm_sec, FormatUtcOffset(offset).c_str());
    return text;
}

bool TIdIMAPMailbox::Has(std::string_view attribute) const {
    return std::find(Attributes.begin(), Attributes.end(), attribute) != Attributes.end();
}

// ---------------------------------------------------------------------------------------------------------
// Commands and their responses

TIdIMAP::CommandText& TIdIMAP::CommandText::operator<<(std::string_view text) {
    texts.back() += text;
    return *this;
}

void TIdIMAP::CommandText::AddString(std::string_view text) {
    if (FitsQuoted(text)) {
        texts.back() += QuoteWithEscapes(text);
        return;
    }
    literals.push_back(text);
    texts.emplace_back();
}

TIdIMAP::TIdIMAP() { Port = kDefaultPort; }

std::string TIdIMAP::NextTag() {
    char tag[16];
    std::snprintf(tag, sizeof tag, "A%03u", ++tagCount_);
    return tag;
}

bool TIdIMAP::HasCapability(std::string_view name) const {
    return std::find(capabilities_.begin(), capabilities_.end(), UpperCaseAscii(name)) != capabilities_.end();
}

bool TIdIMAP::NonSynchronizingLiteral(std::size_t size) const {
    return HasCapability("LITERAL+") || (HasCapability("LITERAL-") && size <= kLiteralMinusLimit);
}

void TIdIMAP::Abandon() {
    loggedIn_ = false;
    reader_.Clear();
    DropSocket();
}

TIdIMAPResponse TIdIMAP::ReadResponse(std::optional<Clock::time_point> deadline) {
    for (;;) {
        if (std::optional<TIdIMAPResponse> response = reader_.Next()) return std::move(*response);
        int32_t waitMs = WaitForever;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
            if (left <= 0) throw EIdReadTimeout();
            waitMs = static_cast<int32_t>(std::min<long long>(left, INT32_MAX));
        }
        FillInputBuffer(true, waitMs, true);
        reader_.Feed(PendingInput().Extract(PendingInput().Size()));
    }
}

void TIdIMAP::TakeUntagged(Exchange& exchange, const TIdIMAPResponse& response) {
    std::size_t bytes = 0;
    for (const std::string& line : response.Lines) bytes += line.size();
    for (const std::string& literal : response.Literals) bytes += literal.size();
    exchange.untaggedBytes += bytes + response.Text.size() + response.Code.size();
    if (++exchange.untagged > kMaxUntaggedResponses || exchange.untaggedBytes > kMaxUntaggedBytes)
        throw EIdIMAPReplyTooLong();
    if (response.Keyword == "BYE") {
        if (!exchange.byeExpected) throw EIdIMAPServerClosed(response.Text);
    } else if (response.Keyword == "CAPABILITY") {
        capabilities_.clear();
        for (const TIdIMAPValue& value : ParseIMAPData(response)) {
            if (value.IsText()) capabilities_.push_back(UpperCaseAscii(value.Text));
        }
        capabilitiesKnown_ = true;
    } else if (response.IsStatus()) {
        TakeCapabilityCode(response);
    } else if (exchange.onData) {
        exchange.onData(response);
    }
}

void TIdIMAP::TakeCapabilityCode(const TIdIMAPResponse& response) {
    static constexpr std::string_view kCode = "CAPABILITY ";
    if (response.Code.size() < kCode.size() || !SameTextIgnoringCase(response.Code.substr(0, kCode.size()), kCode))
        return;
    capabilities_ = CapabilityWords(std::string_view(response.Code).substr(kCode.size()));
    capabilitiesKnown_ = true;
}

TIdIMAPResponse TIdIMAP::Await(Exchange& exchange, int32_t limitMs, bool continuationAllowed) {
    const std::optional<Clock::time_point> deadline = DeadlineAfter(limitMs);
    for (;;) {
        TIdIMAPResponse response = ReadResponse(deadline);
        switch (response.Kind) {
        case TIdIMAPResponseKind::Continuation:
            if (!continuationAllowed) throw EIdIMAPBadReply("+ " + response.Text);
            return response;
        case TIdIMAPResponseKind::Tagged:
            // One command at a time: another tag means that client and server are out of step.
            if (response.Tag != exchange.tag) throw EIdIMAPBadReply(response.Tag + " " + response.Keyword);
            if (response.Keyword == "OK") TakeCapabilityCode(response);
            return response;
        case TIdIMAPResponseKind::Untagged:
            TakeUntagged(exchange, response);
            break;
        }
    }
}

TIdIMAPResponse TIdIMAP::Run(Exchange& exchange, const CommandText& command, int32_t finalLimitMs,
                             bool continuationAllowed) {
    commandWritten_ = false;
    for (const std::string& text : command.texts) {
        if (text.find_first_of("\r\n") != std::string::npos) throw EIdLineBreakInLine();
    }
    try {
        exchange.tag = NextTag();
        for (std::size_t i = 0; i < command.texts.size(); ++i) {
            WriteText(i == 0 ? exchange.tag + " " + command.texts[i] : command.texts[i]);
            if (i == command.literals.size()) break;
            const std::string_view literal = command.literals[i];
            const bool synchronizing = !NonSynchronizingLiteral(literal.size());
            WriteText("{" + std::to_string(literal.size()) + (synchronizing ? "}\r\n" : "+}\r\n"));
            if (synchronizing) {
                // The server may refuse the command right here (a mailbox that does not exist, a message
                // too big): then the literal is not sent.
                TIdIMAPResponse goAhead = Await(exchange, ReplyTimeLimit, true);
                if (goAhead.Kind == TIdIMAPResponseKind::Tagged) return goAhead;
            }
            // In one piece: the output buffer sends it in blocks of its size.
            WriteBytes(literal.data(), literal.size());
        }
        WriteText("\r\n");
        FlushOutput();
        commandWritten_ = true;
        return Await(exchange, finalLimitMs, continuationAllowed);
    } catch (...) {
        Abandon();
        throw;
    }
}

TIdIMAPResponse TIdIMAP::Run(Exchange& exchange, const std::string& command, bool continuationAllowed) {
    CommandText text;
    text << command;
    return Run(exchange, text, ReplyTimeLimit, continuationAllowed);
}

void TIdIMAP::RequireOK(const TIdIMAPResponse& response, const std::string& command) {
    if (response.Keyword != "OK") throw EIdIMAPCommandRefused(command, ServerSays(response));
}

// ---------------------------------------------------------------------------------------------------------
// Connection

bool TIdIMAP::Encrypted() const {
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(IOHandler());
    return tls != nullptr && tls->IsOpen() && tls->Encrypted();
}

bool TIdIMAP::PlainLoginRefused() const {
    if (Encrypted() || AllowPlainLogin) return false;
    auto* socket = dynamic_cast<const TIdIOHandlerSocket*>(IOHandler());
    const std::string peer = socket != nullptr && socket->Binding() != nullptr ? socket->Binding()->PeerIP() : "";
    return !(PeerIsLocal && PeerIsLocal(peer));
}

void TIdIMAP::PrepareTLS() {
    if (IOHandler() != nullptr && IOHandler()->IsOpen()) return;
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(IOHandler());
    // Every connection gets a TLS adapter before it opens, so that no plain adapter ever carries a session.
    if (tls == nullptr) {
        tls = new TIdIOHandlerTLS();
        SetIOHandler(tls, true);
    }
    tls->ImplicitTLS = ImplicitTLS || Port == kImplicitTLSPort;
    // Commands are written whole and then awaited; Nagle's algorithm would only delay the last piece of
    // an APPEND until the server acknowledged the one before.
    tls->UseNagle = false;
    tls->CAFile = CAFile;
    tls->HandshakeTimeout = ReplyTimeLimit > 0 ? ReplyTimeLimit : WaitForever;
}

void TIdIMAP::OpenSession(int32_t connectTimeoutMs) {
    PrepareTLS();
    OpenConnection(connectTimeoutMs);
    LimitSendWaits(ReplyTimeLimit);
    // Nothing of an earlier connection counts on this one.
    loggedIn_ = false;
    capabilitiesKnown_ = false;
    capabilities_.clear();
    mailboxes_.clear();
    reader_.Clear();
    tagCount_ = 0;
    try {
        ReadGreeting();
        if (!capabilitiesKnown_) Capability();
        // STARTTLS belongs to the state before the login; after PREAUTH it is too late.
        if (!Encrypted() && !loggedIn_ && HasCapability("STARTTLS")) UpgradeToTLS();
        if (loggedIn_ && PlainLoginRefused()) throw EIdIMAPUnprotectedServer();
    } catch (...) {
        CloseSession();
        throw;
    }
}

void TIdIMAP::ReadGreeting() {
    TIdIMAPResponse greeting;
    try {
        greeting = ReadResponse(DeadlineAfter(ReplyTimeLimit));
    } catch (...) {
        Abandon();
        throw;
    }
    if (greeting.Is(TIdIMAPResponseKind::Untagged, "BYE")) {
        Abandon();
        throw EIdIMAPServerClosed(greeting.Text);
    }
    if (greeting.Is(TIdIMAPResponseKind::Untagged, "PREAUTH")) {
        loggedIn_ = true;
    } else if (!greeting.Is(TIdIMAPResponseKind::Untagged, "OK")) {
        Abandon();
        throw EIdIMAPBadReply(greeting.Tag + " " + greeting.Keyword + " " + greeting.Text);
    }
    TakeCapabilityCode(greeting);
}

void TIdIMAP::Capability() {
    capabilities_.clear();
    Exchange exchange{"CAPABILITY"};
    RequireOK(Run(exchange, "CAPABILITY"), exchange.name);
    // A server that named none has none beyond the base protocol.
    capabilitiesKnown_ = true;
}

void TIdIMAP::UpgradeToTLS() {
    Exchange exchange{"STARTTLS"};
    RequireOK(Run(exchange, "STARTTLS"), exchange.name);
    // The OK must be the server's last plain word: whatever came with it or after it was not sent by the
    // server through TLS, and must not be read as its responses on the encrypted connection.
    if (reader_.Buffered() > 0 || HasUnreadInput()) {
        Abandon();
        throw EIdIMAPInjectedInput();
    }
    auto* tls = dynamic_cast<TIdIOHandlerTLS*>(IOHandler());
    if (tls == nullptr) throw EIdNotConnected();
    tls->StartTLS(Host);
    // What the server said in plain text may have been changed on the way (RFC 2595, 3.1).
    capabilitiesKnown_ = false;
    Capability();
}

void TIdIMAP::Noop() {
    Exchange exchange{"NOOP"};
    RequireOK(Run(exchange, "NOOP"), exchange.name);
}

void TIdIMAP::CloseSession() {
    try {
        if (IsConnected()) {
            Exchange exchange{"LOGOUT"};
            exchange.byeExpected = true;
            CommandText text;
            text << "LOGOUT";
            Run(exchange, text, ReplyTimeLimit > 0 ? std::min(ReplyTimeLimit, kLogoutTimeLimitMs) : kLogoutTimeLimitMs);
        }
    } catch (const std::exception&) {
        // The server has gone already or is slow to say goodbye; the connection closes all the same.
    }
    try {
        CloseConnection();
    } catch (const std::exception&) {
        // Bytes that could not be sent any more; nothing is lost that the session still needed.
    }
    loggedIn_ = false;
    reader_.Clear();
}

// ---------------------------------------------------------------------------------------------------------
// Login

void TIdIMAP::Login() {
    if (loggedIn_) return;
    if (!IsConnected()) throw EIdNotConnected();
    if (PlainLoginRefused()) throw EIdIMAPPlainLoginRefused();
    if (AccessTokens != nullptr) {
        LoginWithTokens();
    } else {
        LoginWithPassword();
    }
    loggedIn_ = true;
    // The capabilities may change with the login (RFC 3501, 6.2.3); a server that did not name them in
    // its answer is asked.
    if (!capabilitiesKnown_) Capability();
}

void TIdIMAP::LoginWithPassword() {
    if (HasNul(Username) || HasNul(Password)) throw EIdIMAPLoginUnavailable(kNulInLogin);
    TIdIMAPResponse response;
    if (HasCapability("LOGINDISABLED")) {
        if (!HasCapability("AUTH=PLAIN")) throw EIdIMAPLoginUnavailable(kNoPasswordLogin);
        // RFC 4616: no authorization identity, the user name, the password.
        response = Authenticate("PLAIN", std::string(1, '\0') + Username + '\0' + Password, nullptr);
    } else {
        Exchange exchange{"LOGIN"};
        CommandText command;
        command << "LOGIN ";
        command.AddString(Username);
        command << " ";
        command.AddString(Password);
        capabilitiesKnown_ = false;
        response = Run(exchange, command, ReplyTimeLimit);
    }
    if (response.Keyword != "OK") throw EIdIMAPLoginRefused(ServerSays(response));
}

void TIdIMAP::LoginWithTokens() {
    if (!HasCapability("AUTH=XOAUTH2")) throw EIdIMAPLoginUnavailable(kNoTokenLogin);
    // A bearer token lets whoever runs the server act as the user: it goes only where it belongs.
    if (const std::optional<std::string> refusal = AccessTokens->IMAPRefusal(Host, Port)) throw EIdException(*refusal);
    std::string serverSays;
    // A token the server refuses is renewed once: it may have been revoked or have run out early.
    for (const bool renew : {false, true}) {
        const std::string token = AccessTokens->AccessToken(renew);
        std::string challenge;
        const TIdIMAPResponse response =
            Authenticate("XOAUTH2", "user=" + Username + "\x01" + "auth=Bearer " + token + "\x01\x01", &challenge);
        if (response.Keyword == "OK") return;
        serverSays = challenge.empty() ? ServerSays(response) : challenge;
    }
    throw EIdIMAPTokenRefused(serverSays);
}

TIdIMAPResponse TIdIMAP::Authenticate(const std::string& mechanism, const std::string& initialResponse,
                                      std::string* challenge) {
    const std::string encoded = EncodeText<TIdEncoderMIME>(initialResponse);
    const bool inline_ = HasCapability("SASL-IR");
    Exchange exchange{"AUTHENTICATE"};
    capabilitiesKnown_ = false;
    TIdIMAPResponse response = Run(exchange, "AUTHENTICATE " + mechanism + (inline_ ? " " + encoded : ""), true);
    try {
        if (!inline_ && response.Kind == TIdIMAPResponseKind::Continuation) {
            WriteLine(encoded);
            response = Await(exchange, ReplyTimeLimit, true);
        }
        if (response.Kind == TIdIMAPResponseKind::Continuation) {
            if (challenge != nullptr) *challenge = DecodeBase64Text(response.Text);
            WriteLine(challenge != nullptr ? "" : "*");
            response = Await(exchange, ReplyTimeLimit, false);
        }
    } catch (...) {
        Abandon();
        throw;
    }
    return response;
}

// ---------------------------------------------------------------------------------------------------------
// Mailboxes and APPEND

std::vector<TIdIMAPMailbox> TIdIMAP::List(bool specialUseOnly) {
    std::vector<TIdIMAPMailbox> mailboxes;
    Exchange exchange{"LIST"};
    exchange.onData = [&mailboxes](const TIdIMAPResponse& response) {
        if (response.Keyword != "LIST") return;
        // (attributes) delimiter name, and with LIST-EXTENDED perhaps more, which is not needed here.
        const std::vector<TIdIMAPValue> values = ParseIMAPData(response);
        if (values.size() < 3 || values[0].Kind != TIdIMAPValue::Type::List || !values[2].IsText())
            throw EIdIMAPBadReply("LIST " + response.Lines.front());
        TIdIMAPMailbox mailbox;
        mailbox.WireName = values[2].Text;
        mailbox.Name = DecodeMailboxName(mailbox.WireName);
        for (const TIdIMAPValue& attribute : values[0].Items) {
            if (attribute.IsText()) mailbox.Attributes.push_back(UpperCaseAscii(attribute.Text));
        }
        mailboxes.push_back(std::move(mailbox));
    };
    // Without the selection option every mailbox comes, and the attributes tell the special ones.
    const TIdIMAPResponse response = Run(exchange, specialUseOnly ? R"(LIST (SPECIAL-USE) "" "*")" : R"(LIST "" "*")");
    if (specialUseOnly && response.Keyword != "OK") return List(false);
    RequireOK(response, exchange.name);
    return mailboxes;
}

std::string TIdIMAP::FindSentFolder(const std::string& configuredName) {
    Login();
    // Only the search for the \Sent folder can do with the special mailboxes; a configured name may be
    // any mailbox. A server that takes SPECIAL-USE for its attributes only gets the plain LIST after all.
    mailboxes_ = List(configuredName.empty() && HasCapability("SPECIAL-USE"));
    if (configuredName.empty()) {
        // A \Noselect mailbox cannot take the copy: it counts only when no other one is marked.
        const TIdIMAPMailbox* firstSent = nullptr;
        for (const TIdIMAPMailbox& mailbox : mailboxes_) {
            if (!mailbox.Has("\\SENT")) continue;
            if (!mailbox.Has("\\NOSELECT") && !mailbox.Has("\\NONEXISTENT")) return mailbox.Name;
            if (firstSent == nullptr) firstSent = &mailbox;
        }
        if (firstSent == nullptr) throw EIdIMAPNoSentFolder();
        return firstSent->Name;
    }
    const bool inbox = SameTextIgnoringCase(configuredName, "INBOX");
    for (const TIdIMAPMailbox& mailbox : mailboxes_) {
        if (mailbox.Name == configuredName || (inbox && SameTextIgnoringCase(mailbox.Name, "INBOX"))) return mailbox.Name;
    }
    throw EIdIMAPFolderMissing(configuredName);
}

std::string TIdIMAP::WireName(const std::string& mailboxUtf8) const {
    // A name listed by the server goes back as it came, also one that is not modified UTF-7.
    for (const TIdIMAPMailbox& mailbox : mailboxes_) {
        if (mailbox.Name == mailboxUtf8) return mailbox.WireName;
    }
    return EncodeMailboxName(mailboxUtf8);
}

void TIdIMAP::Append(const std::string& mailboxUtf8, std::string_view message, std::time_t sentAt) {
    Append(mailboxUtf8, std::vector<AppendedMessage>{{message, sentAt}});
}

void TIdIMAP::Append(const std::string& mailboxUtf8, const std::vector<AppendedMessage>& messages) {
    appendDataSent_ = false;
    // A literal carries any byte but NUL (RFC 3501, 4.3); a message with one would be refused or cut.
    for (const AppendedMessage& appended : messages) {
        if (HasNul(appended.message)) throw EIdIMAPAppendRefused(kNulInMessage);
    }
    const std::string wireName = WireName(mailboxUtf8);
    Login();
    if (messages.size() > 1 && !HasCapability("MULTIAPPEND")) throw EIdIMAPAppendRefused(kNoMultiAppend);
    Exchange exchange{"APPEND"};
    CommandText command;
    command << "APPEND ";
    // A listed name that is not modified UTF-7 may hold 8-bit bytes: then it goes as a literal.
    command.AddString(wireName);
    for (const AppendedMessage& appended : messages) {
        std::tm local{};
        const std::string dateTime =
            localtime_r(&appended.sentAt, &local) != nullptr
                ? FormatIMAPDateTime(appended.sentAt, std::chrono::minutes(local.tm_gmtoff / 60))
                : std::string();
        command << " (\\Seen) ";
        if (!dateTime.empty()) command << "\"" << dateTime << "\" ";
        command.literals.push_back(appended.message);
        command.texts.emplace_back();
    }
    // The last literal is the last message: once its bytes are out, the server may store them whatever
    // follows.
    TIdIMAPResponse response;
    try {
        response = Run(exchange, command, AppendEndTimeLimit);
    } catch (...) {
        appendDataSent_ = commandWritten_;
        throw;
    }
    appendDataSent_ = commandWritten_;
    if (response.Keyword != "OK") throw EIdIMAPAppendRefused(ServerSays(response));
}
