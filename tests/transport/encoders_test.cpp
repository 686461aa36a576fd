// Base64, quoted-printable, the uuencode and xxencode forms, and the attachment encoder registry.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/support/transport_text.h"
#include "tests/transport/encoded_word_reader.h"
#include "transport/encoders.h"
#include "transport/message_encoders.h"

namespace {

std::string Bytes(std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) bytes += static_cast<char>((i * 7 + 3) & 0xFF);
    return bytes;
}

std::string Base64Attachment(const std::string& data) {
    TIdMessageEncoderMIME encoder;
    return EncodeAttachment(encoder, data);
}

std::string QP(const std::string& text) { return EncodeText<TIdEncoderQuotedPrintable>(text); }

std::string QuotedPrintableDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '=') {
            out += text[i];
        } else if (text.substr(i + 1, 2) == "\r\n") {
            i += 2;  // soft line break
        } else {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

// Text with every kind of byte quoted-printable treats apart, blanks before line breaks and long lines.
std::string MixedText(unsigned seed, size_t size) {
    static const std::string kPieces[] = {"a", "Z", "=", " ", "\t", "\r\n", "\xC3\xA4", ".", "~", std::string(1, '\0')};
    std::string text;
    while (text.size() < size) {
        seed = seed * 1103515245u + 12345u;
        const unsigned pick = (seed >> 16) % 40;
        text += pick < 10 ? kPieces[pick] : std::string(1, static_cast<char>('a' + pick % 26));
    }
    return text;
}

}  // namespace

TEST(Base64, FollowsTheRfcVectorsWithFillCharacters) {
    EXPECT_EQ(EncodeText<TIdEncoderMIME>(""), "");
    EXPECT_EQ(EncodeText<TIdEncoderMIME>("f"), "Zg==");
    EXPECT_EQ(EncodeText<TIdEncoderMIME>("fo"), "Zm8=");
    EXPECT_EQ(EncodeText<TIdEncoderMIME>("foo"), "Zm9v");
    EXPECT_EQ(EncodeText<TIdEncoderMIME>("foobar"), "Zm9vYmFy");
    EXPECT_EQ(EncodeText<TIdEncoderMIME>(std::string("\xFF\xFE\x00", 3)), "//4A");
}

TEST(Base64, WholeTextFormHasNoLineBreaksHoweverLong) {
    std::string encoded = EncodeText<TIdEncoderMIME>(std::string(1000, 'x'));
    EXPECT_EQ(encoded.size(), 1336u);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
}

TEST(Base64, EncodeChunkTakesOnlyItsShareOfTheStream) {
    std::istringstream source("foobarX");
    TIdEncoderMIME encoder;
    EXPECT_EQ(encoder.EncodeChunk(source, 3), "Zm9v");
    EXPECT_EQ(encoder.EncodeChunk(source, 6), "YmFyWA==");
    EXPECT_EQ(encoder.EncodeChunk(source, 3), "");
}

TEST(Base64, EncodeChunkRefusesASizeThatIsNoMultipleOfThreeAndReadsNothing) {
    std::istringstream source("foobar");
    TIdEncoderMIME encoder;
    try {
        encoder.EncodeChunk(source, 4);
        FAIL() << "no error";
    } catch (const EIdException& error) {
        EXPECT_STREQ(error.what(), "Ungleichmäßige Größe in Encode.");
    }
    EXPECT_EQ(encoder.EncodeChunk(source, 3), "Zm9v");
}

TEST(MimeAttachment, WritesLinesOf76CharactersFrom57Bytes) {
    EXPECT_EQ(Base64Attachment(""), "");
    std::string line57 = Base64Attachment(Bytes(57));
    EXPECT_EQ(line57.size(), 78u);
    EXPECT_EQ(line57.substr(76), "\r\n");
    EXPECT_EQ(line57.find('='), std::string::npos);

    std::string line56 = Base64Attachment(Bytes(56));
    EXPECT_EQ(line56.size(), 78u);
    EXPECT_EQ(line56.substr(75), "=\r\n");
    EXPECT_NE(line56[74], '=');

    std::string line55 = Base64Attachment(Bytes(55));
    EXPECT_EQ(line55.size(), 78u);
    EXPECT_EQ(line55.substr(74), "==\r\n");

    std::string two = Base64Attachment(Bytes(58));
    EXPECT_EQ(two.size(), 78u + 6u);
    EXPECT_EQ(two.substr(78).size(), 6u);
    EXPECT_EQ(two.substr(80), "==\r\n");
}

