#include "mailing/send_one.h"

#include "mailing/file_io.h"
#include "mailing/list_file.h"

#include <climits>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

int ConvertPort(const std::string& text) {
    auto fail = [&]() -> EConvertError { return EConvertError("'" + text + "' ist kein gültiger Integerwert"); };
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) throw fail();
    long long value = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0 || digit >= base) throw fail();
        value = value * base + digit;
        if (value > static_cast<long long>(INT_MAX) + 1) throw fail();
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) throw fail();
    return static_cast<int>(value);
}

int PortOrZero(const std::string& text) {
    try {
        return ConvertPort(text);
    } catch (const EConvertError&) {
        return 0;
    }
}

OutgoingMail TransmitMessageFields(const MailFields& fields, const std::string& recipients, const std::string& cc,
                                   const std::string& subject) {
    OutgoingMail mail;
    mail.host = Trim(fields.account.host);
    mail.username = Trim(fields.account.user);
    mail.password = Trim(fields.account.password);
    mail.allowPlainLogin = fields.options.allowPlainLogin;
    mail.signIn = fields.options.signIn;
    mail.accessTokens = fields.accessTokens;
    mail.port = ConvertPort(fields.account.port);  // not trimmed: a trailing blank is an error
    mail.from = mail.username;
    mail.recipients = recipients;
    mail.cc = cc;
    mail.subject = subject;
    if (fields.textKind == TextKind::Plain) {
        mail.bodyLines = SplitTextLines(fields.body).lines;
    } else {
        const std::string html = fields.textKind == TextKind::Markdown ? MarkdownToHtml(fields.body) : fields.body;
        mail.html = std::make_shared<const HtmlMail>(PrepareHtmlMail(html, fields.textFolder));
    }
    mail.mailNumber = fields.mailNumber;
    const std::string attachment = Trim(fields.attachment);
    // A path of a file that does not exist is left out without a word; the mail goes without it.
    if (!attachment.empty() && FileExists(attachment)) mail.attachmentPath = attachment;
    return mail;
}

void SetTextFile(MailFields& fields, const std::string& textFile) {
    fields.textKind = TextKindOfPath(textFile);
    fields.textFolder = FolderOfPath(textFile);
}

bool TrySendMessage(const MailFields& fields, MailTransport& transport) {
    const std::string recipients = Trim(fields.recipients);
    if (recipients.empty()) return false;
    return transport.Transmit(TransmitMessageFields(fields, recipients, Trim(fields.cc), Trim(fields.subject)));
}

std::optional<std::string> SignInRefusal(const AccountSettings& account, TIdAccessTokenSource* tokens) {
    if (tokens == nullptr) return std::nullopt;
    return tokens->Refusal(Trim(account.host), PortOrZero(account.port));
}

std::string SendErrorDetails(int lineNumber, const std::string& address, const std::string& reply) {
    std::string details = lineNumber > 0 ? "Zeile " + std::to_string(lineNumber) + ": " + Trim(address)
                                         : "An: " + Trim(address);
    if (!reply.empty()) details += "\nAntwort: " + reply;
    return details;
}

bool SendOneMessage(const MailFields& fields, MailTransport& transport, SendFrontEnd& frontEnd) {
    if (Trim(fields.recipients).empty()) return false;
    if (!TrySendMessage(fields, transport)) {
        frontEnd.ShowSendError(SendErrorDetails(0, fields.recipients, transport.LastErrorText()));
        return false;
    }
    frontEnd.ShowConnected();
    return true;
}
