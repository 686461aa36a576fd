#include "transport/imap_reply.h"

#include <algorithm>
#include <array>

#include "transport/byte_text.h"
#include "transport/utf8_text.h"

EIdIMAPBadReply::EIdIMAPBadReply(const std::string& response)
    : EIdException("Unverständliche Antwort des IMAP-Servers: " + CleanIMAPText(response)) {}

EIdIMAPReplyTooLong::EIdIMAPReplyTooLong()
    : EIdException("Die Antwort des IMAP-Servers ist zu lang. Die Verbindung wird beendet.") {}

namespace {

constexpr std::array<std::string_view, 5> kStatusKeywords = {"OK", "NO", "BAD", "BYE", "PREAUTH"};

// The most digits a literal's size may have before it is certainly too big: ten digits cannot overflow
// the arithmetic below.
constexpr std::size_t kMaxLiteralDigits = 10;

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Splits off the first word (up to a blank) of `rest`; the blank goes too.
std::string_view TakeWord(std::string_view& rest) {
    const std::size_t blank = rest.find(' ');
    const std::string_view word = rest.substr(0, blank);
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    return word;
}

// Reads the values of a data response: its lines one after another, a literal where a line ends in one.
class DataParser {
public:
    explicit DataParser(const TIdIMAPResponse& response) : response_(response) {}

    std::vector<TIdIMAPValue> ParseAll() {
        if (response_.Lines.empty()) return {};
        return Sequence(0, false);
    }

private:
    std::string_view Line() const { return response_.Lines[line_]; }

    [[noreturn]] void Fail() const { throw EIdIMAPBadReply(response_.Keyword + " " + response_.Lines.front()); }

    std::vector<TIdIMAPValue> Sequence(std::size_t depth, bool inList) {
        std::vector<TIdIMAPValue> values;
        for (;;) {
            while (position_ < Line().size() && Line()[position_] == ' ') ++position_;
            // A line ends only before its literal, which Value takes: this is the end of the response.
            if (position_ >= Line().size()) {
                if (inList) Fail();
                return values;
            }
            if (Line()[position_] == ')') {
                if (!inList) Fail();
                ++position_;
                return values;
            }
            values.push_back(Value(depth));
        }
    }

    TIdIMAPValue Value(std::size_t depth) {
        TIdIMAPValue value;
        const char first = Line()[position_];
        if (first == '(') {
            if (depth + 1 > kIMAPMaxListDepth) throw EIdIMAPReplyTooLong();
            ++position_;
            value.Kind = TIdIMAPValue::Type::List;
            value.Items = Sequence(depth + 1, true);
        } else if (first == '"') {
            value.Kind = TIdIMAPValue::Type::String;
            value.Text = Quoted();
        } else if (first == '{') {
            value.Kind = TIdIMAPValue::Type::String;
            value.Text = Literal();
        } else {
            value.Text = Atom();
        }
        return value;
    }

    std::string Quoted() {
        std::string text;
        for (++position_;;) {
            if (position_ >= Line().size()) Fail();
            char c = Line()[position_++];
            if (c == '"') return text;
            if (c == '\\') {
                if (position_ >= Line().size()) Fail();
                c = Line()[position_++];
            }
            text += c;
        }
    }

    // The reader made sure that a line followed by a literal ends in "{n}": the "{" must be that one.
    std::string Literal() {
        if (line_ + 1 >= response_.Lines.size() || position_ != Line().rfind('{')) Fail();
        const std::string& bytes = response_.Literals[line_];
        ++line_;
        position_ = 0;
        return bytes;
    }

    std::string Atom() {
        const std::size_t start = position_;
        while (position_ < Line().size()) {
            const auto c = static_cast<unsigned char>(Line()[position_]);
            if (c == ' ' || c == '(' || c == ')' || c == '"' || c == '{' || IsControl(c)) break;
            ++position_;
        }
        if (position_ == start) Fail();
        return std::string(Line().substr(start, position_ - start));
    }

    const TIdIMAPResponse& response_;
    std::size_t line_ = 0;
    std::size_t position_ = 0;
};

}  // namespace

bool TIdIMAPResponse::IsStatus() const {
    return Kind != TIdIMAPResponseKind::Continuation &&
           std::find(kStatusKeywords.begin(), kStatusKeywords.end(), Keyword) != kStatusKeywords.end();
}

bool TIdIMAPValue::IsNil() const { return Kind == Type::Atom && SameTextIgnoringCase(Text, "NIL"); }

std::vector<TIdIMAPValue> ParseIMAPData(const TIdIMAPResponse& response) { return DataParser(response).ParseAll(); }

