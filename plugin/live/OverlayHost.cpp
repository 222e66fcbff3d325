#include "live/OverlayHost.h"

#include "live/OverlayAccess.h"
#include "live/OverlayConnection.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <utility>

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
    m_channels.clear();
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

void OverlayHost::setFollowed(const QStringList &deviceIds)
{
    m_followed = QSet<QString>(deviceIds.cbegin(), deviceIds.cend());
}

void OverlayHost::deviceFollowed(const QString &deviceId) { m_followed.insert(deviceId); }

void OverlayHost::setMainDevice(const QString &deviceId)
{
    const QString former = std::exchange(m_mainId, deviceId);
    if (former.isEmpty() || former == deviceId)
        return;
    // They would show another game under the same address; closed, they ask again.
    const QList<OverlayConnection *> clients = m_clients;
    for (OverlayConnection *client : clients) {
        if (client->device() == former)
            client->drop();
    }
}

void OverlayHost::deviceUnfollowed(const QString &deviceId)
{
    m_followed.remove(deviceId);
    const auto found = m_channels.find(deviceId);
    if (found == m_channels.end())
        return;
    const Channel channel = found->second;
    m_channels.erase(found);
    for (OverlayConnection *connection : channel.waiting)
        connection->deviceGone();
    for (OverlayConnection *connection : channel.clients)
        connection->drop();
    if (!channel.clients.isEmpty())
        Q_EMIT clientCountChanged(m_generation, webSocketCount());
}

OverlayHost::Channel &OverlayHost::channelOf(const QString &deviceId)
{
    const auto [found, added] = m_channels.try_emplace(deviceId);
    if (added)
        Q_EMIT deviceWanted(m_generation, deviceId, true);
    return found->second;
}

void OverlayHost::releaseIfUnread(const QString &deviceId)
{
    const auto found = m_channels.find(deviceId);
    if (found == m_channels.end() || !found->second.clients.isEmpty() || !found->second.waiting.isEmpty())
        return;
    m_channels.erase(found);
    Q_EMIT deviceWanted(m_generation, deviceId, false);
}

int OverlayHost::webSocketCount() const
{
    qsizetype count = m_clients.size();
    for (const auto &channel : m_channels)
        count += channel.second.clients.size();
    return int(count);
}

void OverlayHost::publishDevice(const QString &deviceId, const QByteArray &snapshot)
{
    const auto found = m_channels.find(deviceId);
    if (found == m_channels.end())
        return;
    Channel &channel = found->second;
    channel.snapshot = snapshot;
    channel.text = QString::fromUtf8(snapshot);
    channel.known = true;
    const QString text = channel.text;
    const QList<OverlayConnection *> clients = channel.clients;
    const QList<OverlayConnection *> waiting = std::exchange(channel.waiting, {});
    // Answering may close a connection, which changes the channels: nothing of them is
    // held across these calls.
    QList<OverlayConnection *> stalled;
    for (OverlayConnection *client : clients) {
        if (!client->sendText(text))
            stalled.append(client);
    }
    for (OverlayConnection *connection : waiting)
        connection->answerSnapshot(snapshot);
    for (OverlayConnection *client : std::as_const(stalled))
        client->drop();
    releaseIfUnread(deviceId);
}

void OverlayHost::requestSnapshot(OverlayConnection *connection)
{
    Channel &channel = channelOf(connection->device());
    if (!channel.known) {
        channel.waiting.append(connection);
        return;
    }
    const QByteArray snapshot = channel.snapshot;
    connection->answerSnapshot(snapshot);
    releaseIfUnread(connection->device());
}

void OverlayHost::adopt(OverlayConnection *connection)
{
    const QString device = isMain(connection->device()) ? QString() : connection->device();
    if (!device.isEmpty() && !isFollowed(device)) {
        // Unfollowed during its handshake.
        connection->drop();
        return;
    }
    QList<OverlayConnection *> &clients = device.isEmpty() ? m_clients : channelOf(device).clients;
    clients.append(connection);
    const Channel *channel = device.isEmpty() ? nullptr : &m_channels.at(device);
    const bool known = !channel || channel->known;
    if (known && !connection->sendText(channel ? channel->text : m_snapshotText)) {
        connection->drop();
        return;
    }
    Q_EMIT clientCountChanged(m_generation, webSocketCount());
}

void OverlayHost::forget(OverlayConnection *connection)
{
    m_connections.remove(connection);
    bool counted = m_clients.removeOne(connection);
    const QString device = connection->device();
    const auto found = m_channels.find(device);
    if (!device.isEmpty() && found != m_channels.end()) {
        counted = found->second.clients.removeOne(connection) || counted;
        found->second.waiting.removeOne(connection);
        releaseIfUnread(device);
    }
    if (counted)
        Q_EMIT clientCountChanged(m_generation, webSocketCount());
}

} // namespace corvane
