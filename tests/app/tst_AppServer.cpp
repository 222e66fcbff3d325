// App's side of the hosted live-data server: its settings and the requests App answers.
#include "app/App.h"
#include "app/FollowedDevices.h"
#include "app/MakeMain.h"
#include "base/Log.h"
#include "live/HostedServer.h"
#include "live/OverlayServer.h"
#include "support/LineClient.h"
#include "support/TestNetwork.h"
#include "support/TestSettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;
using corvane::test::LineClient;

namespace {

QJsonObject parse(const QByteArray &line) { return QJsonDocument::fromJson(line).object(); }

// Captures what the plugin writes to the OBS log.
struct LogCapture {
    LogCapture() { s_current = this; setLogSink(&LogCapture::handle); }
    ~LogCapture() { setLogSink(nullptr); s_current = nullptr; }
    static void handle(LogLevel level, const char *line) { s_current->lines << qMakePair(level, QString::fromUtf8(line)); }
    static inline LogCapture *s_current = nullptr;
    QList<QPair<LogLevel, QString>> lines;
};

quint16 freePort()
{
    const quint16 port = corvane::test::unusedLocalPort();
    if (port == 0)
        qFatal("no free port");
    return port;
}

void writeSettings(const QString &path, const QJsonObject &settings)
{
    if (!corvane::test::writeTestSettings(path, settings))
        qFatal("cannot write settings");
}

// One GET to the overlay server: the status line and the body, this thread (App's) running
// meanwhile.
QByteArray overlayGet(quint16 port, const QByteArray &path)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\nConnection: close\r\n\r\n");
    QByteArray all;
    QDeadlineTimer deadline(10000);
    while (socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        socket.waitForReadyRead(20);
        all += socket.readAll();
    }
    all += socket.readAll();
    return all.left(all.indexOf("\r\n")) + ' ' + all.mid(all.indexOf("\r\n\r\n") + 4);
}

} // namespace

