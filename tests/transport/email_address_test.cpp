// Address parsing, list splitting, the text form and the header values of addresses.

#include <gtest/gtest.h>

#include <string>

#include "transport/email_address.h"

namespace {

struct Parsed {
    std::string name;
    std::string address;
};

Parsed Parse(const std::string& text) {
    TIdEMailAddressItem item(text);
    return {item.Name, item.Address};
}

std::string Addresses(const TIdEMailAddressList& list) {
    std::string all;
    for (const TIdEMailAddressItem& item : list) all += "[" + item.Name + "|" + item.Address + "]";
    return all;
}

std::string Split(const std::string& text) {
    TIdEMailAddressList list;
    list.SetFromText(text);
    return Addresses(list);
}

TIdEMailAddressItem Item(const std::string& name, const std::string& address) {
    TIdEMailAddressItem item;
    item.Name = name;
    item.Address = address;
    return item;
}

std::string HeaderUtf8(const TIdEMailAddressItem& item) {
    return FormatAddressForHeader(item, 'Q', TTransfer::bit8, "UTF-8");
}

}  // namespace

TEST(AddressItem, ParsesTheCommonForms) {
    const struct {
        const char* text;
        const char* name;
        const char* address;
    } cases[] = {
        {"  hans@meier.de ", "", "hans@meier.de"},
        {"Hans Meier <hans@meier.de>", "Hans Meier", "hans@meier.de"},
        {"\"Meier, Hans\" <hans@meier.de>", "Meier, Hans", "hans@meier.de"},
        {"\"Hans \\\"Hansi\\\"\" <h@m.de>", "Hans \"Hansi\"", "h@m.de"},
        {"hans@meier.de (Hans Meier)", "", "hans@meier.de"},
        {"Hans <hans.meier@x.de>", "Hans", "hans.meier@x.de"},
        {"hans@sub.meier.de", "", "hans@sub.meier.de"},
        {"<\"john doe\"@x.de>", "", "john doe@x.de"},
        {"wort", "", "wort"},
        // Two addresses with only a blank between them run together.
        {"a@b.de c@d.de", "", "a@b.dec@d.de"},
    };
    for (const auto& c : cases) {
        Parsed parsed = Parse(c.text);
        EXPECT_EQ(parsed.name, c.name) << c.text;
        EXPECT_EQ(parsed.address, c.address) << c.text;
    }
}

TEST(AddressItem, TextGluedToAnOpeningQuoteKeepsItsCharacters) {
    Parsed parsed = Parse("Hans\"Peter\" <hp@x.de>");
    EXPECT_EQ(parsed.name, "HansPeter");
    EXPECT_EQ(parsed.address, "hp@x.de");
}

TEST(AddressItem, TextOfANestedCommentStaysOutOfTheAddress) {
    EXPECT_EQ(Parse("a@b.de (eins (zwei) drei)").address, "a@b.de");
    EXPECT_EQ(Parse("Hans (x (y) z) <a@b.de>").name, "Hans");
}

TEST(AddressItem, AnAtAfterAClosedBracketedAddressIsAParseError) {
    TIdEMailAddressItem item;
    try {
        item.SetText("<a@b.de> c@d.de");
        FAIL() << "no error";
    } catch (const EIdEmailParseError& error) {
        EXPECT_STREQ(error.what(), "@ Outside-Adresse");
    }
    EXPECT_EQ(item.Address, "a@b.de") << "the parts parsed so far stay";
}

TEST(AddressItem, TextFormQuotesWhatIsNotAtomsAndBlanks) {
    EXPECT_EQ(Item("", "h@m.de").Text(), "h@m.de");
    EXPECT_EQ(Item("Hans Meier", "h@m.de").Text(), "Hans Meier <h@m.de>");
    EXPECT_EQ(Item("Dr. Meier", "h@m.de").Text(), "\"Dr. Meier\" <h@m.de>");
    EXPECT_EQ(Item("Müller", "h@m.de").Text(), "\"Müller\" <h@m.de>");
    EXPECT_EQ(Item("Sag \"hi\\", "h@m.de").Text(), "\"Sag \\\"hi\\\\\" <h@m.de>");
    // A name that is the address in upper case is left out; any other mix of cases is not.
    EXPECT_EQ(Item("H@M.DE", "h@m.de").Text(), "<h@m.de>");
    EXPECT_EQ(Item("H@m.de", "h@m.de").Text(), "\"H@m.de\" <h@m.de>");
    EXPECT_EQ(Item("Hans", "").Text(), "Hans <>");
    EXPECT_EQ(Item("Hans", "wort").Text(), "Hans <>");
    EXPECT_EQ(Item("", "wort").Text(), "");
}

