#include "mailing/smtp_transport.h"

#include "mailing/mail_text.h"

#include "mailing/file_io.h"
#include "mailing/server_text.h"
#include "transport/byte_text.h"
#include "transport/smtp.h"
#include "transport/socket_errors.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string_view>

namespace {

// Empties the message when the attempt is over, whatever happened, so that every mail starts from an
// empty message and carries at most its own attachment.
struct ClearOnExit {
    TIdMessage& message;
    ~ClearOnExit() { message.Clear(); }
};

class SmtpTransport : public MailTransport {
public:
    explicit SmtpTransport(std::function<bool(const std::string&)> peerIsLocal) {
        smtp_.PeerIsLocal = std::move(peerIsLocal);
        // The client's stored settings; the bounded reply waits are its own defaults.
        smtp_.Port = TIdSMTP::kDefaultPort;
        smtp_.SetAuthenticationType(atNone);
        smtp_.ReadTimeout = 0;
        smtp_.MaxLineAction = maException;
        message_.SetEncoding(meMIME);
        message_.SetAttachmentEncoding("MIME");
    }

    bool IsConnected() override { return smtp_.IsConnected(); }

    bool Transmit(const OutgoingMail& mail) override {
        ClearOnExit clear{message_};
        ClearOnExit clearNext{nextMessage_};
        // The client writes what went out to the server here, and only the whole of it.
        sentMessage_.clear();
        smtp_.MessageCapture = keepSent_ ? &sentMessage_ : nullptr;
        // The announcement holds for this mail only.
        const std::optional<OutgoingMail> next = std::move(next_);
        next_.reset();
        hasNext_ = false;
        if (next) {
            // Only its envelope goes ahead: the sender and the recipients.
            OutgoingMail envelope = *next;
            envelope.bodyLines.clear();
            envelope.html.reset();
            envelope.attachmentPath.clear();
            try {
                FillMessage(envelope, nextMessage_);
                hasNext_ = true;
            } catch (const std::exception&) {
                // An address the parser rejects fails when that mail is sent; nothing goes ahead of it.
            }
        }
        smtp_.Host = mail.host;
        smtp_.Username = mail.username;
        smtp_.Password = mail.password;
        smtp_.Port = mail.port;
        smtp_.AllowPlainLogin = mail.allowPlainLogin;
        try {
            FillMessage(mail, message_);
        } catch (const EPictureUnreadable& error) {
            // As a server's refusal of this mail: the line fails, the run goes on. A connection that
            // has this mail's envelope sent ahead waits for its data, so it is closed (without a QUIT).
            lastError_ = error.what();
            lastFailure_ = SendFailure::Permanent;
            CloseAfterError();
            return false;
        }
        smtp_.AccessTokens = mail.accessTokens.get();
        if (mail.signIn != SignInMethod::Password) {
            smtp_.SetAuthenticationType(atXOAuth2);
        } else {
            smtp_.SetAuthenticationType(mail.password.empty() ? atNone : atLogin);
        }
        // A connection kept open since the last mail may have been closed by the server meanwhile (idle
        // servers do, with or without a 421): one fresh connection at once, before the failure counts.
        const bool reused = smtp_.IsConnected();
        if (Attempt() || !(reused && closedByServer_ && lastFailure_ == SendFailure::Temporary)) {
            return lastFailure_ == SendFailure::None;
        }
        return Attempt();
    }

    void AnnounceNext(const std::optional<OutgoingMail>& next) override { next_ = next; }
    void KeepSentMessages(bool keep) override { keepSent_ = keep; }
    std::string TakeSentMessage() override { return std::move(sentMessage_); }
    void CloseSession() override { smtp_.CloseSession(); }
    std::string LastErrorText() const override { return lastError_; }
    SendFailure LastFailure() const override { return lastFailure_; }

private:
    static constexpr int kServiceClosing = 421;

