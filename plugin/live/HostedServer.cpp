#include "live/HostedServer.h"

#include "live/HostedClients.h"
#include "live/LiveData.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>

#include <algorithm>
#include <utility>

namespace corvane {

namespace {

QByteArray lineOf(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// A snapshot line naming its device: "device" leads, as in Qt's own key order.
QByteArray namedLine(const QString &deviceId, const QByteArray &line)
{
    const QByteArray list = QJsonDocument(QJsonArray{deviceId}).toJson(QJsonDocument::Compact);
    const QByteArray id = list.mid(1, list.size() - 2);
    const QByteArray rest = line.mid(1);
    return "{\"device\":" + id + (rest.startsWith('}') ? QByteArray() : QByteArrayLiteral(",")) + rest;
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
    m_watches.clear();
    m_readingAll = 0;
    refreshFeeds();
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
    connect(m_clients, &HostedClients::requestReceived, m_clients, [this](quint64 generation, quint64 client, const QByteArray &line) {
        m_fromClients.post([this, generation, client, line] {
            // A client of an earlier listening period was closed by stop(): nobody reads the answer.
            if (generation == m_generation)
                handleLine(client, line);
        });
    }, Qt::DirectConnection);
    connect(m_clients, &HostedClients::clientLeft, m_clients, [this](quint64 client) {
        m_fromClients.post([this, client] { onClientLeft(client); });
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
        const Watch watch = m_watches.value(client);
        if (watch.kind == Watch::None) {
            QJsonObject reply = failure(QStringLiteral("unknown_device"));
            reply.insert(QStringLiteral("op"), op);
            answer(client, lineOf(reply));
        } else {
            answer(client, linesFor(watch));
        }
        return;
    }
    if (op == QLatin1String("watch")) {
        watch(client, request);
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

void HostedServer::watch(quint64 client, const QJsonObject &request)
{
    Watch target;
    QJsonObject reply;
    if (request.value(QLatin1String("all")).toBool()) {
        target.kind = Watch::All;
        QJsonArray devices;
        const QStringList ids = QStringList(QString()) + (m_feeds.ids ? m_feeds.ids() : QStringList());
        for (const QString &id : ids)
            devices.append(QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("name"), m_feeds.labelOf ? m_feeds.labelOf(id) : id}});
        reply.insert(QStringLiteral("devices"), devices);
    } else {
        const QJsonValue device = request.value(QLatin1String("device"));
        target.device = device.toString();
        const bool known = device.isUndefined() || target.device.isEmpty() || target.device == mainId() || (m_feeds.dataOf && m_feeds.dataOf(target.device));
        if (!known || !(device.isUndefined() || device.isString())) {
            reply = failure(QStringLiteral("unknown_device"));
            reply.insert(QStringLiteral("op"), QStringLiteral("watch"));
            answer(client, lineOf(reply));
            return;
        }
        reply.insert(QStringLiteral("device"), target.device);
    }
    reply.insert(QStringLiteral("ok"), true);
    reply.insert(QStringLiteral("op"), QStringLiteral("watch"));
    setWatch(client, target, lineOf(reply) + linesFor(target));
}

void HostedServer::setWatch(quint64 client, const Watch &watch, const QByteArray &lines)
{
    if (m_watches.value(client).kind == Watch::All)
        --m_readingAll;
    if (watch.kind == Watch::Device && watch.device.isEmpty())
        m_watches.remove(client);
    else
        m_watches.insert(client, watch);
    if (watch.kind == Watch::All)
        ++m_readingAll;
    toClients([client, watch, lines](HostedClients &clients) { clients.watch(client, watch, lines); });
    refreshFeeds();
}

QByteArray HostedServer::linesFor(const Watch &watch)
{
    if (watch.kind == Watch::Device)
        return watch.device.isEmpty() || watch.device == mainId() ? snapshotLine() : snapshotLineOf(watch.device);
    QByteArray lines = namedLine(QString(), snapshotLine());
    const QStringList ids = m_feeds.ids ? m_feeds.ids() : QStringList();
    for (const QString &id : ids)
        lines += namedLine(id, snapshotLineOf(id));
    return lines;
}

void HostedServer::onClientLeft(quint64 client)
{
    const auto it = m_watches.constFind(client);
    if (it == m_watches.cend())
        return;
    if (it->kind == Watch::All)
        --m_readingAll;
    m_watches.erase(it);
    refreshFeeds();
}

bool HostedServer::isRead(const QString &deviceId) const
{
    if (m_readingAll > 0)
        return true;
    return std::any_of(m_watches.cbegin(), m_watches.cend(),
                       [&deviceId](const Watch &watch) { return watch.kind == Watch::Device && watch.device == deviceId; });
}

void HostedServer::refreshFeeds()
{
    const QStringList ids = m_feeds.ids ? m_feeds.ids() : QStringList();
    for (auto it = m_listening.begin(); it != m_listening.end();) {
        if (ids.contains(it.key()) && isRead(it.key())) {
            ++it;
            continue;
        }
        disconnect(it->changed);
        it = m_listening.erase(it);
    }
    for (const QString &id : ids) {
        if (m_listening.contains(id) || !isRead(id))
            continue;
        const std::shared_ptr<DeviceLive> data = m_feeds.dataOf(id);
        if (!data)
            continue;
        const auto changed = connect(&data->live(), &LiveData::changed, this, [this, id] { broadcastDevice(id); });
        m_listening.insert(id, Feed{data, changed});
    }
}

void HostedServer::setFeeds(DeviceFeeds feeds)
{
    m_feeds = std::move(feeds);
    m_mainId = mainId();
}

void HostedServer::deviceFollowed(const QString &deviceId)
{
    refreshFeeds();
    // Those reading every device, and those still reading it as the former main device.
    if (isRead(deviceId))
        broadcastDevice(deviceId);
}

void HostedServer::deviceUnfollowed(const QString &deviceId)
{
    refreshFeeds();
    settleLater(deviceId, true);
}

void HostedServer::mainDeviceChanged()
{
    const QString id = mainId();
    if (id == m_mainId)
        return;
    const QString former = std::exchange(m_mainId, id);
    if (!former.isEmpty())
        settleLater(former, false);
}

void HostedServer::settleLater(const QString &deviceId, bool namedForAll)
{
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, deviceId, namedForAll, generation] {
        if (generation == m_generation)
            settle(deviceId, namedForAll);
    }, Qt::QueuedConnection);
}

void HostedServer::settle(const QString &deviceId, bool namedForAll)
{
    if (m_feeds.ids && m_feeds.ids().contains(deviceId))
        return; // followed (again): deviceFollowed gave its readers its state
    const bool isMain = deviceId == mainId();
    bool readAlone = false;
    for (Watch &watch : m_watches) {
        if (watch.kind == Watch::Device && watch.device == deviceId) {
            readAlone = true;
            if (!isMain)
                watch = Watch{Watch::None};
        }
    }
    const bool tellAll = namedForAll && m_readingAll > 0;
    if (!m_clients || (!readAlone && !tellAll))
        return;
    const QByteArray gone = lineOf({{QStringLiteral("device"), deviceId},
                                    {QStringLiteral("error"), QStringLiteral("device_unfollowed")},
                                    {QStringLiteral("ok"), false}});
    if (isMain) {
        // Made the main device: its readers read on, from now on the main device's lines;
        // those reading every device find it as the main one ("").
        const QByteArray line = readAlone ? snapshotLine() : QByteArray();
        const QByteArray named = tellAll ? gone : QByteArray();
        toClients([deviceId, line, named](HostedClients &clients) { clients.broadcast(deviceId, line, named); });
        return;
    }
    toClients([deviceId, gone, tellAll](HostedClients &clients) { clients.unfollowed(deviceId, gone, tellAll); });
}

void HostedServer::broadcast()
{
    // Clients known to read another device alone are left out of the count of readers.
    const bool unread = m_adopted == m_accepted && m_readingAll == 0 && m_clientCount <= readingOthers();
    if (!m_clients || unread)
        return;
    const QByteArray line = snapshotLine();
    const QByteArray named = m_readingAll > 0 ? namedLine(QString(), line) : QByteArray();
    toClients([line, named, alias = mainId()](HostedClients &clients) { clients.broadcast(QString(), line, named, alias); });
}

qsizetype HostedServer::readingOthers() const
{
    const QString main = mainId();
    return std::count_if(m_watches.cbegin(), m_watches.cend(), [&main](const Watch &watch) { return watch.kind != Watch::Device || watch.device != main; });
}

void HostedServer::broadcastDevice(const QString &deviceId)
{
    if (!m_clients)
        return;
    const QByteArray line = snapshotLineOf(deviceId);
    const QByteArray named = m_readingAll > 0 ? namedLine(deviceId, line) : QByteArray();
    toClients([deviceId, line, named](HostedClients &clients) { clients.broadcast(deviceId, line, named); });
}

QByteArray HostedServer::snapshotLineOf(const QString &deviceId)
{
    const Feed feed = m_listening.value(deviceId);
    const std::shared_ptr<DeviceLive> data = feed.data ? feed.data : (m_feeds.dataOf ? m_feeds.dataOf(deviceId) : nullptr);
    QByteArray line = data ? data->live().snapshotJson() + '\n' : lineOf(QJsonObject());
    m_bytesSerialised += line.size();
    return line;
}

QByteArray HostedServer::snapshotLine()
{
    QByteArray line = m_live ? m_live->snapshotJson() + '\n' : lineOf(QJsonObject());
    m_bytesSerialised += line.size();
    return line;
}

} // namespace corvane
