#include "transport/message.h"

#include <algorithm>
#include <string_view>

#include "transport/byte_text.h"
#include "transport/header_words.h"
#include "transport/internet_date.h"
#include "transport/message_id.h"

EIdCanNotCreateMessagePart::EIdCanNotCreateMessagePart()
    : EIdException("TIdMessagePart kann nicht erzeugt werden. Verwenden Sie abgeleitete Klassen. ") {}

TIdMessagePart::TIdMessagePart() : kind_(TIdMessagePartKind::Text) { throw EIdCanNotCreateMessagePart(); }
TIdMessagePart::TIdMessagePart(TIdMessagePartKind kind) : kind_(kind) {}
TIdMessagePart::~TIdMessagePart() = default;

TIdText::TIdText() : TIdMessagePart(TIdMessagePartKind::Text) {}

TIdAttachment::TIdAttachment(const std::string& sourcePath)
    : TIdMessagePart(TIdMessagePartKind::Attachment), SourcePath(sourcePath), AttachedName(FileNameOfPath(sourcePath)) {}

std::string FileNameOfPath(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void TIdMessageParts::CountParts() {
    counts_ = {};
    for (const auto& part : parts_) {
        if (part->Kind() == TIdMessagePartKind::Text) {
            ++counts_.TextParts;
        } else {
            ++counts_.Attachments;
            if (!part->ExtraHeaders.ReadHeaderValue("Content-ID").empty()) ++counts_.RelatedParts;
        }
    }
}

void TIdMessageParts::SetAttachmentEncoding(const std::string& name) {
    encoderInfo_ = TIdMessageEncoderList::ByName(name);
    attachmentEncoding_ = name;
}

void TIdMessage::SetEncoding(TIdMessageEncoding encoding) {
    encoding_ = encoding;
    SetAttachmentEncoding(encoding == meMIME ? "MIME" : "UUE");
}

void TIdMessage::Clear() {
    Body.clear();
    From = {};
    Sender = {};
    ReceiptRecipient = {};
    Recipients.Clear();
    CCList.Clear();
    BccList.Clear();
    ReplyTo.Clear();
    Subject.clear();
    Organization.clear();
    References.clear();
    MsgId.clear();
    NewsGroups.clear();
    Priority = mpNormal;
    ContentType.clear();
    CharSet.clear();
    ContentTransferEncoding.clear();
    ContentDisposition.clear();
    Date = 0;
    PartList.Clear();
    RawHeaders.Clear();
    ExtraHeaders.Clear();
    NoEncode = false;
    TextCharSet.clear();
    SetEncoding(meMIME);
}

THeaderCharset TIdMessage::TextHeaderCharset() const { return ChooseHeaderCharsetForText(TextCharSet); }

bool TIdMessage::HasPlainLayout() const {
    for (std::size_t i = 0; i < PartList.Count(); ++i) {
        if (PartList[i].Kind() == TIdMessagePartKind::Attachment) return false;
    }
    // A single text part without attachments is written as a multipart body as well, matching the
    // multipart/alternative type the header announces.
    return PartList.Count() == 0;
}

bool TIdMessage::HasHtmlLayout() const {
    for (std::size_t i = 0; i < PartList.Count(); ++i) {
        const TIdMessagePart& part = PartList[i];
        if (part.Kind() == TIdMessagePartKind::Text && SameTextIgnoringCase(part.ContentType().substr(0, 9), "text/html")) {
            return true;
        }
    }
    return false;
}

bool TIdMessage::NeedsQuotedPrintableBody() const {
    // RFC 5322 section 2.1.1: at most 998 characters on a line, CR LF not counted.
    constexpr std::size_t kMaxWireLine = 998;
    return std::any_of(Body.begin(), Body.end(), [](const std::string& line) {
        const std::size_t onTheWire = line.size() + (!line.empty() && line.front() == '.' ? 1 : 0);
        return onTheWire > kMaxWireLine ||
               std::any_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) >= 128; });
    });
}

namespace {

std::string JoinWithCommas(const std::vector<std::string>& entries) {
    std::string joined;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) joined += ',';
        joined += entries[i];
    }
    return joined;
}

bool HasCharsetParameter(std::string_view contentType) {
    return UpperCaseAscii(contentType).find("CHARSET=") != std::string::npos;
}

bool IsPrintableAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte >= 32 && byte <= 126;
    });
}

