// The setup wizard's data-only texts: port rows, scan outcomes, helper errors, the new
// password rule, the receiver's status and the summary.
#include "ui/SetupText.h"

#include <QJsonDocument>
#include <QTest>

using namespace corvane;

Q_DECLARE_METATYPE(QList<corvane::UsbPortInfo>)

class TestSetupText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void portLabel_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("likely");
        QTest::addColumn<QString>("expected");
        const QString note = QStringLiteral("  \u2013 likely a Corvane device");
        QTest::newRow("friendly name with the port") << "COM3" << "USB Serial Device (COM3)" << true
                                                     << QStringLiteral("USB Serial Device (COM3)") + note;
        QTest::newRow("bare port") << "COM7" << "COM7" << false << "COM7";
        QTest::newRow("description without the port") << "ttyACM0" << "USB JTAG/serial debug unit" << true
                                                       << QStringLiteral("ttyACM0 (USB JTAG/serial debug unit)") + note;
    }
    void portLabel()
    {
        QFETCH(QString, name);
        QFETCH(QString, description);
        QFETCH(bool, likely);
        QFETCH(QString, expected);
        QCOMPARE(usbPortLabel(UsbPortInfo{name, description, likely}), expected);
    }

    void preselection_data()
    {
        QTest::addColumn<QList<UsbPortInfo>>("ports");
        QTest::addColumn<int>("row");
        const UsbPortInfo ours{QStringLiteral("COM3"), QStringLiteral("COM3"), true};
        const UsbPortInfo other{QStringLiteral("COM1"), QStringLiteral("COM1"), false};
        QTest::newRow("none") << QList<UsbPortInfo>{} << -1;
        QTest::newRow("only port, not ours") << QList<UsbPortInfo>{other} << 0;
        QTest::newRow("one of ours among others") << QList<UsbPortInfo>{other, ours, other} << 1;
        QTest::newRow("two of ours") << QList<UsbPortInfo>{ours, other, ours} << -1;
        QTest::newRow("two others") << QList<UsbPortInfo>{other, other} << -1;
    }
    void preselection()
    {
        QFETCH(QList<UsbPortInfo>, ports);
        QFETCH(int, row);
        QCOMPARE(preselectedPortRow(ports), row);
    }

    void countsAndScans()
    {
        QCOMPARE(usbPortCountText(0), QStringLiteral("No USB devices found. Plug the device in and press Scan again."));
        QCOMPARE(usbPortCountText(2), QStringLiteral("2 USB port(s) found. Pick the Corvane device."));
        QCOMPARE(bluetoothScanText(3, 6), QStringLiteral("3 device(s) found."));
        QCOMPARE(bluetoothScanText(0, 4),
                 QStringLiteral("Bluetooth is working but no Corvane device is in range. Move closer and scan again."));
        QCOMPARE(bluetoothScanText(0, 0), QStringLiteral("No Bluetooth devices were seen at all. Check that Bluetooth is on."));
    }

    void bluetoothErrors_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("expected");
#ifdef Q_OS_LINUX
        QTest::newRow("denied") << "permission_denied"
                                << QStringLiteral("Bluetooth access was denied. Check that the Bluetooth service (BlueZ) is "
                                                  "running and that your user may use it (on some systems by being in the "
                                                  "\"bluetooth\" group; log in again after joining it), then scan again.");
#else
        QTest::newRow("denied") << "permission_denied"
                                << QStringLiteral("Bluetooth access was denied. Allow \"Corvane Bluetooth Helper\" in your system's "
                                                  "Privacy & Security \u2192 Bluetooth settings, then scan again.");
#endif
        QTest::newRow("unavailable") << "bluetooth_unavailable" << "Bluetooth is turned off or unavailable on this computer.";
        QTest::newRow("other code keeps the helper's words") << "timeout" << "helper says";
    }
    void bluetoothErrors()
    {
        QFETCH(QString, code);
        QFETCH(QString, expected);
        QCOMPARE(bluetoothErrorText(code, QStringLiteral("helper says")), expected);
    }

    void newPassword_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("repeat");
        QTest::addColumn<QString>("problem");
        const QString weak = QStringLiteral("Use at least 8 characters, and not the factory password.");
        QTest::newRow("seven characters") << "abc1234" << "abc1234" << weak;
        QTest::newRow("factory word") << "mapleguard" << "mapleguard" << weak;
        QTest::newRow("factory word, other case") << "MapleGUARD" << "MapleGUARD" << weak;
        QTest::newRow("weak and different: weak first") << "short" << "other" << weak;
        QTest::newRow("different") << "courtside-9" << "courtside-8" << "The two passwords do not match.";
        QTest::newRow("eight characters") << "abcd1234" << "abcd1234" << "";
        QTest::newRow("factory word inside a longer one") << "mapleguard2" << "mapleguard2" << "";
    }
    void newPassword()
    {
        QFETCH(QString, password);
        QFETCH(QString, repeat);
        QFETCH(QString, problem);
        QCOMPARE(newPasswordProblem(password, repeat), problem);
    }

    void receiverStatus_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("all") << QByteArray(R"({"t":"rx_status","configured":true,"link":true,"rssi":-48,"channel":6,"fw":"rx-1.1"})")
                             << QStringLiteral("Paired with a device.\nReceiving from the device now.\nSignal: -48 dBm\nChannel: 6\n"
                                               "Firmware: rx-1.1");
        QTest::newRow("not paired, not heard") << QByteArray(R"({"configured":false,"link":false})")
                                               << QStringLiteral("Not paired yet.\nNot hearing the device right now.");
        QTest::newRow("nothing known") << QByteArray(R"({"t":"rx_status"})") << QString();
    }
    void receiverStatus()
    {
        QFETCH(QByteArray, status);
        QFETCH(QString, expected);
        QCOMPARE(receiverStatusText(QJsonDocument::fromJson(status).object()), expected);
    }

    void summaryAndVia()
    {
        QCOMPARE(doneSummaryText(QStringLiteral("CV-1"), QStringLiteral("2.3.1"), QStringLiteral("10.0.0.5")),
                 QStringLiteral("Device: CV-1\nFirmware: 2.3.1\nWi-Fi: connected (10.0.0.5)"));
        QCOMPARE(doneSummaryText(QString(), QString(), QString()), QStringLiteral("Wi-Fi: not connected"));
        QCOMPARE(linkVia(QStringLiteral("lan")), QStringLiteral("manual"));
        QCOMPARE(linkVia(QStringLiteral("usb")), QStringLiteral("usb"));
        QCOMPARE(linkVia(QStringLiteral("ble")), QStringLiteral("ble"));
    }
};

QTEST_GUILESS_MAIN(TestSetupText)
#include "tst_SetupText.moc"
