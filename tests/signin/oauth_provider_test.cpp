#include "signin/oauth_provider.h"
#include "signin/oauth_token_source.h"
#include "signin/secret_store.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

TEST(OAuthProvider, PresetsAndTheUsersOwnValues) {
    const auto microsoft = [](std::string tenant, std::string scope) {
        OAuthSettings settings;
        settings.method = SignInMethod::Microsoft;
        settings.tenant = tenant;
        settings.scope = scope;
        return settings;
    };
    OAuthSettings google;
    google.method = SignInMethod::Google;
    google.deviceUrl = "https://example.org/device";  // Google has none for mail, whatever is set
    google.tokenUrl = "https://elsewhere.example/token";  // its endpoints are fixed: no token goes elsewhere
    OAuthSettings other;
    other.method = SignInMethod::OtherOAuth2;
    other.clientId = "id";
    other.authorizeUrl = "https://login.example.org:8443/auth";
    other.tokenUrl = "https://login.example.org:8443/token";
    other.scope = "smtp";
    other.account = "a@example.org";

    const std::string ms = "https://login.microsoftonline.com/";
    const struct {
        OAuthSettings settings;
        OAuthEndpoints expected;
    } cases[] = {
        {microsoft("", ""),
         {"Microsoft", ms + "organizations/oauth2/v2.0/authorize", ms + "organizations/oauth2/v2.0/token",
          ms + "organizations/oauth2/v2.0/devicecode", "https://outlook.office.com/SMTP.Send offline_access",
          "smtp.office365.com", 587, "outlook.office365.com"}},
        {microsoft("contoso.onmicrosoft.com", "custom"),
         {"Microsoft", ms + "contoso.onmicrosoft.com/oauth2/v2.0/authorize",
          ms + "contoso.onmicrosoft.com/oauth2/v2.0/token", ms + "contoso.onmicrosoft.com/oauth2/v2.0/devicecode",
          "custom", "smtp.office365.com", 587, "outlook.office365.com"}},
        {google,
         {"Google", "https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token", "",
          "https://mail.google.com/", "smtp.gmail.com", 587, "imap.gmail.com"}},
        {other,
         {"login.example.org", "https://login.example.org:8443/auth", "https://login.example.org:8443/token", "",
          "smtp", "", 0, ""}},
    };
    for (const auto& c : cases) {
        const OAuthEndpoints got = EffectiveEndpoints(c.settings);
        SCOPED_TRACE(c.expected.authorizeUrl);
        EXPECT_EQ(got.providerName, c.expected.providerName);
        EXPECT_EQ(got.authorizeUrl, c.expected.authorizeUrl);
        EXPECT_EQ(got.tokenUrl, c.expected.tokenUrl);
        EXPECT_EQ(got.deviceUrl, c.expected.deviceUrl);
        EXPECT_EQ(got.scope, c.expected.scope);
        EXPECT_EQ(got.smtpHost, c.expected.smtpHost);
        EXPECT_EQ(got.smtpPort, c.expected.smtpPort);
        EXPECT_EQ(got.imapHost, c.expected.imapHost);
    }
}