TEST(QuotedPrintable, EncodesBytesByTheirClass) {
    EXPECT_EQ(QP("a=b"), "a=3Db");
    EXPECT_EQ(QP("_?!~"), "_?!~");
    EXPECT_EQ(QP(std::string("\x00\x7F\xFF\xE4\x0B", 5)), "=00=7F=FF=E4=0B");
    EXPECT_EQ(QP("a b\tc\r\n"), "a b\tc\r\n");
}

TEST(QuotedPrintable, BlankBeforeALineBreakIsEncodedElsewhereKept) {
    EXPECT_EQ(QP("end \r\n"), "end=20\r\n");
    EXPECT_EQ(QP("end\t\r\n"), "end=09\r\n");
    EXPECT_EQ(QP("end \n"), "end=20\n");
    EXPECT_EQ(QP("end "), "end ");  // the last byte of the data stays itself
}

TEST(QuotedPrintable, BlankAtTheEndOfABlockSeesTheLineBreakInTheNextBlock) {
    std::string encoded = QP(std::string(8191, 'a') + " \r\n");
    EXPECT_EQ(encoded.substr(encoded.size() - 9), "aaaa=20\r\n");
}

TEST(QuotedPrintable, SoftBreaksAfterMoreThan71Characters) {
    EXPECT_EQ(QP(std::string(70, 'x') + "\r\n"), std::string(70, 'x') + "\r\n");
    EXPECT_EQ(QP(std::string(71, 'x') + "\r\n"), std::string(71, 'x') + "\r\n");
    EXPECT_EQ(QP(std::string(72, 'x') + "\r\n"), std::string(72, 'x') + "=\r\n\r\n");
    // The count starts again after each line break.
    std::string twoLines = std::string(71, 'x') + "\r\n" + std::string(71, 'y') + "\r\n";
    EXPECT_EQ(QP(twoLines), twoLines);
    // A long line breaks every 72 characters; an escape that crosses the limit ends its output line.
    const std::string x72 = std::string(72, 'x');
    EXPECT_EQ(QP(std::string(150, 'x')), x72 + "=\r\n" + x72 + "=\r\n" + "xxxxxx");
    EXPECT_EQ(QP(std::string(70, 'x') + "\xC3\xA4y"), std::string(70, 'x') + "=C3=\r\n=A4y");
}

// The in-memory form used for message bodies must encode exactly as the stream encoder, around the
// stream's block boundary included.
TEST(QuotedPrintable, InMemoryFormMatchesTheStreamEncoder) {
    const std::vector<std::string> texts = {
        "", " ", "end \r\n", "a=b\tc\r\n", std::string(150, 'x') + " \r\n",
        "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln \n", std::string(8191, 'a') + " \r\n",
        std::string(8192, 'b') + "\t\n", std::string("\0\x7F\xFF", 3)};
    for (const std::string& text : texts) {
        std::string appended = "prefix";
        AppendQuotedPrintable(text, appended);
        EXPECT_EQ(appended, "prefix" + QP(text)) << text.substr(0, 40);
    }
}

TEST(QuotedPrintable, MixedTextsComeBackUnchangedInLinesOfAtMost76) {
    for (unsigned seed = 1; seed <= 200; ++seed) {
        const std::string text = MixedText(seed, 10 + seed * 7);
        std::string encoded;
        AppendQuotedPrintable(text, encoded);
        ASSERT_EQ(QuotedPrintableDecoded(encoded), text) << "seed " << seed;
        size_t start = 0;
        while (start < encoded.size()) {
            size_t end = encoded.find('\n', start);
            if (end == std::string::npos) end = encoded.size();
            std::string_view line(encoded.data() + start, end - start);
            if (line.ends_with('\r')) line.remove_suffix(1);
            ASSERT_LE(line.size(), 76u) << "seed " << seed << ": " << line;
            if (end < encoded.size()) ASSERT_FALSE(line.ends_with(' ') || line.ends_with('\t')) << line;
            start = end + 1;
        }
    }
}

TEST(MimeAttachment, LargeFilesKeepTheirLinesAcrossEveryRead) {
    // Sizes around the encoder's read size of 65 493 bytes (1149 lines of 57).
    for (size_t size : {65492u, 65493u, 65494u, 2u * 65493u + 58u}) {
        const std::string data = Bytes(size);
        const std::string encoded = Base64Attachment(data);
        const size_t lines = (size + 56) / 57;
        ASSERT_EQ(encoded.size(), (size / 57) * 78 + (size % 57 ? (size % 57 + 2) / 3 * 4 + 2 : 0)) << size;
        for (size_t line = 0; line + 1 < lines; ++line) ASSERT_EQ(encoded.substr(line * 78 + 76, 2), "\r\n");
        EXPECT_EQ(DecodeBase64(WithoutCrLf(encoded)), data) << size;
    }
}

