#pragma once
// The listener on this machine's loopback address that the browser comes back to after a sign-in
// (RFC 8252 section 7.3). It reads the request line of each connection and hands the query of a request
// for the redirect path to its owner, who answers it with a page: at once, or after the code has been
// exchanged, so that the browser shows how the sign-in really ended. Requests for other paths (a browser
// asks for /favicon.ico by itself) get "not found" and are not handed on.
//
// Qt's QOAuthHttpServerReplyHandler is not used: it answers every path as the redirect, and every
// request with the same text before the code is exchanged.

#include <QMap>
#include <QOAuthOobReplyHandler>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

class LoopbackListener : public QOAuthOobReplyHandler {
public:
    // The redirect's query values, decoded; the connection is answered with Answer.
    using Redirect = std::function<void(const QMap<QString, QString>& values, QTcpSocket* connection)>;

    // A browser's request head is a kilobyte or two; a longer one is refused so that whatever else on
    // this machine connects cannot fill the memory.
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;

    explicit LoopbackListener(Redirect onRedirect);

    // Takes a free port on 127.0.0.1 (not the network: the code must not be reachable from elsewhere).
    bool Listen();
    // Takes no more connections; the open ones stay until they are answered.
    void Close();
    // The redirect address for the authorization request: "http://127.0.0.1:<port>/".
    QString callback() const override;

    // Sends the text as an HTML page (escaped here) and closes the connection; nothing when it is gone.
    static void Answer(QTcpSocket* connection, int status, const QString& text);

private:
    void Read(QTcpSocket* connection);

    QTcpServer server_;
    Redirect onRedirect_;
};
