#include "live/HostedServer.h"

#include "live/HostedClients.h"
#include "live/LiveData.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpServer>

namespace corvane {

namespace {

QByteArray lineOf(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

// Hands each accepted connection over as a bare descriptor, so that its socket is created
// on the client thread, where it will live.
class HostedServer::Listener : public QTcpServer {
public:
    explicit Listener(HostedServer *owner)
        : m_owner(owner)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override { m_owner->accept(descriptor); }

private:
    HostedServer *m_owner;
};

HostedServer::HostedServer(LiveData *live, QObject *parent)
    : QObject(parent)
    , m_live(live)
    , m_server(std::make_unique<Listener>(this))
{
    m_thread.setObjectName(QStringLiteral("corvane-hosted-clients"));
}

HostedServer::~HostedServer()
{
    m_server->close();
    if (m_clients) {
        // Deleted on its own thread, after every call queued for it has run.
        m_clients->post([clients = m_clients, thread = &m_thread] {
            delete clients;
            thread->quit();
        });
        m_thread.wait();
    }
}

QJsonObject HostedServer::failure(const QString &code)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), code}};
}

bool HostedServer::isListening() const { return m_server->isListening(); }

quint16 HostedServer::port() const { return m_server->serverPort(); }

bool HostedServer::start(quint16 port, bool allowNetwork, QString *error)
{
    stop();
    const QHostAddress address = allowNetwork ? QHostAddress(QHostAddress::Any) : QHostAddress(QHostAddress::LocalHost);
    if (m_server->listen(address, port)) {
        startClientThread();
        return true;
    }
    if (error)
        *error = QStringLiteral("Could not listen on port %1: %2").arg(port).arg(m_server->errorString());
    return false;
}

void HostedServer::stop()
{
    ++m_generation;
    if (m_clients) {
        const quint64 generation = m_generation;
        toClients([generation](HostedClients &clients) { clients.closeAll(generation); });
    }
    if (m_server->isListening())
        m_server->close();
    m_clientCount = 0;
    Q_EMIT clientsChanged(0);
}

void HostedServer::startClientThread()
{
    // Started with the first listening socket, so that a plugin whose server is off runs
    // no thread for it.
    if (m_clients)
        return;
    m_clients = new HostedClients;
    m_clients->moveToThread(&m_thread);
    // Emitted on the client thread; what they report is handled here on ours.
    connect(m_clients, &HostedClients::requestReceived, m_clients, [this](quint64 client, const QByteArray &line) {
        m_fromClients.post([this, client, line] { handleLine(client, line); });
    }, Qt::DirectConnection);
    connect(m_clients, &HostedClients::countChanged, m_clients, [this](quint64 generation, int count, quint64 adopted) {
        m_fromClients.post([this, generation, count, adopted] { onCountChanged(generation, count, adopted); });
    }, Qt::DirectConnection);
    m_thread.start();
}

void HostedServer::toClients(std::function<void(HostedClients &)> call)
{
    m_clients->post([clients = m_clients, call = std::move(call)] { call(*clients); });
}

void HostedServer::accept(qintptr descriptor)
{
    const QByteArray greeting = snapshotLine();
    ++m_accepted;
    const quint64 generation = m_generation;
    toClients([descriptor, greeting, generation](HostedClients &clients) { clients.adopt(descriptor, greeting, generation); });
}

void HostedServer::onCountChanged(quint64 generation, int count, quint64 adopted)
{
    m_adopted = adopted;
    if (generation != m_generation)
        return;
    m_clientCount = count;
    Q_EMIT clientsChanged(count);
}

void HostedServer::handleLine(quint64 client, const QByteArray &line)
{
    QString op;
    QJsonObject request;
    if (!line.startsWith('{')) {
        op = QString::fromUtf8(line).trimmed();
    } else {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!doc.isObject()) {
            answer(client, lineOf(failure(QStringLiteral("invalid_json"))));
            return;
        }
        request = doc.object();
        op = request.value(QLatin1String("op")).toString();
    }

    if (op == QLatin1String("get")) {
        answer(client, snapshotLine());
        return;
    }
    if (!m_handler) {
        answer(client, lineOf(failure(QStringLiteral("unavailable"))));
        return;
    }
    QJsonObject reply = m_handler(op, request);
    if (!reply.contains(QLatin1String("ok")))
        reply.insert(QStringLiteral("ok"), true);
    reply.insert(QStringLiteral("op"), op);
    answer(client, lineOf(reply));
}

void HostedServer::answer(quint64 client, const QByteArray &line)
{
    toClients([client, line](HostedClients &clients) { clients.reply(client, line); });
}

void HostedServer::broadcast()
{
    if (!m_clients || (m_clientCount == 0 && m_adopted == m_accepted))
        return;
    const QByteArray line = snapshotLine();
    toClients([line](HostedClients &clients) { clients.broadcast(line); });
}

QByteArray HostedServer::snapshotLine()
{
    QByteArray line = m_live ? m_live->snapshotJson() + '\n' : lineOf(QJsonObject());
    m_bytesSerialised += line.size();
    return line;
}

} // namespace corvane