// The "Sender" value: the address's text form as long as that is plain ASCII. A name with other
// bytes is written as encoded words instead, so that the header never carries raw 8-bit bytes.
std::string SenderValue(const TIdEMailAddressItem& sender, const THeaderCharset& charset) {
    std::string text = sender.Text();
    if (IsPrintableAscii(text)) return text;
    return FormatAddressForHeader(sender, charset.HeaderEncoding, charset.Transfer, charset.CharSet);
}

}  // namespace

TIdHeaderList TIdMessage::BuildHeaderList() {
    // Content type rule.
    PartList.CountParts();
    const TIdMessagePartCounts& counts = PartList.Counts();
    if (encoding_ == meUU && (counts.TextParts > 0 || counts.RelatedParts > 0)) {
        throw EIdMessageException("Ungültige Codierung. UU gestattet nur Rumpf und Anlage");
    }
    if (encoding_ == meMIME && HasHtmlLayout()) {
        // The outermost part of the HTML layout: the other attachments' mixed part, else the alternative.
        ContentType = counts.Attachments > counts.RelatedParts
                          ? "multipart/mixed; boundary=\"" + std::string(MixedBoundary) + "\""
                          : "multipart/alternative; boundary=\"" + std::string(AlternativeBoundary) + "\"";
    } else if (encoding_ == meMIME) {
        PartList.EncoderInfo().InitializeContentType(counts, ContentType);
        if (!CharSet.empty()) {
            ContentType = ContentType.empty() ? "charset=\"" + CharSet + "\""
                                              : ContentType + ";\r\n\tcharset=\"" + CharSet + "\"";
        }
    }
    THeaderCharset charset = TextHeaderCharset();
    if (OnInitializeISO) OnInitializeISO(charset.Transfer, charset.HeaderEncoding, charset.CharSet);

    // An 8-bit body, or one with too long a line, in the plain layout is labelled with its charset and
    // sent quoted-printable.
    std::string contentType = ContentType;
    std::string transferEncoding = ContentTransferEncoding;
    bool mimeVersion = encoding_ == meMIME && PartList.Count() > 0;
    if (encoding_ == meMIME && HasPlainLayout() && NeedsQuotedPrintableBody()) {
        if (contentType.empty()) contentType = "text/plain";
        if (!HasCharsetParameter(contentType)) contentType += "; charset=\"" + charset.CharSet + "\"";
        transferEncoding = "quoted-printable";
        mimeVersion = true;
    }

    TIdHeaderList headers;
    if (!RawHeaders.Empty()) headers.AddLines(RawHeaders);
    const char letter = charset.HeaderEncoding;
    const TTransfer transfer = charset.Transfer;
    const std::string& name = charset.CharSet;
    headers.SetHeaderValue("From", FormatAddressForHeader(From, letter, transfer, name));
    headers.SetHeaderValue("Subject", EncodeHeaderWords(Subject, "", letter, transfer, name));
    headers.SetHeaderValue("To", FormatAddressListForHeader(Recipients, letter, transfer, name));
    headers.SetHeaderValue("Cc", FormatAddressListForHeader(CCList, letter, transfer, name));
    headers.SetHeaderValue("Newsgroups", JoinWithCommas(NewsGroups));
    if (encoding_ == meMIME) {
        headers.SetHeaderValue("Content-Type", contentType);
        if (mimeVersion) headers.SetHeaderValue("MIME-Version", "1.0");
        headers.SetHeaderValue("Content-Transfer-Encoding", transferEncoding);
    }
    headers.SetHeaderValue("Sender", SenderValue(Sender, charset));
    headers.SetHeaderValue("Reply-To", FormatAddressListForHeader(ReplyTo, letter, transfer, name));
    headers.SetHeaderValue("Organization", EncodeHeaderWords(Organization, "", letter, transfer, name));
    headers.SetHeaderValue("Disposition-Notification-To", FormatAddressForHeader(ReceiptRecipient, letter, transfer, name));
    headers.SetHeaderValue("References", References);
    headers.SetHeaderValue("Date", FormatInternetDate(Date == 0 ? std::time(nullptr) : Date));
    // Kept once made, so that a message written twice keeps its identity.
    if (MsgId.empty()) MsgId = NewMessageId(From.Address);
    headers.SetHeaderValue("Message-ID", MsgId);
    headers.SetHeaderValue("X-Priority", std::to_string(static_cast<int>(Priority) + 1));
    headers.SetHeaderValue("X-Library", kLibraryHeaderValue);
    headers.AddLines(ExtraHeaders);
    return headers;
}
