// BleBridge against the real helper on the simulated radio, and against scripted helpers
// and other local programs that misbehave: one launch for many callers, one connection, the
// one-time hello, timeouts, the helper's loss and the bridge's stop.

#include "BleAir.h"

#include "base/Log.h"
#include "device/ble/BleBridge.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>

#include <memory>
#include <vector>

#include <signal.h>

using namespace corvane;

namespace {

// Every reply a callback got.
struct Replies {
    QList<BleReply> log;
    BleBridge::ReplyCallback make()
    {
        return [this](const BleReply &reply) { log << reply; };
    }
    bool wait(int count = 1, int timeoutMs = 15000)
    {
        return QTest::qWaitFor([this, count] { return log.size() >= count; }, timeoutMs);
    }
};

QStringList g_logLines;
void captureLog(LogLevel, const char *line)
{
    g_logLines << QString::fromUtf8(line);
}

// A launch log line: "--port N token=TOKEN".
QString argumentsOf(const QString &launch)
{
    return launch.section(QStringLiteral(" token="), 0, 0);
}

quint16 portOf(const QString &launch)
{
    const QStringList args = argumentsOf(launch).split(QLatin1Char(' '));
    return quint16(args.value(args.indexOf(QStringLiteral("--port")) + 1).toUInt());
}

QString tokenOf(const QString &launch)
{
    return launch.section(QStringLiteral(" token="), 1);
}

// A connection to the bridge's port made by some other local program, which sends `bytes`.
std::unique_ptr<QTcpSocket> knock(quint16 port, const QByteArray &bytes = {})
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!BleAir::spin([&] { return socket->state() == QAbstractSocket::ConnectedState; }, 5000))
        return socket;
    socket->write(bytes);
    socket->flush();
    return socket;
}

// Whether the bridge closed `socket` within a few seconds.
bool closedByBridge(QTcpSocket &socket)
{
    return BleAir::spin([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, 5000);
}

} // namespace

