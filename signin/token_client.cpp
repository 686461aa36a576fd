#include "signin/token_client.h"

#include "mailing/server_text.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

using Form = std::vector<std::pair<std::string, std::string>>;
using Clock = std::chrono::steady_clock;

constexpr const char* kDeviceGrant = "urn:ietf:params:oauth:grant-type:device_code";
// RFC 8628: the polling interval when the provider names none. Faster than a second burdens the
// provider for nothing; slower than a minute keeps the user waiting after confirming. A poll that timed
// out or met a server error doubles the interval, up to the same minute.
constexpr std::chrono::seconds kDefaultInterval{5};
constexpr std::chrono::seconds kMinInterval{1};
constexpr std::chrono::seconds kMaxInterval{60};
// A device code's life when the provider names none or 0: 15 minutes, what Microsoft gives (RFC 8628
// requires the field). Longer than half an hour is not waited for: the user has long gone.
constexpr std::chrono::seconds kDefaultDeviceLifetime{15 * 60};
constexpr std::chrono::seconds kMaxDeviceLifetime{30 * 60};
// How often a wait between polls asks the stop callback.
constexpr std::chrono::milliseconds kStopCheck{100};

// A provider that did not answer in time; a poll tries again later.
class ENoAnswer : public ETokenError {
public:
    using ETokenError::ETokenError;
};

// A provider's answer: the HTTP status and the JSON object of the body.
struct Reply {
    int status = 0;
    QJsonObject body;
};

std::string Str(const QJsonObject& body, const char* name) { return body.value(name).toString().toStdString(); }

// A number of seconds, sent as a JSON number or, by some providers, as a string.
std::chrono::seconds Seconds(const QJsonObject& body, const char* name, std::chrono::seconds fallback) {
    const QJsonValue value = body.value(name);
    bool ok = value.isDouble();
    long long seconds = ok ? static_cast<long long>(value.toDouble()) : value.toString().toLongLong(&ok);
    return ok && seconds >= 0 ? std::chrono::seconds(seconds) : fallback;
}

// Tokens go into SMTP command lines and the keyring: printable ASCII without spaces, so that no token
// can carry a line break into a command.
bool IsTokenText(const std::string& token) {
    if (token.empty()) return false;
    for (unsigned char c : token)
        if (c <= 0x20 || c >= 0x7f) return false;
    return true;
}

