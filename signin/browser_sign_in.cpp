#include "signin/browser_sign_in.h"

#include "mailing/server_text.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QHostAddress>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QTimer>

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;
// How often the wait for the browser asks the stop callback.
constexpr std::chrono::milliseconds kStopCheck{100};

// What came back through the loopback redirect.
struct Callback {
    bool arrived = false;
    QString code;
    QString error;
    QString errorDescription;
};

// A value of the redirect's query. The listener hands them over still partly escaped ("c%2F..." for a
// code "c/..."; a '%' of the value itself stays "%25"), so the escapes are undone here: the provider
// wants the code back exactly as it issued it.
QString CallbackValue(const QVariantMap& values, const char* name) {
    return QUrl::fromPercentEncoding(values.value(name).toString().toUtf8());
}

}  // namespace

std::string MakeCodeVerifier() {
    QByteArray bytes(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes.toBase64(kBase64Url).toStdString();
}

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

    TokenClient client(settings_);

    // The listener takes a free port on the loopback address only: the code must not be reachable from
    // elsewhere on the network.
    QOAuthHttpServerReplyHandler handler(QHostAddress(QHostAddress::LocalHost), 0);
    if (!handler.isListening())
        throw ETokenError("Für die Anmeldung im Browser kann Postira keinen Anschluss auf diesem Rechner öffnen.",
                          false);
    handler.setCallbackText(QString::fromUtf8(kDonePage));

    QOAuth2AuthorizationCodeFlow flow;
    flow.setAuthorizationUrl(authorizeUrl);
    // The flow wants the token address before it starts, although the exchange is made below.
    flow.setAccessTokenUrl(QUrl(QString::fromStdString(endpoints.tokenUrl)));
    flow.setClientIdentifier(QString::fromStdString(settings_.clientId));
    flow.setScope(QString::fromStdString(endpoints.scope));
    flow.setReplyHandler(&handler);

    // PKCE: the challenge goes with the authorization request; the verifier stays here until the code
    // is exchanged. The state and the redirect address are taken from the request as it is sent.
    const std::string verifier = MakeCodeVerifier();
    QString state, redirectUri;
    flow.setModifyParametersFunction([&](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
        if (stage != QAbstractOAuth::Stage::RequestingAuthorization) return;
        parameters->replace("code_challenge", QString::fromStdString(CodeChallenge(verifier)));
        parameters->replace("code_challenge_method", "S256");
        state = parameters->value("state").toString();
        redirectUri = parameters->value("redirect_uri").toString();
    });

    bool opened = false;
    QObject::connect(&flow, &QAbstractOAuth::authorizeWithBrowser, [&](const QUrl& url) {
        opened = openBrowser_ && openBrowser_(url);
    });

    Callback callback;
    QEventLoop loop;
    QObject::connect(&handler, &QAbstractOAuthReplyHandler::callbackReceived, &loop,
                     [&](const QVariantMap& values) {
                         // A stray request (a favicon, an old tab) carries not our state: keep waiting.
                         if (state.isEmpty() || CallbackValue(values, "state") != state) return;
                         callback = {true, CallbackValue(values, "code"), CallbackValue(values, "error"),
                                     CallbackValue(values, "error_description")};
                         loop.quit();
                     });

    flow.grant();
    // The code is exchanged below, with the verifier and the program's own error texts; the flow's own
    // exchange is cut off.
    QObject::disconnect(&handler, &QAbstractOAuthReplyHandler::callbackReceived, &flow, nullptr);
    if (!opened)
        throw ETokenError("Der Browser für die Anmeldung bei " + provider + " konnte nicht geöffnet werden.", false);
    if (state.isEmpty() || redirectUri.isEmpty())
        throw ETokenError("Die Anmeldung im Browser konnte nicht vorbereitet werden.", false);

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
    handler.close();

    if (stopped) return std::nullopt;
    if (!callback.arrived)
        throw ETokenError("Die Anmeldung bei " + provider + " wurde nicht rechtzeitig im Browser abgeschlossen. "
                          "Bitte neu anmelden.",
                          true);
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
    return grant;
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