TEST(AddressItem, FormattedAddressQuotesAnOddLocalPart) {
    EXPECT_EQ(Item("", "john doe@x.de").FormattedAddress(), "<\"john doe\"@x.de>");
    EXPECT_EQ(Item("", "a\"b@x.de").FormattedAddress(), "<\"a\\\"b\"@x.de>");
    EXPECT_EQ(Item("", "john.doe@x.de").FormattedAddress(), "john.doe@x.de");
    EXPECT_EQ(Item("", "a@b@x.de").FormattedAddress(), "<\"a@b\"@x.de>");
}

TEST(AddressList, CommaAndSemicolonSeparateOutsideQuotesAndComments) {
    const std::string two = "[|a@b.de][|c@d.de]";
    EXPECT_EQ(Split("a@b.de;c@d.de"), two);
    EXPECT_EQ(Split("a@b.de , c@d.de"), two);
    EXPECT_EQ(Split("a@b.de; c@d.de"), two);
    EXPECT_EQ(Split("a@b.de,c@d.de,"), two);
    EXPECT_EQ(Split("a@b.de;"), "[|a@b.de]");
    EXPECT_EQ(Split("\"Meier, Hans\" <h@m.de>, x@y.de"), "[Meier, Hans|h@m.de][|x@y.de]");
    EXPECT_EQ(Split("x@y.de (Meier, Hans; Chef), z@y.de"), "[|x@y.de][|z@y.de]");
}

TEST(AddressList, EmptyPartsAndWordsWithoutAtAreDroppedAfterCommasOnly) {
    EXPECT_EQ(Split(""), "");
    EXPECT_EQ(Split(" \t "), "");
    EXPECT_EQ(Split(",,,"), "");
    EXPECT_EQ(Split(";;;"), "");
    EXPECT_EQ(Split(" , ; <> ,"), "");
    EXPECT_EQ(Split("wort"), "[|wort]");
    EXPECT_EQ(Split("wort, a@b.de"), "[|a@b.de]");
    EXPECT_EQ(Split("wort; a@b.de"), "[|wort][|a@b.de]");
}

TEST(AddressList, AGroupNameIsDropped) {
    EXPECT_EQ(Split("Team: a@b.de, Hans <c@d.de>;"), "[|a@b.de][Hans|c@d.de]");
}

TEST(AddressList, AParseErrorKeepsTheItemsBeforeAndTheFailingItem) {
    TIdEMailAddressList list;
    EXPECT_THROW(list.SetFromText("x@y.de, <a@b.de> c@d.de, z@z.de"), EIdEmailParseError);
    EXPECT_EQ(Addresses(list), "[|x@y.de][|a@b.de]");
}

TEST(AddressList, HostileTextEndsWithoutCrashOrBlowUp) {
    const std::string inputs[] = {
        std::string(1 << 20, ','), std::string(1 << 20, '('), std::string(1 << 20, '"'),
        std::string(1 << 20, ';'), std::string(1 << 20, ' '), std::string(1 << 20, '\\'),
        "\"Meier, Hans <h@m.de>, x@y.de", "(a@b.de, c@d.de", std::string("a\0b@c.de, \xED\xA0\x80@x", 20),
    };
    for (const std::string& text : inputs) {
        TIdEMailAddressList list;
        list.SetFromText(text);
        EXPECT_LE(list.Count(), 2u);
        TIdEMailAddressItem item;
        item.SetText(text);
    }
    TIdEMailAddressList many;
    std::string text;
    for (int i = 0; i < 50000; ++i) text += "a" + std::to_string(i) + "@b.de, ";
    many.SetFromText(text);
    EXPECT_EQ(many.Count(), 50000u);
}

TEST(AddressHeader, QuotesPrintableNamesAndEncodesOthers) {
    EXPECT_EQ(HeaderUtf8(Item("", "h@m.de")), "h@m.de");
    EXPECT_EQ(HeaderUtf8(Item("", "wort")), "wort");
    EXPECT_EQ(HeaderUtf8(Item("Hans Meier", "h@m.de")), "\"Hans Meier\" <h@m.de>");
    EXPECT_EQ(HeaderUtf8(Item("Sag \"hi\"", "h@m.de")), "\"Sag \\\"hi\\\"\" <h@m.de>");
    EXPECT_EQ(HeaderUtf8(Item("Müller, Hans", "h@m.de")), "=?UTF-8?Q?M=C3=BCller=2C?= Hans <h@m.de>");
    EXPECT_EQ(FormatAddressForHeader(Item("M\xFCller", "h@m.de"), 'Q', TTransfer::bit8, "ISO-8859-1"),
              "=?ISO-8859-1?Q?M=FCller?= <h@m.de>");
}

TEST(AddressHeader, ListJoinsItsItemsWithCommaAndBlank) {
    TIdEMailAddressList list;
    EXPECT_EQ(FormatAddressListForHeader(list, 'Q', TTransfer::bit8, "UTF-8"), "");
    list.SetFromText("Hans <h@m.de>; x@y.de");
    EXPECT_EQ(FormatAddressListForHeader(list, 'Q', TTransfer::bit8, "UTF-8"), "\"Hans\" <h@m.de>, x@y.de");
}
