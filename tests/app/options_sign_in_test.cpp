// The sign-in part of "Versandoptionen" as a user works it: a provider chosen in the list, the browser
// sign-in against the stand-in provider on loopback, signing out, and the password kept in the keyring.

#include "app/main_window.h"
#include "app/options_window.h"
#include "mailing/file_io.h"
#include "mailing/settings_file.h"
#include "signin/secret_store.h"
#include "tests/signin/stand_in_provider.h"
#include "tests/support/qt/fake_services.h"
#include "tests/support/qt/fake_transport.h"
#include "tests/support/temp_dir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

namespace {

class OptionsSignInTest : public ::testing::Test {
protected:
    OptionsSignInTest() {
        window.FormShow();
        store = std::make_shared<SecretStore>(window.DataFolder(), SecretStore::Keyring::FileOnly);
        window.SetSecretStore(store);
        window.SetTransport(std::make_unique<SharedFakeTransport>(transport));
        window.EditHost->setText("smtp.example.de");
        window.EditUser->setText("absender@example.org");
        window.EditPort->setText("25");
    }

    // Opens "Versandoptionen" from the toolbar and lets `act` work the window while it is shown.
    void InOptions(const std::function<void(TFormOptions&)>& act) {
        QTimer::singleShot(0, [&] { act(window.OptionsWindow()); });
        window.findChild<QToolButton*>("ToolButtonOptions")->click();
    }
    static void Choose(TFormOptions& options, int steps) {
        for (int i = 0; i < steps; ++i) QTest::keyClick(options.ComboSignIn, Qt::Key_Down);
    }

