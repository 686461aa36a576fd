#pragma once
// The stand-in OAuth2 provider of tests/support/oauth_provider.py as a child process on a free loopback
// port, and a scripted browser that follows its redirect back to the program's loopback listener.

#include "signin/oauth_provider.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QStringList>
#include <QUrl>

#include <string>

class StandInProvider {
public:
    static constexpr const char* kClientId = "postira-test";

    explicit StandInProvider(const QStringList& arguments = {});
    ~StandInProvider();

    // Settings for "another provider" whose endpoints are this one's.
    OAuthSettings Settings(const std::string& account = "absender@example.org") const;
    std::string Url(const std::string& path) const;
    // Every token and device request the provider has seen, oldest first.
    QJsonArray Log() const;

private:
    QProcess process_;
    int port_ = 0;
};

// Opens the address as a browser would and follows every redirect; the page it ends on is kept.
class ScriptedBrowser {
public:
    bool Open(const QUrl& url);
    QUrl opened;
    QString page;
    // What it visits one after another: "*" the opened address, anything else the address relative to
    // the redirect address, "{state}" replaced by the state of the sign-in. The pages, in that order.
    QStringList visits{"*"};
    QStringList pages;

private:
    void Visit(QList<QUrl> left);
    QNetworkAccessManager manager_;
};
