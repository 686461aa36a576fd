#include "signin/browser_sign_in.h"

#include "mailing/server_text.h"
#include "signin/loopback_listener.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QOAuth2AuthorizationCodeFlow>
#include <QPointer>
#include <QRandomGenerator>
#include <QTimer>

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
// How often the wait for the browser asks the stop callback.
constexpr std::chrono::milliseconds kStopCheck{100};
// Why the sign-in ends after kMaxStrayRequests requests without its state ("dreimal": change both together).
constexpr const char* kTooManyStrays = "dreimal kam eine Anfrage an, die nicht zu dieser Anmeldung gehört";

// What came back through the loopback redirect.
struct Callback {
    bool arrived = false;
    QString code;
    QString error;
    QString errorDescription;
};

// 32 bytes from the system's generator as unpadded base64url, 43 characters: nothing another program
// could guess.
std::string RandomText() {
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes.toBase64(kBase64Url).toStdString();
}

// The browser's page for a sign-in that brought no tokens; `cause` is one of the program's error texts.
QString FailurePage(std::string cause) {
    while (!cause.empty() && cause.back() == '.') cause.pop_back();
    return QString::fromStdString("Die Anmeldung ist nicht gelungen: " + cause +
                                  ". Sie können dieses Fenster schließen.");
}

}  // namespace

std::string MakeCodeVerifier() { return RandomText(); }

std::string CodeChallenge(const std::string& verifier) {
    return QCryptographicHash::hash(QByteArray::fromStdString(verifier), QCryptographicHash::Sha256)
        .toBase64(kBase64Url)
        .toStdString();
}

BrowserSignIn::BrowserSignIn(OAuthSettings settings, SecretStore& store, OpenBrowser openBrowser,
                             std::chrono::milliseconds browserWait)
    : settings_(std::move(settings)), store_(store), openBrowser_(std::move(openBrowser)), browserWait_(browserWait) {}

