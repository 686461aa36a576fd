#include "mailing/file_io.h"
#include "mailing/list_file.h"
#include "mailing/options_file.h"
#include "mailing/settings_file.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

TEST(SettingsCipher, KnownBytesAndRoundTrip) {
    // "a" + "w" = 0x61 + 0x77; the key restarts with every text and wraps around 256.
    EXPECT_EQ(SettingsCipher::Encipher("wemp", "aaaaa"), "\xD8\xC6\xCE\xD1\xD8");
    EXPECT_EQ(SettingsCipher::Encipher("wemp", "\xFF"), "\x76");
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(SettingsCipher::Decipher("wemp", SettingsCipher::Encipher("wemp", all)), all);
}

TEST(LooksEnciphered, PlainBlankAndEnciphered) {
    EXPECT_FALSE(LooksEnciphered("smtp.example.de\r\nich@example.de\r\ngeheim\r\n25\r\n"));
    // Nothing printable is left: blank lines, blanks, tabs, nothing at all.
    EXPECT_TRUE(LooksEnciphered("\r\n\r\n\r\n"));
    EXPECT_TRUE(LooksEnciphered("   \t \r\n"));
    EXPECT_TRUE(LooksEnciphered(""));
    const AccountSettings values{"smtp.example.de", "ich@example.de", "", "25"};
    EXPECT_TRUE(LooksEnciphered(EncodeSettingsFile(values, {})));
    // Eight empty lines enciphered consist of the marker and the key's view of CR LF only.
    EXPECT_TRUE(LooksEnciphered(EncodeSettingsFile({}, {})));
}

TEST(LooksEnciphered, HalfRoundsToEven) {
    // Reduced length 5, printable 2: 2 < round(2.5) = 2 is false, so the text counts as plain.
    EXPECT_FALSE(LooksEnciphered("ab\x01\x02\x03"));
    // Reduced length 7, printable 3: 3 < round(3.5) = 4, enciphered.
    EXPECT_TRUE(LooksEnciphered("abc\x01\x02\x03\x04"));
    // Length 4, printable 1: 1 < 2.
    EXPECT_TRUE(LooksEnciphered("a\x01\x02\x03"));
    // The marker is removed whatever its case; what remains is not printable.
    EXPECT_TRUE(LooksEnciphered("OzZ\x01"));
}

TEST(SettingsText, ParseTakesEightLinesAndKeepsReserved) {
    ReservedLines reserved;
    const AccountSettings values =
        ParseSettingsText("h\r\nu\r\n pw \r\n587\r\nold\r\nr6\nr7\rr8\r\nextra\r\n", reserved);
    EXPECT_EQ(values, (AccountSettings{"h", "u", " pw ", "587"}));
    EXPECT_EQ(reserved, (ReservedLines{"r6", "r7", "r8"}));
    // Line 5 is written from the mail address, whatever it held.
    EXPECT_EQ(PlainSettingsContent(values, reserved), "h\r\nu\r\n pw \r\n587\r\nu\r\nr6\r\nr7\r\nr8\r\n");
    // Too short or garbage: the lines there are.
    EXPECT_EQ(ParseSettingsText("only host", reserved), (AccountSettings{"only host", "", "", ""}));
    EXPECT_EQ(reserved, (ReservedLines{}));
}

TEST(SettingsText, ShortValuesSurviveTheRoundTrip) {
    // Few value bytes leave the enciphered line breaks in the majority; without a filler after line 8
    // such files would be read back as plain text and every value would be lost.
    const std::vector<AccountSettings> cases = {
        {"a", "", "", ""}, {"", "", "", "25"}, {"h", "u", "p", "1"}, {"", "x@y", "", ""}, {"", "", "", ""},
        {"mx", "", " ", "587"}, {"\xC3\xA4", "", "", ""}};
    for (const AccountSettings& values : cases) {
        ReservedLines reserved{"", "r", ""};
        ReservedLines back;
        const std::string stored = EncodeSettingsFile(values, reserved);
        EXPECT_TRUE(LooksEnciphered(stored)) << values.host << "|" << values.port;
        EXPECT_EQ(DecodeSettingsFile(stored, back), values);
        EXPECT_EQ(back, reserved);
    }
}

class SettingsFileTest : public ::testing::Test {
protected:
    TempDir temp;
    std::string folder = temp.Path() + "/ptdata/";
};

