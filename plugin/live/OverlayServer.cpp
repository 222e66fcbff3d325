#include "live/OverlayServer.h"

#include "live/LiveData.h"
#include "live/OverlayFiles.h"
#include "live/OverlayHost.h"

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

OverlayServer::OverlayServer(LiveData *live, const QString &userOverlays, QObject *parent)
    : QObject(parent)
    , m_live(live)
    , m_userOverlays(userOverlays)
{
    registerOverlayResources();
    m_thread.setObjectName(QStringLiteral("corvane-overlays"));
}

OverlayServer::~OverlayServer()
{
    if (m_anchor) {
        // Deleted on their own thread, after every call queued for the host has run.
        const auto finish = [host = m_host, anchor = m_anchor, thread = &m_thread] {
            delete host;
            delete anchor;
            thread->quit();
        };
        if (m_host)
            m_host->post(finish);
        else
            QMetaObject::invokeMethod(m_anchor, finish, Qt::QueuedConnection);
        m_thread.wait();
    }
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
        m_anchor = new QObject;
        m_anchor->moveToThread(&m_thread);
        m_thread.start();
    }
    // Listening is quick; waiting for it keeps start() a plain yes or no, like the hosted
    // server's. The host is made on its own thread: Qt's HTTP server keeps objects of its
    // own that would stay behind on this one if it were moved there.
    struct Outcome {
        quint16 port = 0;
        QString error;
    };
    // Waited for through a standard future, whose locks ThreadSanitizer sees.
    std::promise<Outcome> promise;
    std::future<Outcome> future = promise.get_future();
    const QByteArray current = snapshot();
    const quint64 generation = m_generation;
    // Qt's queued call carries the lambda under locks ThreadSanitizer cannot see; this one
    // it sees, from before the lambda is made until after it is read. A global: the lambda
    // must reach it before reading anything it carries.
    std::unique_lock handOver(g_handOver);
    QMetaObject::invokeMethod(m_anchor, [this, &promise, port, current, generation] {
        const std::lock_guard received(g_handOver);
        if (!m_host) {
            m_host = new OverlayHost(OverlayFiles(QString::fromLatin1(kBuiltInRoot), m_userOverlays));
            connect(m_host, &OverlayHost::clientCountChanged, m_host, [this](quint64 reported, int count) {
                m_fromHost.post([this, reported, count] {
                    if (reported != m_generation)
                        return;
                    m_clientCount = count;
                    Q_EMIT clientsChanged(count);
                });
            }, Qt::DirectConnection);
        }
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
    QByteArray json = m_live ? m_live->snapshotJson() : QByteArrayLiteral("{}");
    m_bytesSerialised += json.size();
    return json;
}

} // namespace corvane
