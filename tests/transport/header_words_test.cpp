// Header charset choice, encoded header words and the ISO-2022-JP conversion.

#include <gtest/gtest.h>

#include <string>

#include "tests/transport/encoded_word_reader.h"
#include "transport/header_charset.h"
#include "transport/header_words.h"
#include "transport/iso2022jp.h"

namespace {

const std::string kEsc = "\x1b";
std::string Jis(const std::string& codes) { return kEsc + "$B" + codes + kEsc + "(B"; }

std::string Utf8Q(const std::string& text, std::string_view specials = "") {
    return EncodeHeaderWords(text, specials, 'Q', TTransfer::bit8, "UTF-8");
}

// Every encoded word of the value decodes to whole characters, and all of them together to the text.
void ExpectWordsDecodeOnTheirOwn(const std::string& value, const std::string& text) {
    std::string decoded;
    for (const EncodedWord& word : FindEncodedWords(value)) {
        EXPECT_LE(word.charset.size() + word.text.size() + 7, MaxEncodedWordLength);
        std::string bytes = DecodeWord(word);
        EXPECT_TRUE(IsCompleteUtf8(bytes)) << word.text;
        decoded += bytes;
    }
    EXPECT_EQ(decoded, text);
}

}  // namespace

TEST(HeaderCharset, Utf8LocalesLabelUtf8WithTheLanguagesLetter) {
    THeaderCharset western{TTransfer::bit8, 'Q', "UTF-8"};
    THeaderCharset eastern{TTransfer::bit8, 'B', "UTF-8"};
    EXPECT_EQ(ChooseHeaderCharsetFor("de_DE.UTF-8", "UTF-8"), western);
    EXPECT_EQ(ChooseHeaderCharsetFor("C", "ANSI_X3.4-1968"), western);
    EXPECT_EQ(ChooseHeaderCharsetFor("ja_JP.UTF-8", "UTF-8"), eastern);
    EXPECT_EQ(ChooseHeaderCharsetFor("zh_TW.utf8", "utf8"), eastern);
    EXPECT_EQ(ChooseHeaderCharsetFor("ko_KR.UTF-8", "UTF-8"), eastern);
}

TEST(HeaderCharset, EightBitLocalesFollowTheLanguageTable) {
    EXPECT_EQ(ChooseHeaderCharsetFor("de_DE", "ISO-8859-1"), (THeaderCharset{TTransfer::bit8, 'Q', "ISO-8859-1"}));
    EXPECT_EQ(ChooseHeaderCharsetFor("zh_CN.GB2312", "GB2312"), (THeaderCharset{TTransfer::bit8, 'B', "GB2312"}));
    EXPECT_EQ(ChooseHeaderCharsetFor("zh_SG.GBK", "GBK"), (THeaderCharset{TTransfer::bit8, 'B', "GB2312"}));
    EXPECT_EQ(ChooseHeaderCharsetFor("zh_TW.BIG5", "BIG5"), (THeaderCharset{TTransfer::bit8, 'B', "Big5"}));
    EXPECT_EQ(ChooseHeaderCharsetFor("zh_HK.BIG5-HKSCS", "BIG5-HKSCS"), (THeaderCharset{TTransfer::bit8, 'B', "Big5"}));
    EXPECT_EQ(ChooseHeaderCharsetFor("ja_JP.SJIS", "SHIFT_JIS"),
              (THeaderCharset{TTransfer::iso2022jp, 'B', "ISO-2022-JP"}));
    EXPECT_EQ(ChooseHeaderCharsetFor("ko_KR.EUC-KR", "EUC-KR"), (THeaderCharset{TTransfer::bit8, 'B', "EUC-KR"}));
}

TEST(HeaderWords, EncodesOnlyTheStretchOfWordsThatNeedIt) {
    EXPECT_EQ(EncodeHeaderWords("Gr\xFC\xDF" "e f\xFCr Sie", "", 'Q', TTransfer::bit8, "ISO-8859-1"),
              "=?ISO-8859-1?Q?Gr=FC=DFe_f=FCr?= Sie");
    EXPECT_EQ(Utf8Q("Hallo liebe Grüße"), "Hallo liebe =?UTF-8?Q?Gr=C3=BC=C3=9Fe?=");
    // Whitespace around a stretch stays as it is; inside a stretch it is encoded.
    EXPECT_EQ(Utf8Q("a  ü\tö\tb "), "a  =?UTF-8?Q?=C3=BC=09=C3=B6?=\tb ");
    EXPECT_EQ(Utf8Q("ü\r\nö"), "=?UTF-8?Q?=C3=BC=0D=0A=C3=B6?=");
    // "=", "?" and "_" are quoted inside an encoded word only.
    EXPECT_EQ(Utf8Q("ä=?_ x=_?"), "=?UTF-8?Q?=C3=A4=3D=3F=5F?= x=_?");
}