bool IsLoopbackHost(const QString& host) {
    if (host.compare("localhost", Qt::CaseInsensitive) == 0) return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

void RequireEncryptedEndpoint(const std::string& provider, const std::string& address) {
    RequireEncryptedAddress(address, "Die Adresse " + ShownServerText(address) + " für die Anmeldung bei " + provider);
}

QByteArray FormBody(const Form& form) {
    QByteArray body;
    for (const auto& [name, value] : form) {
        if (value.empty()) continue;  // an optional parameter that is not set is not sent
        if (!body.isEmpty()) body += '&';
        // Every reserved character escaped, '+' included: in a form body a bare '+' is a space.
        body += QUrl::toPercentEncoding(QString::fromStdString(name)) + '=' +
                QUrl::toPercentEncoding(QString::fromStdString(value));
    }
    return body;
}

// The cause a provider's error code stands for.
ETokenError ProviderError(const std::string& provider, const QJsonObject& body, int status) {
    const std::string code = Str(body, "error");
    const std::string description = Str(body, "error_description");
    std::string text;
    bool again = false;
    if (code == "invalid_grant") {
        text = "Die Anmeldung bei " + provider + " ist abgelaufen oder wurde widerrufen. "
               "Bitte in den Versandoptionen neu anmelden.";
        again = true;
    } else if (code == "access_denied") {
        text = "Die Anmeldung bei " + provider + " wurde abgelehnt. Bitte in den Versandoptionen neu anmelden.";
        again = true;
    } else if (code == "expired_token") {
        text = "Der Anmeldecode ist abgelaufen, bevor die Anmeldung bestätigt wurde. "
               "Bitte die Anmeldung neu starten.";
        again = true;
    } else if (code == "invalid_client" || code == "unauthorized_client") {
        text = provider + " lässt die Anwendung (Client-ID) für diese Anmeldung nicht zu. "
               "Bitte die Client-ID in den Versandoptionen prüfen.";
    } else if (code == "invalid_scope") {
        text = provider + " gewährt den angefragten Zugriff nicht. Bitte den Bereich (Scope) in den "
               "Versandoptionen prüfen.";
    } else if (status >= 500) {
        text = provider + " hat einen Fehler gemeldet (HTTP " + std::to_string(status) +
               "). Bitte später noch einmal versuchen.";
    } else {
        text = provider + " hat die Anmeldung abgewiesen (HTTP " + std::to_string(status) + ").";
    }
    const std::string said = description.empty() ? code : code + ": " + description;
    if (!said.empty()) text += " Antwort von " + provider + ": " + ShownServerText(said);
    return ETokenError(text, again, ShownServerText(code));
}

ETokenError UnclearReply(const std::string& provider, int status) {
    return ETokenError("Die Antwort von " + provider + " ist unverständlich (HTTP " + std::to_string(status) +
                           "). Bitte die Adressen des Anbieters in den Versandoptionen prüfen.",
                       false);
}

// Posts the form and waits for the answer. A reply with an OAuth2 error object is returned as it is;
// every other failure is thrown.
Reply Post(const std::string& provider, const std::string& address, const Form& form,
           std::chrono::milliseconds timeout) {
    const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    if (address.empty() || !url.isValid())
        throw ETokenError("Die Adresse \"" + ShownServerText(address) + "\" für die Anmeldung bei " + provider +
                              " ist ungültig. Bitte in den Versandoptionen prüfen.",
                          false);
    // The form carries refresh tokens and codes.
    RequireEncryptedEndpoint(provider, address);

    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    request.setRawHeader("Accept", "application/json");
    // A redirect of a POST with secrets in it is not followed: the endpoint is named in the settings.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = manager.post(request, FormBody(form));

    bool tooLarge = false;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::downloadProgress, &loop, [&](qint64 received, qint64) {
        if (received > TokenClient::kMaxReplyBytes && !tooLarge) {
            tooLarge = true;
            reply->abort();
        }
    });
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeout);
    if (!reply->isFinished()) loop.exec();

    const bool finished = reply->isFinished();
    if (!finished) reply->abort();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray data = tooLarge ? QByteArray() : reply->readAll();
    const std::string networkError = reply->errorString().toStdString();
    delete reply;

    if (!finished)
        throw ENoAnswer(provider + " hat nicht innerhalb von " +
                            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) +
                            " Sekunden geantwortet. Bitte später noch einmal versuchen.",
                        false);
    if (tooLarge) throw UnclearReply(provider, status);
    if (status == 0)
        throw ETokenError(provider + " ist nicht erreichbar: " + ShownServerText(networkError), false);

    const QJsonDocument document = QJsonDocument::fromJson(data);
    // A server error, even as a proxy's HTML page: ProviderError names the status and says to try later.
    if (status >= 500) return {status, document.object()};
    if (!document.isObject()) throw UnclearReply(provider, status);
    Reply result{status, document.object()};
    if (status >= 200 && status < 300) return result;
    if (result.body.contains("error")) return result;
    throw UnclearReply(provider, status);
}

bool Failed(const Reply& reply) { return reply.status < 200 || reply.status >= 300; }

