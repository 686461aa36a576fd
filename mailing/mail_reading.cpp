#include "mailing/mail_reading.h"

#include "mailing/mail_text.h"

#include "transport/byte_text.h"
#include "transport/encoders.h"
#include "transport/header_charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = Utf8CharLength(bytes);
        if (length == 0) {
            out += kReplacement;
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "=XX" at `at` as a byte; nothing when it is not such a triple.
std::optional<char> HexPair(std::string_view text, size_t at) {
    if (at + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[at + 1]), low = HexValue(text[at + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    return static_cast<char>(high * 16 + low);
}

// The Q encoding of an encoded word: "_" is a blank, "=XX" a byte.
std::string DecodeQWord(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            out += ' ';
        } else if (text[i] == '=' && HexPair(text, i)) {
            out += *HexPair(text, i);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct EncodedWord {
    size_t end = 0;  // just after "?="
    std::string decoded;  // UTF-8
};

// An encoded word "=?charset?B|Q?text?=" starting at `at`.
std::optional<EncodedWord> EncodedWordAt(std::string_view value, size_t at) {
    if (value.substr(at, 2) != "=?") return std::nullopt;
    const size_t charsetEnd = value.find('?', at + 2);
    if (charsetEnd == std::string_view::npos || charsetEnd + 2 >= value.size() || value[charsetEnd + 2] != '?') {
        return std::nullopt;
    }
    const char letter = value[charsetEnd + 1];
    const size_t textStart = charsetEnd + 3;
    const size_t textEnd = value.find("?=", textStart);
    if (textEnd == std::string_view::npos) return std::nullopt;
    const std::string_view text = value.substr(textStart, textEnd - textStart);
    if (text.find_first_of(" \t\r\n") != std::string_view::npos) return std::nullopt;
    std::string_view charset = value.substr(at + 2, charsetEnd - at - 2);
    charset = charset.substr(0, charset.find('*'));  // RFC 2231 language suffix
    std::string bytes;
    if (letter == 'B' || letter == 'b') {
        bytes = DecodeBase64Text(text);
    } else if (letter == 'Q' || letter == 'q') {
        bytes = DecodeQWord(text);
    } else {
        return std::nullopt;
    }
    return EncodedWord{textEnd + 2, ToUtf8(bytes, charset)};
}

struct HeaderField {
    std::string name;
    std::string value;  // unfolded
};

std::vector<HeaderField> ParseHeaderBlock(std::string_view block) {
    std::vector<HeaderField> fields;
    size_t start = 0;
    while (start < block.size()) {
        size_t end = block.find("\r\n", start);
        if (end == std::string_view::npos) end = block.size();
        const std::string_view line = block.substr(start, end - start);
        start = end + 2;
        if (line.empty()) continue;
        if ((line.front() == ' ' || line.front() == '\t') && !fields.empty()) {
            fields.back().value += line;  // unfolding: the line break goes, the blank stays
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        size_t valueStart = colon + 1;
        while (valueStart < line.size() && (line[valueStart] == ' ' || line[valueStart] == '\t')) ++valueStart;
        fields.push_back({std::string(line.substr(0, colon)), std::string(line.substr(valueStart))});
    }
    return fields;
}

std::string FieldValue(const std::vector<HeaderField>& fields, std::string_view name) {
    for (const HeaderField& field : fields) {
        if (SameTextIgnoringCase(field.name, name)) return field.value;
    }
    return {};
}

// A parameter of a Content-Type value ("charset", "boundary"), quoted or not.
std::string Parameter(std::string_view value, std::string_view name) {
    const std::string upper = UpperCaseAscii(value);
    const std::string key = UpperCaseAscii(name) + "=";
    size_t at = 0;
    while ((at = upper.find(key, at)) != std::string::npos) {
        const bool starts = at == 0 || upper[at - 1] == ';' || upper[at - 1] == ' ' || upper[at - 1] == '\t';
        at += key.size();
        if (!starts) continue;
        if (at < value.size() && value[at] == '"') {
            const size_t close = value.find('"', at + 1);
            return std::string(value.substr(at + 1, close == std::string_view::npos ? close : close - at - 1));
        }
        const size_t end = value.find_first_of("; \t", at);
        return std::string(value.substr(at, end == std::string_view::npos ? end : end - at));
    }
    return {};
}

std::string DecodeTransfer(std::string_view bytes, std::string_view transferEncoding) {
    if (SameTextIgnoringCase(transferEncoding, "quoted-printable")) return DecodeQuotedPrintable(bytes);
    if (SameTextIgnoringCase(transferEncoding, "base64")) return DecodeBase64Text(bytes);
    return std::string(bytes);
}

// CR LF to "\n", without the break after the last line.
std::string AsTextLines(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

struct Section {
    std::vector<HeaderField> headers;
    std::string_view body;
};

Section SplitSection(std::string_view text) {
    const size_t end = text.find("\r\n\r\n");
    if (text.starts_with("\r\n")) return {{}, text.substr(2)};
    if (end == std::string_view::npos) return {ParseHeaderBlock(text), {}};
    return {ParseHeaderBlock(text.substr(0, end)), text.substr(end + 4)};
}

// The writer nests three multiparts at most (mixed around alternative around related). Deeper ones are
// not followed, so that no mail can make the reading recurse without end.
constexpr int kMostNestedMultiparts = 8;

// The start of the delimiter line "--boundary" at or after `from`: a delimiter begins the body or
// follows a line break (RFC 2046, 5.1.1).
size_t FindDelimiter(std::string_view body, std::string_view delimiter, size_t from) {
    for (size_t at = body.find(delimiter, from); at != std::string_view::npos; at = body.find(delimiter, at + 1)) {
        if (at == 0 || (at >= 2 && body.substr(at - 2, 2) == "\r\n")) return at;
    }
    return std::string_view::npos;
}

// The parts of a multipart body: what lies between its delimiter lines, without the line break that
// belongs to the next delimiter; nothing after the close delimiter.
std::vector<std::string_view> BodyParts(std::string_view body, std::string_view boundary) {
    const std::string delimiter = "--" + std::string(boundary);
    std::vector<std::string_view> parts;
    size_t at = FindDelimiter(body, delimiter, 0);
    while (at != std::string_view::npos) {
        const size_t after = at + delimiter.size();
        if (body.substr(after, 2) == "--") break;
        const size_t lineEnd = body.find("\r\n", after);
        if (lineEnd == std::string_view::npos) break;
        const size_t start = lineEnd + 2;
        const size_t next = FindDelimiter(body, delimiter, start);
        const size_t end = next == std::string_view::npos ? body.size() : std::max(start, next - 2);
        parts.push_back(body.substr(start, end - start));
        at = next;
    }
    return parts;
}

// "<id@host>" without its angle brackets.
std::string WithoutAngles(std::string_view id) {
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
    return std::string(id);
}

struct PartWalk {
    ReadMail& read;
    bool text = false;  // the text part has been read
    bool html = false;
};

// A part and the parts inside it: the first text and HTML that are no attachments, and every part that
// has a Content-ID (the pictures the HTML shows).
void ReadParts(const Section& section, int depth, PartWalk& walk) {
    const std::string type = FieldValue(section.headers, "Content-Type");
    const std::string upper = UpperCaseAscii(type);
    if (upper.starts_with("MULTIPART/")) {
        const std::string boundary = Parameter(type, "boundary");
        if (boundary.empty() || depth >= kMostNestedMultiparts) return;
        for (std::string_view part : BodyParts(section.body, boundary)) ReadParts(SplitSection(part), depth + 1, walk);
        return;
    }
    const std::string id = FieldValue(section.headers, "Content-ID");
    const bool attached = UpperCaseAscii(FieldValue(section.headers, "Content-Disposition")).starts_with("ATTACHMENT");
    // A part without a type is text (RFC 2045, 5.2).
    const bool html = upper.starts_with("TEXT/HTML");
    const bool text = upper.empty() || upper.starts_with("TEXT/PLAIN");
    bool& done = html ? walk.html : walk.text;
    if (id.empty() && (attached || !(html || text) || done)) return;
    const std::string decoded = DecodeTransfer(section.body, FieldValue(section.headers, "Content-Transfer-Encoding"));
    if (!id.empty()) {
        walk.read.pictures.emplace(WithoutAngles(id), decoded);
        return;
    }
    done = true;
    std::string& target = html ? walk.read.html : walk.read.body;
    target = AsTextLines(ToUtf8(decoded, Parameter(type, "charset")));
    // The blank line the writer puts before the pictures of the HTML is no part of it.
    if (html) target.erase(target.find_last_not_of('\n') + 1);
}

}  // namespace

std::string ToUtf8(std::string_view bytes, std::string_view charset) {
    if (charset.empty() || IsUtf8CharsetName(charset) || SameTextIgnoringCase(charset, "us-ascii")) {
        return ValidUtf8(bytes);
    }
    iconv_t converter = iconv_open("UTF-8", std::string(charset).c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return ValidUtf8(bytes);
    std::string out;
    std::vector<char> buffer(4 * bytes.size() + 16);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    for (;;) {
        char* outAt = buffer.data();
        size_t outLeft = buffer.size();
        // The last call with no input returns a stateful charset (ISO-2022-JP) to its initial state.
        const size_t result = inLeft > 0 ? iconv(converter, &in, &inLeft, &outAt, &outLeft)
                                         : iconv(converter, nullptr, nullptr, &outAt, &outLeft);
        out.append(buffer.data(), static_cast<size_t>(outAt - buffer.data()));
        if (result != static_cast<size_t>(-1)) {
            if (inLeft == 0) break;
            continue;
        }
        if (errno == E2BIG) continue;
        // A byte that is not valid in the charset, or a character cut off at the end.
        out += kReplacement;
        ++in;
        --inLeft;
    }
    iconv_close(converter);
    return out;
}

std::string DecodeHeaderWords(std::string_view value) {
    std::string out;
    size_t i = 0;
    bool afterWord = false;  // the text so far ended with an encoded word
    while (i < value.size()) {
        const size_t next = value.find("=?", i);
        std::optional<EncodedWord> word;
        if (next != std::string_view::npos) word = EncodedWordAt(value, next);
        if (!word) {
            const size_t end = next == std::string_view::npos ? value.size() : next + 2;
            out += ValidUtf8(value.substr(i, end - i));
            afterWord = false;
            i = end;
            continue;
        }
        const std::string_view between = value.substr(i, next - i);
        const bool onlyBlanks = between.find_first_not_of(" \t\r\n") == std::string_view::npos;
        if (!(afterWord && onlyBlanks)) out += ValidUtf8(between);
        out += word->decoded;
        afterWord = true;
        i = word->end;
    }
    return out;
}

std::string DecodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.substr(i + 1, 2) == "\r\n") {
            i += 2;  // a soft line break
        } else if (const std::optional<char> byte = HexPair(text, i)) {
            out += *byte;
            i += 2;
        } else {
            out += '=';
        }
    }
    return out;
}

ReadMail ReadWrittenMail(std::string_view mail) {
    const Section message = SplitSection(mail);
    ReadMail read;
    read.from = DecodeHeaderWords(FieldValue(message.headers, "From"));
    read.to = DecodeHeaderWords(FieldValue(message.headers, "To"));
    read.cc = DecodeHeaderWords(FieldValue(message.headers, "Cc"));
    read.subject = DecodeHeaderWords(FieldValue(message.headers, "Subject"));
    PartWalk walk{read};
    ReadParts(message, 0, walk);
    return read;
}