    // One try of the mail in message_; true when it went out. Sets what LastFailure tells.
    bool Attempt() {
        lastError_.clear();
        lastFailure_ = SendFailure::None;
        closedByServer_ = false;
        bool connected = false;  // the session stood, so a lost connection is not a failed connect
        try {
            connected = smtp_.IsConnected();
            if (!connected) smtp_.OpenSession(TIdSMTP::kConnectTimeLimitMs);
            connected = true;
            smtp_.SendMail(message_, hasNext_ ? &nextMessage_ : nullptr);
            return true;
        } catch (const EIdProtocolReplyError& error) {
            lastError_ = ShownServerText(error.what());
            const int code = error.ReplyErrorCode();
            lastFailure_ = code >= 400 && code < 500 ? SendFailure::Temporary : SendFailure::Permanent;
            // After a 421 the server closes the connection; there is no one left to say QUIT to.
            closedByServer_ = code == kServiceClosing;
            if (closedByServer_) {
                DropAfterError();
            } else {
                CloseAfterError();
            }
            return false;
        } catch (const std::exception& error) {
            lastError_ = ShownServerText(error.what());
            lastFailure_ = Classify(error, connected);
            closedByServer_ = lastFailure_ == SendFailure::Temporary;
            CloseAfterError();
            return false;
        }
    }

    // A failure other than a server's reply. Once the mail's end went out the server may have taken the
    // mail: whatever breaks the exchange then (a lost connection, no answer, a reply beyond the line or
    // length limits) leaves it in doubt, and it is never sent again by itself. Before that, only a
    // connection that was lost, or a server that stopped answering, after the session stood is worth
    // another try. Everything else (no connection made, TLS refused, a login not allowed, a vanished
    // attachment) would fail the same way again.
    SendFailure Classify(const std::exception& error, bool connected) const {
        if (connected && smtp_.DataEndSent()) return SendFailure::InDoubt;
        const bool lost = dynamic_cast<const EIdConnClosedGracefully*>(&error) != nullptr ||
                          dynamic_cast<const EIdSocketError*>(&error) != nullptr ||
                          dynamic_cast<const EIdNotConnected*>(&error) != nullptr ||
                          dynamic_cast<const EIdClosedSocket*>(&error) != nullptr ||
                          dynamic_cast<const EIdReadTimeout*>(&error) != nullptr;
        return lost && connected ? SendFailure::Temporary : SendFailure::Permanent;
    }

    void DropAfterError() {
        try {
            smtp_.CloseConnection();
        } catch (const std::exception&) {
            // As below: the send has failed already.
        }
    }

    void CloseAfterError() {
        try {
            if (smtp_.IsConnected()) smtp_.CloseSession();
        } catch (const std::exception&) {
            // The send has failed already; a failing close adds nothing the user could act on.
        }
    }

    TIdSMTP smtp_;
    TIdMessage message_;
    // The mail announced for after this one, and its envelope as the client sends it ahead.
    std::optional<OutgoingMail> next_;
    TIdMessage nextMessage_;
    bool hasNext_ = false;
    std::string lastError_;
    SendFailure lastFailure_ = SendFailure::None;
    bool closedByServer_ = false;  // the last failure was the server's close (a 421, a lost connection)
    bool keepSent_ = false;
    std::string sentMessage_;
};

// The channel of a dry run: what the writer sends goes into a file, with the dot-stuffing undone as the
// receiving server would undo it, so the file holds the mail as it reaches the recipient.
class UnstuffingSink : public TIdIOHandler {
public:
    explicit UnstuffingSink(std::function<void(std::string_view)> write) : write_(std::move(write)) {}

    void PrepareHandle() override {}
    void ConnectTo(const std::string&, int, int32_t, const std::string&, int) override {}
    bool IsOpen() const override { return true; }
    bool WaitReadable(int32_t) override { return false; }
    int32_t ReceiveSome(char*, int32_t) override { return 0; }
    void ShutdownAndClose() override {}
    bool HasUnreadInput() override { return false; }

    int32_t SendSome(const char* buffer, int32_t size) override {
        std::string_view bytes(buffer, static_cast<size_t>(size));
        size_t start = 0;
        for (size_t i = 0; i < bytes.size(); ++i) {
            // Every line the writer begins with "." had its dot doubled: drop the first one.
            if (lineStart_ && bytes[i] == '.') {
                write_(bytes.substr(start, i - start));
                start = i + 1;
            }
            lineStart_ = bytes[i] == '\n';
        }
        write_(bytes.substr(start));
        return size;
    }

private:
    std::function<void(std::string_view)> write_;
    bool lineStart_ = true;
};

class DryRunTransport : public MailTransport {
public:
    explicit DryRunTransport(std::string folder) : folder_(std::move(folder)) {}