std::optional<TokenGrant> BrowserSignIn::Run(const std::function<bool()>& stop) {
    const OAuthEndpoints endpoints = EffectiveEndpoints(settings_);
    const std::string& provider = endpoints.providerName;
    const QUrl authorizeUrl(QString::fromStdString(endpoints.authorizeUrl), QUrl::StrictMode);
    if (!authorizeUrl.isValid() || (authorizeUrl.scheme() != "https" && authorizeUrl.scheme() != "http"))
        throw ETokenError("Die Anmeldeadresse \"" + ShownServerText(endpoints.authorizeUrl) + "\" von " + provider +
                              " ist ungültig. Bitte in den Versandoptionen prüfen.",
                          false);
    // The user types the password into that page.
    RequireEncryptedAddress(endpoints.authorizeUrl,
                            "Die Anmeldeadresse \"" + ShownServerText(endpoints.authorizeUrl) + "\" von " + provider);

    TokenClient client(settings_);
    // Before the browser opens: a sign-in whose code could not be exchanged would be in vain.
    client.RequireEncryptedTokenAddress();

    // The state ties the redirect to this sign-in (RFC 6749 section 10.12). The flow's own is short and
    // comes from a generator seeded with the clock, so it is replaced in the request below.
    const QString state = QString::fromStdString(RandomText());
    Callback callback;
    QPointer<QTcpSocket> waiting;  // the redirect's connection: answered once the sign-in has ended
    int strays = 0;
    QEventLoop loop;
    LoopbackListener listener([&](const QMap<QString, QString>& values, QTcpSocket* connection) {
        if (callback.arrived || values.value("state") != state) {
            // An old tab or a forged link; a few are waited out, more end the sign-in.
            if (!callback.arrived && ++strays == kMaxStrayRequests) {
                LoopbackListener::Answer(connection, 400, FailurePage(kTooManyStrays));
                loop.quit();
            } else {
                LoopbackListener::Answer(connection, 400, QString::fromUtf8(kStrayPage));
            }
            return;
        }
        callback = {true, values.value("code"), values.value("error"), values.value("error_description")};
        waiting = connection;
        listener.Close();
        loop.quit();
    });
    if (!listener.Listen())
        throw ETokenError("Für die Anmeldung im Browser kann Postira keinen Anschluss auf diesem Rechner öffnen.",
                          false);

    QOAuth2AuthorizationCodeFlow flow;
    flow.setAuthorizationUrl(authorizeUrl);
    // The flow wants the token address before it starts, although the exchange is made below.
    flow.setAccessTokenUrl(QUrl(QString::fromStdString(endpoints.tokenUrl)));
    flow.setClientIdentifier(QString::fromStdString(settings_.clientId));
    flow.setScope(QString::fromStdString(endpoints.scope));
    flow.setReplyHandler(&listener);

    // PKCE: the challenge goes with the authorization request; the verifier stays here until the code
    // is exchanged. The redirect address is taken from the request as it is sent.
    const std::string verifier = MakeCodeVerifier();
    QString redirectUri;
    flow.setModifyParametersFunction([&](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
        if (stage != QAbstractOAuth::Stage::RequestingAuthorization) return;
        parameters->replace("state", state);
        parameters->replace("code_challenge", QString::fromStdString(CodeChallenge(verifier)));
        parameters->replace("code_challenge_method", "S256");
        redirectUri = parameters->value("redirect_uri").toString();
    });

    bool opened = false;
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, [&](const QUrl& url) {
        opened = openBrowser_ && openBrowser_(url);
    });
    flow.grant();
    if (!opened)
        throw ETokenError("Der Browser für die Anmeldung bei " + provider + " konnte nicht geöffnet werden.", false);
    if (redirectUri.isEmpty()) throw ETokenError("Die Anmeldung im Browser konnte nicht vorbereitet werden.", false);

    bool stopped = false;
    QTimer stopCheck;
    QObject::connect(&stopCheck, &QTimer::timeout, &loop, [&] {
        if (stop && stop()) {
            stopped = true;
            loop.quit();
        }
    });
    stopCheck.start(kStopCheck);
    QTimer::singleShot(browserWait_, &loop, &QEventLoop::quit);
    loop.exec();
    stopCheck.stop();
    listener.Close();

    if (stopped) return std::nullopt;
    if (strays >= kMaxStrayRequests)
        throw ETokenError("Die Anmeldung wurde beendet: " + std::string(kTooManyStrays) + ".", true);
    if (!callback.arrived)
        throw ETokenError("Die Anmeldung bei " + provider + " wurde nicht rechtzeitig im Browser abgeschlossen. "
                          "Bitte neu anmelden.",
                          true);
    // The browser waits for the page until the refresh token is stored: only then is the sign-in done.
    try {
        if (!callback.error.isEmpty()) {
            const std::string said = (callback.error + ": " + callback.errorDescription).toStdString();
            const bool denied = callback.error == "access_denied";
            throw ETokenError((denied ? "Die Anmeldung bei " + provider + " wurde im Browser abgelehnt."
                                      : "Die Anmeldung bei " + provider + " ist im Browser gescheitert.") +
                                  " Antwort von " + provider + ": " + ShownServerText(said),
                              true, ShownServerText(callback.error.toStdString()));
        }
        if (callback.code.isEmpty())
            throw ETokenError("Die Antwort von " + provider + " im Browser enthielt keinen Anmeldecode.", false);
        TokenGrant grant = client.ExchangeCode(callback.code.toStdString(), verifier, redirectUri.toStdString());
        KeepRefreshToken(settings_, store_, grant);
        LoopbackListener::Answer(waiting, 200, QString::fromUtf8(kDonePage));
        return grant;
    } catch (const std::exception& error) {
        LoopbackListener::Answer(waiting, 400, FailurePage(error.what()));
        throw;
    }
}

void KeepRefreshToken(const OAuthSettings& settings, SecretStore& store, const TokenGrant& grant) {
    if (grant.refreshToken.empty())
        throw ETokenError(EffectiveEndpoints(settings).providerName +
                              " hat kein Refresh-Token ausgegeben; ohne eines kann Postira sich nicht "
                              "dauerhaft anmelden. Bitte den Bereich (Scope) in den Versandoptionen prüfen.",
                          false);
    // Kept with what it was issued for: the token endpoint, the client and the mail server.
    store.Write(RefreshTokenKey(settings.account), EncodeBoundSecret(BindingFor(settings), grant.refreshToken));
}
