#include "live/OverlayHost.h"

#include "live/OverlayAccess.h"
#include "live/SocketReset.h"

#include <QFile>
#include <QHostAddress>
#include <QHttpHeaders>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerWebSocketUpgradeResponse>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QWebSocket>

namespace corvane {

namespace {

using Status = QHttpServerResponder::StatusCode;

void answer(QHttpServerResponder &responder, Status status, const QByteArray &text)
{
    QHttpHeaders headers;
    headers.append(QHttpHeaders::WellKnownHeader::ContentType, "text/plain; charset=utf-8");
    responder.write(text + '\n', headers, status);
}

bool hasHeader(const QHttpServerRequest &request, const char *name) { return request.headers().contains(QLatin1String(name)); }

QByteArray header(const QHttpServerRequest &request, const char *name)
{
    return request.headers().value(QLatin1String(name)).toByteArray();
}

} // namespace

// Creates each connection's socket itself, so that it can count what the client sends
// before Qt's HTTP server reads it: that server keeps no limit of its own on a request's
// size in every Qt version we build against.
class OverlayHost::Listener : public QTcpServer {
public:
    explicit Listener(QObject *parent)
        : QTcpServer(parent)
    {
    }

    // A request was read in full: the client's budget starts again. False (and the
    // connection is closed once the answer is queued) when answers sent before still wait
    // unread beyond the bound: a client that asks but does not read.
    bool answered(quint16 peerPort)
    {
        const auto it = m_sockets.find(peerPort);
        if (it == m_sockets.end())
            return true;
        it->received = 0;
        if (it->socket->bytesToWrite() <= OverlayAccess::kMaxPendingOutput)
            return true;
        QMetaObject::invokeMethod(it->socket, &QTcpSocket::abort, Qt::QueuedConnection);
        return false;
    }

    // The connection under a WebSocket that stopped reading: reset, so that the system
    // drops its unsent output too.
    void reset(quint16 peerPort)
    {
        const auto it = m_sockets.find(peerPort);
        if (it != m_sockets.end())
            resetConnection(it->socket);
    }

    void abortAll()
    {
        const auto sockets = m_sockets;
        for (const Connection &connection : sockets)
            connection.socket->abort();
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor) || m_sockets.size() >= OverlayAccess::kMaxClients) {
            socket->abort();
            delete socket;
            return;
        }
        const quint16 peerPort = socket->peerPort();
        m_sockets.insert(peerPort, Connection{socket, 0});
        connect(socket, &QObject::destroyed, this, [this, peerPort, socket] {
            const auto it = m_sockets.find(peerPort);
            if (it != m_sockets.end() && it->socket == socket)
                m_sockets.erase(it);
        });
        // Connected before the HTTP server's own handler, so it runs first.
        connect(socket, &QTcpSocket::readyRead, this, [this, peerPort] { count(peerPort); });
        addPendingConnection(socket);
    }

private:
    struct Connection {
        QTcpSocket *socket;
        qint64 received;
    };

    void count(quint16 peerPort)
    {
        const auto it = m_sockets.find(peerPort);
        if (it == m_sockets.end())
            return;
        it->received += it->socket->bytesAvailable();
        if (it->received > OverlayAccess::kMaxRequestBytes)
            it->socket->abort();
    }

    QHash<quint16, Connection> m_sockets; // on 127.0.0.1 the peer's port names the connection
};

OverlayHost::OverlayHost(OverlayFiles files, QObject *parent)
    : QAbstractHttpServer(parent)
    , m_files(std::move(files))
{
    addWebSocketUpgradeVerifier(this, [this](const QHttpServerRequest &request) {
        if (request.url().path(QUrl::FullyEncoded) != QLatin1String("/live"))
            return QHttpServerWebSocketUpgradeResponse::deny(404, "Not Found");
        if (!isAllowed(request))
            return QHttpServerWebSocketUpgradeResponse::deny(403, "Forbidden");
        return QHttpServerWebSocketUpgradeResponse::accept();
    });
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &OverlayHost::adoptWebSockets);
}

OverlayHost::~OverlayHost()
{
    // The clients go before the HTTP server's own children, among them their sockets.
    for (QWebSocket *client : std::exchange(m_clients, {})) {
        client->disconnect(this);
        delete client;
    }
}

bool OverlayHost::listen(quint16 port, const QByteArray &snapshot, quint64 generation, QString *error)
{
    m_generation = generation;
    m_snapshot = snapshot;
    m_snapshotText = QString::fromUtf8(snapshot);
    if (!m_listener)
        m_listener = new Listener(this);
    if (!m_listener->listen(QHostAddress(QHostAddress::LocalHost), port)) {
        if (error)
            *error = m_listener->errorString();
        return false;
    }
    return bind(m_listener);
}

