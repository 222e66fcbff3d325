#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace corvane::sim {

struct HttpRequest {
    QByteArray method;
    QByteArray target;           // as sent: path and query, still percent-encoded
    QStringList segments;        // the path split at "/", each segment percent-decoded
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    QByteArray header(const char *name) const { return headers.value(QByteArray(name)); }
};

struct HttpResponse {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    int delayMs = 0;     // answer this much later
    bool silent = false; // never answer; the connection stays open

    void addHeader(const QByteArray &name, const QByteArray &value) { headers.append(qMakePair(name, value)); }
};

// A small HTTP/1.1 server on one address: keep-alive, Content-Length bodies, one request at
// a time per connection. Enough to stand in for a REST service in tests.
class HttpServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<HttpResponse(const HttpRequest &)>;

    explicit HttpServer(Handler handler, QObject *parent = nullptr);

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }

    static QByteArray reasonPhrase(int status);

private:
    void onConnection();
    void onReadable(QTcpSocket *socket);
    void send(QTcpSocket *socket, const HttpResponse &response, bool keepAlive);

    QTcpServer m_server;
    Handler m_handler;
};

} // namespace corvane::sim
