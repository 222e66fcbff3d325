#include "legacy/LegacyHostedServer.h"

#include "live/LiveData.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpSocket>

namespace corvane {

namespace {

QByteArray lineOf(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

LegacyHostedServer::LegacyHostedServer(LiveData *live, QObject *parent)
    : QObject(parent)
    , m_live(live)
{
    connect(&m_server, &QTcpServer::newConnection, this, &LegacyHostedServer::acceptPending);
}

LegacyHostedServer::~LegacyHostedServer()
{
    // The sockets are children of m_server and die with it; only our connections to them
    // must go first so that no slot runs on a half-destroyed server.
    for (QTcpSocket *client : std::as_const(m_clients))
        client->disconnect(this);
}

QJsonObject LegacyHostedServer::failure(const QString &code)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), code}};
}

bool LegacyHostedServer::start(quint16 port, bool allowNetwork, QString *error)
{
    stop();
    const QHostAddress address = allowNetwork ? QHostAddress(QHostAddress::Any) : QHostAddress(QHostAddress::LocalHost);
    if (m_server.listen(address, port))
        return true;
    if (error)
        *error = QStringLiteral("Could not listen on port %1: %2").arg(port).arg(m_server.errorString());
    return false;
}

void LegacyHostedServer::stop()
{
    const QList<QTcpSocket *> clients = std::exchange(m_clients, {});
    m_buffers.clear();
    for (QTcpSocket *client : clients) {
        // The socket still deletes itself once the goodbye is through (see acceptPending).
        client->disconnect(this);
        client->disconnectFromHost();
    }
    if (m_server.isListening())
        m_server.close();
    Q_EMIT clientsChanged(0);
}

void LegacyHostedServer::acceptPending()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        m_clients.append(client);
        m_buffers.insert(client, QByteArray());
        connect(client, &QTcpSocket::readyRead, this, [this, client] { readFrom(client); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] { forget(client); });
        connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);
        if (!send(client, snapshotLine())) {
            drop(client);
            continue;
        }
        Q_EMIT clientsChanged(clientCount());
    }
}

void LegacyHostedServer::readFrom(QTcpSocket *client)
{
    auto it = m_buffers.find(client);
    if (it == m_buffers.end())
        return;
    it->append(client->readAll());
    if (it->size() > kMaxPendingInput) {
        it->clear();
        client->disconnectFromHost();
        return;
    }
    qsizetype newline;
    while ((newline = it->indexOf('\n')) >= 0) {
        const QByteArray line = it->left(newline).trimmed();
        it->remove(0, newline + 1);
        if (!line.isEmpty())
            handleLine(client, line);
        // Answering may have dropped the client and with it the buffer.
        it = m_buffers.find(client);
        if (it == m_buffers.end())
            return;
    }
}

void LegacyHostedServer::handleLine(QTcpSocket *client, const QByteArray &line)
{
    QString op;
    QJsonObject request;
    if (!line.startsWith('{')) {
        op = QString::fromUtf8(line).trimmed();
    } else {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!doc.isObject()) {
            answer(client, failure(QStringLiteral("invalid_json")));
            return;
        }
        request = doc.object();
        op = request.value(QLatin1String("op")).toString();
    }

    if (op == QLatin1String("get")) {
        if (!send(client, snapshotLine()))
            drop(client);
        return;
    }
    if (!m_handler) {
        answer(client, failure(QStringLiteral("unavailable")));
        return;
    }
    QJsonObject reply = m_handler(op, request);
    if (!reply.contains(QLatin1String("ok")))
        reply.insert(QStringLiteral("ok"), true);
    reply.insert(QStringLiteral("op"), op);
    answer(client, reply);
}

void LegacyHostedServer::answer(QTcpSocket *client, const QJsonObject &object)
{
    if (!send(client, lineOf(object)))
        drop(client);
}

bool LegacyHostedServer::send(QTcpSocket *client, const QByteArray &line)
{
    client->write(line);
    return client->bytesToWrite() <= kMaxPendingOutput;
}

void LegacyHostedServer::broadcast()
{
    if (m_clients.isEmpty())
        return;
    const QByteArray line = snapshotLine();
    QList<QTcpSocket *> stalled;
    for (QTcpSocket *client : std::as_const(m_clients)) {
        if (!send(client, line))
            stalled.append(client);
    }
    for (QTcpSocket *client : std::as_const(stalled))
        drop(client);
}

void LegacyHostedServer::forget(QTcpSocket *client)
{
    if (!m_clients.removeOne(client))
        return;
    m_buffers.remove(client);
    Q_EMIT clientsChanged(clientCount());
}

void LegacyHostedServer::drop(QTcpSocket *client)
{
    // abort() throws the queued output away; a graceful close would wait for a reader that
    // is not reading. Its disconnected signal, if any, runs forget() right here.
    client->abort();
    forget(client);
    client->deleteLater();
}

QByteArray LegacyHostedServer::snapshotLine()
{
    QByteArray line = lineOf(m_live ? m_live->snapshot() : QJsonObject());
    m_bytesSerialised += line.size();
    return line;
}

} // namespace corvane
