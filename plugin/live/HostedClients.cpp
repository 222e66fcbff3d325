#include "live/HostedClients.h"

#include "live/SocketReset.h"

#include <QTcpSocket>

#ifdef Q_OS_WIN
#include <winsock2.h>
using NativeSocket = SOCKET;
#else
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
#endif

#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_DONTWAIT | MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

namespace corvane {

namespace {

void closeDescriptor(qintptr descriptor)
{
#ifdef Q_OS_WIN
    closesocket(static_cast<NativeSocket>(descriptor));
#else
    ::close(static_cast<NativeSocket>(descriptor));
#endif
}

} // namespace

HostedClients::HostedClients(QObject *parent)
    : QObject(parent)
{
}

HostedClients::~HostedClients()
{
    // The sockets are our children and die with us; our own slots must not run on them
    // while we are half destroyed.
    for (const Client &client : std::as_const(m_clients))
        client.socket->disconnect(this);
}

void HostedClients::adopt(qintptr descriptor, const QByteArray &greeting, quint64 generation)
{
    m_generation = generation;
    ++m_adopted;
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        // A socket that did not take the descriptor leaves it to us.
        closeDescriptor(descriptor);
        delete socket;
        Q_EMIT countChanged(m_generation, count(), m_adopted);
        return;
    }
    const quint64 id = m_nextId++;
    m_clients.append({id, generation, socket, QByteArray()});
    connect(socket, &QTcpSocket::readyRead, this, [this, id] { readFrom(id); });
    connect(socket, &QTcpSocket::disconnected, this, [this, id] { forget(id); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (!send(socket, greeting)) {
        drop(id);
        return;
    }
    Q_EMIT countChanged(m_generation, count(), m_adopted);
}

void HostedClients::broadcast(const QString &device, const QByteArray &line, const QByteArray &named, const QString &alias)
{
    QList<quint64> stalled;
    for (const Client &client : std::as_const(m_clients)) {
        const bool reads = readsAlone(client, device) || (!alias.isEmpty() && readsAlone(client, alias));
        const QByteArray &text = client.watch.kind == Watch::All ? named : reads ? line : QByteArray();
        if (!text.isEmpty() && !send(client.socket, text))
            stalled.append(client.id);
    }
    for (quint64 id : std::as_const(stalled))
        drop(id);
}

void HostedClients::watch(quint64 id, const Watch &watch, const QByteArray &lines)
{
    Client *client = find(id);
    if (!client) {
        Q_EMIT clientLeft(id);
        return;
    }
    client->watch = watch;
    if (!send(client->socket, lines))
        drop(id);
}

void HostedClients::unfollowed(const QString &device, const QByteArray &line, bool tellAll)
{
    QList<quint64> stalled;
    for (Client &client : m_clients) {
        const bool reads = readsAlone(client, device);
        if (reads)
            client.watch = {Watch::None};
        if ((reads || (tellAll && client.watch.kind == Watch::All)) && !send(client.socket, line))
            stalled.append(client.id);
    }
    for (quint64 id : std::as_const(stalled))
        drop(id);
}

void HostedClients::reply(quint64 id, const QByteArray &line)
{
    if (Client *client = find(id); client && !send(client->socket, line))
        drop(id);
}

void HostedClients::closeAll(quint64 generation)
{
    m_generation = generation;
    const QList<Client> clients = std::exchange(m_clients, {});
    for (const Client &client : clients) {
        client.socket->disconnect(this);
        // What the kernel still takes goes out now; anything left over means the reader
        // has stopped reading, and a graceful close would wait for it forever.
        client.socket->flush();
        if (client.socket->bytesToWrite() > 0)
            resetConnection(client.socket);
        else
            client.socket->disconnectFromHost();
        // abort() and an immediate close have emitted disconnected already, which
        // scheduled the deletion; a graceful close still waiting for its goodbye does so
        // when that arrives.
    }
}

bool HostedClients::readsAlone(const Client &client, const QString &device)
{
    return client.watch.kind == Watch::Device && client.watch.device == device;
}

HostedClients::Client *HostedClients::find(quint64 id)
{
    for (Client &client : m_clients) {
        if (client.id == id)
            return &client;
    }
    return nullptr;
}

void HostedClients::readFrom(quint64 id)
{
    Client *client = find(id);
    if (!client)
        return;
    if (client->socket->state() != QAbstractSocket::ConnectedState) {
        // Already on its way out for an overlong line: nothing more of it is handled.
        client->socket->readAll();
        return;
    }
    QByteArray &input = client->input;
    input.append(client->socket->readAll());
    // Only an unfinished line counts against the limit: a burst of short, finished
    // requests is what a busy but well-behaved client sends.
    qsizetype start = 0;
    qsizetype newline;
    while ((newline = input.indexOf('\n', start)) >= 0) {
        if (newline - start > kMaxPendingInput)
            break;
        const QByteArray line = input.mid(start, newline - start).trimmed();
        start = newline + 1;
        if (!line.isEmpty())
            Q_EMIT requestReceived(client->generation, id, line);
    }
    input.remove(0, start);
    if (input.size() > kMaxPendingInput) {
        input.clear();
        client->socket->disconnectFromHost();
    }
}

bool HostedClients::send(QTcpSocket *socket, const QByteArray &line)
{
    // While nothing waits in the socket's own buffer, the line goes straight to the system:
    // a thousand clients then cost a thousand send calls and no event-loop round trips.
    // Whatever the system does not take, and every error, is left to the socket.
    qsizetype done = 0;
    if (socket->bytesToWrite() == 0) {
        const auto sent = ::send(static_cast<NativeSocket>(socket->socketDescriptor()), line.constData(), int(line.size()), kSendFlags);
        if (sent > 0)
            done = sent;
        if (done == line.size())
            return true;
    }
    socket->write(line.constData() + done, line.size() - done);
    socket->flush();
    return socket->bytesToWrite() <= kMaxPendingOutput;
}

void HostedClients::drop(quint64 id)
{
    Client *client = find(id);
    if (!client)
        return;
    QTcpSocket *socket = client->socket;
    // A graceful close would wait for a reader that is not reading. The disconnected signal
    // of the reset, if any, runs forget() right here.
    resetConnection(socket);
    forget(id);
    socket->deleteLater();
}

void HostedClients::forget(quint64 id)
{
    for (qsizetype i = 0; i < m_clients.size(); ++i) {
        if (m_clients.at(i).id == id) {
            m_clients.removeAt(i);
            Q_EMIT clientLeft(id);
            Q_EMIT countChanged(m_generation, count(), m_adopted);
            return;
        }
    }
}

} // namespace corvane
