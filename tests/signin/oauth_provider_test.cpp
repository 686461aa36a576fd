#include "signin/oauth_provider.h"

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
    OAuthSettings other{SignInMethod::OtherOAuth2, "id",  "",           "https://login.example.org:8443/auth",
                        "https://login.example.org:8443/token", "", "smtp", "a@example.org"};

    const std::string ms = "https://login.microsoftonline.com/";
    const struct {
        OAuthSettings settings;
        OAuthEndpoints expected;
    } cases[] = {
        {microsoft("", ""),
         {"Microsoft", ms + "organizations/oauth2/v2.0/authorize", ms + "organizations/oauth2/v2.0/token",
          ms + "organizations/oauth2/v2.0/devicecode", "https://outlook.office.com/SMTP.Send offline_access",
          "smtp.office365.com", 587}},
        {microsoft("contoso.onmicrosoft.com", "custom"),
         {"Microsoft", ms + "contoso.onmicrosoft.com/oauth2/v2.0/authorize",
          ms + "contoso.onmicrosoft.com/oauth2/v2.0/token", ms + "contoso.onmicrosoft.com/oauth2/v2.0/devicecode",
          "custom", "smtp.office365.com", 587}},
        {google,
         {"Google", "https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token", "",
          "https://mail.google.com/", "smtp.gmail.com", 587}},
        {other,
         {"login.example.org", "https://login.example.org:8443/auth", "https://login.example.org:8443/token", "",
          "smtp", "", 0}},
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
    }
}
