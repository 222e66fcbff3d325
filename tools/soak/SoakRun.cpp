// A long run of the plugin core against the simulators: a USB device that sends noise
// between its frames and drops off the line and comes back every few seconds, a device on
// the network that restarts, its secure live feed dropping, the cloud portal failing and
// recovering, 200 hosted-server clients that connect, read, stall and leave, and 100 overlay
// pages that connect, read and leave (some never read, some send too much, some only fetch
// files), with the overlay server turned off and on, and the scores held and resumed, every
// minute. Prints its figures and a last line "soak: PASS" or "soak: FAIL (...)". Run by
// scripts/soak.
#include "cloud/PortalClient.h"
#include "device/DeviceSession.h"
#include "device/lan/HttpLink.h"
#include "device/rpc/RpcClient.h"
#include "device/usb/UsbLink.h"
#include "live/HostedServer.h"
#include "live/LiveData.h"
#include "live/OverlayServer.h"
#include "live/ShownScores.h"
#include "live/SourceManager.h"
#include "support/DevSimProcess.h"
#include "support/PortalSimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebSocket>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_HAS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(CORVANE_HAS_ASAN)
// The sanitizer runtime's count of live heap bytes (its allocator interface; gcc ships no
// header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace corvane;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

// Resident memory of this process in KiB, from /proc.
qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// What the program holds on its heap in KiB: under AddressSanitizer its own count, which
// leaves out the freed blocks it keeps back to catch late uses and its bookkeeping (both
// part of the resident figure); elsewhere the resident memory.
qint64 heldKiB()
{
#if defined(__SANITIZE_ADDRESS__) || defined(CORVANE_HAS_ASAN)
    return qint64(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return residentKiB();
#endif
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

// Something that fails and should come back: counts the outages and the recoveries.
struct Recoveries {
    const char *what;
    int outages = 0;
    int recovered = 0;
    void print() const { std::printf("  %-34s %d of %d recovered\n", what, recovered, outages); }
};

// Hosted-server clients: each connects, then reads for a while or stalls (never reads),
// then leaves and is replaced by a new one.
class ClientChurn : public QObject {
public:
    ClientChurn(quint16 port, int count)
        : m_port(port)
    {
        for (int i = 0; i < count; ++i)
            spawn(i);
    }
    qint64 connections = 0;
    qint64 linesRead = 0;

private:
    void spawn(int slot)
    {
        auto *client = new QTcpSocket(this);
        const bool stalls = QRandomGenerator::global()->bounded(4) == 0;
        ++connections;
        if (!stalls) {
            connect(client, &QTcpSocket::readyRead, client, [this, client] {
                linesRead += client->readAll().count('\n');
                if (QRandomGenerator::global()->bounded(20) == 0)
                    client->write("status\n");
            });
        }
        client->connectToHost(QHostAddress::LocalHost, m_port);
        QTimer::singleShot(int(QRandomGenerator::global()->bounded(1000, 8000)), client, [this, client, slot] {
            client->abort();
            client->deleteLater();
            spawn(slot);
        });
    }
    quint16 m_port;
};

// Overlay pages: most connect to /live and read; some upgrade and never read, some send
// more than a page may, some only fetch a page's files. Each leaves after a while and a new
// one takes its place.
class OverlayChurn : public QObject {
public:
    OverlayChurn(quint16 port, int count)
        : m_port(port)
    {
        for (int i = 0; i < count; ++i)
            spawn();
    }
    qint64 sessions = 0;
    qint64 messagesRead = 0;
    qint64 filesRead = 0;

private:
    void spawn()
    {
        ++sessions;
        const int kind = int(QRandomGenerator::global()->bounded(8));
        QObject *client = kind == 0 ? stalled() : kind == 1 ? chatty() : kind == 2 ? fetcher() : reader();
        QTimer::singleShot(int(QRandomGenerator::global()->bounded(1000, 6000)), this, [this, client] {
            delete client;
            spawn();
        });
    }
    QByteArray head(const QByteArray &path, const QByteArray &extra) const
    {
        return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n" + extra + "\r\n";
    }
    QObject *stalled()
    {
        auto *socket = new QTcpSocket(this);
        socket->setReadBufferSize(1024);
        socket->connectToHost(QHostAddress::LocalHost, m_port);
        socket->write(head("/live", "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                    "Sec-WebSocket-Version: 13\r\n"));
        return socket;
    }
    QObject *fetcher()
    {
        auto *socket = new QTcpSocket(this);
        socket->connectToHost(QHostAddress::LocalHost, m_port);
        socket->write(head("/overlays/scorebug/", {}) + head("/overlays/scorebug/live.js", "Connection: close\r\n"));
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { filesRead += socket->readAll().count("HTTP/1.1 200"); });
        return socket;
    }
    QWebSocket *page()
    {
        auto *socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(m_port)));
        return socket;
    }
    QObject *reader()
    {
        QWebSocket *socket = page();
        connect(socket, &QWebSocket::textMessageReceived, socket, [this] { ++messagesRead; });
        return socket;
    }
    QObject *chatty()
    {
        QWebSocket *socket = page();
        connect(socket, &QWebSocket::connected, socket, [socket] {
            for (int i = 0; i < 2000; ++i)
                socket->sendTextMessage(QStringLiteral("{\"op\":\"status\"}"));
        });
        return socket;
    }
    quint16 m_port;
};

class Soak {
public:
    explicit Soak(int minutes)
        : m_minutes(minutes)
    {
    }

    int run();

private:
    bool setUp();
    void tick();
    void cycleUsb();
    void cycleLan();
    void dropFeed();
    void failPortal();
    void everyMinute(int minute);
    bool snapshotMatchesDevice();

    int m_minutes;
    QTemporaryDir m_dir;
    std::unique_ptr<DevSimProcess> m_usbSim;
    std::unique_ptr<DevSimProcess> m_lanSim;
    PortalSimProcess m_portalSim;
    PortalClient m_portal;
    LiveData m_usbLive;
    LiveData m_lanLive;
    LiveData m_cloudLive;
    std::unique_ptr<SourceManager> m_usbRoute;
    std::unique_ptr<SourceManager> m_lanRoute;
    std::unique_ptr<SourceManager> m_cloudRoute;
    std::unique_ptr<DeviceSession> m_usbSession;
    std::unique_ptr<DeviceSession> m_lanSession;
    std::unique_ptr<HostedServer> m_server;
    std::unique_ptr<ClientChurn> m_clients;
    std::unique_ptr<ShownScores> m_shown;
    std::unique_ptr<OverlayServer> m_overlays;
    std::unique_ptr<OverlayChurn> m_pages;
    quint16 m_overlayPort = 0;
    int m_overlayRestarts = 0;
    int m_overlayRestartFailures = 0;
    QString m_lanAddress;
    quint16 m_feedPort = 0;
    Recoveries m_usb{"USB unplug and replug"};
    Recoveries m_lan{"network device restart"};
    Recoveries m_feed{"live feed drop"};
    Recoveries m_cloud{"portal outage"};
};

bool Soak::setUp()
{
    m_usbSim = std::make_unique<DevSimProcess>(QStringList{
        key("--noise"), key("--sport"), key("basketball"), key("--live-ms"), key("200"), key("--restart-ms"), key("800"), key("--password"), key("mapleguard"),
        key("--pty-link"), m_dir.filePath(key("ttyUSB"))});
    m_lanSim = std::make_unique<DevSimProcess>(QStringList{
        key("--password"), key("mapleguard"), key("--sport"), key("hockey"), key("--http-port"), key("0"), key("--feed-port"), key("0"),
        key("--restart-ms"), key("1500"), key("--pty-link"), m_dir.filePath(key("ttyLAN"))});
    m_lanAddress = m_lanSim->waitFor(key("HTTP ")).mid(5);
    m_feedPort = quint16(m_lanSim->waitFor(key("FEED ")).mid(5).toUInt());
    if (m_portalSim.start().isEmpty() || m_lanAddress.isEmpty() || m_feedPort == 0)
        return false;

    m_portal.setBaseUrl(m_portalSim.url());
    m_portal.signIn(key("operator@example.com"), key("correct horse battery"), [](const PortalResult &) {});
    if (!waitUntil([&] { return m_portal.isSignedIn(); }, 10000))
        return false;

    m_usbSession = std::make_unique<DeviceSession>(new UsbLink(m_usbSim->ptyPath()));
    m_usbRoute = std::make_unique<SourceManager>(&m_portal, &m_usbLive);
    m_usbRoute->useDevice(m_usbSession.get(), key("USB device"));
    m_usbSession->start();

    m_lanSession = std::make_unique<DeviceSession>(new HttpLink(m_lanAddress));
    m_lanSession->start();
    if (!waitUntil([&] { return m_usbSession->state() == DeviceSession::Ready && m_lanSession->state() == DeviceSession::Ready; }, 20000))
        return false;
    QString token;
    m_lanSession->ensureApiToken([&](bool ok, const QString &value, const QString &) { token = ok ? value : key("-"); });
    if (!waitUntil([&] { return !token.isEmpty(); }, 10000) || token == key("-"))
        return false;
    m_lanRoute = std::make_unique<SourceManager>(&m_portal, &m_lanLive);
    m_lanRoute->setFeedPortForTests(m_feedPort);
    m_lanRoute->useLan(key("CV-LAN"), {key("127.0.0.1"), token, key("Gym")});

    m_cloudRoute = std::make_unique<SourceManager>(&m_portal, &m_cloudLive);
    m_cloudRoute->useCloud(key("CV-1001"));

    m_server = std::make_unique<HostedServer>(&m_usbLive);
    QObject::connect(&m_usbLive, &LiveData::changed, m_server.get(), &HostedServer::broadcast);
    m_server->setHandler([this](const QString &, const QJsonObject &) {
        return QJsonObject{{key("live"), m_usbRoute->isLive()}, {key("message"), m_usbRoute->message()}};
    });
    QString error;
    if (!m_server->start(0, false, &error))
        return false;
    m_clients = std::make_unique<ClientChurn>(m_server->port(), 200);

    m_shown = std::make_unique<ShownScores>(&m_usbLive);
    m_overlays = std::make_unique<OverlayServer>(&m_usbLive, m_shown.get(), m_dir.filePath(key("overlays")));
    QObject::connect(m_shown.get(), &ShownScores::changed, m_overlays.get(), &OverlayServer::broadcast);
    if (!m_overlays->start(0, &error))
        return false;
    m_overlayPort = m_overlays->port();
    m_pages = std::make_unique<OverlayChurn>(m_overlayPort, 100);
    return waitUntil([&] { return m_usbRoute->isLive() && m_lanRoute->isLive() && m_cloudRoute->isLive(); }, 20000);
}

// The operator turns the overlay server off and on, and holds the scores for a while.
void Soak::everyMinute(int minute)
{
    ++m_overlayRestarts;
    m_overlays->stop();
    QString error;
    if (!m_overlays->start(m_overlayPort, &error)) {
        ++m_overlayRestartFailures;
        std::printf("  overlay restart in minute %d: %s\n", minute, qUtf8Printable(error));
    }
    m_shown->hold();
    QTimer::singleShot(5000, m_shown.get(), [shown = m_shown.get()] { shown->resume(); });
}

// The USB device drops off the line and comes back under the same name.
void Soak::cycleUsb()
{
    ++m_usb.outages;
    if (!m_usbSim->command(key("restart")))
        return;
    if (!waitUntil([&] { return m_usbSession->state() == DeviceSession::Lost; }, 10000))
        return;
    if (m_usbSim->waitFor(key("PTY "), 10000).isEmpty())
        return;
    m_usbSession->start();
    if (waitUntil([&] { return m_usbSession->state() == DeviceSession::Ready && m_usbRoute->isLive(); }, 15000))
        ++m_usb.recovered;
}

// The network device restarts on request. Its answer never comes (the connection drops
// with the restart), and the session signs in again by itself once the device is back.
void Soak::cycleLan()
{
    ++m_lan.outages;
    m_lanSim->take(key("WEB "));
    bool rebooted = false;
    m_lanSession->reboot([&](bool ok, const QString &) { rebooted = ok; });
    if (!waitUntil([&] { return rebooted; }, 30000) || m_lanSim->waitFor(key("DOWN"), 10000).isEmpty())
        return;
    if (m_lanSim->waitFor(key("WEB POST /login "), 30000).isEmpty())
        return;
    if (waitUntil([&] { return m_lanSession->state() == DeviceSession::Ready; }, 10000))
        ++m_lan.recovered;
}

void Soak::dropFeed()
{
    ++m_feed.outages;
    if (!m_lanSim->command(key("feed-drop")))
        return;
    if (!waitUntil([&] { return !m_lanRoute->isLive(); }, 5000))
        return;
    m_lanSim->command(key("live"));
    if (waitUntil([&] { return m_lanRoute->isLive(); }, 20000))
        ++m_feed.recovered;
}

void Soak::failPortal()
{
    ++m_cloud.outages;
    m_portalSim.behave({{key("status"), 502}, {key("code"), key("gateway_unreachable")}, {key("path"), key("/devices/CV-1001/state")}});
    if (!waitUntil([&] { return !m_cloudRoute->isLive(); }, 10000))
        return;
    QTest::qWait(3000);
    m_portalSim.reset();
    if (waitUntil([&] { return m_cloudRoute->isLive(); }, 15000))
        ++m_cloud.recovered;
}

// The live data of the USB route against the device's own game state, read once the
// device has stopped sending.
bool Soak::snapshotMatchesDevice()
{
    if (!m_usbSim->command(key("rate 0")) || !m_usbSim->command(key("live")))
        return false;
    QTest::qWait(500);
    QJsonObject state;
    bool answered = false;
    m_usbSession->rpc()->call(key("getState"), {}, [&](const RpcResult &r) {
        state = r.result;
        answered = r.ok;
    }, 6000);
    if (!waitUntil([&] { return answered; }, 8000))
        return false;
    LiveData device;
    device.apply(state);
    const QJsonObject ours = m_usbLive.snapshot().value(key("fields")).toObject();
    const QJsonObject theirs = device.snapshot().value(key("fields")).toObject();
    if (ours != theirs)
        std::printf("  last snapshot: %s\n  device state:  %s\n", QJsonDocument(ours).toJson(QJsonDocument::Compact).constData(),
                    QJsonDocument(theirs).toJson(QJsonDocument::Compact).constData());
    return !theirs.isEmpty() && ours == theirs;
}

int Soak::run()
{
    if (!setUp()) {
        std::printf("soak: FAIL (the set-up did not reach live data on every route)\n");
        return 1;
    }
    std::printf("soak: running %d minutes\n", m_minutes);
    std::fflush(stdout);
    QElapsedTimer clock;
    clock.start();
    qint64 minuteOne = -1;
    qint64 residentMinuteOne = -1;
    const qint64 end = qint64(m_minutes) * 60000;
    // One disturbance after another, the USB line most often.
    const std::vector<std::function<void()>> round = {
        [this] { cycleUsb(); }, [this] { dropFeed(); }, [this] { cycleUsb(); }, [this] { failPortal(); },
        [this] { cycleUsb(); }, [this] { cycleLan(); },
    };
    size_t next = 0;
    int minute = 0;
    while (clock.elapsed() < end) {
        if (clock.elapsed() / 60000 > minute)
            everyMinute(++minute);
        round.at(next++ % round.size())();
        QTest::qWait(int(QRandomGenerator::global()->bounded(2000, 4000)));
        m_usbSim->take(key("LIVE "));
        m_lanSim->take(key("LIVE "));
        m_lanSim->take(key("WEB "));
        if (minuteOne < 0 && clock.elapsed() >= 60000) {
            minuteOne = heldKiB();
            residentMinuteOne = residentKiB();
        }
    }
    const bool matches = snapshotMatchesDevice();
    const qint64 last = heldKiB();
    const qint64 residentLast = residentKiB();
    const double growth = minuteOne > 0 ? 100.0 * double(last - minuteOne) / double(minuteOne) : 0.0;

    std::printf("soak: figures after %lld s\n", clock.elapsed() / 1000);
    std::printf("  %-34s %lld KiB after minute one, %lld KiB at the end (%+.1f%%)\n", "heap in use", minuteOne, last, growth);
    std::printf("  %-34s %lld KiB after minute one, %lld KiB at the end\n", "resident memory (with sanitizer)", residentMinuteOne,
                residentLast);
    for (const Recoveries *r : {&m_usb, &m_lan, &m_feed, &m_cloud})
        r->print();
    std::printf("  %-34s %lld connections, %lld lines read\n", "hosted-server clients", m_clients->connections, m_clients->linesRead);
    std::printf("  %-34s %s\n", "last snapshot equals the device", matches ? "yes" : "no");
    // The pages leave; every WebSocket client must be let go of.
    const qint64 sessions = m_pages->sessions, messages = m_pages->messagesRead, files = m_pages->filesRead;
    m_pages.reset();
    const bool overlaysEmpty = waitUntil([&] { return m_overlays->clientCount() == 0; }, 10000);
    const int overlayClients = m_overlays->clientCount();
    std::printf("  %-34s %lld sessions, %lld messages and %lld files read, %d restarts (%d failed), %d clients at the end\n",
                "overlay pages", sessions, messages, files, m_overlayRestarts, m_overlayRestartFailures, overlayClients);

    QStringList failures;
    if (minuteOne <= 0)
        failures << key("ran less than a minute");
    else if (growth > 5.0)
        failures << key("memory grew more than 5%");
    for (const Recoveries *r : {&m_usb, &m_lan, &m_feed, &m_cloud}) {
        if (r->recovered != r->outages)
            failures << QString::fromLatin1(r->what) + key(" did not always recover");
    }
    if (!matches)
        failures << key("last snapshot differs from the device");
    if (!overlaysEmpty)
        failures << key("overlay clients left at the end");
    if (m_overlayRestartFailures > 0)
        failures << key("the overlay server did not always start again");
    // Sanitizer reports abort the process before this line; scripts/soak counts them.
    if (failures.isEmpty())
        std::printf("soak: PASS\n");
    else
        std::printf("soak: FAIL (%s)\n", qUtf8Printable(failures.join(key("; "))));
    m_clients.reset();
    m_server.reset();
    m_overlays.reset();
    return failures.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10;
    if (minutes < 1) {
        std::fprintf(stderr, "usage: corvane-soak [MINUTES]\n");
        return 2;
    }
    Soak soak(minutes);
    return soak.run();
}
