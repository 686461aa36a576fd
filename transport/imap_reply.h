#pragma once
// Reading IMAP server responses (RFC 3501, 2.2.2 and 7): pure logic over bytes, no socket.
//
// The reader is fed whatever bytes have arrived and hands out one complete response at a time: a
// tagged status ("A001 OK ..."), an untagged response ("* LIST ...", "* OK ...", "* BYE ..."), or a
// continuation request ("+ ..."). A data response may carry literals ("{12}" CR LF and 12 bytes) in the
// middle; the reader collects them, so that the response is whole before anyone looks at it. Status
// responses and continuations carry human-readable text, in which "{12}" is just text.
//
//     TIdIMAPReplyReader reader;
//     reader.Feed(bytesFromTheServer);
//     while (std::optional<TIdIMAPResponse> response = reader.Next()) { ... }
//
// Everything is bounded: a line, a literal, a whole response and the nesting of lists. A server that
// exceeds a bound gets EIdIMAPReplyTooLong instead of the memory; one that breaks the syntax gets
// EIdIMAPBadReply. After either the reader is of no further use: the stream is out of step.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/id_exception.h"

// A response that does not follow the IMAP syntax; the text shows the start of it.
class EIdIMAPBadReply : public EIdException {
public:
    explicit EIdIMAPBadReply(const std::string& response);
};

// A response longer than a bound of the reader (or of the client, for the responses to one command).
class EIdIMAPReplyTooLong : public EIdException {
public:
    EIdIMAPReplyTooLong();
};

// The longest response line, in bytes with its CR LF. Real lines are short (a LIST line with a long
// name is well under a kilobyte); the bound keeps a server that never sends a line end from filling
// the memory.
inline constexpr std::size_t kIMAPMaxLineLength = 64 * 1024;
// The largest literal inside a response. The client asks for nothing big (no message bodies), so a
// mailbox name or a capability is all a literal may hold.
inline constexpr std::size_t kIMAPMaxLiteralSize = 1024 * 1024;
// The most bytes of one response, lines and literals together: a response made of many literals is
// bounded as a whole, not only piece by piece.
inline constexpr std::size_t kIMAPMaxResponseBytes = 4 * 1024 * 1024;
// The deepest nesting of parenthesised lists a response may have. Nothing the client reads nests more
// than three deep; the bound keeps "((((..." from running the parser out of stack.
inline constexpr std::size_t kIMAPMaxListDepth = 32;
// The longest text of a server that goes into an error message.
inline constexpr std::size_t kIMAPMaxShownText = 300;

enum class TIdIMAPResponseKind { Tagged, Untagged, Continuation };

struct TIdIMAPResponse {
    TIdIMAPResponseKind Kind = TIdIMAPResponseKind::Untagged;
    // The tag of a tagged response; "*" for untagged ones, "+" for continuations.
    std::string Tag;
    // The first word after the tag, in upper case ("OK", "NO", "BAD", "BYE", "PREAUTH", "CAPABILITY",
    // "LIST", or a number such as the "23" of "* 23 EXISTS"); empty for a continuation.
    std::string Keyword;
    // Status responses: what stands between "[" and "]" at the start of the text ("CAPABILITY IMAP4rev1
    // ...", "TRYCREATE"), without the brackets.
    std::string Code;
    // Status responses and continuations: the human-readable text (after the code), as sent.
    std::string Text;
    // Data responses: what follows the keyword, as sent. Lines[i] ends with a literal's "{n}" for every
    // i below Literals.size(), and Literals[i] holds that literal's bytes; the last line ends the
    // response. Empty for status responses and continuations.
    std::vector<std::string> Lines;
    std::vector<std::string> Literals;

    // OK, NO, BAD, BYE or PREAUTH, tagged or not.
    bool IsStatus() const;
    bool Is(TIdIMAPResponseKind kind, std::string_view keyword) const {
        return Kind == kind && Keyword == keyword;
    }
};

// One value of a data response: an atom (also a number, NIL, or a flag such as "\Sent"), a string
// (quoted or literal, its content without quotes and escapes), or a parenthesised list.
struct TIdIMAPValue {
    enum class Type { Atom, String, List };
    Type Kind = Type::Atom;
    std::string Text;                  // atom or string
    std::vector<TIdIMAPValue> Items;   // list

    // An atom that is NIL in any case: "no value" where the syntax allows one (not a string "NIL").
    bool IsNil() const;
    // An atom or a string.
    bool IsText() const { return Kind != Type::List; }
};

// The values of a data response after its keyword. EIdIMAPBadReply when they do not follow the syntax
// (an unterminated string, an unbalanced list, a "{" that is not a literal); EIdIMAPReplyTooLong when
// the lists nest deeper than kIMAPMaxListDepth.
//
// The reading is lenient where leniency harms no one: an atom is any run of bytes other than blank,
// parentheses, double quote and control bytes (so names with "]" or 8-bit bytes come through), and a
// backslash in a quoted string takes the next byte as it is, whichever it is.
std::vector<TIdIMAPValue> ParseIMAPData(const TIdIMAPResponse& response);

// A server's text as it may be shown: control bytes and bytes that are not UTF-8 become "?", runs of
// blanks shrink to one, at most kIMAPMaxShownText bytes (cut at a character boundary, then "…").
std::string CleanIMAPText(std::string_view text);

class TIdIMAPReplyReader {
public:
    // Appends bytes that have arrived.
    void Feed(std::string_view bytes);
    // The next complete response, or nothing while its bytes have not all arrived. Raises
    // EIdIMAPReplyTooLong or EIdIMAPBadReply as described above.
    std::optional<TIdIMAPResponse> Next();
    // Bytes fed that no response handed out so far has taken: after the response that must be a
    // server's last plain word (the OK to STARTTLS), anything here came from someone else.
    std::size_t Buffered() const { return buffer_.size() - start_; }
    // Forgets everything fed and half read, for a new connection.
    void Clear();

private:
    // The next line from position start_ + consumed_ on, without its line end; nothing when it has not
    // ended yet (then at most kIMAPMaxLineLength bytes may wait for its end).
    std::optional<std::string_view> NextLine(std::size_t& lineBytes);
    // Takes the first line of a response: kind, tag, keyword, and for status responses code and text.
    void StartResponse(std::string_view line);
    // The size of the literal a data line ends with, if it ends with one.
    static std::optional<std::size_t> LiteralAtEnd(std::string_view line);
    // Drops the bytes of the responses handed out, now and then, so that the buffer does not grow.
    void Compact();

    std::string buffer_;
    std::size_t start_ = 0;      // where the response being read starts in buffer_
    std::size_t consumed_ = 0;   // bytes of it taken so far (lines and literals)
    std::size_t scanned_ = 0;    // bytes after consumed_ searched for a line end without finding one
    bool started_ = false;       // the first line of the response has been read
    std::optional<std::size_t> literalLeft_;  // a literal of this size is still to come
    TIdIMAPResponse current_;
};
