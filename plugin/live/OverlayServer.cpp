#include "live/OverlayServer.h"

#include "base/Log.h"
#include "live/LiveData.h"
#include "live/OverlayAccess.h"
#include "live/OverlayFiles.h"
#include "live/OverlayHost.h"
#include "live/ShownScores.h"
#include "live/ShownSnapshot.h"

#include <QDeadlineTimer>

#include <future>
#include <mutex>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void registerOverlayResources()
{
    Q_INIT_RESOURCE(overlays);
    Q_INIT_RESOURCE(overlay_script);
}

namespace corvane {

namespace {

std::mutex g_handOver;

} // namespace

struct OverlayServer::Relay {
    std::mutex lock;
    OverlayServer *server; // null once the server is gone
};

OverlayServer::OverlayServer(LiveData *live, ShownScores *shown, const QString &userOverlays, QObject *parent)
    : QObject(parent)
    , m_shown(new ShownSnapshot(live, shown, this))
    , m_userOverlays(userOverlays)
    , m_headTimeout(OverlayAccess::kHeadTimeout)
    , m_idleTimeout(OverlayAccess::kIdleTimeout)
    , m_relay(std::make_shared<Relay>())
{
    registerOverlayResources();
    m_relay->server = this;
}

OverlayServer::~OverlayServer()
{
    {
        const std::lock_guard gone(m_relay->lock);
        m_relay->server = nullptr;
    }
    if (!m_anchor)
        return;
    // Deleted on their own thread, after every call queued for the host has run: the host
    // closes every socket it has as it goes.
    const auto finish = [host = m_host, anchor = m_anchor, thread = m_thread] {
        delete host;
        delete anchor;
        thread->quit();
    };
    if (m_host)
        m_host->post(finish);
    else
        QMetaObject::invokeMethod(m_anchor, finish, Qt::QueuedConnection);
    if (m_thread->wait(QDeadlineTimer(kStopWait)))
        delete m_thread;
    else
        logLine(LogLevel::Warning, "overlay server: its thread did not stop within %lld ms; left to finish alone",
                static_cast<long long>(kStopWait.count()));
}

void OverlayServer::setTimeoutsForTesting(std::chrono::milliseconds head, std::chrono::milliseconds idle)
{
    m_headTimeout = head;
    m_idleTimeout = idle;
}

QStringList OverlayServer::overlayNames() const
{
    const OverlayFiles files(QString::fromLatin1(kBuiltInRoot), m_userOverlays);
    return files.builtInNames() + files.userNames();
}

QString OverlayServer::overlayAddress(const QString &name) const
{
    if (!isListening())
        return {};
    return QStringLiteral("http://127.0.0.1:%1%2%3/").arg(m_port).arg(QLatin1String(OverlayFiles::kPrefix), name);
}

bool OverlayServer::start(quint16 port, QString *error)
{
    stop();
    if (!m_anchor) {
        // Started with the first listening socket, so that a plugin whose overlay server is
        // off runs no thread for it.
        m_thread = new QThread;
        m_thread->setObjectName(QStringLiteral("corvane-overlays"));
        m_anchor = new QObject;
        m_anchor->moveToThread(m_thread);
        m_thread->start();
    }
    // Listening is quick; waiting for it keeps start() a plain yes or no, like the hosted
    // server's. Nothing on disk is touched here: files are opened on the overlay thread.
    struct Outcome {
        quint16 port = 0;
        QString error;
    };
    // Waited for through a standard future, whose locks ThreadSanitizer sees.
    std::promise<Outcome> promise;
    std::future<Outcome> future = promise.get_future();
    const QByteArray current = snapshot();
    const quint64 generation = m_generation;
    const OverlayHost::Timeouts timeouts{m_headTimeout, m_idleTimeout};
    const QStringList followed = m_feeds.ids ? m_feeds.ids() : QStringList();
    m_mainId = m_feeds.mainId ? m_feeds.mainId() : QString();
    // Qt's queued call carries the lambda under locks ThreadSanitizer cannot see; this one
    // it sees, from before the lambda is made until after it is read. A global: the lambda
    // must reach it before reading anything it carries.
    std::unique_lock handOver(g_handOver);
    QMetaObject::invokeMethod(m_anchor, [this, &promise, port, current, generation, timeouts, followed, main = m_mainId] {
        const std::lock_guard received(g_handOver);
        if (!m_host) {
            m_host = new OverlayHost(OverlayFiles(QString::fromLatin1(kBuiltInRoot), m_userOverlays), timeouts);
            connect(m_host, &OverlayHost::clientCountChanged, m_host, [relay = m_relay](quint64 reported, int count) {
                const std::lock_guard alive(relay->lock);
                OverlayServer *server = relay->server;
                if (!server)
                    return;
                server->m_fromHost.post([server, reported, count] {
                    if (reported != server->m_generation)
                        return;
                    server->m_clientCount = count;
                    Q_EMIT server->clientsChanged(count);
                });
            }, Qt::DirectConnection);
            connect(m_host, &OverlayHost::deviceWanted, m_host, [relay = m_relay](quint64 reported, const QString &device, bool wanted) {
                const std::lock_guard alive(relay->lock);
                OverlayServer *server = relay->server;
                if (!server)
                    return;
                server->m_fromHost.post([server, reported, device, wanted] {
                    if (reported == server->m_generation)
                        server->onDeviceWanted(device, wanted);
                });
            }, Qt::DirectConnection);
        }
        m_host->setFollowed(followed);
        m_host->setMainDevice(main);
        Outcome outcome;
        if (m_host->listen(port, current, generation, &outcome.error))
            outcome.port = m_host->port();
        promise.set_value(outcome);
    }, Qt::QueuedConnection);
    handOver.unlock();
    const Outcome outcome = future.get();
    const quint16 bound = outcome.port;
    const QString failure = outcome.error;
    if (bound == 0) {
        if (error)
            *error = QStringLiteral("Could not listen on port %1: %2").arg(port).arg(failure);
        return false;
    }
    m_port = bound;
    return true;
}

void OverlayServer::stop()
{
    ++m_generation;
    for (const auto &followed : m_followed)
        unwatch(followed.first);
    if (m_host && m_port != 0) {
        const quint64 generation = m_generation;
        toHost([generation](OverlayHost &host) { host.close(generation); });
    }
    m_port = 0;
    m_clientCount = 0;
    Q_EMIT clientsChanged(0);
}

void OverlayServer::broadcast()
{
    if (!m_host || m_port == 0)
        return;
    // Sent even with no WebSocket client: /live.json answers from the same copy.
    const QByteArray current = snapshot();
    toHost([current](OverlayHost &host) { host.publish(current); });
}

void OverlayServer::toHost(std::function<void(OverlayHost &)> call)
{
    m_host->post([host = m_host, call = std::move(call)] { call(*host); });
}

QByteArray OverlayServer::snapshot()
{
    const QByteArray json = m_shown->json();
    m_bytesSerialised += json.size();
    return json;
}

void OverlayServer::setFeeds(DeviceFeeds feeds)
{
    m_feeds = std::move(feeds);
    const QStringList ids = m_feeds.ids ? m_feeds.ids() : QStringList();
    for (const QString &id : ids)
        track(id);
}

void OverlayServer::deviceFollowed(const QString &deviceId)
{
    track(deviceId);
    if (m_host)
        toHost([deviceId](OverlayHost &host) { host.deviceFollowed(deviceId); });
}

void OverlayServer::deviceUnfollowed(const QString &deviceId)
{
    unwatch(deviceId);
    m_followed.erase(deviceId);
    if (m_host)
        toHost([deviceId](OverlayHost &host) { host.deviceUnfollowed(deviceId); });
}

void OverlayServer::mainDeviceChanged()
{
    const QString id = m_feeds.mainId ? m_feeds.mainId() : QString();
    if (id == m_mainId)
        return;
    m_mainId = id;
    if (m_host)
        toHost([id](OverlayHost &host) { host.setMainDevice(id); });
}

void OverlayServer::track(const QString &deviceId)
{
    const std::shared_ptr<DeviceLive> data = m_feeds.dataOf ? m_feeds.dataOf(deviceId) : nullptr;
    if (!data || m_followed.count(deviceId) != 0)
        return;
    Followed &followed = m_followed[deviceId];
    followed.data = data;
    followed.shown = std::make_unique<ShownSnapshot>(&data->live(), &data->shown());
}

void OverlayServer::onDeviceWanted(const QString &deviceId, bool wanted)
{
    const auto found = m_followed.find(deviceId);
    // Unfollowed meanwhile: the overlay thread hears of it next and turns its pages away.
    if (found == m_followed.end())
        return;
    if (!wanted) {
        unwatch(deviceId);
        return;
    }
    if (!found->second.changed) {
        // Pages show what the production shows of it: they hold with its score texts.
        const std::shared_ptr<DeviceLive> data = found->second.data;
        found->second.changed = connect(&data->shown(), &ShownScores::changed, this, [this, deviceId] { publishDevice(deviceId); });
    }
    publishDevice(deviceId);
}

void OverlayServer::publishDevice(const QString &deviceId)
{
    const auto found = m_followed.find(deviceId);
    if (!m_host || m_port == 0 || found == m_followed.end())
        return;
    const QByteArray json = found->second.shown->json();
    m_bytesSerialised += json.size();
    toHost([deviceId, json](OverlayHost &host) { host.publishDevice(deviceId, json); });
}

void OverlayServer::unwatch(const QString &deviceId)
{
    const auto found = m_followed.find(deviceId);
    if (found == m_followed.end())
        return;
    disconnect(found->second.changed);
    found->second.changed = QMetaObject::Connection();
}

} // namespace corvane