TEST(UUEncode, FollowsTheUuencodeAndXxencodeConventions) {
    TIdMessageEncoderUUE uue;
    uue.Filename = "cat.txt";
    EXPECT_EQ(EncodeAttachment(uue, "Cat"), "begin 660 cat.txt\r\n#0V%T\r\n`\r\nend\r\n");
    TIdMessageEncoderXXE xxe;
    xxe.Filename = "cat.txt";
    EXPECT_EQ(EncodeAttachment(xxe, "Cat"), "begin 660 cat.txt\r\n1Eq3o\r\n+\r\nend\r\n");
}

TEST(UUEncode, LinesCarry45BytesAndTheirLengthCharacter) {
    TIdMessageEncoderUUE uue;
    uue.Filename = "f";
    std::string out = EncodeAttachment(uue, std::string(46, '\0'));
    // 45 zero bytes: "M" and 60 zero characters; then one byte: "!" and a padded group.
    EXPECT_EQ(out, "begin 660 f\r\nM" + std::string(60, '`') + "\r\n!````\r\n`\r\nend\r\n");
}

TEST(EncoderRegistry, FindsTheThreeEncodersWithoutRegardToCase) {
    auto mime = TIdMessageEncoderList::ByName("mime");
    EXPECT_NE(dynamic_cast<TIdMessageEncoderMIME*>(mime->CreateEncoder().get()), nullptr);
    auto uue = TIdMessageEncoderList::ByName("Uue");
    EXPECT_NE(dynamic_cast<TIdMessageEncoderUUE*>(uue->CreateEncoder().get()), nullptr);
    auto xxe = TIdMessageEncoderList::ByName("XXE");
    EXPECT_NE(dynamic_cast<TIdMessageEncoderXXE*>(xxe->CreateEncoder().get()), nullptr);
    EXPECT_EQ(mime->CreateEncoder()->PermissionCode, 660);
    try {
        TIdMessageEncoderList::ByName("B64");
        FAIL() << "no error";
    } catch (const EIdException& error) {
        EXPECT_STREQ(error.what(), "Botschafts-Encoder nicht gefunden: B64");
    }
}

TEST(EncoderRegistry, MimeEntrySetsTheMultipartContentTypeByPartCounts) {
    auto mime = TIdMessageEncoderList::ByName("MIME");
    std::string type = "text/plain";
    mime->InitializeContentType({}, type);
    EXPECT_EQ(type, "text/plain");
    mime->InitializeContentType({.Attachments = 0, .TextParts = 2, .RelatedParts = 0}, type);
    EXPECT_EQ(type, "multipart/alternative; boundary=\"=_NextPart_2rfkquibsadvnqw3nerasdf\"");
    mime->InitializeContentType({.Attachments = 1, .TextParts = 2, .RelatedParts = 0}, type);
    EXPECT_EQ(type, "multipart/mixed; boundary=\"=_NextPart_2rfkquibsadvnqw3nerasdf\"");
    mime->InitializeContentType({.Attachments = 1, .TextParts = 0, .RelatedParts = 1}, type);
    EXPECT_EQ(type, "multipart/related; type=\"multipart/alternative\"; "
                    "boundary=\"=_NextPart_2relrfksadvnqquibw3nerasdf\"");
    std::string untouched = "x/y";
    TIdMessageEncoderList::ByName("UUE")->InitializeContentType({.Attachments = 1}, untouched);
    EXPECT_EQ(untouched, "x/y");
}

TEST(AttachmentFile, EncodesTheFileAndReportsOpenAndReadErrors) {
    TempDir dir;
    dir.Write("data.bin", Bytes(100));
    TIdMessageEncoderMIME encoder;
    std::ostringstream out;
    encoder.EncodeFile(dir.File("data.bin"), out);
    EXPECT_EQ(out.str(), Base64Attachment(Bytes(100)));

    try {
        encoder.EncodeFile(dir.File("missing.bin"), out);
        FAIL() << "no error";
    } catch (const EIdFileOpenError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Datei " + dir.File("missing.bin") + " kann nicht geöffnet werden. No such file or directory");
    }
    // A folder opens but cannot be read: an error, never an empty attachment reported as sent.
    std::ostringstream none;
    EXPECT_ANY_THROW(encoder.EncodeFile(dir.Path(), none));
}