TEST_F(SettingsFileTest, SaveThenLoadRoundTrip) {
    SettingsFile settings(folder);
    EXPECT_EQ(settings.LoadSettings(), AccountSettings{});  // no file: all empty, folder created
    const AccountSettings values{"mail.example.de", "ich@example.de", "", "25"};
    settings.SaveSettings(values);

    const std::string stored = ReadWholeFile(folder + "postira.ini");
    // The eight lines' lengths plus 16 bytes of line breaks.
    EXPECT_EQ(stored.size(), values.host.size() + 2 * values.user.size() + values.port.size() + 16);
    struct stat info {};
    ASSERT_EQ(stat((folder + "postira.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    SettingsFile again(folder);
    EXPECT_EQ(again.LoadSettings(), values);
    EXPECT_EQ(again.Reserved(), ReservedLines{});
}

TEST_F(SettingsFileTest, PasswordWithBlanksAndUmlauts) {
    const AccountSettings values{"h", "u@x.de", "  gehe im ä ", "465"};
    SettingsFile settings(folder);
    settings.LoadSettings();
    settings.SaveSettings(values);
    EXPECT_EQ(SettingsFile(folder).LoadSettings(), values);
}

TEST_F(SettingsFileTest, PlainHandWrittenFileIsReadAndSavedEnciphered) {
    SettingsFile settings(folder);
    settings.LoadSettings();
    temp.Write("ptdata/POSTIRA.INI", "smtp.example.de\nich@example.de\ngeheim\n25\n\nres6\n");
    EXPECT_EQ(settings.LoadSettings(), (AccountSettings{"smtp.example.de", "ich@example.de", "geheim", "25"}));
    settings.SaveSettings({"smtp.example.de", "ich@example.de", "geheim", "25"});
    // Written under the name that was found, enciphered, with the reserved line kept.
    const std::string stored = temp.Read("ptdata/POSTIRA.INI");
    EXPECT_TRUE(LooksEnciphered(stored));
    EXPECT_EQ(SettingsCipher::Decipher(kSettingsKey, stored),
              "smtp.example.de\r\nich@example.de\r\ngeheim\r\n25\r\nich@example.de\r\nres6\r\n\r\n\r\n");
}

TEST_F(SettingsFileTest, GarbageLoadsWithoutError) {
    SettingsFile settings(folder);
    settings.LoadSettings();
    std::string garbage;
    for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) % 256);
    temp.Write("ptdata/postira.ini", garbage);
    EXPECT_NO_THROW(settings.LoadSettings());
    temp.Write("ptdata/postira.ini", "\x01");
    EXPECT_NO_THROW(settings.LoadSettings());
}

TEST_F(SettingsFileTest, UnreadableFileIsAnError) {
    SettingsFile settings(folder);
    settings.LoadSettings();
    mkdir((folder + "postira.ini").c_str(), 0700);  // a folder where the file should be
    try {
        settings.LoadSettings();
        FAIL() << "expected a file error";
    } catch (const EFileError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Datei " + folder + "postira.ini kann nicht geöffnet werden. ", 0),
                  0u)
            << error.what();
    }
}

TEST(OptionsText, SwitchesUnknownNamesAndDamage) {
    struct Case {
        std::string text;
        bool allowPlainLogin;
        int damagedLine;
        std::vector<std::string> unknown;
    };
    const std::vector<Case> cases = {
        {"", false, 0, {}},
        {"# Kommentar\r\n\r\n  ALLOW-PLAIN-LOGIN = Ja \r\n", true, 0, {}},
        {"allow-plain-login=nein\nsend-rate=30\n", false, 0, {"send-rate=30"}},
        {"allow-plain-login=ja\rallow-plain-login=0", false, 0, {}},
        // Damaged: the defaults, nothing kept, and the first line that was not understood.
        {"send-rate=30\r\nallow-plain-login=vielleicht\r\n", false, 2, {}},
        {"allow-plain-login=ja\r\nkein gleichheitszeichen\r\n", false, 2, {}},
        {"=ja\r\n", false, 1, {}},
        {std::string("allow-plain-login=ja\r\nx\0y=1", 28), false, 2, {}},
        {std::string(70000, '#'), false, 1, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        const ParsedOptions parsed = ParseOptionsText(c.text);
        EXPECT_EQ(parsed.options.allowPlainLogin, c.allowPlainLogin);
        EXPECT_EQ(parsed.damagedLine, c.damagedLine);
        EXPECT_EQ(parsed.unknownLines, c.unknown);
    }
    const ParsedOptions signIn =
        ParseOptionsText("sign-in = Google\r\nscope= https://mail.google.com/ \r\ntenant=\r\npassword-in-keyring=an\r\ncheck-before-run=aus\r\n");
    EXPECT_FALSE(signIn.options.checkBeforeRun);
    EXPECT_TRUE(signIn.options.passwordInKeyring);
    EXPECT_EQ(signIn.options.signIn, SignInMethod::Google);
    EXPECT_EQ(signIn.options.scope, "https://mail.google.com/");
    EXPECT_EQ(ParseOptionsText(FormatOptionsText(signIn.options, {})).options, signIn.options);
    EXPECT_EQ(ParseOptionsText("sign-in=fax\r\n").damagedLine, 1);
}

TEST_F(SettingsFileTest, OptionsFileMissingDamagedUnreadableAndSaved) {
    OptionsFile options(folder);
    SettingsFile(folder).LoadSettings();  // creates the folder
    EXPECT_EQ(options.Load(), SendOptions{});
    EXPECT_EQ(options.Note(), "");

    temp.Write("ptdata/Postira-Optionen.ini", "allow-plain-login=ja\r\nneuere-option=1\r\n");
    EXPECT_TRUE(options.Load().allowPlainLogin);
    options.Save({});
    // Written under the name found, owner only, with the newer program's line kept.
    EXPECT_EQ(temp.Read("ptdata/Postira-Optionen.ini"),
              "# Versandoptionen von Postira (kein Passwort in dieser Datei)\r\nallow-plain-login=nein\r\n"
              "mails-per-minute=0\r\nsign-in=password\r\npassword-in-keyring=ja\r\ncheck-before-run=ja\r\n"
              "sent-copy=nein\r\nneuere-option=1\r\n");
    struct stat info {};
    ASSERT_EQ(stat((folder + "Postira-Optionen.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    temp.Write("ptdata/Postira-Optionen.ini", "allow-plain-login=ja\r\n\xE4\xF6\xFC\r\n");
    EXPECT_EQ(options.Load(), SendOptions{});
    EXPECT_EQ(options.Note(), "Die Versandoptionen in \"" + folder +
                                  "Postira-Optionen.ini\" sind beschädigt (Zeile 2), es gelten die Voreinstellungen.");
    std::remove((folder + "Postira-Optionen.ini").c_str());
    mkdir((folder + "postira-optionen.ini").c_str(), 0700);
    EXPECT_EQ(options.Load(), SendOptions{});
    EXPECT_TRUE(options.Note().starts_with("Die Versandoptionen konnten nicht gelesen werden")) << options.Note();
}

}  // namespace
