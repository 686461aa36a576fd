#include "transport/encoders.h"
#include "transport/header_charset.h"
#include "transport/internet_date.h"
#include "transport/message.h"
#include "transport/message_client.h"

#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A channel that keeps what the writer sends, in place of a socket.
class CaptureChannel : public TIdIOHandler {
public:
    void PrepareHandle() override {}
    void ConnectTo(const std::string&, int, int32_t, const std::string&, int) override {}
    bool IsOpen() const override { return true; }
    bool WaitReadable(int32_t) override { return false; }
    int32_t ReceiveSome(char*, int32_t) override { return 0; }
    int32_t SendSome(const char* buffer, int32_t size) override {
        bytes.append(buffer, static_cast<size_t>(size));
        return size;
    }
    void ShutdownAndClose() override {}
    bool HasUnreadInput() override { return false; }

    std::string bytes;
};

// Writes the message as the session does after DATA and returns the text.
std::string Written(TIdMessage& message) {
    CaptureChannel channel;
    TIdMessageClient writer;
    writer.SetIOHandler(&channel, false);
    writer.WriteMessage(message);
    writer.FlushOutput();
    writer.SetIOHandler(nullptr, false);
    return channel.bytes;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "the text does not end on a complete line";
    return lines;
}

constexpr std::time_t kFixedDate = 1796716540;  // a Tuesday in December 2026
constexpr const char* kFixedMsgId = "<fest@example.org>";

// A message as the sending code fills it.
void FillLikeTheProgram(TIdMessage& message, std::vector<std::string> body) {
    message.From.SetText("absender@example.org");
    message.Sender.SetText(message.From.Text());
    message.Recipients.SetFromText("empfaenger@example.net");
    message.Subject = "Angebot";
    message.Body = std::move(body);
    message.Date = kFixedDate;
    message.MsgId = kFixedMsgId;
}

std::vector<std::string> HeaderLines(std::vector<std::string> contentLines) {
    std::vector<std::string> lines{"From: absender@example.org", "Subject: Angebot", "To: empfaenger@example.net"};
    lines.insert(lines.end(), contentLines.begin(), contentLines.end());
    lines.push_back("Sender: absender@example.org");
    lines.push_back("Date: " + FormatInternetDate(kFixedDate));
    lines.push_back(std::string("Message-ID: ") + kFixedMsgId);
    lines.push_back("X-Priority: 3");
    lines.push_back("X-Library: Quib 9.00.10");
    return lines;
}

std::string QuotedPrintableDecoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.compare(i + 1, 2, "\r\n") == 0) {
            i += 2;
        } else {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

}  // namespace

TEST(MessageWriterLayout, PlainMessageLineByLine) {
    TIdMessage message;
    FillLikeTheProgram(message, {"Guten Tag,", ".", ".Punkt am Anfang", "..zwei", "Ende.", ""});
    message.CCList.SetFromText("a@example.com; Bea Berg <b@example.com>");
    std::vector<std::string> expected = HeaderLines({});
    expected.insert(expected.begin() + 3, "Cc: a@example.com, \"Bea Berg\" <b@example.com>");
    for (std::string line : {"", "Guten Tag,", "..", "..Punkt am Anfang", "...zwei", "Ende.", ""}) {
        expected.push_back(line);
    }
    EXPECT_EQ(Lines(Written(message)), expected);
}

TEST(MessageWriterLayout, EmptyFieldsGiveNoLinesAndAnEmptyBodyNothing) {
    TIdMessage message;
    message.Date = kFixedDate;
    message.MsgId = kFixedMsgId;
    message.Recipients.SetFromText("x@example.com");
    message.Priority = mpHighest;
    EXPECT_EQ(Lines(Written(message)),
              (std::vector<std::string>{"To: x@example.com", "Date: " + FormatInternetDate(kFixedDate),
                                        std::string("Message-ID: ") + kFixedMsgId, "X-Priority: 1",
                                        "X-Library: Quib 9.00.10", ""}));
}