TEST(HeaderWords, PlainAsciiIsReturnedUnchangedHoweverLong) {
    std::string text;
    for (int i = 0; i < 60; ++i) text += "word_" + std::to_string(i) + "? = ";
    EXPECT_EQ(Utf8Q(text), text);
    EXPECT_EQ(EncodeHeaderWords("Grüße", "", '8', TTransfer::bit8, "UTF-8"), "Grüße");
}

TEST(HeaderWords, AWordThatLooksLikeAnEncodedWordIsEncoded) {
    // Left plain, a reader would decode it and show "abc" instead of what the user wrote.
    EXPECT_EQ(Utf8Q("x =?UTF-8?Q?abc?= y"), "x =?UTF-8?Q?=3D=3FUTF-8=3FQ=3Fabc=3F=3D?= y");
}

TEST(HeaderWords, ExtraSpecialsOfAddressNamesAreEncoded) {
    EXPECT_EQ(Utf8Q("Müller, Hans", AddressSpecials), "=?UTF-8?Q?M=C3=BCller=2C?= Hans");
    EXPECT_EQ(Utf8Q("Dr. Müller", AddressSpecials), "=?UTF-8?Q?Dr=2E_M=C3=BCller?=");
}

TEST(HeaderWords, LongStretchContinuesInEncodedWordsJoinedByCrLfTab) {
    std::string twenty;
    for (int i = 0; i < 20; ++i) twenty += "ü";
    std::string ten;
    for (int i = 0; i < 10; ++i) ten += "=C3=BC";
    EXPECT_EQ(Utf8Q(twenty), "=?UTF-8?Q?" + ten + "?=\r\n\t=?UTF-8?Q?" + ten + "?=");

    std::string latin(20, '\xFC');
    std::string nineteen;
    for (int i = 0; i < 19; ++i) nineteen += "=FC";
    EXPECT_EQ(EncodeHeaderWords(latin, "", 'Q', TTransfer::bit8, "ISO-8859-1"),
              "=?ISO-8859-1?Q?" + nineteen + "?=\r\n\t=?ISO-8859-1?Q?=FC?=");
}

TEST(HeaderWords, Base64WordsFillUpTo75Characters) {
    // The opening =?GB2312?B? is 11 characters, with the closing 13: 15 groups (45 bytes) fit, but
    // the 45th byte would split a pair, so the first word holds 22 pairs.
    std::string text(50, '\xB0');
    std::string value = EncodeHeaderWords(text, "", 'B', TTransfer::bit8, "GB2312");
    auto words = FindEncodedWords(value);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(value.substr(0, 11), "=?GB2312?B?");
    EXPECT_EQ(value.find("\r\n\t"), 73u);
    EXPECT_EQ(DecodeWord(words[0]), std::string(44, '\xB0'));
    EXPECT_EQ(DecodeWord(words[1]), std::string(6, '\xB0'));

    // A single-byte charset fills whole groups: =?ISO-8859-1?B? leaves room for 14 groups.
    auto latin = FindEncodedWords(EncodeHeaderWords(text, "", 'B', TTransfer::bit8, "ISO-8859-1"));
    ASSERT_EQ(latin.size(), 2u);
    EXPECT_EQ(DecodeWord(latin[0]).size(), 42u);
}

TEST(HeaderWords, BreaksNeverSplitAMultiByteCharacter) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += "aü€𝄞";
    ExpectWordsDecodeOnTheirOwn(Utf8Q(text), text);
    ExpectWordsDecodeOnTheirOwn(EncodeHeaderWords(text, "", 'B', TTransfer::bit8, "UTF-8"), text);

    // Big5: the pairs stay whole in every word.
    std::string big5;
    for (int i = 0; i < 40; ++i) big5 += "a\xA4\x40";
    for (const EncodedWord& word : FindEncodedWords(EncodeHeaderWords(big5, "", 'B', TTransfer::bit8, "Big5"))) {
        std::string bytes = DecodeWord(word);
        EXPECT_NE(static_cast<unsigned char>(bytes.back()), 0xA4) << "word ends inside a pair";
    }
}

