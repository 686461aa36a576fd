#include "transport/message_encoders.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

#include "transport/byte_text.h"
#include "transport/encoders.h"

namespace {

// 57 source bytes make one base64 line of 76 characters, the longest RFC 2045 allows.
constexpr std::size_t kMimeLineBytes = 57;
// The file is read this many lines' worth at a time (65 493 bytes), and their lines go to the connection
// in one write: a read and a write per line cost more than the encoding. Memory stays bounded by it.
constexpr std::size_t kMimeLinesPerRead = 1149;
// uuencode and xxencode lines carry 45 source bytes (60 characters plus the length character).
constexpr std::size_t kUULineBytes = 45;

void WriteOut(std::ostream& destination, const std::string& text) {
    destination.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (destination.bad()) throw EIdStreamWriteError();
}

// Starts at the beginning of a seekable source; a stream that cannot seek is read from where it is.
void RewindSource(std::istream& source) {
    source.seekg(0);
    if (source.fail() && !source.bad()) source.clear();
}

void EncodeUULike(TIdEncoder3to4& coding, const TIdMessageEncoder& encoder, std::istream& source,
                  std::ostream& destination) {
    RewindSource(source);
    const std::string& table = coding.CodingTable();
    WriteOut(destination, "begin " + std::to_string(encoder.PermissionCode) + " " + encoder.Filename + "\r\n");
    std::string bytes(kUULineBytes, '\0');
    for (;;) {
        source.read(bytes.data(), static_cast<std::streamsize>(kUULineBytes));
        if (source.bad()) throw EIdStreamReadError();
        auto got = static_cast<std::size_t>(source.gcount());
        if (got == 0) break;
        // The length character names the real byte count; the last group is padded with zero bits.
        WriteOut(destination, table[got] + coding.EncodeBytes(std::string_view(bytes).substr(0, got)) + "\r\n");
        if (got < kUULineBytes) break;
    }
    WriteOut(destination, std::string(1, table[0]) + "\r\nend\r\n");
}

struct Registry {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<const TIdMessageEncoderInfo>> entries;

    Registry() {
        entries["MIME"] = std::make_shared<TIdMessageEncoderInfoMIME>();
        entries["UUE"] = std::make_shared<TIdMessageEncoderInfoUUE>();
        entries["XXE"] = std::make_shared<TIdMessageEncoderInfoXXE>();
    }
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

EIdFileOpenError::EIdFileOpenError(const std::string& path, const std::string& reason)
    : EIdException("Datei " + path + " kann nicht geöffnet werden. " + reason) {}

EIdStreamWriteError::EIdStreamWriteError() : EIdException("Stream-Schreibfehler") {}

TIdMessageEncoder::~TIdMessageEncoder() = default;

void TIdMessageEncoder::EncodeFile(const std::string& path, std::ostream& destination) {
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) throw EIdFileOpenError(path, errno != 0 ? std::strerror(errno) : "");
    // Let the file stream's own read error travel up instead of ending the data early.
    file.exceptions(std::ios::badbit);
    EncodeStream(file, destination);
}

void TIdMessageEncoderMIME::EncodeStream(std::istream& source, std::ostream& destination) {
    RewindSource(source);
    TIdEncoderMIME coding;
    std::vector<char> block(kMimeLineBytes * kMimeLinesPerRead);
    std::string lines;
    lines.reserve(kMimeLinesPerRead * 78);
    for (;;) {
        source.read(block.data(), static_cast<std::streamsize>(block.size()));
        if (source.bad()) throw EIdStreamReadError();
        const auto got = static_cast<std::size_t>(source.gcount());
        if (got == 0) return;
        lines.clear();
        // Only the last read of a file is short, so every line but the file's last holds 57 bytes.
        for (std::size_t at = 0; at < got; at += kMimeLineBytes) {
            coding.AppendEncoded(std::string_view(block.data() + at, std::min(kMimeLineBytes, got - at)), lines);
            lines += "\r\n";
        }
        WriteOut(destination, lines);
        if (got < block.size()) return;
    }
}

void TIdMessageEncoderUUE::EncodeStream(std::istream& source, std::ostream& destination) {
    TIdEncoderUUE coding;
    EncodeUULike(coding, *this, source, destination);
}

void TIdMessageEncoderXXE::EncodeStream(std::istream& source, std::ostream& destination) {
    TIdEncoderXXE coding;
    EncodeUULike(coding, *this, source, destination);
}

TIdMessageEncoderInfo::~TIdMessageEncoderInfo() = default;

void TIdMessageEncoderInfo::InitializeContentType(const TIdMessagePartCounts&, std::string&) const {}

std::unique_ptr<TIdMessageEncoder> TIdMessageEncoderInfoMIME::CreateEncoder() const {
    return std::make_unique<TIdMessageEncoderMIME>();
}

void TIdMessageEncoderInfoMIME::InitializeContentType(const TIdMessagePartCounts& counts,
                                                      std::string& contentType) const {
    if (counts.RelatedParts > 0) {
        contentType = "multipart/related; type=\"multipart/alternative\"; boundary=\"" +
                      std::string(RelatedBoundary) + "\"";
    } else if (counts.Attachments > 0) {
        contentType = "multipart/mixed; boundary=\"" + std::string(MixedBoundary) + "\"";
    } else if (counts.TextParts > 0) {
        contentType = "multipart/alternative; boundary=\"" + std::string(MixedBoundary) + "\"";
    }
}

std::unique_ptr<TIdMessageEncoder> TIdMessageEncoderInfoUUE::CreateEncoder() const {
    return std::make_unique<TIdMessageEncoderUUE>();
}

std::unique_ptr<TIdMessageEncoder> TIdMessageEncoderInfoXXE::CreateEncoder() const {
    return std::make_unique<TIdMessageEncoderXXE>();
}

void TIdMessageEncoderList::RegisterEncoder(std::string_view name,
                                            std::shared_ptr<const TIdMessageEncoderInfo> info) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.entries[UpperCaseAscii(name)] = std::move(info);
}

std::shared_ptr<const TIdMessageEncoderInfo> TIdMessageEncoderList::ByName(std::string_view name) {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    auto found = registry.entries.find(UpperCaseAscii(name));
    if (found == registry.entries.end()) {
        throw EIdException("Botschafts-Encoder nicht gefunden: " + std::string(name));
    }
    return found->second;
}
