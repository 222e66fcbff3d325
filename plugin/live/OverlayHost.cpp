#include "live/OverlayHost.h"

#include "live/OverlayAccess.h"
#include "live/OverlayConnection.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace corvane {

OverlayHost::OverlayHost(OverlayFiles files, Timeouts timeouts, QObject *parent)
    : QObject(parent)
    , m_files(std::move(files))
    , m_timeouts(timeouts)
    , m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &OverlayHost::accept);
}

OverlayHost::~OverlayHost()
{
    // While this object is whole: each connection tells it that it goes.
    dropAll();
}

bool OverlayHost::listen(quint16 port, const QByteArray &snapshot, quint64 generation, QString *error)
{
    m_generation = generation;
    m_snapshot = snapshot;
    m_snapshotText = QString::fromUtf8(snapshot);
    if (m_server->listen(QHostAddress(QHostAddress::LocalHost), port))
        return true;
    if (error)
        *error = m_server->errorString();
    return false;
}

void OverlayHost::close(quint64 generation)
{
    m_generation = generation;
    m_server->close();
    dropAll();
    Q_EMIT clientCountChanged(m_generation, 0);
}

void OverlayHost::dropAll()
{
    const QSet<OverlayConnection *> live = m_connections;
    m_clients.clear();
    for (OverlayConnection *connection : live)
        delete connection;
    // Those already closing wait for their deferred delete; they go now, sockets and all.
    qDeleteAll(findChildren<OverlayConnection *>(QString(), Qt::FindDirectChildrenOnly));
    m_connections.clear();
}

quint16 OverlayHost::port() const { return m_server->isListening() ? m_server->serverPort() : 0; }

qint64 OverlayHost::pendingOutput() const
{
    qint64 total = 0;
    for (const OverlayConnection *connection : m_connections)
        total += connection->pendingOutput();
    return total;
}

void OverlayHost::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections.size() >= OverlayAccess::kMaxClients) {
            socket->abort();
            delete socket;
            continue;
        }
        m_connections.insert(new OverlayConnection(socket, this));
    }
}

void OverlayHost::publish(const QByteArray &snapshot)
{
    m_snapshot = snapshot;
    m_snapshotText = QString::fromUtf8(snapshot);
    QList<OverlayConnection *> stalled;
    for (OverlayConnection *client : std::as_const(m_clients)) {
        if (!client->sendText(m_snapshotText))
            stalled.append(client);
    }
    for (OverlayConnection *client : std::as_const(stalled))
        client->drop();
}

void OverlayHost::adopt(OverlayConnection *connection)
{
    m_clients.append(connection);
    if (!connection->sendText(m_snapshotText)) {
        connection->drop();
        return;
    }
    Q_EMIT clientCountChanged(m_generation, int(m_clients.size()));
}

void OverlayHost::forget(OverlayConnection *connection)
{
    m_connections.remove(connection);
    if (m_clients.removeOne(connection))
        Q_EMIT clientCountChanged(m_generation, int(m_clients.size()));
}

} // namespace corvane
