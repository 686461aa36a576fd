// The sign-ins against the stand-in provider: the browser flow with a scripted browser, the device flow,
// and the token source as the run uses it, on a worker thread.

#include "signin/browser_sign_in.h"
#include "signin/oauth_token_source.h"
#include "signin/token_client.h"

#include "tests/signin/stand_in_provider.h"
#include "tests/support/temp_dir.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QTest>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <tuple>

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

// The seconds between one device poll and the next, from the second poll on.
std::vector<double> PollGaps(const QJsonArray& log) {
    std::vector<double> gaps;
    for (int i = 2; i < log.size(); ++i)
        gaps.push_back(log[i].toObject().value("time").toDouble() - log[i - 1].toObject().value("time").toDouble());
    return gaps;
}

// The start of the text of the ETokenError that the call throws, as long as `start`; "" for none.
std::string ErrorStart(const std::function<void()>& call, const std::string& start) {
    try {
        call();
    } catch (const ETokenError& error) {
        return std::string(error.what()).substr(0, std::max<size_t>(start.size(), 1));
    }
    return "";
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
    EXPECT_TRUE(QTest::qWaitFor([&] { return !browser.page.isEmpty(); }, 5000));
    EXPECT_TRUE(browser.page.contains(BrowserSignIn::kDonePage)) << browser.page.toStdString();
    const QUrlQuery asked(browser.opened);
    EXPECT_EQ(asked.queryItemValue("code_challenge_method"), "S256");
    EXPECT_EQ(asked.queryItemValue("state").size(), 43);
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
    const std::vector<double> gaps = PollGaps(log);
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
             OAuthSettings settings;
             settings.method = SignInMethod::OtherOAuth2;
             settings.clientId = "id";
             settings.tokenUrl = "http://login.example.org/token";
             settings.scope = "mail";
             settings.account = "absender@example.org";
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

TEST(SignIn, TheBrowserPageSaysHowTheSignInEndedAndRequestsWithoutItsStateAreRefused) {
    StandInProvider provider;
    const QString stray = BrowserSignIn::kStrayPage, failed = "Die Anmeldung ist nicht gelungen: ";
    const QString three = "dreimal kam eine Anfrage an, die nicht zu dieser Anmeldung gehört";
    const QString denied = "Die Anmeldung bei 127.0.0.1 wurde im Browser abgelehnt.";
    // The browser's visits, the start of the sign-in's error (none: signed in) and of each page.
    const std::tuple<QStringList, QString, QStringList> cases[] = {
        {{"favicon.ico", "?state=falsch", "?code=x", "*"}, "", {"Diese Seite gibt", stray, stray, BrowserSignIn::kDonePage}},
        {{"?state=falsch", "?", "?state={state}x"}, "Die Anmeldung wurde beendet: " + three, {stray, stray, failed + three}},
        {{"?state={state}&error=access_denied&error_description=%3Cb%3ENein%3C/b%3E+danke"}, denied,
         {failed + denied + " Antwort von 127.0.0.1: access_denied: &lt;b&gt;Nein&lt;/b&gt; danke. Sie"}},
        {{"?state={state}&code=unbekannt"}, "Die Anmeldung bei 127.0.0.1 ist abgelaufen", {failed + "Die Anmeldung bei"}},
    };
    for (const auto& [visits, error, pages] : cases) {
        TempDir dir;
        const auto store = FileStore(dir);
        ScriptedBrowser browser;
        browser.visits = visits;
        BrowserSignIn signIn(provider.Settings(), *store, [&](const QUrl& url) { return browser.Open(url); }, 20s);
        EXPECT_EQ(ErrorStart([&] { signIn.Run(); }, error.toStdString()), error.toStdString());
        ASSERT_TRUE(QTest::qWaitFor([&] { return browser.pages.size() == pages.size(); }, 5000));
        for (int i = 0; i < pages.size(); ++i)
            EXPECT_TRUE(browser.pages[i].contains("<p>" + pages[i])) << browser.pages[i].toStdString();
    }
}

TEST(SignIn, SecretsGoOnlyOverHttpsOrToThisMachine) {
    for (const auto* address : {"https://login.example.org/", "HTTPS://example.org", "http://127.4.5.6:80/", "http://[::1]/",
                                "http://LocalHost/"})
        EXPECT_TRUE(IsEncryptedOrLocal(address)) << address;
    for (const auto* address : {"http://example.org/", "http://127.0.0.1.example.org/", "http://localhost.example.org/",
                                "http://127.0.0.1@example.org/", "http://[::2]/", "ftp://127.0.0.1/", "https:/token", ""})
        EXPECT_FALSE(IsEncryptedOrLocal(address)) << address;
    // Where the user is sent: the provider's page, checked before the browser opens, and the device address.
    StandInProvider provider({"--verification-uri", "http://example.org/device"});
    TempDir dir;
    const auto store = FileStore(dir);
    OAuthSettings settings = provider.Settings();
    settings.authorizeUrl = "http://example.org/a";
    const std::string page = "Die Anmeldeadresse \"http://example.org/a\" von 127.0.0.1 beginnt nicht mit https://.";
    EXPECT_EQ(ErrorStart([&] { BrowserSignIn(settings, *store, [](const QUrl&) { return false; }).Run(); }, page), page);
    TokenClient client(EffectiveEndpoints(provider.Settings()), StandInProvider::kClientId);
    const std::string device = "Die Adresse http://example.org/device, die 127.0.0.1 zum Bestätigen der Anmeldung nennt,";
    EXPECT_EQ(ErrorStart([&] { client.StartDeviceAuthorization(); }, device), device);
}

// An interval of 0 is taken as a second, a life of 0 as 15 minutes.
TEST(SignIn, DevicePollingWaitsOutTimeoutsAndServerErrorsWithADoubledIntervalUntilTheCodeExpires) {
    // The provider's arguments, the least gaps between the polls, and the start of the error.
    const std::tuple<QStringList, std::vector<double>, std::string> cases[] = {
        {{"--poll-answers", "503,stall", "--interval", "0", "--device-lifetime", "0"}, {1.9, 4.4}, ""},
        {{"--poll-answers", "503,503,503", "--interval", "1", "--device-lifetime", "3"}, {},
         "127.0.0.1 hat einen Fehler gemeldet (HTTP 503)."},
    };
    for (const auto& [arguments, gaps, error] : cases) {
        StandInProvider provider(arguments);
        TokenClient client(EffectiveEndpoints(provider.Settings()), StandInProvider::kClientId, 500ms);
        EXPECT_EQ(ErrorStart([&] { EXPECT_TRUE(client.PollDeviceToken(client.StartDeviceAuthorization())); }, error), error);
        const std::vector<double> seen = PollGaps(provider.Log());
        ASSERT_EQ(seen.size(), gaps.size());
        for (size_t i = 0; i < gaps.size(); ++i) EXPECT_GE(seen[i], gaps[i]);
    }
}