TokenGrant GrantFrom(const std::string& provider, const Reply& reply) {
    if (Failed(reply)) throw ProviderError(provider, reply.body, reply.status);
    TokenGrant grant;
    grant.accessToken = Str(reply.body, "access_token");
    grant.refreshToken = Str(reply.body, "refresh_token");
    grant.lifetime = Seconds(reply.body, "expires_in", std::chrono::seconds(0));
    const std::string type = Str(reply.body, "token_type");
    const bool bearer = type.empty() || QString::fromStdString(type).compare("Bearer", Qt::CaseInsensitive) == 0;
    if (!bearer || !IsTokenText(grant.accessToken) || (!grant.refreshToken.empty() && !IsTokenText(grant.refreshToken)))
        throw UnclearReply(provider, reply.status);
    return grant;
}

// Waits without blocking the thread's events; false when `stop` said so.
bool Wait(std::chrono::milliseconds span, const std::function<bool()>& stop) {
    const auto end = Clock::now() + span;
    while (Clock::now() < end) {
        if (stop && stop()) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        QEventLoop loop;
        QTimer::singleShot(std::max(std::chrono::milliseconds(1), std::min(left, kStopCheck)), &loop,
                           &QEventLoop::quit);
        loop.exec();
    }
    return !(stop && stop());
}

}  // namespace

TokenClient::TokenClient(OAuthEndpoints endpoints, std::string clientId, std::chrono::milliseconds requestTimeout)
    : endpoints_(std::move(endpoints)), clientId_(std::move(clientId)), requestTimeout_(requestTimeout) {
    if (clientId_.empty())
        throw ETokenError("Für die Anmeldung bei " + endpoints_.providerName +
                              " fehlt die Client-ID der Anwendung. Bitte in den Versandoptionen eintragen.",
                          false);
}

TokenClient::TokenClient(const OAuthSettings& settings) : TokenClient(EffectiveEndpoints(settings), settings.clientId) {
    clientSecret_ = settings.clientSecret;
}

void TokenClient::RequireEncryptedTokenAddress() const {
    RequireEncryptedEndpoint(endpoints_.providerName, endpoints_.tokenUrl);
}

TokenGrant TokenClient::RefreshAccessToken(const std::string& refreshToken) {
    Form form = {{"grant_type", "refresh_token"},
                       {"refresh_token", refreshToken},
                       {"client_id", clientId_},
                       {"scope", endpoints_.scope}};
    if (!clientSecret_.empty()) form.push_back({"client_secret", clientSecret_});
    return GrantFrom(endpoints_.providerName, Post(endpoints_.providerName, endpoints_.tokenUrl, form, requestTimeout_));
}

TokenGrant TokenClient::ExchangeCode(const std::string& code, const std::string& codeVerifier,
                                     const std::string& redirectUri) {
    Form form = {{"grant_type", "authorization_code"},
                       {"code", code},
                       {"redirect_uri", redirectUri},
                       {"client_id", clientId_},
                       {"code_verifier", codeVerifier}};
    if (!clientSecret_.empty()) form.push_back({"client_secret", clientSecret_});
    return GrantFrom(endpoints_.providerName, Post(endpoints_.providerName, endpoints_.tokenUrl, form, requestTimeout_));
}

