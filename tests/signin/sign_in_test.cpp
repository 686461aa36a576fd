// The sign-ins against the stand-in provider: the browser flow with a scripted browser, the device flow,
// and the token source as the run uses it, on a worker thread.

#include "signin/browser_sign_in.h"
#include "signin/oauth_token_source.h"
#include "signin/token_client.h"

#include "tests/signin/stand_in_provider.h"
#include "tests/support/temp_dir.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::shared_ptr<SecretStore> FileStore(const TempDir& dir) {
    return std::make_shared<SecretStore>(dir.Path(), SecretStore::Keyring::FileOnly);
}

QStringList GrantTypes(const QJsonArray& log) {
    QStringList types;
    for (const auto& entry : log) types << entry.toObject().value("grant_type").toString();
    return types;
}

}  // namespace

TEST(SignIn, BrowserSignInKeepsTheRefreshTokenAndTheRunRefreshesBeforeExpiryAndOnRenew) {
    // Tokens live 61 s: with the 60 s margin a token is renewed one second after it came.
    StandInProvider provider({"--access-lifetime", "61"});
    TempDir dir;
    auto store = FileStore(dir);
    ScriptedBrowser browser;
    BrowserSignIn signIn(provider.Settings(), *store, [&](const QUrl& url) { return browser.Open(url); }, 20s);

    const std::optional<TokenGrant> grant = signIn.Run();
    ASSERT_TRUE(grant);
    // The browser shows the page of the listener (its reply is read on this thread's events).
    for (int i = 0; i < 50 && browser.page.isEmpty(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(browser.page.contains(BrowserSignIn::kDonePage)) << browser.page.toStdString();
    const QUrlQuery asked(browser.opened);
    EXPECT_EQ(asked.queryItemValue("code_challenge_method"), "S256");
    EXPECT_TRUE(asked.queryItemValue("redirect_uri").startsWith("http://127.0.0.1:"));
    const std::string key = RefreshTokenKey("absender@example.org");
    EXPECT_EQ(DecodeBoundSecret(store->Read(key).value_or(""))->secret, grant->refreshToken);
    EXPECT_EQ(dir.Read(SecretStore::kFileName).find(grant->accessToken), std::string::npos);

    std::string first, again, renewed, later;
    std::optional<std::string> rotated;
    std::thread worker([&] {
        OAuthTokenSource source(provider.Settings(), store);
        first = source.AccessToken(false);
        rotated = store->Read(key);
        again = source.AccessToken(false);
        renewed = source.AccessToken(true);
        std::this_thread::sleep_for(1200ms);
        later = source.AccessToken(false);
    });
    worker.join();

    EXPECT_EQ(again, first);
    EXPECT_NE(renewed, first);
    EXPECT_NE(later, renewed);
    EXPECT_NE(DecodeBoundSecret(rotated.value_or(""))->secret, grant->refreshToken);
    // The old refresh token is void at the provider, so only the stored rotation kept the sign-in alive.
    EXPECT_EQ(GrantTypes(provider.Log()),
              QStringList({"authorization_code", "refresh_token", "refresh_token", "refresh_token"}));
}

TEST(SignIn, DeviceSignInWaitsWhilePendingAndPollsFiveSecondsSlowerAfterSlowDown) {
    // Two answers "authorization_pending", one "slow_down", then the tokens.
    StandInProvider provider({"--pending", "2", "--interval", "1"});
    TokenClient client(EffectiveEndpoints(provider.Settings()), StandInProvider::kClientId);

    const DeviceAuthorization authorization = client.StartDeviceAuthorization();
    EXPECT_EQ(authorization.userCode, "WDJB-MJHT");
    const std::optional<TokenGrant> grant = client.PollDeviceToken(authorization);
    ASSERT_TRUE(grant);
    EXPECT_FALSE(grant->refreshToken.empty());

    const QJsonArray log = provider.Log();
    ASSERT_EQ(log.size(), 5);  // the start and four polls
    std::vector<double> gaps;
    for (int i = 2; i < log.size(); ++i)
        gaps.push_back(log[i].toObject().value("time").toDouble() - log[i - 1].toObject().value("time").toDouble());
    EXPECT_GE(gaps[0], 0.9);
    EXPECT_LT(gaps[1], 3.0);
    EXPECT_GE(gaps[2], 5.9);

    // A stopped wait ends without tokens and without an error.
    const auto stopAt = std::chrono::steady_clock::now() + 1500ms;
    EXPECT_FALSE(client.PollDeviceToken(client.StartDeviceAuthorization(),
                                        [&] { return std::chrono::steady_clock::now() > stopAt; }));
}

TEST(SignIn, AFailedTokenRequestNamesTheCauseInGerman) {
    StandInProvider refusing({"--refuse-refresh"});
    struct Case {
        const char* name;
        OAuthSettings settings;
        std::optional<std::string> storedRefreshToken;
        std::string expectedStart;
        bool signInAgain;
        std::string storedFor = {};  // the token endpoint it was issued for; empty: the settings' own
    } cases[] = {
        {"refused refresh", refusing.Settings(), "erneuern-alt",
         "Die Anmeldung bei 127.0.0.1 ist abgelaufen oder wurde widerrufen. Bitte in den Versandoptionen neu "
         "anmelden. Antwort von 127.0.0.1: invalid_grant: AADSTS70008: The refresh token has expired [31mxxx",
         true},
        {"never signed in", refusing.Settings(), std::nullopt,
         "Für absender@example.org besteht keine Anmeldung bei 127.0.0.1. Bitte in den Versandoptionen anmelden.",
         true},
        // Issued for another token endpoint: neither it nor anything else is sent anywhere.
        {"signed in at another provider", refusing.Settings(), "erneuern-alt",
         "Bitte neu anmelden: Die gespeicherte Anmeldung gilt für login.example.org mit der Client-ID", true,
         "https://login.example.org/token"},
        {"token address without TLS", [] {
             OAuthSettings settings{SignInMethod::OtherOAuth2, "id", "", "", "http://login.example.org/token",
                                    "", "mail", "absender@example.org"};
             return settings;
         }(),
         "erneuern-alt",
         "Die Adresse http://login.example.org/token für die Anmeldung bei login.example.org beginnt nicht mit "
         "https://.",
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto store = FileStore(dir);
        SignInBinding binding = BindingFor(c.settings);
        if (!c.storedFor.empty()) binding.tokenUrl = c.storedFor;
        if (c.storedRefreshToken)
            store->Write(RefreshTokenKey(c.settings.account), EncodeBoundSecret(binding, *c.storedRefreshToken));
        OAuthTokenSource source(c.settings, store);
        try {
            source.AccessToken(false);
            ADD_FAILURE() << "no error";
        } catch (const ETokenError& error) {
            const std::string text = error.what();
            EXPECT_EQ(text.substr(0, c.expectedStart.size()), c.expectedStart);
            EXPECT_EQ(error.SignInAgain(), c.signInAgain);
            // The provider's words come cleaned: one line, no escape characters, bounded.
            EXPECT_EQ(text.find_first_of("\r\n\x1b"), std::string::npos);
            EXPECT_LT(text.size(), 600u);
        }
    }
    EXPECT_EQ(GrantTypes(refusing.Log()), QStringList({"refresh_token"}));
}