TEST(MessageWriterLayout, AttachmentLayoutLineByLineForFileSizesAroundOneBase64Line) {
    TempDir dir;
    struct Case {
        size_t size;
        std::vector<std::string> dataLines;
    };
    const std::string bytes57(57, '\xAB');
    const std::string bytes58(58, '\xAB');
    TIdEncoderMIME base64;
    const std::vector<Case> cases = {
        {0, {}},
        {57, {base64.EncodeBytes(bytes57)}},
        {58, {base64.EncodeBytes(bytes57), base64.EncodeBytes("\xAB")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        dir.Write("anlage datei.pdf", std::string(c.size, '\xAB'));
        TIdMessage message;
        FillLikeTheProgram(message, {"Hallo", ".", ""});
        message.PartList.Add<TIdAttachment>(dir.File("anlage datei.pdf"));
        message.ContentType = "multipart/mixed";

        std::vector<std::string> expected = HeaderLines(
            {"Content-Type: multipart/mixed; boundary=\"=_NextPart_2rfkquibsadvnqw3nerasdf\"", "MIME-Version: 1.0"});
        for (std::string line : {"", "This is a multi-part message in MIME format", "",
                                 "--=_NextPart_2rfkquibsadvnqw3nerasdf", "Content-Type: text/plain",
                                 "Content-Transfer-Encoding: 7bit", "", "Hallo", "..", "", "",
                                 "--=_NextPart_2rfkquibsadvnqw3nerasdf", "Content-Type: application/octet-stream;",
                                 "        name=\"anlage datei.pdf\"", "Content-Transfer-Encoding: base64",
                                 "Content-Disposition: attachment;", "        filename=\"anlage datei.pdf\"", ""}) {
            expected.push_back(line);
        }
        expected.insert(expected.end(), c.dataLines.begin(), c.dataLines.end());
        expected.push_back("");
        expected.push_back("--=_NextPart_2rfkquibsadvnqw3nerasdf--");
        EXPECT_EQ(Lines(Written(message)), expected);
        if (c.size == 58) {
            EXPECT_EQ(c.dataLines[0].size(), 76u);
            EXPECT_EQ(c.dataLines[1], "qw==");
        }
    }
}

TEST(DotStuffing, EveryLineThatStartsWithADotGetsASecondOne) {
    EXPECT_EQ(DotStuffLines(""), "");
    EXPECT_EQ(DotStuffLines(".a\r\n.b\r\nc.\r\n..\n."), "..a\r\n..b\r\nc.\r\n...\n..");
    EXPECT_EQ(DotStuffLines("\r\n\r\n.\r\n"), "\r\n\r\n..\r\n");
    EXPECT_EQ(DotStuffLines("kein Punkt\r\nam Anfang"), "kein Punkt\r\nam Anfang");
}

TEST(MessageWriterEightBit, PlainBodyIsLabelledAndQuotedPrintable) {
    TIdMessage message;
    // A long line of umlauts gets soft line breaks; one of them must not leave a bare "." at a line start.
    const std::string longLine = std::string(72, 'x') + "....Ende\xC3\xA4";
    FillLikeTheProgram(message, {"Gr\xC3\xBC\xC3\x9F" "e", ".", longLine});
    const std::string text = Written(message);
    const std::string charset = ChooseHeaderCharset().CharSet;
    const std::vector<std::string> lines = Lines(text);
    const std::vector<std::string> header(lines.begin(), lines.begin() + 11);
    EXPECT_EQ(header, HeaderLines({"Content-Type: text/plain; charset=\"" + charset + "\"", "MIME-Version: 1.0",
                                   "Content-Transfer-Encoding: quoted-printable"}));
    const std::string body = text.substr(text.find("\r\n\r\n") + 4);
    for (const std::string& line : Lines(body)) {
        EXPECT_LE(line.size(), 76u) << line;
        for (char c : line) EXPECT_LT(static_cast<unsigned char>(c), 128) << line;
    }
    // Undo the stuffing as the server does, then the encoding: the lines come back unchanged.
    std::string unstuffed;
    for (const std::string& line : Lines(body)) unstuffed += (line.starts_with(".") ? line.substr(1) : line) + "\r\n";
    EXPECT_EQ(QuotedPrintableDecoded(unstuffed), "Gr\xC3\xBC\xC3\x9F" "e\r\n.\r\n" + longLine + "\r\n");
    EXPECT_NE(body.find("=\r\n.....Ende=C3=A4\r\n"), std::string::npos) << "the soft-broken dots are not stuffed";
}

TEST(MessageWriterEightBit, OnlyLinesTooLongForTheWireTurnAnAsciiBodyQuotedPrintable) {
    // 998 octets fit on a line; a stuffed "." counts.
    for (const auto& [line, quoted] : std::vector<std::pair<std::string, bool>>{
             {std::string(998, 'x'), false}, {std::string(999, 'x'), true}, {"." + std::string(997, 'x'), true}}) {
        TIdMessage message;
        FillLikeTheProgram(message, {"Hallo", line});
        const std::string text = Written(message);
        EXPECT_EQ(text.find("Content-Transfer-Encoding: quoted-printable") != std::string::npos, quoted) << line.size();
        for (const std::string& wire : Lines(text)) EXPECT_LE(wire.size(), 998u);
    }
}

TEST(MessageWriterEightBit, AttachmentLayoutTextSectionNamesCharsetAndNonAsciiNamesGetBothForms) {
    TempDir dir;
    dir.Write("Gr\xC3\xBC\xC3\x9F" "e \"neu\".txt", "x");
    TIdMessage message;
    FillLikeTheProgram(message, {"Sch\xC3\xB6n"});
    message.PartList.Add<TIdAttachment>(dir.File("Gr\xC3\xBC\xC3\x9F" "e \"neu\".txt"));
    message.ContentType = "multipart/mixed";
    const std::string text = Written(message);
    const std::string charset = ChooseHeaderCharset().CharSet;
    EXPECT_NE(text.find("\r\nContent-Type: text/plain; charset=\"" + charset +
                        "\"\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\nSch=C3=B6n\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("7bit"), std::string::npos);
    const std::string header = text.substr(0, text.find("\r\n\r\n"));
    for (char c : text) ASSERT_LT(static_cast<unsigned char>(c), 128) << "raw 8-bit byte in the message";
    EXPECT_NE(text.find("filename*=" + charset + "''Gr%C3%BC%C3%9Fe%20%22neu%22.txt\r\n"), std::string::npos);
    EXPECT_NE(text.find("        filename=\"=?"), std::string::npos);
}

TEST(MessageWriterNames, QuotesBackslashesAndLineBreaksInFileNamesCannotBreakTheHeader) {
    TIdMessage message;
    FillLikeTheProgram(message, {"x"});
    TIdAttachment& part = message.PartList.Add<TIdAttachment>("/nirgends/a.txt");
    part.AttachedName = "sag \"hi\"\\\r\nX-Injected: 1.txt";
    message.ContentType = "multipart/mixed";
    CaptureChannel channel;
    TIdMessageClient writer;
    writer.SetIOHandler(&channel, false);
    // The file is gone: the section is written, then the open error ends the message.
    EXPECT_THROW(writer.WriteMessage(message), EIdFileOpenError);
    writer.FlushOutput();
    writer.SetIOHandler(nullptr, false);
    EXPECT_NE(channel.bytes.find("        name=\"sag \\\"hi\\\"\\\\X-Injected: 1.txt\"\r\n"), std::string::npos);
    EXPECT_NE(channel.bytes.find("        filename=\"sag \\\"hi\\\"\\\\X-Injected: 1.txt\"\r\n\r\n"), std::string::npos);
    EXPECT_EQ(channel.bytes.find("\r\nX-Injected"), std::string::npos);
    EXPECT_TRUE(channel.bytes.ends_with("\r\n\r\n")) << "nothing after the section's empty line";
}

TEST(MessageParts, OnlyDerivedPartsExistAndUUAllowsNoTextParts) {
    TIdMessage message;
    try {
        message.PartList.Add<TIdMessagePart>();
        FAIL() << "a plain part was created";
    } catch (const EIdCanNotCreateMessagePart& error) {
        EXPECT_STREQ(error.what(), "TIdMessagePart kann nicht erzeugt werden. Verwenden Sie abgeleitete Klassen. ");
    }
    EXPECT_EQ(message.PartList.Count(), 0u);
    TIdAttachment& attachment = message.PartList.Add<TIdAttachment>("/a/b/bild.png");
    EXPECT_EQ(attachment.AttachedName, "bild.png");
    message.PartList.Add<TIdText>();
    message.SetEncoding(meUU);
    EXPECT_EQ(message.AttachmentEncoding(), "UUE");
    try {
        message.BuildHeaderList();
        FAIL() << "no error raised";
    } catch (const EIdMessageException& error) {
        EXPECT_STREQ(error.what(), "Ungültige Codierung. UU gestattet nur Rumpf und Anlage");
    }
    EXPECT_THROW(message.SetAttachmentEncoding("B64"), EIdException);

    message.Subject = "s";
    message.Priority = mpLow;
    message.ExtraHeaders.SetHeaderValue("X-Test", "1");
    message.Clear();
    EXPECT_EQ(message.PartList.Count(), 0u);
    EXPECT_EQ(message.Encoding(), meMIME);
    EXPECT_EQ(message.AttachmentEncoding(), "MIME");
    EXPECT_EQ(message.Priority, mpNormal);
    EXPECT_TRUE(message.ExtraHeaders.Empty());
    EXPECT_TRUE(message.Subject.empty());
}

TEST(MessageWriterLayout, TextPartsAndRawHeaders) {
    TIdMessage message;
    message.Date = kFixedDate;
    message.MsgId = kFixedMsgId;
    message.RawHeaders.Add("To: alt@example.com");
    message.RawHeaders.Add("X-Kept: ja");
    message.Recipients.SetFromText("neu@example.com");
    for (std::string body : {"eins", ".zwei"}) {
        TIdText& part = message.PartList.Add<TIdText>();
        part.Body = {body};
    }
    const std::string text = Written(message);
    const std::vector<std::string> lines = Lines(text);
    EXPECT_EQ(lines[0], "To: neu@example.com");
    EXPECT_EQ(lines[1], "X-Kept: ja");
    EXPECT_EQ(lines[2], "Content-Type: multipart/alternative;");
    EXPECT_EQ(lines[3], " boundary=\"=_NextPart_2rfkquibsadvnqw3nerasdf\"");
    EXPECT_NE(text.find("\r\n\r\nThis is a multi-part message in MIME format\r\n\r\n"
                        "--=_NextPart_2rfkquibsadvnqw3nerasdf\r\nContent-Type: text/plain\r\n"
                        "Content-Transfer-Encoding: quoted-printable\r\n\r\neins\r\n\r\n"
                        "--=_NextPart_2rfkquibsadvnqw3nerasdf\r\n"),
              std::string::npos);
    EXPECT_TRUE(text.ends_with("\r\n\r\n..zwei\r\n\r\n--=_NextPart_2rfkquibsadvnqw3nerasdf--\r\n"));
}

TEST(MessageWriterHeaders, AddressesKeepTheHeaderSyntaxAndCarryNoRaw8BitBytes) {
    TIdMessage message;
    message.Date = kFixedDate;
    message.MsgId = kFixedMsgId;
    message.From.Name = "J\xC3\xBCrgen";
    message.From.Address = "j@example.org";
    message.Sender = message.From;
    message.Recipients.Add().Address = "john doe@example.net";
    const std::string header = Written(message);
    EXPECT_NE(header.find("\r\nTo: \"john doe\"@example.net\r\n"), std::string::npos) << header;
    for (char c : header) ASSERT_LT(static_cast<unsigned char>(c), 128) << header;
    const size_t sender = header.find("\r\nSender: =?");
    ASSERT_NE(sender, std::string::npos) << header;
    EXPECT_EQ(header.substr(header.find("\r\n", sender + 2) - 18, 18), "?= <j@example.org>");
}

TEST(MessageWriterLayout, SixteenMegabyteBodyLineGoesOutWholeInShortLines) {
    TIdMessage message;
    FillLikeTheProgram(message, {std::string(16 * 1024 * 1024, 'a'), "."});
    const std::string text = Written(message);
    std::string unstuffed;
    for (const std::string& line : Lines(text.substr(text.find("\r\n\r\n") + 4))) {
        ASSERT_LE(line.size(), 76u);
        unstuffed += (line.starts_with(".") ? line.substr(1) : line) + "\r\n";
    }
    EXPECT_EQ(QuotedPrintableDecoded(unstuffed), std::string(16 * 1024 * 1024, 'a') + "\r\n.\r\n");
}

TEST(MessageWriterLayout, OtherLayoutsAndTheNotificationsAroundTheBody) {
    TempDir dir;
    dir.Write("a.bin", "abc");
    {
        SCOPED_TRACE("uuencode: body lines, then each attachment's data, no boundaries");
        TIdMessage message;
        message.Date = kFixedDate;
        message.MsgId = kFixedMsgId;
        message.SetEncoding(meUU);
        message.Body = {".x"};
        message.PartList.Add<TIdAttachment>(dir.File("a.bin"));
        const std::string text = Written(message);
        EXPECT_EQ(text.find("Content-Type"), std::string::npos);
        EXPECT_TRUE(text.ends_with("\r\n\r\n..x\r\n\r\nbegin 660 a.bin\r\n#86)C\r\n`\r\nend\r\n\r\n")) << text;
    }
    {
        SCOPED_TRACE("related attachment, two text parts, charset, hook");
        TIdMessage message;
        message.Date = kFixedDate;
        message.MsgId = kFixedMsgId;
        message.CharSet = "utf-8";
        message.OnInitializeISO = [](TTransfer&, char& letter, std::string& charset) {
            letter = 'B';
            charset = "UTF-8";
        };
        message.Subject = "\xC3\xA4";
        message.PartList.Add<TIdText>().Body = {"eins"};
        message.PartList.Add<TIdText>().Body = {"zwei"};
        message.PartList.Add<TIdAttachment>(dir.File("a.bin")).ExtraHeaders.SetHeaderValue("Content-ID", "<bild>");
        std::vector<std::string> statuses;
        std::vector<std::string> work;
        CaptureChannel channel;
        TIdMessageClient writer;
        writer.SetIOHandler(&channel, false);
        writer.OnStatus = [&](TIdStatus status, const std::string& text) {
            if (status == hsStatusText) statuses.push_back(text);
        };
        writer.OnWorkBegin = [&](TWorkMode) { work.push_back("begin"); };
        writer.OnWorkEnd = [&](TWorkMode) { work.push_back("end"); };
        writer.WriteMessage(message);
        writer.FlushOutput();
        writer.SetIOHandler(nullptr, false);
        const std::string& text = channel.bytes;
        EXPECT_NE(text.find("Subject: =?UTF-8?B?w6Q=?=\r\n"), std::string::npos) << text;
        EXPECT_NE(text.find("Content-Type: multipart/related; type=\"multipart/alternative\";\r\n boundary="
                            "\"=_NextPart_2relrfksadvnqquibw3nerasdf\";\r\n\tcharset=\"utf-8\"\r\nMIME-Version: 1.0\r\n"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("--=_NextPart_2relrfksadvnqquibw3nerasdf\r\nContent-Type: multipart/alternative; \r\n"
                            "        boundary=\"=_NextPart_2altrfkquibsadvnqw3nerasdf\"\r\n\r\n"
                            "--=_NextPart_2altrfkquibsadvnqw3nerasdf\r\n"),
                  std::string::npos);
        EXPECT_NE(text.find("Content-Disposition: attachment;\r\n        filename=\"a.bin\"\r\nContent-ID: <bild>\r\n\r\n"
                            "YWJj\r\n\r\n--=_NextPart_2relrfksadvnqquibw3nerasdf--\r\n"),
                  std::string::npos);
        EXPECT_EQ(statuses, (std::vector<std::string>{"Text wird codiert", "Text wird codiert", "Anlage wird codiert"}));
        EXPECT_EQ(work, (std::vector<std::string>{"begin", "end"}));
    }
    {
        SCOPED_TRACE("raw message: headers and body as they are, stuffed");
        TIdMessage message;
        message.NoEncode = true;
        message.RawHeaders.Add("Subject: roh");
        message.Body = {".", "\xFC"};
        EXPECT_EQ(Written(message), "Subject: roh\r\n\r\n..\r\n\xFC\r\n");
    }
}
