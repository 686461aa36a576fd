#pragma once
// Attachment encoders and their process-wide registry. The MIME writer looks an encoder up by the
// message's attachment encoding name ("MIME", "UUE" or "XXE") and creates a fresh one per attachment.

#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "transport/id_exception.h"

// The fixed MIME boundaries of the message writer; every message uses the same strings.
inline constexpr std::string_view MixedBoundary = "=_NextPart_2rfkquibsadvnqw3nerasdf";
inline constexpr std::string_view AlternativeBoundary = "=_NextPart_2altrfkquibsadvnqw3nerasdf";
inline constexpr std::string_view RelatedBoundary = "=_NextPart_2relrfksadvnqquibw3nerasdf";

// An attachment file that cannot be opened: "Datei <path> kann nicht geöffnet werden. <reason>".
class EIdFileOpenError : public EIdException {
public:
    EIdFileOpenError(const std::string& path, const std::string& reason);
};

// Raised when a destination stream flags a write error without throwing one itself.
class EIdStreamWriteError : public EIdException {
public:
    EIdStreamWriteError();
};

// Encodes one attachment from a source stream into a destination stream.
class TIdMessageEncoder {
public:
    virtual ~TIdMessageEncoder();

    // The file name announced by encoders that name the file ("UUE", "XXE").
    std::string Filename;
    // Permission code of the announcing line of "UUE" and "XXE".
    int PermissionCode = 660;

    virtual void EncodeStream(std::istream& source, std::ostream& destination) = 0;

    // Opens the file for reading (other programs keep every access to it), encodes it and closes it,
    // also on failure. A file that cannot be opened raises EIdFileOpenError; a read error in the
    // middle of the file passes through as the stream's own exception, never as a short attachment.
    void EncodeFile(const std::string& path, std::ostream& destination);
};

// Base64 lines of 76 characters (57 source bytes each) ending in CR LF; nothing for an empty source.
class TIdMessageEncoderMIME : public TIdMessageEncoder {
public:
    void EncodeStream(std::istream& source, std::ostream& destination) override;
};

// The uuencode form: "begin <code> <name>", lines of 45 source bytes led by their length character,
// a line holding the zero character, and "end".
class TIdMessageEncoderUUE : public TIdMessageEncoder {
public:
    void EncodeStream(std::istream& source, std::ostream& destination) override;
};

// The xxencode form: the same layout as uuencode with the xxencode table.
class TIdMessageEncoderXXE : public TIdMessageEncoder {
public:
    void EncodeStream(std::istream& source, std::ostream& destination) override;
};

// The part counts of a message that decide its multipart content type.
struct TIdMessagePartCounts {
    int Attachments = 0;
    int TextParts = 0;
    int RelatedParts = 0;
};

// One entry of the registry.
class TIdMessageEncoderInfo {
public:
    virtual ~TIdMessageEncoderInfo();
    virtual std::unique_ptr<TIdMessageEncoder> CreateEncoder() const = 0;
    // Sets the message's content type for its parts; the default leaves it as the caller set it.
    virtual void InitializeContentType(const TIdMessagePartCounts& counts, std::string& contentType) const;
};

// "MIME": related parts give multipart/related, attachments multipart/mixed, text parts
// multipart/alternative, each with its fixed boundary.
class TIdMessageEncoderInfoMIME : public TIdMessageEncoderInfo {
public:
    std::unique_ptr<TIdMessageEncoder> CreateEncoder() const override;
    void InitializeContentType(const TIdMessagePartCounts& counts, std::string& contentType) const override;
};

class TIdMessageEncoderInfoUUE : public TIdMessageEncoderInfo {
public:
    std::unique_ptr<TIdMessageEncoder> CreateEncoder() const override;
};

class TIdMessageEncoderInfoXXE : public TIdMessageEncoderInfo {
public:
    std::unique_ptr<TIdMessageEncoder> CreateEncoder() const override;
};

// The process-wide registry; created with "MIME", "UUE" and "XXE" on first use. Names compare without
// regard to case. Registering a name that exists replaces its entry.
class TIdMessageEncoderList {
public:
    static void RegisterEncoder(std::string_view name, std::shared_ptr<const TIdMessageEncoderInfo> info);
    // The entry of that name; EIdException "Botschafts-Encoder nicht gefunden: <name>" when none.
    static std::shared_ptr<const TIdMessageEncoderInfo> ByName(std::string_view name);
};
