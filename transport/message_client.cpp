#include "transport/message_client.h"

#include <algorithm>
#include <ostream>

#include "transport/byte_text.h"
#include "transport/encoders.h"
#include "transport/header_words.h"
#include "transport/iso2022jp.h"

namespace {

constexpr const char* kEncodingText = "Text wird codiert";
constexpr const char* kEncodingAttachment = "Anlage wird codiert";
// Indent of the parameter lines of a part header.
constexpr const char* kParameterIndent = "        ";

std::string Delimiter(std::string_view boundary) { return "--" + std::string(boundary); }
std::string CloseDelimiter(std::string_view boundary) { return "--" + std::string(boundary) + "--"; }

bool HasEightBit(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 128; });
}

// A file name as a quoted parameter value may carry it: no CR or LF, double quote and backslash escaped.
std::string EscapedFileName(std::string_view name) {
    std::string out;
    for (char c : name) {
        if (c == '\r' || c == '\n') continue;
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// RFC 2231 value: charset, empty language, and every byte outside attr-char as %XX.
std::string ExtendedParameterValue(std::string_view bytes, std::string_view charset) {
    static constexpr std::string_view kAttrChars =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!#$&+-.^_`|~";
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = std::string(charset) + "''";
    for (char c : bytes) {
        if (kAttrChars.find(c) != std::string_view::npos) {
            out += c;
        } else {
            auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

}  // namespace

std::string DotStuffLine(std::string_view line) {
    if (!line.empty() && line.front() == '.') return "." + std::string(line);
    return std::string(line);
}

std::string DotStuffLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    // Line by line: a line is copied in one piece, and a "." at its start is doubled.
    std::size_t start = 0;
    while (start < text.size()) {
        if (text[start] == '.') out += '.';
        std::size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        out.append(text, start, end - start);
        start = end;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// TIdTCPStream

std::streamsize TIdTCPStream::xsputn(const char* bytes, std::streamsize count) {
    connection_.WriteBytes(bytes, static_cast<std::size_t>(count));
    return count;
}

TIdTCPStream::int_type TIdTCPStream::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    char byte = traits_type::to_char_type(c);
    connection_.WriteBytes(&byte, 1);
    return c;
}

TIdTCPStream::int_type TIdTCPStream::underflow() {
    if (connection_.PendingInput().Size() == 0) {
        connection_.FillInputBuffer(true, UseReadTimeout, true);
    }
    input_ = connection_.PendingInput().Extract(connection_.PendingInput().Size());
    if (input_.empty()) return traits_type::eof();
    setg(input_.data(), input_.data(), input_.data() + input_.size());
    return traits_type::to_int_type(input_.front());
}

// ---------------------------------------------------------------------------------------------------------
// TIdMessageClient

void TIdMessageClient::WriteMessage(TIdMessage& message, bool headersOnly) {
    if (message.NoEncode) {
        WriteLines(message.RawHeaders.Lines());
        WriteLine("");
        if (!headersOnly) WriteBodyLines(message);
        return;
    }
    WriteHeader(message);
    WriteLine("");
    if (!headersOnly) WriteBody(message);
}

void TIdMessageClient::WriteHeader(TIdMessage& message) { WriteLines(message.BuildHeaderList().Lines()); }

void TIdMessageClient::WriteBodyLines(const TIdMessage& message) {
    for (const std::string& line : message.Body) WriteLine(DotStuffLine(line));
}

void TIdMessageClient::WriteQuotedPrintableLine(std::string line, TTransfer transfer) {
    if (transfer == TTransfer::iso2022jp) line = ConvertToISO2022JP(line);
    line += "\r\n";
    std::string encoded;
    AppendQuotedPrintable(line, encoded);
    // A soft line break may put a "." at the start of an output line: those lines are stuffed too.
    WriteText(DotStuffLines(encoded));
}

void TIdMessageClient::WriteBodyText(const TIdMessage& message, TTransfer transfer) {
    const bool quotedPrintable = message.Encoding() == meMIME && message.NeedsQuotedPrintableBody();
    if (quotedPrintable && transfer != TTransfer::iso2022jp) {
        // The whole text in one piece: the same output as line by line (the encoder starts its count
        // again after every line break), with one encoding pass and one write instead of one per line.
        std::string text;
        for (const std::string& line : message.Body) {
            text += line;
            text += "\r\n";
        }
        std::string encoded;
        AppendQuotedPrintable(text, encoded);
        WriteText(DotStuffLines(encoded));
        return;
    }
    for (const std::string& line : message.Body) {
        if (quotedPrintable) {
            WriteQuotedPrintableLine(line, transfer);
        } else {
            WriteLine(DotStuffLine(transfer == TTransfer::iso2022jp ? ConvertToISO2022JP(line) : line));
        }
    }
}

void TIdMessageClient::WriteTextPartSection(TIdText& part, TTransfer transfer) {
    if (part.ContentType().empty()) part.SetContentType("text/plain");
    if (part.ContentTransfer().empty()) part.SetContentTransfer("quoted-printable");
    WriteLine("Content-Type: " + part.ContentType());
    WriteLine("Content-Transfer-Encoding: " + part.ContentTransfer());
    WriteLines(part.ExtraHeaders.Lines());
    WriteLine("");
    if (SameTextIgnoringCase(part.ContentTransfer(), "quoted-printable")) {
        for (const std::string& line : part.Body) WriteQuotedPrintableLine(line, transfer);
    } else {
        for (const std::string& line : part.Body) WriteLine(DotStuffLine(line));
    }
    WriteLine("");
}

void TIdMessageClient::WriteAttachmentSection(TIdAttachment& part, const THeaderCharset& charset) {
    if (part.ContentTransfer().empty()) part.SetContentTransfer("base64");
    if (part.ContentDisposition().empty()) part.SetContentDisposition("attachment");
    if (part.ContentTransfer() == "base64" && part.ContentType().empty()) {
        part.SetContentType("application/octet-stream");
    }
    std::string name = FileNameOfPath(part.AttachedName);
    name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == '\r' || c == '\n'; }), name.end());
    // An ASCII name goes into the quotes as it is (escaped); any other name as encoded words there, for
    // readers that know only that form, and in full in the RFC 2231 parameter.
    std::string quoted = EscapedFileName(name);
    const bool extended = HasEightBit(name);
    if (extended) {
        std::string words = EncodeHeaderWords(name, "\"\\", charset.HeaderEncoding, charset.Transfer, charset.CharSet);
        std::string joined;
        for (char c : words) {
            if (c == '\r' || c == '\n') continue;
            joined += c == '\t' ? ' ' : c;
        }
        quoted = EscapedFileName(joined);
    }
    WriteLine("Content-Type: " + part.ContentType() + ";");
    WriteLine(std::string(kParameterIndent) + "name=\"" + quoted + "\"");
    WriteLine("Content-Transfer-Encoding: " + part.ContentTransfer());
    WriteLine("Content-Disposition: " + part.ContentDisposition() + ";");
    if (extended) {
        const std::string bytes = charset.Transfer == TTransfer::iso2022jp ? ConvertToISO2022JP(name) : name;
        WriteLine(std::string(kParameterIndent) + "filename=\"" + quoted + "\";");
        WriteLine(std::string(kParameterIndent) + "filename*=" + ExtendedParameterValue(bytes, charset.CharSet));
    } else {
        WriteLine(std::string(kParameterIndent) + "filename=\"" + quoted + "\"");
    }
    WriteLines(part.ExtraHeaders.Lines());
    WriteLine("");
}

void TIdMessageClient::WriteAttachmentData(TIdMessage& message, TIdAttachment& part) {
    if (part.EncodedData) {
        // Base64 lines never begin with ".": nothing to stuff.
        WriteText(*part.EncodedData);
        return;
    }
    std::unique_ptr<TIdMessageEncoder> encoder = message.PartList.EncoderInfo().CreateEncoder();
    encoder->Filename = FileNameOfPath(part.AttachedName);
    TIdTCPStream stream(*this);
    std::ostream destination(&stream);
    // A connection error inside the stream travels up as itself.
    destination.exceptions(std::ios::badbit);
    encoder->EncodeFile(part.SourcePath, destination);
}

void TIdMessageClient::WriteBody(TIdMessage& message) {
    if (OnWorkBegin) OnWorkBegin(wmWrite);
    struct EndOfWork {
        TIdMessageClient& client;
        ~EndOfWork() {
            if (client.OnWorkEnd) client.OnWorkEnd(wmWrite);
        }
    } endOfWork{*this};

    const THeaderCharset charset = message.TextHeaderCharset();
    message.PartList.CountParts();
    const TIdMessagePartCounts counts = message.PartList.Counts();
    std::vector<TIdText*> texts;
    std::vector<TIdAttachment*> attachments;
    for (std::size_t i = 0; i < message.PartList.Count(); ++i) {
        TIdMessagePart& part = message.PartList[i];
        if (part.Kind() == TIdMessagePartKind::Text) {
            texts.push_back(static_cast<TIdText*>(&part));
        } else {
            attachments.push_back(static_cast<TIdAttachment*>(&part));
        }
    }

    if (message.Encoding() == meMIME && message.HasHtmlLayout()) {
        WriteHtmlBody(message, texts, attachments, charset);
        return;
    }
    if (counts.Attachments == 0 && counts.TextParts == 0) {
        NotifyStatus(hsStatusText, kEncodingText);
        WriteBodyText(message, charset.Transfer);
        return;
    }
    if (counts.Attachments == 0) {
        WriteLine(std::string(kMultipartPreamble));
        WriteLine("");
        for (TIdText* text : texts) {
            WriteLine(Delimiter(MixedBoundary));
            NotifyStatus(hsStatusText, kEncodingText);
            WriteTextPartSection(*text, charset.Transfer);
        }
        WriteLine(CloseDelimiter(MixedBoundary));
        return;
    }
    if (message.Encoding() == meUU) {
        WriteBodyLines(message);
        WriteLine("");
        for (TIdAttachment* attachment : attachments) {
            NotifyStatus(hsStatusText, kEncodingAttachment);
            WriteAttachmentData(message, *attachment);
            WriteLine("");
        }
        return;
    }

    WriteLine(std::string(kMultipartPreamble));
    WriteLine("");
    const std::string_view boundary = counts.RelatedParts > 0 ? RelatedBoundary : MixedBoundary;
    WriteLine(Delimiter(boundary));
    if (counts.TextParts > 1) {
        WriteLine("Content-Type: multipart/alternative; ");
        WriteLine(std::string(kParameterIndent) + "boundary=\"" + std::string(AlternativeBoundary) + "\"");
        WriteLine("");
        for (TIdText* text : texts) {
            WriteLine(Delimiter(AlternativeBoundary));
            NotifyStatus(hsStatusText, kEncodingText);
            WriteTextPartSection(*text, charset.Transfer);
            WriteLine("");
        }
        WriteLine(CloseDelimiter(AlternativeBoundary));
    } else if (message.NeedsQuotedPrintableBody()) {
        WriteLine("Content-Type: text/plain; charset=\"" + charset.CharSet + "\"");
        WriteLine("Content-Transfer-Encoding: quoted-printable");
        WriteLine("");
        WriteBodyText(message, charset.Transfer);
    } else {
        WriteLine("Content-Type: text/plain");
        WriteLine("Content-Transfer-Encoding: 7bit");
        WriteLine("");
        WriteBodyText(message, TTransfer::bit7);
    }
    for (TIdAttachment* attachment : attachments) WriteAttachmentPart(message, *attachment, boundary, charset);
    WriteLine(CloseDelimiter(boundary));
}

void TIdMessageClient::WriteAttachmentPart(TIdMessage& message, TIdAttachment& part, std::string_view boundary,
                                           const THeaderCharset& charset) {
    NotifyStatus(hsStatusText, kEncodingAttachment);
    WriteLine("");
    WriteLine(Delimiter(boundary));
    WriteAttachmentSection(part, charset);
    WriteAttachmentData(message, part);
    WriteLine("");
}

void TIdMessageClient::WriteHtmlBody(TIdMessage& message, std::vector<TIdText*> texts,
                                     const std::vector<TIdAttachment*>& attachments, const THeaderCharset& charset) {
    std::vector<TIdAttachment*> pictures;
    std::vector<TIdAttachment*> others;
    for (TIdAttachment* attachment : attachments) {
        (attachment->ExtraHeaders.ReadHeaderValue("Content-ID").empty() ? others : pictures).push_back(attachment);
    }
    // The header's Content-Type names the outermost part: mixed when there are other attachments.
    WriteLine(std::string(kMultipartPreamble));
    WriteLine("");
    if (!others.empty()) {
        WriteLine(Delimiter(MixedBoundary));
        WriteLine("Content-Type: multipart/alternative;");
        WriteLine(std::string(kParameterIndent) + "boundary=\"" + std::string(AlternativeBoundary) + "\"");
        WriteLine("");
    }
    // The plainest alternative comes first, the HTML last (RFC 2046, 5.1.4): the text parts in their
    // order, the HTML ones after the others.
    std::stable_partition(texts.begin(), texts.end(), [](const TIdText* text) {
        return !SameTextIgnoringCase(text->ContentType().substr(0, 9), "text/html");
    });
    for (TIdText* text : texts) {
        const bool html = SameTextIgnoringCase(text->ContentType().substr(0, 9), "text/html");
        WriteLine(Delimiter(AlternativeBoundary));
        if (html && !pictures.empty()) {
            // The HTML and the pictures it shows by their Content-ID (RFC 2387).
            WriteLine("Content-Type: multipart/related;");
            WriteLine(std::string(kParameterIndent) + "type=\"text/html\";");
            WriteLine(std::string(kParameterIndent) + "boundary=\"" + std::string(RelatedBoundary) + "\"");
            WriteLine("");
            WriteLine(Delimiter(RelatedBoundary));
        }
        NotifyStatus(hsStatusText, kEncodingText);
        WriteTextPartSection(*text, charset.Transfer);
        if (html && !pictures.empty()) {
            for (TIdAttachment* picture : pictures) WriteAttachmentPart(message, *picture, RelatedBoundary, charset);
            WriteLine(CloseDelimiter(RelatedBoundary));
        }
    }
    WriteLine(CloseDelimiter(AlternativeBoundary));
    if (others.empty()) return;
    for (TIdAttachment* attachment : others) WriteAttachmentPart(message, *attachment, MixedBoundary, charset);
    WriteLine(CloseDelimiter(MixedBoundary));
}