class TestAppServer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void appAppliesServerSettings()
    {
        QTemporaryDir dir;
        const QString settingsPath = dir.filePath(QStringLiteral("settings.json"));
        const quint16 appPort = freePort();
        writeSettings(settingsPath, {{QStringLiteral("server_enabled"), true}, {QStringLiteral("server_port"), appPort}});

        LogCapture log;
        App app(AppEnvironment{settingsPath, dir.filePath(QStringLiteral("session.json"))});
        QVERIFY(app.server()->isListening());
        QCOMPARE(app.server()->port(), appPort);

        QSignalSpy state(&app, &App::serverStateChanged);
        LineClient client(appPort);
        QTRY_COMPARE(client.lines.size(), 1);
        QCOMPARE(state.size(), 1); // one more client
        app.live().apply({{QStringLiteral("home_score"), 5}});
        QTRY_COMPARE(client.lines.size(), 2);
        QCOMPARE(parse(client.lines.at(1)), app.live().snapshot());

        app.settings().setServerEnabled(false);
        app.applyServerSettings();
        QVERIFY(!app.server()->isListening());
        QVERIFY(state.size() >= 2);

        // Port in use: logged at warning level, still announced, server stays stopped.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        app.settings().setServerEnabled(true);
        app.settings().setServerPort(squatter.serverPort());
        state.clear();
        log.lines.clear();
        app.applyServerSettings();
        QVERIFY(!app.server()->isListening());
        QVERIFY(!state.isEmpty());
        const QString expected = QStringLiteral("[corvane] Could not listen on port %1: ").arg(squatter.serverPort());
        bool logged = false;
        for (const auto &line : std::as_const(log.lines))
            logged = logged || (line.first == LogLevel::Warning && line.second.startsWith(expected));
        QVERIFY2(logged, qPrintable(expected));

        // A port that does not fit in 16 bits must not wrap around to another one.
        app.settings().setServerPort(65536 + 80);
        log.lines.clear();
        app.applyServerSettings();
        QVERIFY(!app.server()->isListening());
        QCOMPARE(log.lines.size(), 1);
        QCOMPARE(log.lines.first().first, LogLevel::Warning);
        QVERIFY(log.lines.first().second.startsWith(QStringLiteral("[corvane] Could not listen on port 65616: ")));

        app.settings().setServerPort(appPort);
        app.applyServerSettings();
        QVERIFY(app.server()->isListening());
    }

    void appAnswersCommands()
    {
        QTemporaryDir dir;
        const quint16 appPort = freePort();
        writeSettings(dir.filePath(QStringLiteral("settings.json")),
                      {{QStringLiteral("server_enabled"), true}, {QStringLiteral("server_port"), appPort}});
        App app(AppEnvironment{dir.filePath(QStringLiteral("settings.json")), QString()});
        app.live().apply({{QStringLiteral("sport"), QStringLiteral("volleyball")}});

        LineClient client(appPort);
        QTRY_COMPARE(client.lines.size(), 1);
        client.take();
        client.send("status\ndevices\n{\"op\":\"use\",\"device\":\"abc\"}\nuse\nx\n");
        QTRY_COMPARE(client.lines.size(), 5);
        QCOMPARE(client.take(), QByteArray(R"({"account":"","device":"","live":false,"message":"","ok":true,"op":"status",)"
                                           R"("signed_in":false,"source":"","sport":"volleyball"})"));
        QCOMPARE(client.take(), QByteArray(R"({"devices":[],"ok":true,"op":"devices"})"));
        QCOMPARE(client.take(), QByteArray(R"({"error":"unknown_device","ok":false,"op":"use"})"));
        QCOMPARE(client.take(), QByteArray(R"({"error":"unknown_device","ok":false,"op":"use"})"));
        QCOMPARE(client.take(), QByteArray(R"({"error":"unknown_op","ok":false,"op":"x"})"));
        QCOMPARE(app.settings().selectedDevice(), QString());
    }

    // A device followed or unfollowed while the servers run reaches their clients: the hosted
    // server lists and serves it, the overlay server serves it, and both let it go; made the
    // main device, it is still served under its id.
    void followedDevicesReachTheServers()
    {
        QTemporaryDir dir;
        const quint16 hostedPort = freePort();
        const quint16 overlayPort = freePort();
        const QString closed = QStringLiteral("http://127.0.0.1:9");
        writeSettings(dir.filePath(QStringLiteral("settings.json")),
                      {{QStringLiteral("server_enabled"), true}, {QStringLiteral("server_port"), hostedPort},
                       {QStringLiteral("overlay_server_enabled"), true}, {QStringLiteral("overlay_server_port"), overlayPort},
                       {QStringLiteral("portal_url"), closed}, {QStringLiteral("downloads_url"), closed}});
        App app(AppEnvironment{dir.filePath(QStringLiteral("settings.json")), QString()});
        QVERIFY(app.overlayServer()->isListening());
        LineClient client(hostedPort);
        QTRY_COMPARE(client.lines.size(), 1);
        client.take();

        FollowedRoute route;
        route.deviceId = QStringLiteral("CV-2");
        route.name = QStringLiteral("Court 2");
        QVERIFY(app.followDevice(route));
        app.liveOf(route.deviceId)->apply({{QStringLiteral("sport"), QStringLiteral("tennis")}, {QStringLiteral("home_score"), 3}});
        const QByteArray snapshot = app.liveOf(route.deviceId)->snapshotJson();
        client.send(R"({"op":"watch","all":true})" "\n");
        QTRY_COMPARE(client.lines.size(), 3);
        QCOMPARE(client.take(), QByteArray(R"json({"devices":[{"id":"","name":"the main device (follows the dock)"},{"id":"CV-2","name":"Court 2"}],"ok":true,"op":"watch"})json"));
        client.take();
        QCOMPARE(client.take(), R"({"device":"CV-2",)" + snapshot.mid(1));
        QCOMPARE(overlayGet(overlayPort, "/live.json?device=CV-2"), "HTTP/1.1 200 OK " + snapshot);

        QVERIFY(app.followed()->unfollow(route.deviceId));
        QTRY_COMPARE(client.lines.size(), 1);
        QCOMPARE(client.take(), QByteArray(R"({"device":"CV-2","error":"device_unfollowed","ok":false})"));
        QVERIFY(overlayGet(overlayPort, "/live.json?device=CV-2").startsWith("HTTP/1.1 404 "));

        // Followed again and made the main device, it is still served under its id.
        QVERIFY(app.followDevice(route));
        client.send(R"({"op":"watch","device":"CV-2"})" "\n");
        QTRY_COMPARE(client.lines.size(), 3);
        client.lines.clear();
        QVERIFY(makeMain(app, route.deviceId));
        app.live().apply({{QStringLiteral("sport"), QStringLiteral("tennis")}, {QStringLiteral("home_score"), 4}});
        QTRY_VERIFY(!client.lines.isEmpty() && client.lines.last() == app.live().snapshotJson());
        QVERIFY(!client.lines.contains(R"({"device":"CV-2","error":"device_unfollowed","ok":false})"));
        QCOMPARE(overlayGet(overlayPort, "/live.json?device=CV-2"), "HTTP/1.1 200 OK " + app.live().snapshotJson());
        // Another made main in its place, it is neither followed nor main: gone.
        app.selectDevice(QStringLiteral("CV-3"));
        QTRY_VERIFY(client.lines.contains(R"({"device":"CV-2","error":"device_unfollowed","ok":false})"));
        QVERIFY(overlayGet(overlayPort, "/live.json?device=CV-2").startsWith("HTTP/1.1 404 "));
    }
};

QTEST_GUILESS_MAIN(TestAppServer)
#include "tst_AppServer.moc"
