// The USB sharing panel over a real UsbLink's cloud and stream relays, against corvane-devsim
// and a local TCP server that stands in for the cloud: every sentence of its text, the byte
// counts, and the operator's choice kept in the settings.

#include "ui/PanelFixture.h"
#include "support/TestNetwork.h"

#include "device/usb/CloudRelay.h"
#include "device/usb/RelayTargets.h"
#include "base/SettingsStore.h"
#include "device/usb/UsbLink.h"
#include "ui/SharePanel.h"

#include <QCheckBox>
#include <QTcpServer>
#include <QTcpSocket>

using namespace corvane;

namespace {

const QString NoOta = QStringLiteral(
    "Only the live-score cloud link travels over the cable. This device downloads firmware itself, so it needs Wi-Fi or Ethernet for "
    "updates (or update its firmware over Wi-Fi once).");
const QString NotAsking = QStringLiteral(
    "The device is not asking for a cloud connection over USB. Turn on \"Cloud over USB\" in this device's Settings tab (the device "
    "also needs its cloud sign-in).");

// The cloud end of the tunnel: takes one connection, counts what arrives, sends on request.
struct FakeCloud {
    FakeCloud()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this] { received += socket->readAll().size(); });
        });
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(server.serverPort()); }

    QTcpServer server;
    QTcpSocket *socket = nullptr;
    qint64 received = 0;
};

struct ShareFixture {
    explicit ShareFixture(const QStringList &simArgs, bool servesReceiver = false, bool share = true)
        : device(simArgs)
    {
        settings.load(QString());
        settings.setShareConnection(share);
        panel = new SharePanel(&host, &settings);
        link = qobject_cast<UsbLink *>(device.session.link());
        if (device.ready && link)
            panel->attach(link, servesReceiver);
    }
    QString text() const { return panel->statusLabel()->text(); }

    PanelDevice device;
    SettingsStore settings;
    QWidget host;
    SharePanel *panel = nullptr;
    UsbLink *link = nullptr;
};

} // namespace

class TestSharePanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The cloud stand-ins listen on loopback.
    void initTestCase() { RelayTargets::setLoopbackAllowedForTesting(true); }

    void sharingFollowsTheCheckBoxAndIsKept()
    {
        ShareFixture f({}, false, false);
        QVERIFY(f.device.ready && f.link);
        QVERIFY(!f.panel->isHidden());
        QCOMPARE(f.text(), QStringLiteral("Sharing is off, so the device cannot reach the cloud over this cable.\n") + NoOta);
        QVERIFY(!f.panel->shareBox()->isChecked());
        QVERIFY(!f.link->cloudRelay()->isEnabled());
        f.panel->shareBox()->click();
        QVERIFY(f.settings.shareConnection());
        QVERIFY(f.link->cloudRelay()->isEnabled());
        QCOMPARE(f.text(), NotAsking + QLatin1Char('\n') + NoOta);
        f.panel->shareBox()->click();
        QVERIFY(!f.settings.shareConnection());
        QVERIFY(!f.link->cloudRelay()->isEnabled());
    }

    void waitingForTheDevice_data()
    {
        QTest::addColumn<bool>("servesReceiver");
        QTest::addColumn<QString>("first");
        QTest::newRow("receiver") << true
                                  << "Waiting for the paired device to ask for the cloud. This starts once the device is linked to the "
                                     "receiver and has its cloud sign-in.";
        QTest::newRow("device") << false << NotAsking;
    }
    void waitingForTheDevice()
    {
        QFETCH(bool, servesReceiver);
        QFETCH(QString, first);
        ShareFixture f({}, servesReceiver);
        QVERIFY(f.device.ready && f.link);
        QCOMPARE(f.text(), first + QLatin1Char('\n') + NoOta);
    }

    void connectedWithByteCounts()
    {
        FakeCloud cloud;
        ShareFixture f({QStringLiteral("--tunnel"), cloud.address()});
        QVERIFY(f.device.ready && f.link);
        QCOMPARE(f.text(), QStringLiteral("Ready. This computer connects to 127.0.0.1 as soon as the device asks.\n") + NoOta);
        const auto sentence = [](const char *sent, const char *received) {
            return QStringLiteral("Connected to the cloud through this computer.  Sent %1, received %2.\n")
                       .arg(QLatin1String(sent), QLatin1String(received))
                + NoOta;
        };
        struct Step {
            qint64 fromDevice;
            qint64 fromCloud;
            const char *sent;
            const char *received;
        };
        // Totals after each step: 1023/1023, 1024/1024, 1048575/1536, 1048576/1536. The way
        // back is paced for the cable, so the megabyte is crossed on the way out.
        const Step steps[] = {
            {1023, 1023, "1023 B", "1023 B"},
            {1, 1, "1.0 KB", "1.0 KB"},
            {1047551, 512, "1024.0 KB", "1.5 KB"},
            {1, 0, "1.0 MB", "1.5 KB"},
        };
        qint64 sentTotal = 0;
        for (const Step &step : steps) {
            sentTotal += step.fromDevice;
            QVERIFY(f.device.sim.command(QStringLiteral("tunnel %1").arg(step.fromDevice)));
            QTRY_VERIFY_WITH_TIMEOUT(cloud.socket && cloud.received == sentTotal, 30000);
            cloud.socket->write(QByteArray(step.fromCloud, 'c'));
            QTRY_COMPARE_WITH_TIMEOUT(f.text(), sentence(step.sent, step.received), 15000);
        }
    }

    void unreachableCloud()
    {
        ShareFixture f({QStringLiteral("--tunnel"), QStringLiteral("127.0.0.1:%1").arg(test::unusedLocalPort())});
        QVERIFY(f.device.ready && f.link);
        QVERIFY(f.device.sim.command(QStringLiteral("tunnel 10")));
        QTRY_COMPARE_WITH_TIMEOUT(f.text(),
                                  QStringLiteral("This computer could not reach the cloud (Connection refused). Check its internet "
                                                 "connection.\n")
                                      + NoOta,
                                  15000);
    }

    void firmwareDownloadsThroughTheCable()
    {
        ShareFixture f({QStringLiteral("--ota-size"), QStringLiteral("100000"), QStringLiteral("--stream-credit"), QStringLiteral("0")});
        QVERIFY(f.device.ready && f.link);
        const QString ota = QStringLiteral("Firmware updates for a device with no Wi-Fi or Ethernet also download through this computer%1.");
        QCOMPARE(f.text(), NotAsking + QLatin1Char('\n') + ota.arg(QString()));
        QVERIFY(f.device.sim.command(QStringLiteral("open 1 ota")));
        QTRY_COMPARE_WITH_TIMEOUT(f.text(), NotAsking + QLatin1Char('\n') + ota.arg(QStringLiteral(" (downloading now: 0 B received)")),
                                  15000);
        QVERIFY(f.device.sim.command(QStringLiteral("credit 1 3000")));
        QTRY_COMPARE_WITH_TIMEOUT(f.text(), NotAsking + QLatin1Char('\n') + ota.arg(QStringLiteral(" (downloading now: 2.9 KB received)")),
                                  15000);
        QVERIFY(f.device.sim.command(QStringLiteral("sclose 1")));
        QTRY_COMPARE_WITH_TIMEOUT(f.text(), NotAsking + QLatin1Char('\n') + ota.arg(QString()), 15000);
    }

    void withoutALinkThePanelHides()
    {
        QWidget host;
        SettingsStore settings;
        SharePanel panel(&host, &settings);
        QVERIFY(panel.isHidden());
        panel.attach(nullptr, false);
        QVERIFY(panel.isHidden());
    }

    void byteFormat_data()
    {
        QTest::addColumn<quint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << quint64(0) << "0 B";
        QTest::newRow("last bytes") << quint64(1023) << "1023 B";
        QTest::newRow("first kilobyte") << quint64(1024) << "1.0 KB";
        QTest::newRow("rounded") << quint64(1587) << "1.5 KB";
        QTest::newRow("last kilobytes") << quint64(1048575) << "1024.0 KB";
        QTest::newRow("first megabyte") << quint64(1048576) << "1.0 MB";
        QTest::newRow("gigabytes stay megabytes") << quint64(5368709120) << "5120.0 MB";
    }
    void byteFormat()
    {
        QFETCH(quint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(SharePanel::formatBytes(bytes), text);
    }
};

QTEST_MAIN(TestSharePanel)
#include "tst_SharePanel.moc"