std::string CleanIMAPText(std::string_view text) {
    std::string out;
    std::size_t position = 0;
    bool truncated = false;
    while (position < text.size()) {
        const std::size_t before = position;
        std::optional<char32_t> c = ReadUtf8CodePoint(text, position);
        if (!c) ++position;
        std::string piece;
        if (c && (*c == '\t' || *c == '\r' || *c == '\n' || *c == ' ')) {
            if (!out.empty() && out.back() != ' ') piece = " ";
        } else if (!c || *c < 0x20 || *c == 0x7F) {
            piece = "?";
        } else {
            piece = std::string(text.substr(before, position - before));
        }
        if (out.size() + piece.size() > kIMAPMaxShownText) {
            truncated = true;
            break;
        }
        out += piece;
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    if (truncated) out += "…";
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// TIdIMAPReplyReader

void TIdIMAPReplyReader::Feed(std::string_view bytes) { buffer_.append(bytes); }

void TIdIMAPReplyReader::Clear() {
    buffer_.clear();
    start_ = consumed_ = scanned_ = 0;
    started_ = false;
    literalLeft_.reset();
    current_ = {};
}

void TIdIMAPReplyReader::Compact() {
    // Moving the rest costs as much as it holds; done once the part handed out is large, that is rarely.
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    } else if (start_ >= kIMAPMaxLineLength) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
}

std::optional<std::string_view> TIdIMAPReplyReader::NextLine(std::size_t& lineBytes) {
    const std::size_t begin = start_ + consumed_;
    const std::size_t end = buffer_.find('\n', begin + scanned_);
    if (end == std::string::npos) {
        scanned_ = buffer_.size() - begin;
        if (scanned_ > kIMAPMaxLineLength) throw EIdIMAPReplyTooLong();
        return std::nullopt;
    }
    lineBytes = end + 1 - begin;
    if (lineBytes > kIMAPMaxLineLength) throw EIdIMAPReplyTooLong();
    std::string_view line(buffer_.data() + begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

std::optional<std::size_t> TIdIMAPReplyReader::LiteralAtEnd(std::string_view line) {
    if (line.size() < 3 || line.back() != '}') return std::nullopt;
    const std::size_t open = line.rfind('{');
    if (open == std::string_view::npos) return std::nullopt;
    const std::string_view digits = line.substr(open + 1, line.size() - open - 2);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    if (digits.size() > kMaxLiteralDigits) throw EIdIMAPReplyTooLong();
    std::size_t size = 0;
    for (char c : digits) size = size * 10 + static_cast<std::size_t>(c - '0');
    return size;
}

void TIdIMAPReplyReader::StartResponse(std::string_view line) {
    current_ = {};
    if (line.empty()) throw EIdIMAPBadReply(std::string(line));
    std::string_view rest = line;
    if (line.front() == '+') {
        current_.Kind = TIdIMAPResponseKind::Continuation;
        current_.Tag = "+";
        rest.remove_prefix(1);
        if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        current_.Text = std::string(rest);
        return;
    }
    const std::string_view tag = TakeWord(rest);
    const bool tagged = tag != "*";
    if (tag.empty() || std::any_of(tag.begin(), tag.end(), [](char c) { return IsControl(c); }))
        throw EIdIMAPBadReply(std::string(line));
    current_.Kind = tagged ? TIdIMAPResponseKind::Tagged : TIdIMAPResponseKind::Untagged;
    current_.Tag = std::string(tag);
    current_.Keyword = UpperCaseAscii(TakeWord(rest));
    if (current_.Keyword.empty()) throw EIdIMAPBadReply(std::string(line));
    if (!current_.IsStatus()) {
        // Only status responses may carry a tag (RFC 3501, 7.1).
        if (tagged) throw EIdIMAPBadReply(std::string(line));
        current_.Lines.emplace_back(rest);
        return;
    }
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close != std::string_view::npos) {
            current_.Code = std::string(rest.substr(1, close - 1));
            rest.remove_prefix(close + 1);
            while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        }
    }
    current_.Text = std::string(rest);
}

std::optional<TIdIMAPResponse> TIdIMAPReplyReader::Next() {
    for (;;) {
        if (literalLeft_) {
            const std::size_t begin = start_ + consumed_;
            if (buffer_.size() - begin < *literalLeft_) return std::nullopt;
            current_.Literals.emplace_back(buffer_, begin, *literalLeft_);
            consumed_ += *literalLeft_;
            literalLeft_.reset();
            scanned_ = 0;
            continue;
        }
        std::size_t lineBytes = 0;
        const std::optional<std::string_view> line = NextLine(lineBytes);
        if (!line) return std::nullopt;
        if (!started_) {
            StartResponse(*line);
            started_ = true;
        } else {
            current_.Lines.emplace_back(*line);
        }
        consumed_ += lineBytes;
        scanned_ = 0;
        if (consumed_ > kIMAPMaxResponseBytes) throw EIdIMAPReplyTooLong();
        // Only a data response reads on after a line that ends in "{n}"; in a status text it is text.
        if (!current_.Lines.empty()) {
            if (const std::optional<std::size_t> size = LiteralAtEnd(current_.Lines.back())) {
                if (*size > kIMAPMaxLiteralSize || consumed_ + *size > kIMAPMaxResponseBytes)
                    throw EIdIMAPReplyTooLong();
                literalLeft_ = *size;
                continue;
            }
        }
        TIdIMAPResponse response = std::move(current_);
        current_ = {};
        started_ = false;
        start_ += consumed_;
        consumed_ = 0;
        Compact();
        return response;
    }
}
