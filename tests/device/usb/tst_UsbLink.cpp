#include "device/rpc/RpcClient.h"
#include "device/rpc/RpcTransport.h"
#include "device/usb/CloudRelay.h"
#include "device/usb/RelayTargets.h"
#include "device/usb/StreamRelay.h"
#include "device/usb/UsbLink.h"
#include "support/DevSimProcess.h"
#include "support/RpcWait.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace corvane;
using test::callAndWait;

namespace {

const QString NoResponse = QStringLiteral(
    "This USB port did not answer like a Corvane device. Check the cable and that the device has finished starting.");

QStringList quiet(QStringList extra = {})
{
    return QStringList{QStringLiteral("--live-ms"), QStringLiteral("0")} + extra;
}

// A link on the simulator's pty with its signals recorded.
struct Fixture {
    explicit Fixture(const QStringList &simArguments, UsbLink::Timing timing = {})
        : sim(simArguments)
        , link(sim.ptyPath())
        , opened(&link, &DeviceLink::opened)
        , closed(&link, &DeviceLink::closed)
        , failed(&link, &DeviceLink::failed)
        , envelopes(&link, &DeviceLink::envelope)
    {
        link.setTimingForTests(timing);
    }
    bool openAndWait()
    {
        link.open();
        return QTest::qWaitFor([this] { return opened.count() > 0 || failed.count() > 0; }, 10000) && opened.count() == 1;
    }
    QJsonObject openedInfo() const { return opened.at(0).at(0).toJsonObject(); }

    DevSimProcess sim;
    UsbLink link;
    QSignalSpy opened;
    QSignalSpy closed;
    QSignalSpy failed;
    QSignalSpy envelopes;
};

struct ReceiverAnswer {
    int calls = 0;
    bool ok = false;
    QString key;
    QString error;
    UsbLink::ReceiverCallback callback()
    {
        return [this](bool success, const QString &k, const QString &e) {
            ++calls;
            ok = success;
            key = k;
            error = e;
        };
    }
};

// Tunnel frames the simulator saw: their sizes, arrival times and the bytes they carried.
struct TunnelFrames {
    explicit TunnelFrames(const QStringList &lines)
    {
        for (const QString &line : lines) {
            const QStringList parts = line.split(QLatin1Char(' '));
            sizes << parts.value(1).toInt();
            times << parts.value(2).toLongLong();
            bytes += QByteArray::fromBase64(parts.value(3).toLatin1());
        }
    }
    QList<int> sizes;
    QList<qint64> times;
    QByteArray bytes;
};

} // namespace

class TestUsbLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The simulator's cloud stand-ins listen on loopback.
    void initTestCase() { RelayTargets::setLoopbackAllowedForTesting(true); }

    void helloAnsweredAtOnceOpensOnce()
    {
        UsbLink::Timing timing;
        timing.helloIntervalMs = 100;
        timing.pingIntervalMs = 150;
        Fixture f(quiet({QStringLiteral("--cloud-echo"), QStringLiteral("--ota-size"), QStringLiteral("100")}), timing);
        QCOMPARE(f.link.kind(), QStringLiteral("usb"));
        QVERIFY(!f.link.needsPolling());
        QVERIFY(!f.link.rpcTransport()->isConnected());
        QVERIFY(f.openAndWait());
        QVERIFY(f.link.rpcTransport()->isConnected());
        const QJsonObject info = f.openedInfo();
        QCOMPARE(info.value(QLatin1String("t")).toString(), QStringLiteral("hello"));
        QCOMPARE(info.value(QLatin1String("device_id")).toString(), QStringLiteral("CVSIM-0001"));
        QCOMPARE(f.link.tunnelInfo().value(QLatin1String("host")).toString(), QStringLiteral("127.0.0.1"));
        QVERIFY(f.link.cloudRelay()->targetValid());
        QCOMPARE(f.link.streamRelay()->routeNames(), QStringList{QStringLiteral("ota")});

        // Answered at once: no hello goes out again, whatever the timer does meanwhile.
        QTest::qWait(400);
        QCOMPARE(f.sim.take(QStringLiteral("CTRL {\"streams\":1,\"t\":\"hello\"}")).size(), 1);

        // A later answer updates the routes without a second opened.
        QVERIFY(f.sim.command(QStringLiteral("hello")));
        QTest::qWait(200);
        QCOMPARE(f.opened.count(), 1);
        QCOMPARE(f.failed.count(), 0);

        // Pings keep going while the port is open.
        QVERIFY(!f.sim.waitFor(QStringLiteral("CTRL {\"t\":\"ping\"}"), 2000).isEmpty());

        // close() is silent and takes the transport down with the port.
        f.link.close();
        QVERIFY(!f.link.rpcTransport()->isConnected());
        QTest::qWait(100);
        QCOMPARE(f.closed.count(), 0);
    }

    void helloNeverAnsweredGivesUpOnceAndStillOpensLate()
    {
        UsbLink::Timing timing;
        timing.helloIntervalMs = 100;
        timing.helloGiveUpMs = 450;
        Fixture f(quiet({QStringLiteral("--silent")}), timing);
        f.link.open();
        QTRY_COMPARE_WITH_TIMEOUT(f.failed.count(), 1, 5000);
        QCOMPARE(f.failed.at(0).at(0).toString(), QStringLiteral("no_response"));
        QCOMPARE(f.failed.at(0).at(1).toString(), NoResponse);
        QCOMPARE(f.opened.count(), 0);
        // The first hello and the resends within the give-up time, then no more.
        const int hellos = f.sim.take(QStringLiteral("CTRL {\"streams\":1,\"t\":\"hello\"}")).size();
        QVERIFY2(hellos >= 3, qPrintable(QString::number(hellos)));
        QTest::qWait(400);
        QCOMPARE(f.sim.take(QStringLiteral("CTRL {\"streams\":1,\"t\":\"hello\"}")).size(), 0);
        QCOMPARE(f.failed.count(), 1);
        QVERIFY(f.link.rpcTransport()->isConnected());

        // The port stayed open, so a late answer still opens the link.
        QVERIFY(f.sim.command(QStringLiteral("hello")));
        QTRY_COMPARE(f.opened.count(), 1);
        // This device names no tunnel (empty host, port 0): the relay has no target.
        QVERIFY(!f.link.cloudRelay()->targetValid());
    }

    void openFailureIsReported()
    {
        UsbLink link(QStringLiteral("/dev/corvane-no-such-port"));
        QSignalSpy failed(&link, &DeviceLink::failed);
        link.open();
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("open_failed"));
        QVERIFY(failed.at(0).at(1).toString().startsWith(QStringLiteral("Could not open the USB port (error ")));

        // A port held by another link is "in use".
        DevSimProcess sim(quiet());
        UsbLink first(sim.ptyPath());
        first.open();
        UsbLink second(sim.ptyPath());
        QSignalSpy secondFailed(&second, &DeviceLink::failed);
        second.open();
        QCOMPARE(secondFailed.count(), 1);
        QCOMPARE(secondFailed.at(0).at(1).toString(),
                 QStringLiteral("That USB port is in use by another program (close any serial monitor)."));
    }

    void receiverAnswersHelloWithStatus()
    {
        Fixture f(quiet({QStringLiteral("--mode"), QStringLiteral("receiver")}));
        QSignalSpy updates(&f.link, &UsbLink::receiverUpdated);
        QVERIFY(f.openAndWait());
        const QJsonObject info = f.openedInfo();
        QCOMPARE(info.value(QLatin1String("receiver")).toBool(), true);
        QCOMPARE(info.value(QLatin1String("t")).toString(), QStringLiteral("rx_status"));
        QCOMPARE(updates.count(), 1);
        // The stored status is the receiver's own message, without the added flag.
        QVERIFY(!f.link.receiverStatus().contains(QLatin1String("receiver")));
        QCOMPARE(f.link.receiverStatus().value(QLatin1String("channel")).toInt(), 6);
        QVERIFY(!f.link.cloudRelay()->targetValid());
    }

    void receiverPairingRequests()
    {
        UsbLink::Timing timing;
        timing.receiverTimeoutMs = 300;
        Fixture f(quiet({QStringLiteral("--mode"), QStringLiteral("receiver")}), timing);
        QVERIFY(f.openAndWait());

        ReceiverAnswer generated;
        f.link.setReceiver(QString(), true, 0, generated.callback());
        // One request at a time.
        ReceiverAnswer second;
        f.link.setReceiver(QStringLiteral("abcdefgh"), false, 0, second.callback());
        QCOMPARE(second.calls, 1);
        QCOMPARE(second.error, QStringLiteral("Another receiver request is still in progress"));
        QTRY_COMPARE(generated.calls, 1);
        QVERIFY(generated.ok);
        QCOMPARE(generated.key.size(), 32);
        QVERIFY(!f.sim.waitFor(QStringLiteral("CTRL {\"generate_key\":true,\"t\":\"rx_set\"}")).isEmpty());

        // The key goes out trimmed.
        ReceiverAnswer keyed;
        f.link.setReceiver(QStringLiteral("  0123456789ab \n"), false, 0, keyed.callback());
        QTRY_COMPARE(keyed.calls, 1);
        QVERIFY(keyed.ok);
        QCOMPARE(keyed.key, QStringLiteral("0123456789ab"));
        QVERIFY(!f.sim.waitFor(QStringLiteral("CTRL {\"key\":\"0123456789ab\",\"t\":\"rx_set\"}")).isEmpty());

        // A refusal carries the receiver's reason.
        ReceiverAnswer refused;
        f.link.setReceiver(QStringLiteral("short"), false, 0, refused.callback());
        QTRY_COMPARE(refused.calls, 1);
        QVERIFY(!refused.ok);
        QCOMPARE(refused.error, QStringLiteral("The key must have at least 8 characters"));

        // Nothing to send: refused at once, nothing written.
        ReceiverAnswer nothing;
        f.link.setReceiver(QStringLiteral("   "), false, 11, nothing.callback());
        QCOMPARE(nothing.calls, 1);
        QCOMPARE(nothing.error, QStringLiteral("Give a key, ask for a new key, or choose a channel"));

        // "rx_error" is a refusal even with "ok": true; without "error" the text is ours.
        QVERIFY(f.sim.command(QStringLiteral("silent on")));
        ReceiverAnswer odd;
        f.link.setReceiver(QStringLiteral("abcdefghij"), false, 0, odd.callback());
        QVERIFY(f.sim.command(QStringLiteral("raw 3 {\"t\":\"rx_error\",\"ok\":true}")));
        QTRY_COMPARE(odd.calls, 1);
        QVERIFY(!odd.ok);
        QCOMPARE(odd.error, QStringLiteral("The receiver refused the settings"));

        // A silent receiver: the deadline answers.
        ReceiverAnswer silent;
        f.link.setReceiver(QStringLiteral("abcdefghij"), false, 0, silent.callback());
        QTRY_COMPARE(silent.calls, 1);
        QVERIFY(!silent.ok);
        QCOMPARE(silent.error, QStringLiteral("The receiver did not answer"));

        // An answer with nothing pending is ignored.
        QVERIFY(f.sim.command(QStringLiteral("raw 3 {\"t\":\"rx_set\",\"ok\":true,\"key\":\"zzzzzzzz\"}")));
        QTest::qWait(100);
        QCOMPARE(silent.calls, 1);

        // close() leaves a pending request to its deadline; a closed port sends nothing.
        ReceiverAnswer pendingAtClose;
        f.link.setReceiver(QStringLiteral("abcdefghij"), false, 0, pendingAtClose.callback());
        f.link.close();
        QTRY_COMPARE(pendingAtClose.calls, 1);
        QCOMPARE(pendingAtClose.error, QStringLiteral("The receiver did not answer"));
        ReceiverAnswer whileClosed;
        f.link.setReceiver(QStringLiteral("abcdefghij"), false, 0, whileClosed.callback());
        QTRY_COMPARE(whileClosed.calls, 1);
        QCOMPARE(whileClosed.error, QStringLiteral("The receiver did not answer"));
        // Sent: the refused, the silent and the one pending at close; not the one made while closed.
        QCOMPARE(f.sim.take(QStringLiteral("CTRL {\"key\":\"abcdefghij\"")).size(), 3);
    }

    void destroyingTheLinkDropsAPendingReceiverCallback()
    {
        DevSimProcess sim(quiet({QStringLiteral("--mode"), QStringLiteral("receiver"), QStringLiteral("--silent")}));
        int calls = 0;
        {
            UsbLink link(sim.ptyPath());
            UsbLink::Timing timing;
            timing.receiverTimeoutMs = 100;
            link.setTimingForTests(timing);
            link.open();
            link.setReceiver(QStringLiteral("abcdefghij"), false, 0, [&calls](bool, const QString &, const QString &) { ++calls; });
        }
        QTest::qWait(300);
        QCOMPARE(calls, 0);
    }

    void rpcRoundTripsWholeAndFragmented()
    {
        Fixture f(quiet({QStringLiteral("--noise")}));
        QVERIFY(f.openAndWait());
        RpcClient client(f.link.rpcTransport());

        // Admin methods answer only after a sign-in.
        QCOMPARE(callAndWait(client, QStringLiteral("getStatus")).code, QStringLiteral("unauthorized"));
        QVERIFY(callAndWait(client, QStringLiteral("login"), {{QStringLiteral("password"), QStringLiteral("mapleguard")}}).ok);
        const RpcResult status = callAndWait(client, QStringLiteral("getStatus"));
        QVERIFY2(status.ok, qPrintable(status.code));
        QCOMPARE(status.result.value(QLatin1String("device_id")).toString(), QStringLiteral("CVSIM-0001"));

        // A reply of about 30 kB comes back in fragments and is joined.
        const RpcResult big = callAndWait(client, QStringLiteral("bigResult"), {{QStringLiteral("size"), 30000}});
        QVERIFY2(big.ok, qPrintable(big.code));
        const QString blob = big.result.value(QLatin1String("blob")).toString();
        QCOMPARE(blob.size(), 30000);
        QCOMPARE(blob.mid(26 * 1000, 26), QStringLiteral("abcdefghijklmnopqrstuvwxyz"));

        // A request of about 20 kB goes out in fragments and the device joins it.
        const QString text(20000, QLatin1Char('q'));
        const RpcResult echoed = callAndWait(client, QStringLiteral("echo"), {{QStringLiteral("text"), text}});
        QVERIFY2(echoed.ok, qPrintable(echoed.code));
        QCOMPARE(echoed.result.value(QLatin1String("text")).toString(), text);

        // "busy" twice, then success: the client's retries ride on the same link.
        const RpcResult busy = callAndWait(client, QStringLiteral("busyFor"), {{QStringLiteral("times"), 2}, {QStringLiteral("key"), QStringLiteral("a")}});
        QVERIFY2(busy.ok, qPrintable(busy.code));
        QCOMPARE(busy.result.value(QLatin1String("attempts")).toInt(), 3);

        const RpcResult unknown = callAndWait(client, QStringLiteral("noSuchMethod"));
        QCOMPARE(unknown.code, QStringLiteral("unknown_method"));
    }

    void transportFailures()
    {
        Fixture f(quiet());
        RpcTransport *transport = f.link.rpcTransport();
        QSignalSpy failures(transport, &RpcTransport::sendFailed);
        transport->send(QByteArrayLiteral("{\"id\":1}"));
        QCOMPARE(failures.count(), 1);
        QCOMPARE(failures.at(0).at(0).toString(), QStringLiteral("disconnected"));
        QCOMPARE(failures.at(0).at(1).toString(), QStringLiteral("The USB device is not connected"));

        QVERIFY(f.openAndWait());
        transport->send(QByteArray(65536, '{'));
        QCOMPARE(failures.count(), 2);
        QCOMPARE(failures.at(1).at(0).toString(), QStringLiteral("request_too_large"));
        QCOMPARE(failures.at(1).at(1).toString(), QStringLiteral("That request is too large for the device"));

        // A device that stops reading: the line fills up and a write gives up.
        QVERIFY(f.sim.command(QStringLiteral("stall on")));
        const QByteArray big = "{\"id\":1,\"method\":\"echo\",\"params\":{\"x\":\"" + QByteArray(60000, 'x') + "\"}}";
        for (int i = 0; i < 20 && failures.count() == 2; ++i)
            transport->send(big);
        QCOMPARE(failures.count(), 3);
        QCOMPARE(failures.at(2).at(0).toString(), QStringLiteral("write_failed"));
        QCOMPARE(failures.at(2).at(1).toString(), QStringLiteral("Could not write to the USB device"));
        QVERIFY(transport->isConnected()); // the port stays open
    }

    void liveMessagesBecomeEnvelopes()
    {
        Fixture f(quiet({QStringLiteral("--sport"), QStringLiteral("baseball"), QStringLiteral("--noise")}));
        f.link.open();
        QVERIFY(f.sim.command(QStringLiteral("rate 20")));
        QTRY_VERIFY_WITH_TIMEOUT(f.envelopes.count() >= 20, 10000);
        int states = 0;
        for (const QList<QVariant> &args : std::as_const(f.envelopes)) {
            const QJsonObject env = args.at(0).toJsonObject();
            const QString type = env.value(QLatin1String("type")).toString();
            QVERIFY(type == QLatin1String("state") || type == QLatin1String("heartbeat"));
            if (type == QLatin1String("state")) {
                ++states;
                QCOMPARE(env.value(QLatin1String("sport")).toString(), QStringLiteral("baseball"));
                QVERIFY(env.value(QLatin1String("fields")).toObject().contains(QLatin1String("inning")));
            }
        }
        QVERIFY(states > 0);

        // A frame that is not a JSON object is dropped; the next one still arrives.
        QVERIFY(f.sim.command(QStringLiteral("rate 0")));
        QTest::qWait(100);
        f.envelopes.clear();
        QVERIFY(f.sim.command(QStringLiteral("raw 1 [1,2,3]")));
        QVERIFY(f.sim.command(QStringLiteral("raw 1 {\"home_score\":4}")));
        QTRY_COMPARE(f.envelopes.count(), 1);
        QCOMPARE(f.envelopes.at(0).at(0).toJsonObject().value(QLatin1String("home_score")).toInt(), 4);
    }

    void unplugClosesExactlyOnce()
    {
        Fixture f(quiet());
        QVERIFY(f.openAndWait());
        QVERIFY(f.sim.command(QStringLiteral("unplug")));
        QTRY_COMPARE(f.closed.count(), 1);
        QCOMPARE(f.closed.at(0).at(0).toString(), QStringLiteral("The USB device was unplugged or stopped responding."));
        QVERIFY(!f.link.rpcTransport()->isConnected());
        QTest::qWait(300);
        QCOMPARE(f.closed.count(), 1);
        QCOMPARE(f.failed.count(), 0);

        // Calls after the loss fail at once, through the client.
        RpcClient client(f.link.rpcTransport());
        const RpcResult after = callAndWait(client, QStringLiteral("getStatus"));
        QCOMPARE(after.code, QStringLiteral("disconnected"));
    }

    void unplugDropsTheRelayedConnections()
    {
        QTcpServer cloud;
        QVERIFY(cloud.listen(QHostAddress::LocalHost));
        Fixture f(quiet({QStringLiteral("--tunnel"), QStringLiteral("127.0.0.1:%1").arg(cloud.serverPort()),
                         QStringLiteral("--echo-stream")}));
        QVERIFY(f.openAndWait());
        QVERIFY(f.sim.command(QStringLiteral("tunnel 10")));
        QTRY_VERIFY(cloud.hasPendingConnections());
        QPointer<QTcpSocket> peer = cloud.nextPendingConnection();
        QVERIFY(f.sim.command(QStringLiteral("open 1 echo")));
        QVERIFY(!f.sim.waitFor(QStringLiteral("STREAM 1 opened")).isEmpty());
        QTRY_VERIFY(f.link.cloudRelay()->isConnected());

        QVERIFY(f.sim.command(QStringLiteral("unplug")));
        QTRY_COMPARE(f.closed.count(), 1);
        // Gone with the device, not left for whoever closes the link later.
        QVERIFY(!f.link.cloudRelay()->isConnected());
        QCOMPARE(f.link.streamRelay()->streamCount(), 0);
        QTRY_VERIFY(peer->state() != QAbstractSocket::ConnectedState);
    }

    void tunnelBytesReachTheCloudAndComeBack()
    {
        Fixture f(quiet({QStringLiteral("--cloud-echo")}));
        QSignalSpy tunnelChanges(&f.link, &UsbLink::tunnelChanged);
        QVERIFY(f.openAndWait());
        QVERIFY(f.sim.command(QStringLiteral("tunnel 3000")));
        QByteArray back;
        QTRY_VERIFY_WITH_TIMEOUT((back += TunnelFrames(f.sim.take(QStringLiteral("TUNNEL "))).bytes).size() >= 3000, 10000);
        QCOMPARE(back, DevSimProcess::pattern(3000));
        QVERIFY(f.link.cloudRelay()->isConnected());
        QCOMPARE(f.link.cloudRelay()->bytesUp(), quint64(3000));
        QCOMPARE(f.link.cloudRelay()->bytesDown(), quint64(3000));
        QVERIFY(tunnelChanges.count() > 0);
    }

    void tunnelOutputIsChunkedAndPaced()
    {
        Fixture f(quiet());
        QVERIFY(f.openAndWait());
        const QByteArray bytes = DevSimProcess::pattern(2000);
        const qint64 emittedAt = DevSimProcess::monotonicMs();
        Q_EMIT f.link.cloudRelay()->toDevice(bytes);
        QStringList lines;
        QTRY_COMPARE_WITH_TIMEOUT((lines += f.sim.take(QStringLiteral("TUNNEL "))).size(), 4, 5000);
        const TunnelFrames frames(lines);
        QCOMPARE(frames.sizes, (QList<int>{512, 512, 512, 464}));
        QCOMPARE(frames.bytes, bytes);
        // Frame k cannot be written before k pace intervals have passed; arrival is later
        // still, so only this lower bound is certain.
        for (int k = 0; k < 4; ++k)
            QVERIFY2(frames.times.at(k) - emittedAt >= 40 * k - 1,
                     qPrintable(QStringLiteral("frame %1 after %2 ms").arg(k).arg(frames.times.at(k) - emittedAt)));
    }

    void streamOpenCreditDataClose()
    {
        Fixture f(quiet({QStringLiteral("--ota-size"), QStringLiteral("5000"), QStringLiteral("--echo-stream"),
                         QStringLiteral("--stream-credit"), QStringLiteral("0")}));
        const QString ota = f.sim.take(QStringLiteral("OTA ")).value(0);
        QVERIFY(!ota.isEmpty());
        QVERIFY(f.openAndWait());
        QCOMPARE(f.link.streamRelay()->routeNames(), (QStringList{QStringLiteral("echo"), QStringLiteral("ota")}));

        // Opened without credit: no data yet.
        QVERIFY(f.sim.command(QStringLiteral("open 1 ota")));
        QVERIFY(!f.sim.waitFor(QStringLiteral("STREAM 1 opened")).isEmpty());
        QTRY_COMPARE(f.link.streamRelay()->openCount(), 1);
        QTest::qWait(200);
        QCOMPARE(f.sim.count(QStringLiteral("STREAM 1 data")), 0);

        // With credit the file arrives in pieces of at most 512 bytes, then Close.
        QVERIFY(f.sim.command(QStringLiteral("credit 1 65536")));
        const QString done = f.sim.waitFor(QStringLiteral("STREAM-DONE 1 "), 15000);
        QCOMPARE(done.section(QLatin1Char(' '), 2, 2), ota.section(QLatin1Char(' '), 2, 2));
        QCOMPARE(done.section(QLatin1Char(' '), 3, 3), ota.section(QLatin1Char(' '), 3, 3));
        const QStringList data = f.sim.take(QStringLiteral("STREAM 1 data "));
        QCOMPARE(data.size(), 10); // 9 x 512 + 392
        for (const QString &line : data)
            QVERIFY(line.section(QLatin1Char(' '), 3, 3).toInt() <= 512);
        QCOMPARE(f.link.streamRelay()->bytesToDevice(), quint64(5000));
        QTRY_COMPARE(f.link.streamRelay()->streamCount(), 0);

        // Device data goes to the server; the echo returns within the credit.
        QVERIFY(f.sim.command(QStringLiteral("open 3 echo")));
        QVERIFY(!f.sim.waitFor(QStringLiteral("STREAM 3 opened")).isEmpty());
        QVERIFY(f.sim.command(QStringLiteral("sdata 3 1500")));
        QVERIFY(f.sim.command(QStringLiteral("credit 3 1000")));
        QByteArray echoed;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            for (const QString &line : f.sim.take(QStringLiteral("STREAM 3 data ")))
                echoed += QByteArray::fromBase64(line.section(QLatin1Char(' '), 5, 5).toLatin1());
            return echoed.size() >= 1000;
        }()), 5000);
        QTest::qWait(200);
        QCOMPARE(echoed, DevSimProcess::pattern(1500).left(1000));
        QVERIFY(f.sim.command(QStringLiteral("credit 3 1000")));
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
            for (const QString &line : f.sim.take(QStringLiteral("STREAM 3 data ")))
                echoed += QByteArray::fromBase64(line.section(QLatin1Char(' '), 5, 5).toLatin1());
            return echoed.size() >= 1500;
        }()), 5000);
        QCOMPARE(echoed, DevSimProcess::pattern(1500));
        QCOMPARE(f.link.streamRelay()->bytesFromDevice(), quint64(1500));

        // The device closes its stream; an unknown route is refused.
        QVERIFY(f.sim.command(QStringLiteral("sclose 3")));
        QTRY_COMPARE(f.link.streamRelay()->streamCount(), 0);
        QVERIFY(f.sim.command(QStringLiteral("open 2 nosuch")));
        const QString error = f.sim.waitFor(QStringLiteral("STREAM 2 error "));
        QCOMPARE(QByteArray::fromBase64(error.section(QLatin1Char(' '), 5, 5).toLatin1()), QByteArrayLiteral("unknown_stream"));

        // Sharing off in the cloud relay turns the stream relay off too.
        QVERIFY(f.sim.command(QStringLiteral("open 4 echo")));
        QVERIFY(!f.sim.waitFor(QStringLiteral("STREAM 4 opened")).isEmpty());
        f.link.cloudRelay()->setEnabled(false);
        QVERIFY(!f.link.streamRelay()->isEnabled());
        QCOMPARE(f.link.streamRelay()->streamCount(), 0);
        QVERIFY(f.sim.command(QStringLiteral("open 5 echo")));
        const QString disabled = f.sim.waitFor(QStringLiteral("STREAM 5 error "));
        QCOMPARE(QByteArray::fromBase64(disabled.section(QLatin1Char(' '), 5, 5).toLatin1()), QByteArrayLiteral("disabled"));
        f.link.cloudRelay()->setEnabled(true);
        QVERIFY(f.link.streamRelay()->isEnabled());
    }

    void relayOverflowResetsBothRelays()
    {
        QTcpServer cloud;
        QVERIFY(cloud.listen(QHostAddress::LocalHost));
        Fixture f(quiet({QStringLiteral("--tunnel"), QStringLiteral("127.0.0.1:%1").arg(cloud.serverPort())}));
        QVERIFY(f.openAndWait());
        QVERIFY(f.sim.command(QStringLiteral("tunnel 10")));
        QTRY_VERIFY(cloud.hasPendingConnections());
        QPointer<QTcpSocket> peer = cloud.nextPendingConnection();
        QTRY_VERIFY(f.link.cloudRelay()->isConnected());

        // More than 1024 frames' worth at once: the queue is dropped with the connection.
        const qsizetype flood = 1100 * 512;
        peer->write(QByteArray(flood, 'x'));
        QTRY_VERIFY_WITH_TIMEOUT(peer->state() != QAbstractSocket::ConnectedState, 10000);
        QVERIFY(!f.link.cloudRelay()->isConnected());
        QTest::qWait(500);
        int delivered = 0;
        for (const QString &line : f.sim.take(QStringLiteral("TUNNEL ")))
            delivered += line.section(QLatin1Char(' '), 1, 1).toInt();
        QVERIFY2(delivered < flood, qPrintable(QString::number(delivered)));

        // The relay dials again with the next device bytes.
        QVERIFY(f.sim.command(QStringLiteral("tunnel 10")));
        QTRY_VERIFY(cloud.hasPendingConnections());
    }
};

QTEST_GUILESS_MAIN(TestUsbLink)
#include "tst_UsbLink.moc"