class TestBleBridge : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void missingHelper_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("not set") << QString();
        QTest::newRow("no such file") << QStringLiteral("/nonexistent/corvane-ble-helper");
    }
    void missingHelper()
    {
        QFETCH(QString, path);
        BleBridge bridge;
        bridge.setHelperPath(path);
        Replies replies;
        bridge.request(QStringLiteral("start"), {}, replies.make(), 1000);
        QCOMPARE(replies.log.size(), 1);
        QCOMPARE(replies.log.first().code, QStringLiteral("bluetooth_unavailable"));
        QCOMPARE(replies.log.first().message, BleBridge::missingText());
    }

    void twoScansShareOneLaunch()
    {
        g_logLines.clear();
        const LogSink previousSink = setLogSink(captureLog);
        const auto restoreSink = qScopeGuard([previousSink] { setLogSink(previousSink); });
        BleAir air;
        BleBridge bridge;
        bridge.setHelperPath(air.loggingHelper());
        QList<QList<BleDeviceInfo>> results;
        const auto collect = [&results](bool ok, const QList<BleDeviceInfo> &devices, int seen, const QString &, const QString &) {
            QVERIFY(ok);
            QCOMPARE(seen, 6);
            results << devices;
        };
        bridge.scan(100, collect);
        bridge.scan(100, collect);
        QVERIFY(QTest::qWaitFor([&results] { return results.size() == 2; }, 15000));
        QCOMPARE(air.launches().size(), 1);
        // The helper's own Qt messages reach the plugin's log.
        QVERIFY2(BleAir::spin([] { return !g_logLines.filter(QStringLiteral("[corvane] Bluetooth helper: info: corvane-ble-helper started on Qt ")).isEmpty(); }, 5000),
                 qPrintable(g_logLines.join(QLatin1Char('\n'))));
        for (const QList<BleDeviceInfo> &devices : std::as_const(results)) {
            QCOMPARE(devices.size(), 3);
            QCOMPARE(devices.at(2).id, QStringLiteral("C0FFEE000029"));
            QCOMPARE(devices.at(2).name, QStringLiteral("Corvane-0029"));
            QCOMPARE(devices.at(2).rssi, -70);
        }
        // `start` is asked once per helper connection; the next one answers at once.
        Replies again;
        bridge.start(again.make());
        QCOMPARE(again.log.size(), 1);
        QVERIFY(again.log.first().ok);

        // A second connection to the bridge's port is closed; the first one keeps serving.
        QTcpSocket intruder;
        bool accepted = false;
        connect(&intruder, &QTcpSocket::connected, this, [&accepted] { accepted = true; });
        intruder.connectToHost(QHostAddress::LocalHost, portOf(air.launches().first()));
        // The bridge runs on this thread: wait with its events flowing.
        QVERIFY(QTest::qWaitFor([&] { return accepted && intruder.state() == QAbstractSocket::UnconnectedState; }, 5000));
        Replies after;
        bridge.request(QStringLiteral("disconnect"), {}, after.make(), 8000);
        QVERIFY(after.wait());
        QVERIFY(after.log.first().ok);
    }

    // A line of the helper's past the longest the log takes goes in once, cut, not as many.
    void helperLinesReachTheLogCutShort()
    {
        g_logLines.clear();
        const LogSink previousSink = setLogSink(captureLog);
        const auto restoreSink = qScopeGuard([previousSink] { setLogSink(previousSink); });
        BleAir air;
        BleBridge bridge;
        bridge.setHelperPath(air.noisyHelper());
        Replies replies;
        bridge.start(replies.make());
        QVERIFY(replies.wait());
        QVERIFY2(BleAir::spin([] { return !g_logLines.filter(QStringLiteral("corvane-ble-helper started on Qt ")).isEmpty(); }, 5000),
                 qPrintable(g_logLines.join(QLatin1Char('\n'))));
        const QStringList noisy = g_logLines.filter(QStringLiteral("Bluetooth helper: xxx"));
        QCOMPARE(noisy.size(), 1);
        QVERIFY2(noisy.first().endsWith(QStringLiteral("x [cut]")) && noisy.first().size() < 1100, qPrintable(noisy.first().left(80)));
    }

    void wrongHelloFailsAtStartTimeoutAndKills()
    {
        BleAir air;
        BleBridge bridge;
        // The real helper says hello with another token, then something stays running.
        bridge.setHelperPath(air.script(QStringLiteral("wrong-hello"),
                                        QStringLiteral("CORVANE_BLE_TOKEN=wrong '%1' --port \"$2\"\nexec sleep 600").arg(QStringLiteral(CORVANE_BLE_HELPER))));
        bridge.setStartTimeoutForTesting(1500);
        Replies replies;
        bridge.request(QStringLiteral("start"), {}, replies.make(), 30000);
        QVERIFY(QTest::qWaitFor([&bridge] { return bridge.helperProcessId() != 0; }, 5000));
        const qint64 pid = bridge.helperProcessId();
        QVERIFY(replies.wait());
        QCOMPARE(replies.log.size(), 1);
        QCOMPARE(replies.log.first().code, QStringLiteral("bluetooth_unavailable"));
        QCOMPARE(replies.log.first().message, BleBridge::didNotStartText());
        QVERIFY(QTest::qWaitFor([&bridge] { return bridge.helperProcessId() == 0; }, 5000));
        QCOMPARE(::kill(pid_t(pid), 0), -1); // gone
    }

    void exitBeforeHelloFailsAtOnce()
    {
        BleAir air;
        BleBridge bridge;
        bridge.setHelperPath(air.script(QStringLiteral("crashing"), QStringLiteral("exit 127")));
        Replies replies;
        bridge.request(QStringLiteral("start"), {}, replies.make(), 30000);
        // Well before the 20 s start timeout, which stays at its default here.
        QVERIFY(replies.wait(1, 10000));
        QCOMPARE(replies.log.first().message, BleBridge::didNotStartText());
    }

    void replyAfterTimeoutIsDropped()
    {
        BleAir air;
        BleBridge bridge;
        bridge.setHelperPath(QStringLiteral(CORVANE_BLE_HELPER));
        Replies scan;
        bridge.request(QStringLiteral("scan"), QJsonObject{{QStringLiteral("ms"), 800}}, scan.make(), 200);
        QVERIFY(scan.wait());
        QCOMPARE(scan.log.first().code, QStringLiteral("timeout"));
        QCOMPARE(scan.log.first().message, BleBridge::timeoutText());
        // The scan's late reply comes in ahead of this one and must not be taken for it.
        Replies next;
        bridge.request(QStringLiteral("disconnect"), {}, next.make(), 8000);
        QVERIFY(next.wait());
        QVERIFY(next.log.first().ok);
        QCOMPARE(next.log.first().result, QJsonObject());
        QCOMPARE(scan.log.size(), 1);
    }

    void helperLossFailsPendingAndRelaunches()
    {
        BleAir air;
        BleBridge bridge;
        bridge.setHelperPath(air.loggingHelper());
        QSignalSpy stopped(&bridge, &BleBridge::helperStopped);
        Replies started;
        bridge.start(started.make());
        QVERIFY(started.wait());
        QVERIFY(started.log.first().ok);

        Replies scan;
        bridge.request(QStringLiteral("scan"), QJsonObject{{QStringLiteral("ms"), 5000}}, scan.make(), 20000);
        QVERIFY(!air.sim.waitFor(QStringLiteral("BLE-SCAN start")).isEmpty());
        QCOMPARE(::kill(pid_t(bridge.helperProcessId()), SIGKILL), 0);
        QVERIFY(scan.wait());
        QCOMPARE(scan.log.first().code, QStringLiteral("bluetooth_unavailable"));
        QCOMPARE(scan.log.first().message, BleBridge::stoppedText());
        QCOMPARE(stopped.size(), 1);
        QCOMPARE(stopped.first().first().toString(), QStringLiteral("stopped"));

        // The dead helper's token opens nothing: a program that read it cannot take its place.
        const QString first = air.launches().value(0);
        const auto replay = knock(portOf(first), "{\"hello\":\"" + tokenOf(first).toLatin1() + "\"}\n");
        QVERIFY(closedByBridge(*replay));

        // The next caller gets a new helper with a new token, and `start` is asked again.
        Replies restarted;
        bridge.start(restarted.make());
        QVERIFY(restarted.wait());
        QVERIFY(restarted.log.first().ok);
        const QStringList launches = air.launches();
        QCOMPARE(launches.size(), 2);
        QVERIFY(tokenOf(launches.at(0)) != tokenOf(launches.at(1)));
        // The token travels in the helper's environment; its command line is for everyone to read.
        for (const QString &launch : launches) {
            QCOMPARE(argumentsOf(launch), QStringLiteral("--port %1").arg(portOf(launch)));
            QVERIFY(tokenOf(launch).size() >= 16);
        }
        QCOMPARE(stopped.size(), 1);
    }

    // Connections that do not say the hello cannot keep the helper out: one flooding before
    // any line feed and one with a wrong hello are closed at once, a silent one waits, and the
    // first valid hello wins and closes the rest.
    void strangersBeforeTheHelperAreClosed()
    {
        BleAir air;
        BleBridge bridge;
        bridge.setHelperPath(air.gatedHelper());
        Replies started;
        bridge.start(started.make());
        QVERIFY(BleAir::spin([&air] { return !air.launches().isEmpty(); }, 10000));
        const quint16 port = portOf(air.launches().first());
        const auto flooding = knock(port, QByteArray(5000, 'x'));
        const auto silent = knock(port);
        const auto wrong = knock(port, "{\"hello\":\"guess\"}\n");
        QVERIFY(closedByBridge(*flooding));
        QVERIFY(closedByBridge(*wrong));
        QCOMPARE(silent->state(), QAbstractSocket::ConnectedState);
        QVERIFY(started.log.isEmpty());

        air.release();
        QVERIFY(started.wait());
        QVERIFY(started.log.first().ok);
        QVERIFY(closedByBridge(*silent));
        Replies after;
        bridge.request(QStringLiteral("disconnect"), {}, after.make(), 8000);
        QVERIFY(after.wait());
        QVERIFY(after.log.first().ok);
    }

    // Only a few connections are held waiting for their hello: the next is closed at once.
    void strangersAreHeldAFewAtATime()
    {
        BleAir air;
        BleBridge bridge;
        bridge.setHelperPath(air.gatedHelper());
        Replies started;
        bridge.start(started.make());
        QVERIFY(BleAir::spin([&air] { return !air.launches().isEmpty(); }, 10000));
        const quint16 port = portOf(air.launches().first());
        std::vector<std::unique_ptr<QTcpSocket>> held;
        for (int i = 0; i < BleBridge::kMaxCandidates; ++i)
            held.push_back(knock(port));
        const auto oneTooMany = knock(port);
        QVERIFY(closedByBridge(*oneTooMany));
        for (const auto &socket : held)
            QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
    }

    // A launch that ends without a hello closes whatever connected meanwhile and forgets its
    // token: saying it afterwards gets nowhere, and the next request launches afresh.
    void aLaunchWithoutHelloEndsEverything()
    {
        BleAir air;
        BleBridge bridge;
        bridge.setHelperPath(air.silentHelper());
        bridge.setStartTimeoutForTesting(1500);
        Replies replies;
        bridge.request(QStringLiteral("start"), {}, replies.make(), 30000);
        QVERIFY(BleAir::spin([&air] { return !air.launches().isEmpty(); }, 10000));
        const QString launch = air.launches().first();
        const auto silent = knock(portOf(launch));
        QVERIFY(replies.wait());
        QCOMPARE(replies.log.first().message, BleBridge::didNotStartText());
        QVERIFY(closedByBridge(*silent));

        const auto late = knock(portOf(launch), "{\"hello\":\"" + tokenOf(launch).toLatin1() + "\"}\n");
        QVERIFY(closedByBridge(*late));
        // No launch waits now: a connection is not even held to hear what it says.
        const auto idle = knock(portOf(launch));
        QVERIFY(closedByBridge(*idle));
        Replies again;
        bridge.request(QStringLiteral("start"), {}, again.make(), 30000);
        QVERIFY(BleAir::spin([&air] { return air.launches().size() == 2; }, 10000));
        QVERIFY(tokenOf(air.launches().at(1)) != tokenOf(launch));
    }

    // At unload the helper is told to quit and, busy in a long scan, ended before stop()
    // returns; the port closes and stays closed, and no later request launches a helper. A
    // helper still starting is ended.
    void stopLeavesNoHelperAndNoListener()
    {
        BleAir air;
        BleBridge bridge;
        bridge.setHelperPath(air.loggingHelper());
        Replies started;
        bridge.start(started.make());
        QVERIFY(started.wait());
        QVERIFY(started.log.first().ok);
        Replies scanning;
        bridge.request(QStringLiteral("scan"), QJsonObject{{QStringLiteral("ms"), 30000}}, scanning.make(), 45000);
        QVERIFY(!air.sim.waitFor(QStringLiteral("BLE-SCAN start")).isEmpty());
        const qint64 pid = bridge.helperProcessId();
        const quint16 port = portOf(air.launches().first());
        bridge.stop();
        QCOMPARE(bridge.helperProcessId(), 0);
        QCOMPARE(::kill(pid_t(pid), 0), -1);
        Replies late;
        bridge.start(late.make());
        QVERIFY(late.wait());
        QCOMPARE(late.log.first().code, QStringLiteral("bluetooth_unavailable"));
        QCOMPARE(air.launches().size(), 1);
        QVERIFY(scanning.log.isEmpty());
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(!probe.waitForConnected(3000));
        QCOMPARE(probe.error(), QAbstractSocket::ConnectionRefusedError);

        BleBridge starting;
        starting.setHelperPath(air.silentHelper());
        Replies never;
        starting.start(never.make());
        QVERIFY(BleAir::spin([&starting] { return starting.helperProcessId() != 0; }, 10000));
        const qint64 launching = starting.helperProcessId();
        starting.stop();
        QVERIFY(BleAir::spin([&starting] { return starting.helperProcessId() == 0; }, 10000));
        QCOMPARE(::kill(pid_t(launching), 0), -1);
        QVERIFY(never.log.isEmpty());
    }

    void readsLinesLeniently()
    {
        BleAir air;
        BleBridge bridge;
        // A helper that pads its hello, sends blank and non-object lines, events of every
        // kind and replies with parts missing, and at last a line without end.
        bridge.setHelperPath(air.script(QStringLiteral("scripted"), QStringLiteral(
            "exec 3<>/dev/tcp/127.0.0.1/$2\n"
            "printf '  {\"hello\":\"%s\"}  \\n\\nnot json\\n[1]\\n' \"$CORVANE_BLE_TOKEN\" >&3\n"
            "read -r line <&3\n"
            "printf '{\"ev\":\"data\",\"b64\":\"aGk=\"}\\n{\"ev\":\"disconnected\",\"reason\":\"\"}\\n{\"ev\":\"other\"}\\n' >&3\n"
            "printf '{\"reqId\":77,\"ok\":true}\\n{\"reqId\":1,\"ok\":false}\\n' >&3\n"
            "read -r line <&3\n"
            "printf '{\"reqId\":2,\"ok\":true}\\n' >&3\n"
            "read -r line <&3\n"
            "head -c 3000000 /dev/zero | tr '\\0' x >&3\n"
            "exec sleep 600")));
        QSignalSpy data(&bridge, &BleBridge::dataReceived);
        QSignalSpy lost(&bridge, &BleBridge::disconnected);
        Replies first;
        bridge.request(QStringLiteral("start"), {}, first.make(), 5000);
        QVERIFY(first.wait());
        QCOMPARE(first.log.first().code, QStringLiteral("ble_error"));
        QCOMPARE(first.log.first().message, QStringLiteral("Bluetooth error"));
        QCOMPARE(data.size(), 1);
        QCOMPARE(data.first().first().toByteArray(), QByteArray("hi"));
        QCOMPARE(lost.size(), 1);
        QCOMPARE(lost.first().first().toString(), QString());
        Replies second;
        bridge.request(QStringLiteral("disconnect"), {}, second.make(), 5000);
        QVERIFY(second.wait());
        QVERIFY(second.log.first().ok);
        QCOMPARE(second.log.first().result, QJsonObject());
        // A line that never ends is not collected without bound: the connection is given up.
        Replies third;
        bridge.request(QStringLiteral("disconnect"), {}, third.make(), 15000);
        QVERIFY(third.wait(1, 20000));
        QCOMPARE(third.log.first().code, QStringLiteral("bluetooth_unavailable"));
        QCOMPARE(third.log.first().message, BleBridge::stoppedText());
    }

    // Each request line byte for byte: "op", then "reqId", then the op's own fields, no
    // white space; the stop line is the documented one.
    void requestLinesAreExact()
    {
        struct Row {
            const char *op;
            QJsonObject args;
            QByteArray line;
        };
        const QList<Row> rows = {
            {"start", {}, R"({"op":"start","reqId":1})"},
            {"scan", {{QStringLiteral("ms"), 6000}}, R"({"op":"scan","reqId":2,"ms":6000})"},
            {"connect", {{QStringLiteral("id"), QStringLiteral("C0FFEE000029")}}, R"({"op":"connect","reqId":3,"id":"C0FFEE000029"})"},
            {"write", {{QStringLiteral("b64"), QStringLiteral("aGk=")}}, R"({"op":"write","reqId":4,"b64":"aGk="})"},
            {"disconnect", {}, R"({"op":"disconnect","reqId":5})"},
        };
        BleAir air;
        const QString received = air.dir.filePath(QStringLiteral("received"));
        // A helper that writes down every line it gets and answers each in turn.
        BleBridge bridge;
        bridge.setHelperPath(air.script(QStringLiteral("recording"), QStringLiteral(
            "exec 3<>/dev/tcp/127.0.0.1/$2\n"
            "printf '{\"hello\":\"%s\"}\\n' \"$CORVANE_BLE_TOKEN\" >&3\n"
            "n=0\n"
            "while IFS= read -r line <&3; do\n"
            "  printf '%s\\n' \"$line\" >>'") + received + QStringLiteral("'\n"
            "  n=$((n + 1))\n"
            "  printf '{\"reqId\":%d,\"ok\":true}\\n' \"$n\" >&3\n"
            "done\n")));
        for (const Row &row : rows) {
            Replies replies;
            bridge.request(QString::fromLatin1(row.op), row.args, replies.make(), 5000);
            QVERIFY(replies.wait());
            QVERIFY2(replies.log.first().ok, row.op);
        }
        bridge.stop();
        QByteArray expected;
        for (const Row &row : rows)
            expected += row.line + '\n';
        expected += "{\"op\":\"quit\",\"reqId\":0}\n";
        QFile file(received);
        QVERIFY(QTest::qWaitFor([&] { return file.size() >= expected.size(); }, 5000));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), expected);
    }
};

QTEST_GUILESS_MAIN(TestBleBridge)
#include "tst_BleBridge.moc"
