// End-to-end latency of a live update: from corvane-devsim writing a live message (its pty
// for USB, its TLS feed for the local network) to a hosted-server client reading the line,
// through a real App with a USB device session (its serial port polled every 15 ms as before,
// then read as bytes arrive), then with the device's feed on the local network, then with
// cloud polling against corvane-portal-sim. The simulators stamp each message with their
// monotonic clock ("sim_sent_us"), so the reader, on the same machine, takes the
// difference. Prints figures; never fails on them.
#include "Figures.h"
#include "app/App.h"
#include "device/DeviceSession.h"
#include "device/usb/SerialPort.h"
#include "device/usb/UsbLink.h"
#include "live/HostedServer.h"
#include "live/SourceManager.h"
#include "support/DevSimProcess.h"
#include "support/PortalSimProcess.h"
#include "support/TestNetwork.h"
#include "support/TestSettings.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <atomic>
#include <memory>
#include <cstdio>
#include <mutex>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace corvane;

namespace {

qint64 monotonicUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

// A hosted-server client on its own thread, as another program would be: reads lines and
// notes, for each stamp seen for the first time, how long ago the simulator wrote it.
class StampReader {
public:
    explicit StampReader(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            std::perror("connect");
            std::exit(1);
        }
        m_thread = std::thread([this] { run(); });
    }
    ~StampReader()
    {
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    // Starts a new series.
    void reset()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_latenciesMs.clear();
    }
    size_t count()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_latenciesMs.size();
    }
    std::vector<double> latencies()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_latenciesMs;
    }

private:
    void run()
    {
        QByteArray pending;
        char buffer[65536];
        for (;;) {
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                return;
            const qint64 now = monotonicUs();
            pending.append(buffer, got);
            qsizetype newline;
            while ((newline = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(newline);
                pending.remove(0, newline + 1);
                const qint64 stamp = QJsonDocument::fromJson(line).object().value(QLatin1String("fields")).toObject()
                                         .value(QLatin1String("sim_sent_us")).toString().toLongLong();
                if (stamp <= 0 || !m_seen.insert(stamp).second)
                    continue;
                std::lock_guard<std::mutex> guard(m_lock);
                m_latenciesMs.push_back(double(now - stamp) / 1000.0);
            }
        }
    }

    int m_fd = -1;
    std::thread m_thread;
    std::set<qint64> m_seen;
    std::mutex m_lock;
    std::vector<double> m_latenciesMs;
};

// Runs the event loop as OBS does, waiting in it for the next event: QTest::qWaitFor sleeps
// 10 ms between its rounds, and whatever arrives meanwhile would wait for the round.
bool collect(StampReader &reader, size_t updates, int timeoutMs)
{
    reader.reset();
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (reader.count() >= updates)
            loop.quit();
    });
    check.start(100);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return reader.count() >= updates;
}

