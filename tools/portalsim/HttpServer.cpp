#include "HttpServer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace corvane::sim {

namespace {

constexpr int kMaxHeaderBytes = 64 * 1024;
constexpr qint64 kMaxBodyBytes = 4 * 1024 * 1024;

// Per-connection parse state, kept on the socket itself.
constexpr char kBuffer[] = "corvaneBuffer";
constexpr char kBusy[] = "corvaneBusy";

} // namespace

HttpServer::HttpServer(Handler handler, QObject *parent)
    : QObject(parent)
    , m_handler(std::move(handler))
{
    connect(&m_server, &QTcpServer::newConnection, this, &HttpServer::onConnection);
}

bool HttpServer::listen(const QHostAddress &address, quint16 port) { return m_server.listen(address, port); }

void HttpServer::onConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void HttpServer::onReadable(QTcpSocket *socket)
{
    QByteArray buffer = socket->property(kBuffer).toByteArray() + socket->readAll();
    socket->setProperty(kBuffer, buffer);
    // One request at a time: a delayed or silent answer holds the rest of the connection.
    if (socket->property(kBusy).toBool())
        return;

    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        if (buffer.size() > kMaxHeaderBytes)
            socket->abort();
        return;
    }
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    if (requestLine.size() != 3) {
        socket->abort();
        return;
    }
    HttpRequest request;
    request.method = requestLine[0];
    request.target = requestLine[1];
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qint64 length = request.header("content-length").toLongLong();
    if (length < 0 || length > kMaxBodyBytes) {
        socket->abort();
        return;
    }
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    socket->setProperty(kBuffer, buffer.mid(headerEnd + 4 + length));

    const QByteArray path = request.target.left(request.target.indexOf('?') < 0 ? request.target.size()
                                                                                 : request.target.indexOf('?'));
    for (const QByteArray &segment : path.split('/')) {
        if (!segment.isEmpty())
            request.segments << QUrl::fromPercentEncoding(segment);
    }
    const bool keepAlive = request.header("connection").toLower() != "close";

    const HttpResponse response = m_handler(request);
    if (response.silent) {
        socket->setProperty(kBusy, true);
        return;
    }
    if (response.delayMs > 0) {
        socket->setProperty(kBusy, true);
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(response.delayMs, this, [this, guard, response, keepAlive] {
            if (!guard)
                return;
            guard->setProperty(kBusy, false);
            send(guard, response, keepAlive);
            if (guard && !guard->property(kBuffer).toByteArray().isEmpty())
                onReadable(guard);
        });
        return;
    }
    send(socket, response, keepAlive);
    if (!socket->property(kBuffer).toByteArray().isEmpty())
        onReadable(socket);
}

void HttpServer::send(QTcpSocket *socket, const HttpResponse &response, bool keepAlive)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    for (const auto &header : response.headers)
        out += header.first + ": " + header.second + "\r\n";
    out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    out += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    out += response.body;
    socket->write(out);
    if (!keepAlive)
        socket->disconnectFromHost();
}

QByteArray HttpServer::reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases{
        {200, "OK"}, {201, "Created"}, {202, "Accepted"}, {204, "No Content"},
        {400, "Bad Request"}, {401, "Unauthorized"}, {402, "Payment Required"}, {403, "Forbidden"},
        {404, "Not Found"}, {405, "Method Not Allowed"}, {409, "Conflict"}, {418, "I'm a teapot"},
        {429, "Too Many Requests"}, {500, "Internal Server Error"}, {502, "Bad Gateway"},
        {503, "Service Unavailable"}, {504, "Gateway Timeout"},
    };
    return phrases.value(status, "Status");
}

} // namespace corvane::sim