void OverlayHost::close(quint64 generation)
{
    m_generation = generation;
    if (m_listener) {
        m_listener->close();
        m_listener->abortAll();
    }
    for (QWebSocket *client : std::exchange(m_clients, {})) {
        client->disconnect(this);
        client->abort();
        client->deleteLater();
    }
    Q_EMIT clientCountChanged(m_generation, 0);
}

quint16 OverlayHost::port() const { return m_listener && m_listener->isListening() ? m_listener->serverPort() : 0; }

void OverlayHost::publish(const QByteArray &snapshot)
{
    m_snapshot = snapshot;
    m_snapshotText = QString::fromUtf8(snapshot);
    QList<QWebSocket *> stalled;
    for (QWebSocket *client : std::as_const(m_clients)) {
        if (!send(client))
            stalled.append(client);
    }
    for (QWebSocket *client : std::as_const(stalled))
        drop(client);
}

bool OverlayHost::isAllowed(const QHttpServerRequest &request) const
{
    const quint16 port = request.localPort();
    return OverlayAccess::isHostAllowed(header(request, "host"), hasHeader(request, "host"), port)
           && OverlayAccess::isOriginAllowed(header(request, "origin"), hasHeader(request, "origin"), port);
}

void OverlayHost::adoptWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        QWebSocket *client = nextPendingWebSocketConnection().release();
        if (!client)
            return;
        client->setParent(this);
        // A read-only feed: what a page sends is never read, and never allowed to pile up.
        client->setMaxAllowedIncomingFrameSize(OverlayAccess::kMaxRequestBytes);
        client->setMaxAllowedIncomingMessageSize(OverlayAccess::kMaxRequestBytes);
        connect(client, &QWebSocket::disconnected, this, [this, client] {
            forget(client);
            client->deleteLater();
        });
        m_clients.append(client);
        if (!send(client)) {
            drop(client);
            continue;
        }
        Q_EMIT clientCountChanged(m_generation, int(m_clients.size()));
    }
}

bool OverlayHost::send(QWebSocket *client)
{
    client->sendTextMessage(m_snapshotText);
    return client->bytesToWrite() <= OverlayAccess::kMaxPendingOutput;
}

void OverlayHost::drop(QWebSocket *client)
{
    // A graceful close would wait for a reader that is not reading.
    client->disconnect(this);
    if (m_listener)
        m_listener->reset(client->peerPort());
    client->abort();
    forget(client);
    client->deleteLater();
}

void OverlayHost::forget(QWebSocket *client)
{
    if (m_clients.removeOne(client))
        Q_EMIT clientCountChanged(m_generation, int(m_clients.size()));
}

bool OverlayHost::handleRequest(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    if (m_listener && !m_listener->answered(request.remotePort())) {
        answer(responder, Status::ServiceUnavailable, "Service Unavailable");
        return true;
    }
    if (!isAllowed(request)) {
        answer(responder, Status::Forbidden, "Forbidden");
        return true;
    }
    if (request.method() != QHttpServerRequest::Method::Get) {
        QHttpHeaders headers;
        headers.append(QHttpHeaders::WellKnownHeader::Allow, "GET");
        headers.append(QHttpHeaders::WellKnownHeader::ContentType, "text/plain; charset=utf-8");
        responder.write("Method Not Allowed\n", headers, Status::MethodNotAllowed);
        return true;
    }
    const QString path = request.url().path(QUrl::FullyEncoded);
    if (path == QLatin1String("/live.json")) {
        QHttpHeaders headers;
        headers.append(QHttpHeaders::WellKnownHeader::ContentType, "application/json");
        headers.append(QHttpHeaders::WellKnownHeader::CacheControl, "no-store");
        responder.write(m_snapshot, headers, Status::Ok);
        return true;
    }
    if (path == QLatin1String("/live")) {
        answer(responder, Status::UpgradeRequired, "Connect with a WebSocket");
        return true;
    }
    serveFile(request, responder);
    return true;
}

void OverlayHost::missingHandler(const QHttpServerRequest &, QHttpServerResponder &responder)
{
    answer(responder, Status::NotFound, "Not Found");
}

void OverlayHost::serveFile(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    const OverlayFile file = m_files.resolve(request.url().path(QUrl::FullyEncoded).toUtf8());
    if (file.status == 301) {
        QHttpHeaders headers;
        headers.append(QHttpHeaders::WellKnownHeader::Location, file.location);
        responder.write(headers, Status::MovedPermanently);
        return;
    }
    QFile content(file.path);
    if (file.status != 200 || content.size() > OverlayAccess::kMaxFileBytes || !content.open(QIODevice::ReadOnly)) {
        answer(responder, Status::NotFound, "Not Found");
        return;
    }
    QHttpHeaders headers;
    headers.append(QHttpHeaders::WellKnownHeader::ContentType, file.contentType);
    headers.append(QHttpHeaders::WellKnownHeader::XContentTypeOptions, "nosniff");
    headers.append(QHttpHeaders::WellKnownHeader::CacheControl, "no-cache");
    responder.write(content.readAll(), headers, Status::Ok);
}

} // namespace corvane