    DataHome home;
    FakeServices fakes;
    FakeTransport transport;
    TFormNewMail window;
    std::shared_ptr<SecretStore> store;
};

TEST_F(OptionsSignInTest, ProviderChosenSignedInUsedForTheTestMailAndSignedOut) {
    // Microsoft: its server goes into the account fields on "OK", and only its own rows show.
    InOptions([](TFormOptions& options) {
        Choose(options, 1);
        EXPECT_TRUE(options.EditTenant->isVisible());
        EXPECT_FALSE(options.EditTokenUrl->isVisible());
        EXPECT_FALSE(options.CheckPasswordInKeyring->isVisible());
        EXPECT_EQ(options.LabelSignInState->text(), "Nicht angemeldet.");
        EXPECT_FALSE(options.ButtonSignOut->isEnabled());
        QTest::mouseClick(options.ButtonOK, Qt::LeftButton);
    });
    EXPECT_EQ(window.Options().signIn, SignInMethod::Microsoft);
    EXPECT_EQ(window.EditHost->text(), "smtp.office365.com");
    EXPECT_EQ(window.EditPort->text(), "587");

    // Another provider: the stand-in one, which wants a client secret as Google does, signed in through a
    // scripted browser.
    StandInProvider provider({"--client-secret", "nicht-so-geheim"});
    ScriptedBrowser browser;
    fakes.launcher.onOpen = [&](const QUrl& url) { return browser.Open(url); };
    const OAuthSettings stand = provider.Settings();
    InOptions([&](TFormOptions& options) {
        Choose(options, 2);
        EXPECT_TRUE(options.EditTokenUrl->isVisible());
        // A sign-in with empty fields names them.
        QTest::mouseClick(options.ButtonSignIn, Qt::LeftButton);
        ASSERT_FALSE(fakes.messages.shown.empty());
        EXPECT_EQ(fakes.messages.shown.back().text, "Für die Anmeldung fehlt: Client-ID, Autorisierungs-URL, Token-URL. "
                                                    "Bitte in den Versandoptionen eintragen.");
        QTest::keyClicks(options.EditClientId, QString::fromStdString(stand.clientId));
        QTest::keyClicks(options.EditAuthorizeUrl, QString::fromStdString(stand.authorizeUrl));
        QTest::keyClicks(options.EditTokenUrl, QString::fromStdString(stand.tokenUrl));
        QTest::keyClicks(options.EditScope, QString::fromStdString(stand.scope));
        QTest::keyClicks(options.EditClientSecret, "nicht-so-geheim");
        QTest::mouseClick(options.ButtonSignIn, Qt::LeftButton);
        EXPECT_EQ(options.LabelSignInState->text(), "Angemeldet bei 127.0.0.1 als absender@example.org.");
        EXPECT_TRUE(options.ButtonSignOut->isEnabled());
        // Each method keeps its own client ID and secret: Google's are its own, and back at this
        // provider, its own come back.
        QTest::keyClick(options.ComboSignIn, Qt::Key_Up);
        EXPECT_EQ(options.EditClientId->text(), "");
        EXPECT_EQ(options.EditClientSecret->text(), "");
        QTest::keyClicks(options.EditClientId, "google-app");
        QTest::keyClick(options.ComboSignIn, Qt::Key_Down);
        EXPECT_EQ(options.EditClientId->text(), QString::fromStdString(stand.clientId));
        EXPECT_EQ(options.EditClientSecret->text(), "nicht-so-geheim");
        QTest::mouseClick(options.ButtonOK, Qt::LeftButton);
    });
    EXPECT_EQ(window.Options().otherClientIds.at(SignInMethod::Google), "google-app");
    EXPECT_EQ(ParseOptionsText(FormatOptionsText(window.Options(), {})).options, window.Options());
    // The host the user had stays: another provider brings no server.
    EXPECT_EQ(window.EditHost->text(), "smtp.office365.com");
    const std::optional<std::string> refreshToken = store->Read(RefreshTokenKey("absender@example.org"));
    ASSERT_TRUE(refreshToken);
    EXPECT_EQ(DecodeBoundSecret(store->Read(ClientSecretKey("absender@example.org", SignInMethod::OtherOAuth2)).value_or(""))->secret,
              "nicht-so-geheim");
    EXPECT_FALSE(FileExists(window.DataFolder() + "postira-optionen.ini"));  // saved only on request

    // The test mail logs in with a token of that sign-in, not with a password.
    window.EditMail->setText("kunde@example.de");
    fakes.messages.AnswerQuestions({false});
    window.findChild<QToolButton*>("ToolButton8")->click();
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].signIn, SignInMethod::OtherOAuth2);
    ASSERT_TRUE(transport.sent[0].accessTokens);
    EXPECT_EQ(transport.sent[0].accessTokens->AccessToken(false).rfind("zugang-", 0), 0u);

    // The sign-in holds for its token address only: another one shows "Nicht angemeldet".
    InOptions([](TFormOptions& options) {
        QTest::keyClicks(options.EditTokenUrl, "/anders");
        EXPECT_EQ(options.LabelSignInState->text(), "Nicht angemeldet.");
        QTest::mouseClick(options.ButtonCancel, Qt::LeftButton);
    });

    // "Abmelden" forgets the refresh token; the next send cannot get a token.
    InOptions([](TFormOptions& options) {
        QTest::mouseClick(options.ButtonSignOut, Qt::LeftButton);
        EXPECT_EQ(options.LabelSignInState->text(), "Nicht angemeldet.");
        QTest::mouseClick(options.ButtonCancel, Qt::LeftButton);
    });
    EXPECT_FALSE(store->Read(RefreshTokenKey("absender@example.org")));
    EXPECT_THROW(window.AccessTokens()->AccessToken(true), std::exception);
}

// The keyring is the default place of the password; where none answers (this test's store), the settings
// file keeps it, and the secrets file never gets it.
TEST_F(OptionsSignInTest, WithoutAKeyringThePasswordStaysInTheSettingsFile) {
    window.MaskEdit->setText("geheim");
    InOptions([](TFormOptions& options) {
        EXPECT_TRUE(options.CheckPasswordInKeyring->isChecked());
        EXPECT_TRUE(options.LabelPasswordFile->text().contains("verschleiert, nicht verschlüsselt"));
        QTest::mouseClick(options.ButtonOK, Qt::LeftButton);
    });
    window.findChild<QToolButton*>("ToolButton2")->click();
    EXPECT_EQ(SettingsFile(window.DataFolder()).LoadSettings().password, "geheim");
    EXPECT_FALSE(store->Read(PasswordKey("absender@example.org")));

    TFormNewMail next;
    next.SetSecretStore(store);
    next.FormShow();
    EXPECT_EQ(next.MaskEdit->text(), "geheim");
}

}  // namespace
