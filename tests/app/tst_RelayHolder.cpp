// USB sessions kept for their cloud relay after the wizard: which are taken, how they read
// in the dock, and how they leave.
#include "app/RelayHolder.h"
#include "base/SettingsStore.h"
#include "device/DeviceSession.h"
#include "device/lan/HttpLink.h"
#include "device/usb/UsbLink.h"
#include "support/DevSimProcess.h"
#include "support/TestNetwork.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;

namespace {

// A device on the simulator's pty, signed in, whose hello names `tunnel` as its cloud target.
struct RelayedDevice {
    explicit RelayedDevice(const QStringList &extra)
        : sim(QStringList{QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--live-ms"),
                          QStringLiteral("0"), QStringLiteral("--feed-port"), QStringLiteral("0")}
              + extra)
        , session(new DeviceSession(new UsbLink(sim.ptyPath())))
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
