#include "tests/signin/stand_in_provider.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <stdexcept>

StandInProvider::StandInProvider(const QStringList& arguments) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start("/usr/bin/python3",
                   QStringList{POSTIRA_TEST_SOURCE_DIR "/tests/support/oauth_provider.py", "--client-id", kClientId} +
                       arguments);
    while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
    }
    const QByteArray line = process_.readLine().trimmed();
    if (!line.startsWith("PORT ")) throw std::runtime_error("stand-in provider did not start: " + line.toStdString());
    port_ = line.mid(5).toInt();
}

StandInProvider::~StandInProvider() {
    process_.kill();
    process_.waitForFinished(5000);
}

std::string StandInProvider::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

OAuthSettings StandInProvider::Settings(const std::string& account) const {
    OAuthSettings settings;
    settings.method = SignInMethod::OtherOAuth2;
    settings.clientId = kClientId;
    settings.authorizeUrl = Url("/authorize");
    settings.tokenUrl = Url("/token");
    settings.deviceUrl = Url("/devicecode");
    settings.scope = "mail.send offline_access";
    settings.account = account;
    return settings;
}

QJsonArray StandInProvider::Log() const {
    QNetworkAccessManager manager;
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(QString::fromStdString(Url("/log")))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const QJsonArray log = QJsonDocument::fromJson(reply->readAll()).array();
    delete reply;
    return log;
}

bool ScriptedBrowser::Open(const QUrl& url) {
    opened = url;
    const QUrlQuery asked(url);
    const QUrl redirect(asked.queryItemValue("redirect_uri", QUrl::FullyDecoded));
    QList<QUrl> left;
    for (QString visit : visits)
        left << (visit == "*" ? url : redirect.resolved(QUrl(visit.replace("{state}", asked.queryItemValue("state")))));
    Visit(left);
    return true;
}

void ScriptedBrowser::Visit(QList<QUrl> left) {
    if (left.isEmpty()) return;
    QNetworkReply* reply = manager_.get(QNetworkRequest(left.takeFirst()));
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, left] {
        pages << (page = QString::fromUtf8(reply->readAll()));
        reply->deleteLater();
        Visit(left);
    });
}
