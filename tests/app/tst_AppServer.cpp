// App's side of the hosted live-data server: its settings and the requests App answers.
#include "app/App.h"
#include "base/Log.h"
#include "live/HostedServer.h"
#include "support/LineClient.h"
#include "support/TestNetwork.h"
#include "support/TestSettings.h"

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
};

QTEST_GUILESS_MAIN(TestAppServer)
#include "tst_AppServer.moc"
