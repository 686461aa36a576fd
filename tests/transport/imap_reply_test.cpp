#include "transport/imap_mailbox_name.h"
#include "transport/imap_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Values as the server might have sent them: atoms bare, strings quoted (unescaped), lists in brackets.
std::string Show(const std::vector<TIdIMAPValue>& values) {
    std::string text;
    for (const TIdIMAPValue& value : values) {
        text += text.empty() ? "" : " ";
        if (value.Kind == TIdIMAPValue::Type::List) text += "(" + Show(value.Items) + ")";
        text += value.Kind == TIdIMAPValue::Type::String ? "\"" + value.Text + "\"" : value.Text;
    }
    return text;
}

// A response in one line: tag, keyword, then [code] text for a status, or the values of data.
std::string Show(const TIdIMAPResponse& response) {
    if (response.Kind == TIdIMAPResponseKind::Continuation) return "+|" + response.Text;
    if (response.IsStatus()) return response.Tag + " " + response.Keyword + "|" + response.Code + "|" + response.Text;
    return response.Tag + " " + response.Keyword + "|" + Show(ParseIMAPData(response));
}

// Every response of the bytes, fed in pieces of the given size.
std::vector<std::string> ReadAll(const std::string& bytes, size_t piece) {
    TIdIMAPReplyReader reader;
    std::vector<std::string> shown;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        reader.Feed(std::string_view(bytes).substr(at, piece));
        while (std::optional<TIdIMAPResponse> response = reader.Next()) shown.push_back(Show(*response));
    }
    EXPECT_EQ(reader.Buffered(), 0u);
    return shown;
}

}  // namespace

TEST(ImapReply, ReadsEachKindOfResponseWhateverPiecesTheBytesComeIn) {
    struct Case {
        std::string bytes;
        std::vector<std::string> responses;
    };
    const std::vector<Case> cases = {
        {"* OK [CAPABILITY IMAP4rev1 STARTTLS] Dovecot ready.\r\n",
         {"* OK|CAPABILITY IMAP4rev1 STARTTLS|Dovecot ready."}},
        // In the text of a status "{5}" is text: the next response follows at once.
        {"A001 no [TRYCREATE] fehlt {5}\r\n+ \r\n+\r\n", {"A001 NO|TRYCREATE|fehlt {5}", "+|", "+|"}},
        {"* LIST (\\HasNoChildren \\Sent) \"/\" \"Gesendete Elemente\"\r\n",
         {"* LIST|(\\HasNoChildren \\Sent) \"/\" \"Gesendete Elemente\""}},
        {"* LIST () \"\\\\\" \"a\\\"b\\\\c\"\n", {"* LIST|() \"\\\" \"a\"b\\c\""}},
        {"* LIST (\\Sent) NIL {7}\r\na)\r\nb\"c\r\n* 23 EXISTS\r\n",
         {"* LIST|(\\Sent) NIL \"a)\r\nb\"c\"", "* 23|EXISTS"}},
        {"* LIST ({3}\r\n\\Aa {0}\r\n) \"/\" Entw&APw-rfe]\r\n", {"* LIST|(\"\\Aa\" \"\") \"/\" Entw&APw-rfe]"}},
        {"* CAPABILITY\r\n", {"* CAPABILITY|"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        for (size_t piece : {c.bytes.size(), size_t{1}, size_t{3}}) EXPECT_EQ(ReadAll(c.bytes, piece), c.responses);
    }
}

TEST(ImapReply, RefusesWhatBreaksTheSyntaxOrABound) {
    struct Case {
        std::string name;
        std::string bytes;
        bool tooLong;
    };
    std::string manyLiterals = "* X";
    for (size_t i = 0; i <= kIMAPMaxResponseBytes / kIMAPMaxLiteralSize; ++i) {
        manyLiterals += " {" + std::to_string(kIMAPMaxLiteralSize) + "}\r\n" + std::string(kIMAPMaxLiteralSize, 'a');
    }
    const std::vector<Case> cases = {
        {"line without end", std::string(kIMAPMaxLineLength + 1, 'x'), true},
        {"line too long", "* OK " + std::string(kIMAPMaxLineLength, 'x') + "\r\n", true},
        {"literal too big", "* LIST () \"/\" {" + std::to_string(kIMAPMaxLiteralSize + 1) + "}\r\n", true},
        {"literal size beyond any number", "* LIST () \"/\" {123456789012345678901}\r\n", true},
        {"literals beyond the response bound", manyLiterals + "\r\n", true},
        {"lists too deep", "* X " + std::string(kIMAPMaxListDepth + 1, '(') + std::string(kIMAPMaxListDepth + 1, ')') + "\r\n",
         true},
        {"empty line", "\r\n", false},
        {"tagged data", "A001 LIST () \"/\" x\r\n", false},
        {"unterminated string", "* LIST () \"/\" \"abc\r\n", false},
        {"unbalanced list", "* LIST (\\Sent \"/\" x\r\n", false},
        {"stray parenthesis", "* LIST () \"/\" x)\r\n", false},
        {"brace that is no literal", "* LIST () \"/\" {x}\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIdIMAPReplyReader reader;
        reader.Feed(c.bytes);
        auto readAll = [&] {
            while (std::optional<TIdIMAPResponse> response = reader.Next()) ParseIMAPData(*response);
        };
        if (c.tooLong) {
            EXPECT_THROW(readAll(), EIdIMAPReplyTooLong);
        } else {
            EXPECT_THROW(readAll(), EIdIMAPBadReply);
        }
    }
}

TEST(ImapMailboxName, EncodesAndDecodesModifiedUtf7) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"INBOX", "INBOX"},
        {"Gesendete Elemente", "Gesendete Elemente"},
        {"Entwürfe", "Entw&APw-rfe"},
        {"&", "&-"},
        {"A&B-C", "A&-B-C"},
        {"ä&ö", "&AOQ-&-&APY-"},
        {"Tab\there", "Tab&AAk-here"},
        // RFC 3501, 5.1.3: a name with two runs and ",".
        {"~peter/mail/台北/日本語", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
        // Outside the BMP: one surrogate pair.
        {"Post 😀", "Post &2D3eAA-"},
        {"", ""},
    };
    for (const auto& [utf8, wire] : cases) {
        SCOPED_TRACE(utf8);
        EXPECT_EQ(EncodeMailboxName(utf8), wire);
        EXPECT_EQ(DecodeMailboxName(wire), utf8);
    }
    // Not modified UTF-7: the name stays as it came. A printable character in base64 is read all the same.
    for (const char* wire : {"&AOQ", "Entw\xc3\xbc" "rfe", "&2D0-", "&AOR-", "&AAA-", "&A-", "&AO*-", "a\x01"}) {
        EXPECT_EQ(DecodeMailboxName(wire), wire);
    }
    EXPECT_EQ(DecodeMailboxName("&AGE-"), "a");
    for (const std::string& utf8 : std::vector<std::string>{"\xff", std::string("a\0b", 3), "\xed\xa0\x80", "\xc3"}) {
        EXPECT_THROW(EncodeMailboxName(utf8), EIdIMAPInvalidMailboxName);
    }
}
