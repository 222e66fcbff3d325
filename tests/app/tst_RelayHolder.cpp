// USB sessions kept for their cloud relay after the wizard: which are taken, how they read
// in the dock, and how they leave.
#include "app/RelayHolder.h"
#include "base/SettingsStore.h"
#include "device/DeviceSession.h"
#include "device/lan/HttpLink.h"
#include "device/usb/RelayTargets.h"
#include "device/usb/UsbLink.h"
#include "support/DevSimProcess.h"
#include "support/TestNetwork.h"

#include <QFile>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;

namespace {

// `port` as a link to `target`, replacing what it named before; `port` itself.
QString linkedPort(const QString &port, const QString &target)
{
    QFile::remove(port);
    if (!QFile::link(target, port))
        qFatal("cannot link %s", qPrintable(port));
    return port;
}

// A device on the simulator's pty, signed in, whose hello names `tunnel` as its cloud target;
// opened through `port`, a link to the pty, when one is given (a USB port name used again).
struct RelayedDevice {
    explicit RelayedDevice(const QStringList &extra, const QString &port = {})
        : sim(QStringList{QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--live-ms"),
                          QStringLiteral("0"), QStringLiteral("--feed-port"), QStringLiteral("0")}
              + extra)
        , session(new DeviceSession(new UsbLink(port.isEmpty() ? sim.ptyPath() : linkedPort(port, sim.ptyPath()))))
        , alive(session)
    {
    }
    ~RelayedDevice() { delete alive.data(); }

    bool ready()
    {
        session->start();
        return QTest::qWaitFor([this] { return session->state() == DeviceSession::Ready; }, 15000);
    }

    DevSimProcess sim;
    DeviceSession *session; // use only while `alive`
    QPointer<DeviceSession> alive;
};

QStringList tunnelTo(quint16 port) { return {QStringLiteral("--tunnel"), QStringLiteral("127.0.0.1:%1").arg(port)}; }

} // namespace

class TestRelayHolder : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    SettingsStore m_settings;

private Q_SLOTS:
    // The simulator's cloud stand-ins listen on loopback.
    void initTestCase() { RelayTargets::setLoopbackAllowedForTesting(true); }

    void init()
    {
        m_settings.load(m_dir.filePath(QStringLiteral("settings.json")));
        m_settings.setShareConnection(true);
    }

    void refusedWhenNothingWouldBeRelayed()
    {
        RelayHolder holder(&m_settings);
        QSignalSpy changed(&holder, &RelayHolder::changed);
        QVERIFY(!holder.adopt(nullptr));

        RelayedDevice noTarget({}); // the device names no cloud target: its relay is not ready
        QVERIFY(!holder.adopt(noTarget.session)); // not connected yet
        QVERIFY(noTarget.ready());
        QVERIFY(!holder.adopt(noTarget.session));

        RelayedDevice withTarget(tunnelTo(test::unusedLocalPort()));
        QVERIFY(withTarget.ready());
        m_settings.setShareConnection(false);
        QVERIFY(!holder.adopt(withTarget.session));

        m_settings.setShareConnection(true);
        DeviceSession overNetwork(new HttpLink(QStringLiteral("127.0.0.1")));
        QVERIFY(!holder.adopt(&overNetwork));

        QCOMPARE(holder.count(), 0);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(withTarget.session->parent(), nullptr);
    }

    void keptUntilTheDeviceIsLost()
    {
        RelayHolder holder(&m_settings);
        QSignalSpy changed(&holder, &RelayHolder::changed);
        RelayedDevice device(tunnelTo(test::unusedLocalPort()));
        QVERIFY(device.ready());
        const QString id = device.session->deviceId();
        QVERIFY(!id.isEmpty());

        QVERIFY(holder.adopt(device.session));
        QCOMPARE(device.session->parent(), &holder);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(holder.statusLines(), QStringList(id + QStringLiteral(": ready, waiting for the device")));

        QVERIFY(device.sim.command(QStringLiteral("unplug")));
        QTRY_VERIFY_WITH_TIMEOUT(device.alive.isNull(), 15000);
        QCOMPARE(holder.count(), 0);
        QVERIFY(holder.statusLines().isEmpty());
        QVERIFY(changed.count() >= 2);
    }

    // Connected before a last error, an error before ready, ready before waiting.
    void statusLinesInTheirOrderOfPrecedence()
    {
        RelayHolder holder(&m_settings);
        RelayedDevice connected({QStringLiteral("--cloud-echo")});
        RelayedDevice unreachable(tunnelTo(test::unusedLocalPort()));
        RelayedDevice receiver({QStringLiteral("--mode"), QStringLiteral("receiver")});
        QVERIFY(connected.ready() && unreachable.ready());
        receiver.session->start();
        QVERIFY(QTest::qWaitFor([&] { return receiver.session->state() == DeviceSession::Ready; }, 15000));
        QVERIFY(receiver.session->receiverOnly());
        QVERIFY(holder.adopt(connected.session) && holder.adopt(unreachable.session) && holder.adopt(receiver.session));

        QVERIFY(connected.sim.command(QStringLiteral("tunnel 10")));
        QVERIFY(unreachable.sim.command(QStringLiteral("tunnel 10")));
        const QStringList expected{connected.session->deviceId() + QStringLiteral(": connected to the cloud through this computer"),
                                   unreachable.session->deviceId() + QStringLiteral(": cannot reach the cloud (Connection refused)"),
                                   QStringLiteral("wireless receiver: waiting for the paired device")};
        QTRY_COMPARE_WITH_TIMEOUT(holder.statusLines(), expected, 15000);
    }

    // A device plugged into the port of one kept before replaces it: one session per port.
    void aSecondSessionOnThePortReplacesTheFirst()
    {
        RelayHolder holder(&m_settings);
        const QString port = m_dir.filePath(QStringLiteral("ttyUSB0"));
        RelayedDevice first(tunnelTo(test::unusedLocalPort()), port);
        QVERIFY(first.ready());
        QVERIFY(holder.adopt(first.session));
        // Its device was unplugged and another one took the port name, before the kept
        // session noticed.
        first.session->link()->close();
        RelayedDevice second(tunnelTo(test::unusedLocalPort()), port);
        QVERIFY(second.ready());
        QVERIFY(holder.adopt(second.session));
        QCOMPARE(holder.count(), 1);
        QTRY_VERIFY(first.alive.isNull());
        QCOMPARE(second.session->parent(), &holder);
    }

    void releasedByPortOrAll()
    {
        RelayHolder holder(&m_settings);
        RelayedDevice first(tunnelTo(test::unusedLocalPort()));
        RelayedDevice second(tunnelTo(test::unusedLocalPort()));
        QVERIFY(first.ready() && second.ready());
        QVERIFY(holder.adopt(first.session) && holder.adopt(second.session));
        QCOMPARE(holder.statusLines().size(), 2);

        holder.release(first.sim.ptyPath());
        QCOMPARE(holder.count(), 1);
        QTRY_VERIFY(first.alive.isNull());
        QVERIFY(!second.alive.isNull());

        holder.releaseAll();
        QCOMPARE(holder.count(), 0);
        QTRY_VERIFY(second.alive.isNull());
    }
};

QTEST_GUILESS_MAIN(TestRelayHolder)
#include "tst_RelayHolder.moc"
