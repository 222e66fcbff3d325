// BleLink and BleTransport end to end: a DeviceSession over the real helper and the
// simulated peripheral, the chunk stream the device receives, and every way the link ends.

#include "BleAir.h"

#include "device/DeviceSession.h"
#include "device/rpc/RpcClient.h"
#include "support/RpcWait.h"
#include "device/ble/BleBridge.h"
#include "device/ble/BleLink.h"
#include "device/ble/BleTransport.h"

#include "BlePlatform.h"

#include <QJsonDocument>
#include <QSignalSpy>

#include <signal.h>

using namespace corvane;

namespace {

// One written chunk as the device reported it.
struct Write {
    int size;
    QString sequence; // "-" for a whole message
    QString index;
    QString status;
};

QList<Write> writes(DevSimProcess &sim)
{
    QList<Write> out;
    for (const QString &line : sim.take(QStringLiteral("BLE-WRITE "))) {
        const QStringList w = line.split(QLatin1Char(' '));
        out << Write{w.value(1).toInt(), w.value(2), w.value(3), w.value(4)};
    }
    return out;
}

// A link on its own bridge, opened.
struct OpenLink {
    explicit OpenLink(BleAir &air, const QString &address = QStringLiteral("00A1B2C3D4E5"))
        : link(address, QStringLiteral("Court 1"), &bridge)
        , opened(&link, &DeviceLink::opened)
        , closed(&link, &DeviceLink::closed)
        , failed(&link, &DeviceLink::failed)
    {
        bridge.setHelperPath(QStringLiteral(CORVANE_BLE_HELPER));
        (void)air;
    }
    bool open()
    {
        link.open();
        return opened.wait(15000) || !opened.isEmpty();
    }
    BleTransport *transport() const { return link.bleTransport(); }

    BleBridge bridge;
    BleLink link;
    QSignalSpy opened;
    QSignalSpy closed;
    QSignalSpy failed;
};

QByteArray message(int id, int padding)
{
    return "{\"id\":" + QByteArray::number(id) + ",\"method\":\"echo\",\"params\":{\"pad\":\"" + QByteArray(padding, 'x') + "\"}}";
}

} // namespace

class TestBleLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sessionSignsInAndCallsOverBluetooth()
    {
        BleAir air({QStringLiteral("--ble-pdu"), QStringLiteral("23")});
        BleBridge bridge;
        bridge.setHelperPath(QStringLiteral(CORVANE_BLE_HELPER));
        auto *link = new BleLink(QStringLiteral("00A1B2C3D4E5"), QStringLiteral("Court 1"), &bridge);
        QCOMPARE(link->kind(), QStringLiteral("ble"));
        QVERIFY(link->needsPolling());
        DeviceSession session(link);
        session.start();
        QVERIFY(QTest::qWaitFor([&session] { return session.state() == DeviceSession::NeedsNewPassword; }, 15000));
        QCOMPARE(session.password(), DeviceSession::factoryPassword());
        QCOMPARE(link->bleTransport()->writeSize(), 20);
        // The login was longer than one 20-byte write: chunks with headers, indexes in order.
        const QList<Write> login = writes(air.sim);
        QVERIFY(login.size() >= 3);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(login.at(i).size, 20);
            QCOMPARE(login.at(i).index, QString::number(i));
        }

        const RpcResult status = test::callAndWait(*session.rpc(), QStringLiteral("getStatus"));
        QVERIFY2(status.ok, qPrintable(status.message));
        QCOMPARE(status.result.value(QLatin1String("device_id")).toString(), QStringLiteral("CVSIM-0001"));
        // A 4 kB reply arrives in about two hundred 20-byte notifications.
        const RpcResult big = test::callAndWait(*session.rpc(), QStringLiteral("bigResult"), QJsonObject{{QStringLiteral("size"), 4096}});
        QVERIFY2(big.ok, qPrintable(big.message));
        QVERIFY(QJsonDocument(big.result).toJson(QJsonDocument::Compact).size() >= 4096);
    }

    void chunkStreamAndSequenceBytes()
    {
        BleAir air({QStringLiteral("--ble-pdu"), QStringLiteral("23")});
        OpenLink l(air);
        QSignalSpy failures(l.transport(), &RpcTransport::sendFailed);
        l.transport()->send("{\"id\":1}");
        QCOMPARE(failures.size(), 1); // not open yet
        QCOMPARE(failures.first(), (QList<QVariant>{QStringLiteral("disconnected"), QStringLiteral("Not connected to a device")}));
        QVERIFY(l.open());

        // 253 messages of one chunk each (no header, no visible sequence), then three long ones
        // back to back: the 254th, 255th and 256th message, whose sequence wraps to 1.
        QSignalSpy replies(l.transport(), &RpcTransport::message);
        for (int i = 0; i < 252; ++i)
            l.transport()->send("{\"id\":" + QByteArray::number(i + 2) + "}");
        l.transport()->send(QByteArray(20, ' ').replace(0, 1, "{"));
        for (int id = 300; id < 303; ++id)
            l.transport()->send(message(id, 40));
        QVERIFY(BleAir::spin([&air] { return air.sim.count(QStringLiteral("BLE-RPC 302 ")) == 1; }));
        const QList<Write> stream = writes(air.sim);
        const int chunks = int((message(300, 40).size() + 13) / 14); // 14 message bytes in a 20-byte chunk
        QCOMPARE(stream.size(), 253 + 3 * chunks);
        for (int i = 0; i < 253; ++i)
            QCOMPARE(stream.at(i).sequence, QStringLiteral("-"));
        const QStringList sequences{QStringLiteral("254"), QStringLiteral("255"), QStringLiteral("1")};
        for (int m = 0; m < 3; ++m) {
            for (int c = 0; c < chunks; ++c) {
                const Write &w = stream.at(253 + m * chunks + c);
                QCOMPARE(w.sequence, sequences.at(m));
                QCOMPARE(w.index, QString::number(c));
            }
        }
        QCOMPARE(air.sim.count(QStringLiteral("BLE-RPC 300 ")), 1);
        QVERIFY(QTest::qWaitFor([&replies] { return replies.size() >= 3; }, 5000));
        QCOMPARE(failures.size(), 1);
    }

    void failedWriteDropsTheQueue()
    {
        BleAir air({QStringLiteral("--ble-pdu"), QStringLiteral("23")});
        OpenLink l(air);
        QVERIFY(l.open());
        QSignalSpy failures(l.transport(), &RpcTransport::sendFailed);
        QVERIFY(air.sim.command(QStringLiteral("ble-deny write")));
        l.transport()->send(message(1, 40));
        l.transport()->send(message(2, 40));
        QVERIFY(failures.wait(10000));
        QCOMPARE(failures.first(), (QList<QVariant>{QStringLiteral("not_paired"), BleTransport::notPairedText()}));
        QTest::qWait(200);
        const QList<Write> refused = writes(air.sim);
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused.first().status, QStringLiteral("AccessDenied"));

        // A fresh queue afterwards.
        QVERIFY(air.sim.command(QStringLiteral("ble-deny off")));
        l.transport()->send(message(3, 40));
        QVERIFY(!air.sim.waitFor(QStringLiteral("BLE-RPC 3 ")).isEmpty());
        QCOMPARE(air.sim.count(QStringLiteral("BLE-RPC 2 ")), 0);
        QCOMPARE(failures.size(), 1);
        l.transport()->send(QByteArray(8193, 'x'));
        QCOMPARE(failures.last(), (QList<QVariant>{QStringLiteral("request_too_large"), QStringLiteral("That request is too large for the device")}));
    }

    void connectFailuresPassThrough()
    {
        BleAir air;
        OpenLink l(air, QStringLiteral("FFFFFFFFFFFF"));
        l.link.open();
        QVERIFY(l.failed.wait(15000));
        QCOMPARE(l.failed.first(), (QList<QVariant>{QStringLiteral("not_found"),
                                                    QStringLiteral("That device is not in range. Scan again and pick it from the list.")}));
        QCOMPARE(l.opened.size(), 0);
    }

    void closeIsSilentAndSendsOnlyWhenOpen()
    {
        BleAir air;
        OpenLink l(air);
        // Closed while the connect is under way (the helper is up, so the connect goes out at
        // once): its answer is ignored.
        bool started = false;
        l.bridge.start([&started](const BleReply &reply) { started = reply.ok; });
        QVERIFY(QTest::qWaitFor([&started] { return started; }, 15000));
        l.link.open();
        l.link.close();
        QVERIFY(!air.sim.waitFor(QStringLiteral("BLE-SUBSCRIBE Success")).isEmpty());
        QTest::qWait(200);
        QCOMPARE(l.opened.size(), 0);
        QVERIFY(l.open());
        QCOMPARE(l.opened.size(), 1);
        QCOMPARE(l.failed.size(), 0);

        // Only an open link asks the helper to disconnect.
        air.sim.take(QStringLiteral("BLE-CLOSE"));
        BleLink never(QStringLiteral("00A1B2C3D4E5"), QStringLiteral("Court 2"), &l.bridge);
        never.close();
        l.link.close();
        QVERIFY(!air.sim.waitFor(QStringLiteral("BLE-CLOSE")).isEmpty());
        QTest::qWait(200);
        QCOMPARE(air.sim.count(QStringLiteral("BLE-CLOSE")), 0);
        QCOMPARE(l.closed.size(), 0);
        QVERIFY(!l.transport()->isConnected());
    }

    void linkLossAndHelperLossClose()
    {
        BleAir air;
        OpenLink l(air);
        QVERIFY(l.open());
        QVERIFY(l.transport()->isConnected());
        // Every link hears every bridge event; one that is not open ignores them.
        BleLink idle(QStringLiteral("0E0E0E0E0E0E"), QStringLiteral("Court 2"), &l.bridge);
        QSignalSpy idleClosed(&idle, &DeviceLink::closed);
        QVERIFY(air.sim.command(QStringLiteral("ble-drop")));
        // The loss may already be in while the simulator confirms the command.
        QVERIFY(QTest::qWaitFor([&l] { return l.closed.size() == 1; }, 10000));
        QCOMPARE(l.closed.first().first().toString(), QStringLiteral("Bluetooth link lost"));
        QVERIFY(!l.transport()->isConnected());
        QCOMPARE(idleClosed.size(), 0);

        l.opened.clear();
        QVERIFY(l.open());
        QCOMPARE(::kill(pid_t(l.bridge.helperProcessId()), SIGKILL), 0);
        QVERIFY(QTest::qWaitFor([&l] { return l.closed.size() == 2; }, 10000));
        QCOMPARE(l.closed.last().first().toString(), QStringLiteral("The Bluetooth helper stopped"));
        QTest::qWait(100);
        QCOMPARE(l.closed.size(), 2);
    }

    // A Bluetooth step may wait for the user (a passkey typed during service discovery): the
    // helper waits on each step longer than the plugin waits for the whole request, so that
    // what the user meets is the plugin's time-out.
    void helperStepsOutlastThePluginsDeadlines_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("deadline");
        QTest::newRow("start") << helper::BlePlatform::kAdapterMs << BleBridge::kStartRequestTimeoutMs;
        // The longest scan the helper runs is 30 s.
        QTest::newRow("scan") << helper::BlePlatform::kScanStepMs << 30000 + BleBridge::kScanExtraMs;
        QTest::newRow("connect") << helper::BlePlatform::kConnectStepMs << BleLink::kConnectTimeoutMs;
        QTest::newRow("write") << helper::BlePlatform::kWriteMs << BleTransport::kWriteTimeoutMs;
        QTest::newRow("disconnect") << helper::BlePlatform::kReleaseMs << BleLink::kDisconnectTimeoutMs;
    }
    void helperStepsOutlastThePluginsDeadlines()
    {
        QFETCH(int, step);
        QFETCH(int, deadline);
        QVERIFY2(step > deadline, qPrintable(QStringLiteral("%1 ms step, %2 ms deadline").arg(step).arg(deadline)));
    }
};

QTEST_GUILESS_MAIN(TestBleLink)
#include "tst_BleLink.moc"