    bool IsConnected() override { return false; }

    bool Transmit(const OutgoingMail& mail) override {
        ClearOnExit clear{message_};
        lastError_.clear();
        try {
            FillMessage(mail, message_);
        } catch (const EPictureUnreadable& error) {
            lastError_ = error.what();
            return false;
        }
        try {
            std::filesystem::create_directories(folder_);
            const std::string path = (std::filesystem::path(folder_) / DryRunFileName(mail.mailNumber)).string();
            WriteFileAtomicWith(path, [this](const std::function<void(std::string_view)>& write) {
                WriteReceivedMessage(message_, write);
            });
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    void CloseSession() override {}
    std::string LastErrorText() const override { return lastError_; }

private:
    std::string folder_;
    TIdMessage message_;
    std::string lastError_;
};

// The text part, the HTML and its pictures; the writer puts them into their multipart structure.
void AddHtmlParts(const HtmlMail& html, TIdMessage& message) {
    message.Body.clear();
    TIdText& text = message.PartList.Add<TIdText>();
    text.SetContentType("text/plain; charset=\"UTF-8\"");
    text.SetContentTransfer("quoted-printable");
    text.Body = SplitTextLines(html.text).lines;
    TIdText& markup = message.PartList.Add<TIdText>();
    markup.SetContentType("text/html; charset=\"UTF-8\"");
    markup.SetContentTransfer("quoted-printable");
    markup.Body = SplitTextLines(html.html).lines;
    for (const InlinePicture& picture : html.pictures) {
        const std::shared_ptr<const EncodedPicture> encoded = LoadPicture(picture.path);
        TIdAttachment& part = message.PartList.Add<TIdAttachment>(picture.path);
        part.AttachedName = MailTextOf(FileNameOfPath(picture.path));
        part.SetContentType(encoded->contentType);
        part.SetContentTransfer("base64");
        part.SetContentDisposition("inline");
        part.ExtraHeaders.SetHeaderValue("Content-ID", "<" + picture.contentId + ">");
        part.EncodedData = encoded->base64;
    }
}

}  // namespace

void FillMessage(const OutgoingMail& mail, TIdMessage& message) {
    message.SetEncoding(meMIME);
    message.SetAttachmentEncoding("MIME");
    message.From.SetText(mail.from);
    message.Sender.SetText(TrimText(message.From.Text()));
    message.Recipients.SetFromText(mail.recipients);
    message.CCList.SetFromText(mail.cc);
    message.Subject = mail.subject;
    message.Body = mail.bodyLines;
    // Every text of a mail is UTF-8 by now (the decoding rule of mail_text.h), whatever the locale.
    message.TextCharSet = "UTF-8";
    if (mail.html) AddHtmlParts(*mail.html, message);
    if (!mail.attachmentPath.empty()) {
        TIdAttachment& attachment = message.PartList.Add<TIdAttachment>(mail.attachmentPath);
        // The path is the file system's bytes; the name the recipient sees follows the same rule.
        attachment.AttachedName = MailTextOf(FileNameOfPath(mail.attachmentPath));
        message.ContentType = "multipart/mixed";
    }
}

void WriteReceivedMessage(TIdMessage& message, const std::function<void(std::string_view)>& write) {
    UnstuffingSink sink(write);
    TIdMessageClient writer;
    writer.SetIOHandler(&sink, false);
    writer.WriteMessage(message);
    writer.FlushOutput();
    writer.SetIOHandler(nullptr, false);
}

std::string DryRunFileName(int mailNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "%04d.eml", mailNumber);
    return name;
}

std::unique_ptr<MailTransport> CreateSmtpTransport() { return CreateSmtpTransport(IsLoopbackAddress); }

std::unique_ptr<MailTransport> CreateSmtpTransport(std::function<bool(const std::string& peerIP)> peerIsLocal) {
    return std::make_unique<SmtpTransport>(std::move(peerIsLocal));
}

std::unique_ptr<MailTransport> CreateDryRunTransport(const std::string& folder) {
    return std::make_unique<DryRunTransport>(folder);
}