void print(const char *route, const std::vector<double> &latencies)
{
    const bench::Figures f = bench::summarize(latencies);
    std::printf("  %-22s %5zu updates  median %6.2f  p99 %6.2f  mean %6.2f  min %6.2f  max %6.2f ms\n", route, latencies.size(),
                f.median, f.p99, f.mean, f.min, f.max);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const size_t updates = argc > 1 ? size_t(atoi(argv[1])) : 1000;
    const int intervalMs = 20;
    QTemporaryDir dir;
    DevSimProcess sim({QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--feed-port"), QStringLiteral("0"),
                       QStringLiteral("--live-ms"), QString::number(intervalMs), QStringLiteral("--live-stamp"),
                       QStringLiteral("--sport"), QStringLiteral("basketball")});
    const quint16 feedPort = quint16(sim.waitFor(QStringLiteral("FEED ")).mid(5).toUInt());

    const quint16 serverPort = test::unusedLocalPort();
    const QString settings = dir.filePath(QStringLiteral("settings.json"));
    test::writeTestSettings(settings, {{QStringLiteral("server_enabled"), true}, {QStringLiteral("server_port"), serverPort}});
    App app(AppEnvironment{settings, dir.filePath(QStringLiteral("session.json"))});
    if (!app.server()->isListening()) {
        std::fprintf(stderr, "the hosted server did not start\n");
        return 1;
    }

    StampReader reader(serverPort);
    const int timeoutMs = int(updates) * intervalMs * 3 + 20000;
    std::printf("Live update latency, device writes a message every %d ms, until a hosted-server client has the line:\n",
                intervalMs);

    // Over USB twice: the serial port polled every 15 ms as before (and as on Windows), then
    // read as bytes arrive. The second session stays for the local-network part.
    std::unique_ptr<DeviceSession> session;
    for (const SerialPort::ReadMode mode : {SerialPort::ReadMode::Polled, SerialPort::ReadMode::Notified}) {
        if (session)
            app.sourceManager()->stop();
        session = std::make_unique<DeviceSession>(new UsbLink(sim.ptyPath(), nullptr, mode));
        session->start();
        if (!QTest::qWaitFor([&] { return session->state() == DeviceSession::Ready; }, 20000)) {
            std::fprintf(stderr, "the USB session did not become ready\n");
            return 1;
        }
        app.sourceManager()->useDevice(session.get(), QStringLiteral("USB device"));
        if (!collect(reader, updates, timeoutMs)) {
            std::fprintf(stderr, "USB: only %zu updates arrived\n", reader.count());
            return 1;
        }
        print(mode == SerialPort::ReadMode::Polled ? "USB, polled (before)" : "USB, as bytes arrive", reader.latencies());
    }

    QString token;
    bool done = false;
    session->ensureApiToken([&](bool ok, const QString &value, const QString &) {
        if (ok)
            token = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000) || token.isEmpty()) {
        std::fprintf(stderr, "no feed token from the device\n");
        return 1;
    }
    app.sourceManager()->setFeedPortForTests(feedPort);
    app.sourceManager()->useLan(QStringLiteral("CV-SIM"), LanRoute{QStringLiteral("127.0.0.1"), token, QStringLiteral("Simulator")});
    if (!collect(reader, updates, timeoutMs)) {
        std::fprintf(stderr, "local network: only %zu updates arrived\n", reader.count());
        return 1;
    }
    print("local-network TLS feed", reader.latencies());
    app.sourceManager()->stop();

    // Cloud polling: the portal's state changes once a second and is read every second, so
    // fewer updates (second argument, default 60) give a fair picture in a minute.
    const size_t cloudUpdates = argc > 2 ? size_t(atoi(argv[2])) : 60;
    test::PortalSimProcess portal;
    const QByteArray cookie = "bench-latency";
    if (portal.start({QStringLiteral("--session"), QStringLiteral("solo@example.com=") + QString::fromLatin1(cookie),
                      QStringLiteral("--live-stamp")}).isEmpty()) {
        std::fprintf(stderr, "the portal simulator did not start\n");
        return 1;
    }
    const quint16 cloudServerPort = test::unusedLocalPort();
    const QString cloudSettings = dir.filePath(QStringLiteral("cloud-settings.json"));
    const QString cloudSession = dir.filePath(QStringLiteral("cloud-session.json"));
    test::writeTestSettings(cloudSettings, {{QStringLiteral("server_enabled"), true},
                                            {QStringLiteral("server_port"), cloudServerPort},
                                            {QStringLiteral("portal_url"), portal.url()}});
    QFile sessionFile(cloudSession);
    if (!sessionFile.open(QIODevice::WriteOnly))
        return 1;
    sessionFile.write("[\"corvane_session=" + cookie + "; expires=Fri, 01-Jan-2100 00:00:00 GMT; domain=127.0.0.1; path=/\"]\n");
    sessionFile.close();
    App cloudApp(AppEnvironment{cloudSettings, cloudSession});
    StampReader cloudReader(cloudServerPort);
    if (!QTest::qWaitFor([&] { return cloudApp.sourceManager()->isLive(); }, 20000)) {
        std::fprintf(stderr, "cloud polling did not go live: %s\n", qPrintable(cloudApp.sourceManager()->message()));
        return 1;
    }
    if (!collect(cloudReader, cloudUpdates, int(cloudUpdates) * 3000 + 20000)) {
        std::fprintf(stderr, "cloud: only %zu updates arrived\n", cloudReader.count());
        return 1;
    }
    std::printf("Cloud polling (state changes every second, polled every second):\n");
    print("cloud polling", cloudReader.latencies());
    return 0;
}
