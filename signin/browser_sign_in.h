#pragma once
// The sign-in in the system browser: the authorization code flow (RFC 6749) with PKCE S256 (RFC 7636)
// and a redirect to a listener on this machine's loopback address (RFC 8252). The refresh token it
// brings is kept in the SecretStore; nothing else is stored.

#include "signin/oauth_provider.h"
#include "signin/secret_store.h"
#include "signin/token_client.h"

#include <QUrl>

#include <chrono>
#include <functional>

class BrowserSignIn {
public:
    // Opens the address in a browser; false when none could be opened. The program passes
    // QDesktopServices::openUrl; tests pass a scripted browser.
    using OpenBrowser = std::function<bool(const QUrl&)>;
    // The user may take a while in the browser (a second factor, a forgotten password); after this the
    // sign-in gives up and the loopback listener is closed.
    static constexpr std::chrono::minutes kBrowserWait{10};
    // The page the browser shows after the redirect, once the refresh token is stored.
    static constexpr const char* kDonePage = "Die Anmeldung ist abgeschlossen. Sie können dieses Fenster schließen.";
    // A request to the listener without the state of this sign-in (an old tab, a stray or forged link)
    // gets this page; the sign-in goes on waiting, but ends after this many.
    static constexpr const char* kStrayPage =
        "Diese Anfrage gehört nicht zu der Anmeldung, auf die Postira wartet. Sie können dieses Fenster schließen.";
    static constexpr int kMaxStrayRequests = 3;

    BrowserSignIn(OAuthSettings settings, SecretStore& store, OpenBrowser openBrowser,
                  std::chrono::milliseconds browserWait = kBrowserWait);

    // Runs the sign-in: opens the browser, waits with a local event loop for the redirect, exchanges the
    // code and stores the refresh token under RefreshTokenKey(account); then the browser shows whether
    // that worked. Must run on a thread with Qt events (the main thread). Returns the first tokens (the
    // access token may be used at once); nothing when `stop` returned true. Throws ETokenError with the
    // German cause, and the store's errors.
    std::optional<TokenGrant> Run(const std::function<bool()>& stop = {});

private:
    OAuthSettings settings_;
    SecretStore& store_;
    OpenBrowser openBrowser_;
    std::chrono::milliseconds browserWait_;
};

// Keeps the refresh token of a finished sign-in (in the browser or with a code on another device) under
// RefreshTokenKey(settings.account); nothing else of the grant is stored. Throws ETokenError when the
// provider issued none, since no later run could sign in without it, and the store's errors.
void KeepRefreshToken(const OAuthSettings& settings, SecretStore& store, const TokenGrant& grant);

// A PKCE verifier: 32 random bytes as unpadded base64url, 43 characters (RFC 7636 section 4.1).
std::string MakeCodeVerifier();
// Its S256 challenge: the unpadded base64url of its SHA-256.
std::string CodeChallenge(const std::string& verifier);