TEST(HeaderWords, Iso2022JpConvertsFirstAndEveryWordEndsInAscii) {
    EXPECT_EQ(EncodeHeaderWords("\x82\xA0", "", 'B', TTransfer::iso2022jp, "ISO-2022-JP"),
              "=?ISO-2022-JP?B?GyRCJCIbKEI=?=");
    std::string sjis;
    for (int i = 0; i < 40; ++i) sjis += "\x88\x9F";  // 亜
    auto words = FindEncodedWords(EncodeHeaderWords(sjis, "", 'B', TTransfer::iso2022jp, "ISO-2022-JP"));
    ASSERT_GE(words.size(), 2u);
    std::string all;
    for (const EncodedWord& word : words) {
        std::string bytes = DecodeWord(word);
        EXPECT_EQ(bytes.substr(0, 3), kEsc + "$B");
        EXPECT_EQ(bytes.substr(bytes.size() - 3), kEsc + "(B");
        all += bytes.substr(3, bytes.size() - 6);
    }
    std::string codes;
    for (int i = 0; i < 40; ++i) codes += "0!";
    EXPECT_EQ(all, codes);

    // Raw escape sequences in a row cannot make one word overlong.
    std::string escapes;
    for (int i = 0; i < 40; ++i) escapes += kEsc + "$B";
    for (char letter : {'B', 'Q'}) {
        std::string value = EncodeHeaderWords(escapes + "!!", "", letter, TTransfer::bit8, "ISO-2022-JP");
        for (const EncodedWord& word : FindEncodedWords(value)) EXPECT_LE(word.text.size() + 18, 75u);
    }
}

TEST(Iso2022Jp, ConvertsShiftJisPairsAndDropsWhatJisLacks) {
    EXPECT_EQ(ConvertToISO2022JP("abc"), "abc");
    EXPECT_EQ(ConvertToISO2022JP("a\x82\xA0\x88\x9F" "b"), "a" + Jis("$\"0!") + "b");
    EXPECT_EQ(ConvertToISO2022JP("\x81\x60"), Jis("!A"));  // wave dash
    // NEC's circled one (0x8740) has no JIS X 0208 code; bytes that start no character go too.
    EXPECT_EQ(ConvertToISO2022JP("a\x87\x40" "b\x80\xFD"), "ab");
    EXPECT_EQ(ConvertToISO2022JP("a\x82"), "a");
}

TEST(Iso2022Jp, HalfWidthKatakanaBecomeFullWidthWithTheirMarks) {
    EXPECT_EQ(ConvertToISO2022JP("\xB1"), Jis("%\""));          // ｱ → ア
    EXPECT_EQ(ConvertToISO2022JP("\xB6\xDE"), Jis("%,"));       // ｶﾞ → ガ
    EXPECT_EQ(ConvertToISO2022JP("\xCA\xDF"), Jis("%Q"));       // ﾊﾟ → パ
    EXPECT_EQ(ConvertToISO2022JP("\xB3\xDE"), Jis("%t"));       // ｳﾞ → ヴ
    EXPECT_EQ(ConvertToISO2022JP("\xDC\xDE"), Jis("%o!+"));     // ﾜﾞ: no combined form → ワ ゛
    EXPECT_EQ(ConvertToISO2022JP("\xB1\xDF"), Jis("%\"!,"));    // ｱﾟ → ア ゜
    EXPECT_EQ(ConvertToISO2022JP("\xDE" "a"), Jis("!+") + "a");  // a lone mark
}

TEST(HeaderWords, HugeTextsEncodeInLinearTime) {
    std::string word;
    for (int i = 0; i < (1 << 19); ++i) word += "ü";  // one word of 1 MB
    std::string value = Utf8Q(word);
    EXPECT_EQ(FindEncodedWords(value).size(), (1u << 19) / 10 + 1);
    std::string mixed;
    for (int i = 0; i < (1 << 18); ++i) mixed += i % 2 ? "ab " : "\xFF\x01 ";
    EXPECT_NE(EncodeHeaderWords(mixed, AddressSpecials, 'B', TTransfer::bit8, "UTF-8"), mixed);
}