DeviceAuthorization TokenClient::StartDeviceAuthorization() {
    const std::string& provider = endpoints_.providerName;
    if (endpoints_.deviceUrl.empty())
        throw ETokenError(provider + " bietet die Anmeldung mit Code auf einem anderen Gerät nicht an. "
                                     "Bitte die Anmeldung im Browser wählen.",
                          false);
    RequireEncryptedTokenAddress();  // the polls go there
    const Reply reply =
        Post(provider, endpoints_.deviceUrl, {{"client_id", clientId_}, {"scope", endpoints_.scope}}, requestTimeout_);
    if (Failed(reply)) throw ProviderError(provider, reply.body, reply.status);

    DeviceAuthorization authorization;
    authorization.deviceCode = Str(reply.body, "device_code");
    authorization.userCode = Str(reply.body, "user_code");
    authorization.verificationUri = Str(reply.body, "verification_uri");
    authorization.verificationUriComplete = Str(reply.body, "verification_uri_complete");
    authorization.interval = std::clamp(Seconds(reply.body, "interval", kDefaultInterval), kMinInterval, kMaxInterval);
    authorization.expiresIn = Seconds(reply.body, "expires_in", kDefaultDeviceLifetime);
    if (authorization.expiresIn == std::chrono::seconds(0)) authorization.expiresIn = kDefaultDeviceLifetime;
    authorization.expiresIn = std::min(authorization.expiresIn, kMaxDeviceLifetime);
    // The code and the address are shown to the user, who opens the address: only plain web addresses.
    const auto isWebAddress = [](const std::string& address) {
        const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
        return url.isValid() && (url.scheme() == "https" || url.scheme() == "http") && IsTokenText(address);
    };
    if (!IsTokenText(authorization.deviceCode) || authorization.userCode.empty() ||
        ShownServerText(authorization.userCode) != authorization.userCode ||
        !isWebAddress(authorization.verificationUri) ||
        (!authorization.verificationUriComplete.empty() && !isWebAddress(authorization.verificationUriComplete)))
        throw UnclearReply(provider, reply.status);
    // The user opens it and signs in there.
    for (const std::string* address : {&authorization.verificationUri, &authorization.verificationUriComplete})
        if (!address->empty())
            RequireEncryptedAddress(*address, "Die Adresse " + ShownServerText(*address) + ", die " + provider +
                                                  " zum Bestätigen der Anmeldung nennt,");
    return authorization;
}

std::optional<TokenGrant> TokenClient::PollDeviceToken(const DeviceAuthorization& authorization,
                                                       const std::function<bool()>& stop) {
    const std::string& provider = endpoints_.providerName;
    const auto deadline = Clock::now() + authorization.expiresIn;
    std::chrono::seconds interval = authorization.interval;
    Form form = {{"grant_type", kDeviceGrant}, {"device_code", authorization.deviceCode}, {"client_id", clientId_}};
    if (!clientSecret_.empty()) form.push_back({"client_secret", clientSecret_});
    // The last poll, when it timed out or met a server error: what the user is told when the code
    // expires before the provider answers again.
    std::optional<ETokenError> failed;
    for (;;) {
        const auto left = std::max(Clock::duration(0), deadline - Clock::now());
        if (!Wait(std::min<std::chrono::milliseconds>(interval, std::chrono::ceil<std::chrono::milliseconds>(left)),
                  stop))
            return std::nullopt;
        if (Clock::now() >= deadline) {
            if (failed) throw *failed;
            throw ETokenError("Der Anmeldecode ist abgelaufen, bevor die Anmeldung bestätigt wurde. "
                              "Bitte die Anmeldung neu starten.",
                              true, "expired_token");
        }
        std::optional<Reply> reply;
        try {
            reply = Post(provider, endpoints_.tokenUrl, form, requestTimeout_);
            failed.reset();
            if (reply->status >= 500) failed = ProviderError(provider, reply->body, reply->status);
        } catch (const ENoAnswer& error) {
            failed = error;
        }
        if (failed) {
            // RFC 8628 section 3.5: back off, but never below what slow_down asked for.
            interval = std::max(interval, std::min(interval * 2, kMaxInterval));
            continue;
        }
        const std::string code = Failed(*reply) ? Str(reply->body, "error") : std::string();
        if (code == "authorization_pending") continue;
        if (code == "slow_down") {
            interval += kSlowDownStep;
            continue;
        }
        return GrantFrom(provider, *reply);
    }
}

bool IsEncryptedOrLocal(const std::string& address) {
    const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) return false;
    return url.scheme() == "https" || (url.scheme() == "http" && IsLoopbackHost(url.host()));
}

void RequireEncryptedAddress(const std::string& address, const std::string& named) {
    if (!IsEncryptedOrLocal(address))
        throw ETokenError(named + " beginnt nicht mit https://. Anmeldedaten gehen nur verschlüsselt über das Netz.",
                          false);
}
