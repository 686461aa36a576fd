#pragma once
// The MIME message writer: turns a TIdMessage into the text that goes onto the connection after the
// server has accepted DATA (header block, empty line, body with its parts), dot-stuffed. The terminating
// "." is the SMTP session's business, not the writer's.

#include <functional>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "transport/header_charset.h"
#include "transport/message.h"
#include "transport/tcp_connection.h"

// The preamble of every multipart body.
inline constexpr std::string_view kMultipartPreamble = "This is a multi-part message in MIME format";

// Doubles the leading "." of every line of a text made of CR LF-terminated lines, so that no line of
// the data can be taken for the end mark.
std::string DotStuffLines(std::string_view text);
std::string DotStuffLine(std::string_view line);

// A stream buffer over the connection: what is written goes to WriteBytes at once, what is read comes
// from the connection's input. Seeking is not supported.
class TIdTCPStream : public std::streambuf {
public:
    explicit TIdTCPStream(TIdTCPConnection& connection) : connection_(connection) {}

protected:
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;
    int_type overflow(int_type c) override;
    int_type underflow() override;

private:
    TIdTCPConnection& connection_;
    std::string input_;
};

class TIdMessageClient : public TIdTCPClient {
public:
    // Around WriteBody: begin and end of the write work (the end also when an error leaves it).
    std::function<void(TWorkMode)> OnWorkBegin;
    std::function<void(TWorkMode)> OnWorkEnd;

    void WriteMessage(TIdMessage& message, bool headersOnly = false);
    void WriteHeader(TIdMessage& message);
    void WriteBody(TIdMessage& message);
    // Every Body line dot-stuffed, as it is.
    void WriteBodyLines(const TIdMessage& message);
    void WriteTextPartSection(TIdText& part, TTransfer transfer);

private:
    // The Body lines of the plain layout or of the attachment layout's text section: unchanged for an
    // ASCII body with short lines, quoted-printable otherwise (the header or the section says so).
    void WriteBodyText(const TIdMessage& message, TTransfer transfer);
    void WriteAttachmentSection(TIdAttachment& part, const THeaderCharset& charset);
    void WriteAttachmentData(TIdMessage& message, TIdAttachment& part);
    // The empty line, the delimiter, the section and the data of one attachment.
    void WriteAttachmentPart(TIdMessage& message, TIdAttachment& part, std::string_view boundary,
                             const THeaderCharset& charset);
    void WriteHtmlBody(TIdMessage& message, std::vector<TIdText*> texts,
                       const std::vector<TIdAttachment*>& attachments, const THeaderCharset& charset);
    void WriteQuotedPrintableLine(std::string line, TTransfer transfer);
};
