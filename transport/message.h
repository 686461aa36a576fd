#pragma once
// The message object that the sending code fills and the MIME writer turns into text: header fields,
// body lines, and the parts (text parts and attachments).

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "transport/email_address.h"
#include "transport/header_charset.h"
#include "transport/header_list.h"
#include "transport/id_exception.h"
#include "transport/message_encoders.h"

// "TIdMessagePart kann nicht erzeugt werden. Verwenden Sie abgeleitete Klassen. "
class EIdCanNotCreateMessagePart : public EIdException {
public:
    EIdCanNotCreateMessagePart();
};

// An error of the message itself, such as a layout the encoding does not allow.
class EIdMessageException : public EIdException {
public:
    using EIdException::EIdException;
};

enum class TIdMessagePartKind { Text, Attachment };

// Base of the parts of a message. Only the derived parts exist: creating a plain part fails.
class TIdMessagePart {
public:
    TIdMessagePart();  // raises EIdCanNotCreateMessagePart
    virtual ~TIdMessagePart();
    TIdMessagePart(const TIdMessagePart&) = delete;
    TIdMessagePart& operator=(const TIdMessagePart&) = delete;

    TIdMessagePartKind Kind() const { return kind_; }

    // "Content-Type", "Content-Transfer-Encoding" and "Content-Disposition" of the part's own headers.
    std::string ContentType() const { return Headers.ReadHeaderValue("Content-Type"); }
    void SetContentType(const std::string& value) { Headers.SetHeaderValue("Content-Type", value); }
    std::string ContentTransfer() const { return Headers.ReadHeaderValue("Content-Transfer-Encoding"); }
    void SetContentTransfer(const std::string& value) { Headers.SetHeaderValue("Content-Transfer-Encoding", value); }
    std::string ContentDisposition() const { return Headers.ReadHeaderValue("Content-Disposition"); }
    void SetContentDisposition(const std::string& value) { Headers.SetHeaderValue("Content-Disposition", value); }

    TIdHeaderList Headers;
    TIdHeaderList ExtraHeaders;

protected:
    explicit TIdMessagePart(TIdMessagePartKind kind);

private:
    TIdMessagePartKind kind_;
};

class TIdText : public TIdMessagePart {
public:
    TIdText();
    std::vector<std::string> Body;
};

class TIdAttachment : public TIdMessagePart {
public:
    // Records the path only; the file is opened when the message is written.
    explicit TIdAttachment(const std::string& sourcePath);

    std::string SourcePath;
    std::string AttachedName;  // the file name shown to the recipient
    // The data already encoded for the wire (base64 lines, each ending in CR LF), shared by every mail
    // of a run that carries the same file, so that a picture is read and encoded once; empty: the file
    // at SourcePath is read and encoded when the message is written.
    std::shared_ptr<const std::string> EncodedData;
};

// The file name of a path: the text after its last "/".
std::string FileNameOfPath(const std::string& path);

// The parts of a message, in insertion order, owned by the collection.
class TIdMessageParts {
public:
    template <class Part, class... Args>
    Part& Add(Args&&... args) {
        auto part = std::make_unique<Part>(std::forward<Args>(args)...);
        Part& added = *part;
        parts_.push_back(std::move(part));
        return added;
    }
    void Clear() { parts_.clear(); }
    std::size_t Count() const { return parts_.size(); }
    TIdMessagePart& operator[](std::size_t index) { return *parts_[index]; }
    const TIdMessagePart& operator[](std::size_t index) const { return *parts_[index]; }

    // Counts the attachments, text parts and related parts (attachments with a "Content-ID").
    void CountParts();
    const TIdMessagePartCounts& Counts() const { return counts_; }

    // The name of the attachment encoder and its registry entry; setting an unknown name raises.
    void SetAttachmentEncoding(const std::string& name);
    const std::string& AttachmentEncoding() const { return attachmentEncoding_; }
    const TIdMessageEncoderInfo& EncoderInfo() const { return *encoderInfo_; }

private:
    std::vector<std::unique_ptr<TIdMessagePart>> parts_;
    TIdMessagePartCounts counts_;
    std::string attachmentEncoding_ = "MIME";
    std::shared_ptr<const TIdMessageEncoderInfo> encoderInfo_ = TIdMessageEncoderList::ByName("MIME");
};

enum TIdMessageEncoding { meMIME, meUU };
enum TIdMessagePriority { mpHighest, mpHigh, mpNormal, mpLow, mpLowest };

// Lets the owner change the header charset choice before the header is generated.
using TIdInitializeIsoEvent = std::function<void(TTransfer& transfer, char& headerEncoding, std::string& charSet)>;

// The value of X-Library in every generated header.
inline constexpr const char* kLibraryHeaderValue = "Quib 9.00.10";

class TIdMessage {
public:
    std::vector<std::string> Body;
    TIdEMailAddressItem From;
    TIdEMailAddressItem Sender;
    TIdEMailAddressItem ReceiptRecipient;
    TIdEMailAddressList Recipients;
    TIdEMailAddressList CCList;
    TIdEMailAddressList BccList;  // envelope only, never in the header
    TIdEMailAddressList ReplyTo;
    std::string Subject;
    std::string Organization;
    std::string References;
    std::vector<std::string> NewsGroups;
    TIdMessagePriority Priority = mpNormal;
    std::string ContentType;
    std::string CharSet;
    std::string ContentTransferEncoding;
    std::string ContentDisposition;
    std::time_t Date = 0;  // 0: the time of sending
    std::string MsgId;     // the Message-ID header's value with its angle brackets; empty: a new one
    TIdMessageParts PartList;
    TIdHeaderList RawHeaders;
    TIdHeaderList ExtraHeaders;
    bool NoEncode = false;
    // The charset that the texts (subject, names, body, file names) are in, when the owner knows it
    // ("UTF-8"); empty: they are in the locale's charset. The writer labels and encodes the text by it.
    std::string TextCharSet;
    TIdInitializeIsoEvent OnInitializeISO;

    bool UseNowForDate() const { return Date == 0; }
    void SetUseNowForDate() { Date = 0; }

    TIdMessageEncoding Encoding() const { return encoding_; }
    // Also sets the attachment encoding: "MIME" for meMIME, "UUE" for meUU.
    void SetEncoding(TIdMessageEncoding encoding);
    const std::string& AttachmentEncoding() const { return PartList.AttachmentEncoding(); }
    void SetAttachmentEncoding(const std::string& name) { PartList.SetAttachmentEncoding(name); }

    // Empties every field, removes all parts, and returns Priority, Date and the encodings to their defaults.
    void Clear();

    // The header lines of the message. Changes ContentType (and, for an 8-bit body, the content fields)
    // as a side effect.
    TIdHeaderList BuildHeaderList();

    // True when the body lines go out in the plain layout (no attachments, no text parts).
    bool HasPlainLayout() const;
    // True for an HTML mail: a text part of type text/html. It goes out as multipart/alternative of its
    // text/plain part and its HTML, the HTML in multipart/related with the attachments that carry a
    // Content-ID (its pictures), and all of it in multipart/mixed when there are other attachments.
    bool HasHtmlLayout() const;
    // True when the body cannot go out as it is: some line holds a byte of 128 or above, or is longer than
    // a line on the wire may be (998 octets before CR LF, the "." that stuffing adds included). Such a body
    // is labelled with its charset and sent quoted-printable, whose lines are short.
    bool NeedsQuotedPrintableBody() const;
    // The charset choice for this message's texts: by TextCharSet when set, else by the locale.
    THeaderCharset TextHeaderCharset() const;

private:
    TIdMessageEncoding encoding_ = meMIME;
};