// A sign-in is kept with what it was issued for, and fits only that.
TEST(OAuthProvider, ASignInFitsTheEndpointClientAndServerItWasMadeFor) {
    OAuthSettings settings;
    settings.method = SignInMethod::OtherOAuth2;
    settings.clientId = "app";
    settings.tokenUrl = "https://login.example.org/token";
    settings.smtpHost = "Mail.Example.org";
    settings.smtpPort = 587;
    const SignInBinding binding = BindingFor(settings);
    const std::optional<BoundSecret> stored = DecodeBoundSecret(EncodeBoundSecret(binding, "rt\nmit Zeilenumbruch"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->binding, binding);
    EXPECT_EQ(stored->secret, "rt\nmit Zeilenumbruch");
    EXPECT_FALSE(DecodeBoundSecret("ein-altes-token"));
    EXPECT_FALSE(SignInMismatch(stored, settings));
    EXPECT_TRUE(SignInMismatch(std::nullopt, settings)->starts_with("Bitte neu anmelden: "));
    for (const auto& change : {&OAuthSettings::clientId, &OAuthSettings::tokenUrl}) {
        OAuthSettings other = settings;
        other.*change += "-anders";
        EXPECT_TRUE(SignInMismatch(stored, other)->starts_with("Bitte neu anmelden: Die gespeicherte Anmeldung gilt"));
    }
    EXPECT_FALSE(ServerMismatch(binding, "X", "mail.example.ORG", 587));
    EXPECT_TRUE(ServerMismatch(binding, "X", "mail.example.org", 465));
    // Microsoft's and Google's own servers take either port.
    settings.method = SignInMethod::Google;
    EXPECT_FALSE(ServerMismatch(BindingFor(settings), "Google", "smtp.gmail.com", 465));
    EXPECT_TRUE(ServerMismatch(BindingFor(settings), "Google", "mail.example.org", 587));
}

// A sign-in's token goes to the provider's own IMAP server for the copies in the Sent folder (another
// provider's: the IMAP server of the SMTP server it was made for), to no other IMAP server, and the IMAP
// server counts for no SMTP login.
TEST(OAuthProvider, TheTokenGoesOnlyToTheIMAPServerOfTheSameProvider) {
    TempDir temp;
    auto store = std::make_shared<SecretStore>(temp.Path(), SecretStore::Keyring::FileOnly);
    auto source = [&](SignInMethod method) {
        OAuthSettings settings;
        settings.method = method;
        settings.clientId = "app";
        settings.tokenUrl = "https://login.example.org/token";
        settings.account = "ich@example.org";
        settings.smtpHost = "smtp.example.org";
        settings.smtpPort = 587;
        store->Write(RefreshTokenKey(settings.account), EncodeBoundSecret(BindingFor(settings), "rt"));
        return std::make_shared<OAuthTokenSource>(settings, store);
    };
    enum Login { Imap, Smtp };
    const struct {
        SignInMethod method;
        Login login;
        std::string host;
        bool accepted;
    } cases[] = {
        {SignInMethod::Microsoft, Imap, "outlook.office365.com", true},
        {SignInMethod::Microsoft, Imap, "Outlook.Office365.com ", true},
        {SignInMethod::Microsoft, Imap, "imap.office365.com", false},
        {SignInMethod::Microsoft, Imap, "imap.gmail.com", false},
        {SignInMethod::Microsoft, Smtp, "outlook.office365.com", false},
        {SignInMethod::Google, Imap, "imap.gmail.com", true},
        {SignInMethod::Google, Imap, "smtp.gmail.com", false},
        {SignInMethod::Google, Imap, "imap.example.org", false},
        {SignInMethod::Google, Smtp, "imap.gmail.com", false},
        {SignInMethod::OtherOAuth2, Imap, "imap.example.org", true},
        {SignInMethod::OtherOAuth2, Imap, "smtp.example.org", true},
        {SignInMethod::OtherOAuth2, Imap, "imap.example.org.evil.test", false},
        {SignInMethod::OtherOAuth2, Imap, "mail.example.org", false},
        {SignInMethod::OtherOAuth2, Smtp, "imap.example.org", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(SignInMethodName(c.method)) + (c.login == Imap ? " IMAP " : " SMTP ") + c.host);
        const auto tokens = source(c.method);
        const std::optional<std::string> refusal =
            c.login == Imap ? tokens->IMAPRefusal(c.host, 993) : tokens->Refusal(c.host, 587);
        EXPECT_EQ(!refusal, c.accepted) << refusal.value_or("");
        if (refusal && c.login == Imap) {
            EXPECT_NE(refusal->find("gilt nur für den IMAP-Server"), std::string::npos);
        }
    }
}
