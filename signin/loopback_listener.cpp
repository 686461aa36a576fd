#include "signin/loopback_listener.h"

#include <QHostAddress>
#include <QUrl>

namespace {

// The path of the redirect address; anything else is not the provider's redirect.
constexpr const char* kRedirectPath = "/";

// The values of a query as a form encodes them (RFC 6749 appendix B): '+' is a space, and a name given
// twice keeps its first value.
QMap<QString, QString> QueryValues(const QByteArray& query) {
    QMap<QString, QString> values;
    for (QByteArray pair : query.split('&')) {
        pair.replace('+', ' ');
        const qsizetype equals = pair.indexOf('=');
        const QString name = QUrl::fromPercentEncoding(equals < 0 ? pair : pair.left(equals));
        if (!values.contains(name))
            values.insert(name, QUrl::fromPercentEncoding(equals < 0 ? QByteArray() : pair.mid(equals + 1)));
    }
    return values;
}

}  // namespace

LoopbackListener::LoopbackListener(Redirect onRedirect) : onRedirect_(std::move(onRedirect)) {
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* connection = server_.nextPendingConnection()) {
            QObject::connect(connection, &QTcpSocket::disconnected, connection, &QObject::deleteLater);
            QObject::connect(connection, &QTcpSocket::readyRead, this, [this, connection] { Read(connection); });
        }
    });
}

bool LoopbackListener::Listen() { return server_.listen(QHostAddress(QHostAddress::LocalHost), 0); }

void LoopbackListener::Close() { server_.close(); }

QString LoopbackListener::callback() const {
    return "http://127.0.0.1:" + QString::number(server_.serverPort()) + kRedirectPath;
}

void LoopbackListener::Read(QTcpSocket* connection) {
    // The whole head is read before the answer: a connection closed with unread data is reset, and the
    // browser would show that instead of the page.
    const QByteArray head = connection->peek(kMaxRequestBytes + 1);
    if (!head.contains("\r\n\r\n")) {
        if (head.size() > kMaxRequestBytes) Answer(connection, 400, "Die Anfrage ist zu lang.");
        return;
    }
    connection->readAll();
    // One request a connection: what else comes on it is not read.
    QObject::disconnect(connection, &QTcpSocket::readyRead, this, nullptr);

    const QList<QByteArray> line = head.left(head.indexOf("\r\n")).split(' ');
    if (line.size() != 3 || line[0] != "GET" || !line[1].startsWith('/'))
        return Answer(connection, 400, "Diese Anfrage versteht Postira nicht.");
    const QByteArray& target = line[1];
    const qsizetype question = target.indexOf('?');
    if ((question < 0 ? target : target.left(question)) != kRedirectPath)
        return Answer(connection, 404, "Diese Seite gibt es nicht.");
    onRedirect_(QueryValues(question < 0 ? QByteArray() : target.mid(question + 1)), connection);
}

void LoopbackListener::Answer(QTcpSocket* connection, int status, const QString& text) {
    if (connection == nullptr || connection->state() != QAbstractSocket::ConnectedState) return;
    const QByteArray body = "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\"><title>Postira</title>"
                            "</head><body><p>" +
                            text.toHtmlEscaped().toUtf8() + "</p></body></html>\n";
    const char* reason = status == 200 ? "OK" : status == 404 ? "Not Found" : "Bad Request";
    connection->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                      "\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                      QByteArray::number(body.size()) +
                      "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body);
    connection->flush();
    connection->disconnectFromHost();
}
