#include "mailing/mail_text.h"

#include "mailing/text_codec.h"

#include <QString>

#include <algorithm>

namespace {

bool IsAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsUnassignedInWindows1252(unsigned char byte) {
    return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

// A path field: the bytes when a file is there under them, else the UTF-8 form of the name.
std::string PathForMail(const std::string& field, const std::function<bool(const std::string&)>& fileExists,
                        bool& undecodable) {
    if (IsValidUtf8(field) || fileExists(field)) return field;
    const MailText decoded = DecodeMailText(field);
    undecodable = undecodable || decoded.undecodable;
    return decoded.utf8;
}

}  // namespace

size_t Utf8CharLength(std::string_view bytes) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

bool IsValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        // Plain ASCII, most of every list, a byte at a time without the length rules.
        if (static_cast<unsigned char>(bytes.front()) < 0x80) {
            bytes.remove_prefix(1);
            continue;
        }
        const size_t length = Utf8CharLength(bytes);
        if (length == 0) return false;
        bytes.remove_prefix(length);
    }
    return true;
}

MailText DecodeMailText(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return {std::string(bytes), false, false};
    MailText text;
    text.windows1252 = true;
    QString decoded = DecodeLocalTextAs(bytes, true);
    // Windows-1252 has no character for five bytes; the list editor keeps them as control characters so
    // that they survive a save, but a mail shows the replacement character a mail program would.
    for (QChar& c : decoded) {
        if (c.unicode() < 0x100 && IsUnassignedInWindows1252(static_cast<unsigned char>(c.unicode()))) {
            c = QChar(QChar::ReplacementCharacter);
            text.undecodable = true;
        }
    }
    text.utf8 = decoded.toStdString();
    return text;
}

MailRecord RecordForMail(const RecipientRecord& line, const std::function<bool(const std::string&)>& fileExists) {
    MailRecord mail{line, false};
    for (int k : {1, 2, 3, 4}) {
        std::string& field = mail.fields.Field(k);
        if (IsAscii(field)) continue;
        const MailText decoded = DecodeMailText(field);
        mail.undecodable = mail.undecodable || decoded.undecodable;
        field = decoded.utf8;
    }
    mail.fields.TextFile = PathForMail(line.TextFile, fileExists, mail.undecodable);
    mail.fields.Attachment = PathForMail(Trim(line.Attachment), fileExists, mail.undecodable);
    return mail;
}

bool IsWindows1252List(const TextLines& lines) {
    for (const std::string& line : lines.lines) {
        if (IsAscii(line)) continue;
        const RecipientRecord record = SplitListLine(line);
        for (int k : {1, 2, 3, 4, 6}) {
            if (!IsValidUtf8(record.Field(k))) return true;
        }
    }
    return false;
}

std::string InListCharset(const std::string& utf8, bool windows1252List) {
    if (!windows1252List || IsAscii(utf8)) return utf8;
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    // A text Windows-1252 cannot hold (a Korean time of day) stays UTF-8: the editor reads each field by
    // itself, and "?" in place of its letters would make it no time at all.
    return Windows1252Holds(text) ? EncodeLocalText(text, true) : utf8;
}
