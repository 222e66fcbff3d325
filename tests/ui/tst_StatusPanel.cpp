// The Status tab against corvane-devsim: the status lines, the live section and the network
// test loop, each from a user action to the texts shown and the requests the device got.

#include "ui/PanelFixture.h"

#include "device/usb/UsbLink.h"
#include "ui/StatusPanel.h"
#include "ui/StatusText.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

using namespace corvane;
using State = DeviceSession::State;

namespace {

StatusPanel::Timing quickTests()
{
    StatusPanel::Timing timing;
    timing.networkTestRepeatMs = 10;
    return timing;
}

} // namespace

class TestStatusPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusLinesComeInTheirOrderWithTheirLabels()
    {
        PanelDevice f({QStringLiteral("--wifi"), QStringLiteral("Arena-Staff")});
        QVERIFY(f.ready);
        QVERIFY(!f.sim.waitFor(QStringLiteral("PARAMS getStatus")).isEmpty()); // the session's own, after sign-in
        StatusPanel panel(&f.session);
        panel.refreshButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!panel.statusView()->text().isEmpty(), 15000);
        const QStringList lines = panel.statusView()->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.mid(0, 7), (QStringList{
                                      QStringLiteral("Device ID: CVSIM-0001"),
                                      QStringLiteral("Firmware: 1.4.0-sim"),
                                      QStringLiteral("Wi-Fi network: Arena-Staff"),
                                      QStringLiteral("Wi-Fi address: 192.168.1.57"),
                                      QStringLiteral("Ethernet address: "),
                                      QStringLiteral("Cloud connected: true"),
                                      QStringLiteral("Cloud route: wifi"),
                                  }));
        // The rest in the device's key order, objects as name=value pairs.
        QVERIFY(lines.contains(QStringLiteral("cloud: via_usb=false")));
        QVERIFY(lines.contains(QStringLiteral("wifi: connected=true")));
        QVERIFY(lines.contains(QStringLiteral("TLS fingerprint: ") + f.sim.waitFor(QStringLiteral("FEED-CERT ")).mid(10)));
        QVERIFY(lines.indexOf(QStringLiteral("cloud: via_usb=false")) < lines.indexOf(QStringLiteral("wifi: connected=true")));
        QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^Uptime \\(s\\): \\d+$"))).size(), 1);
        QCOMPARE(f.requestsOf(QStringLiteral("getStatus")), 1);
    }

    void statusLinesFromAnswer_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("known keys first, then the rest, csrf_token never")
            << R"({"zeta":1,"csrf_token":"x","mqtt_transport":"usb","device_id":"A1","reset_reason":"power_on"})"
            << QStringList{"Device ID: A1", "Cloud route: usb", "Last restart: power_on", "zeta: 1"};
        QTest::newRow("objects as pairs, numbers and flags as written")
            << R"({"heap":{"free":1200,"min":800},"wifi_sta_rssi":-61,"must_change_password":false,"temp":36.5})"
            << QStringList{"heap: free=1200, min=800", "Password change needed: false", "temp: 36.5", "Wi-Fi signal (dBm): -61"};
    }
    void statusLinesFromAnswer()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, lines);
        QCOMPARE(StatusText::statusLines(QJsonDocument::fromJson(answer.toUtf8()).object()), lines);
    }

    void liveSectionFollowsTheDevice()
    {
        PanelDevice f({QStringLiteral("--sport"), QStringLiteral("hockey")});
        QVERIFY(f.ready);
        StatusPanel panel(&f.session);
        QCOMPARE(panel.liveView()->text(), QStringLiteral("No scoreboard data yet."));
        QVERIFY(f.sim.command(QStringLiteral("live")));
        QTRY_VERIFY_WITH_TIMEOUT(panel.liveView()->text().startsWith(QStringLiteral("Sport: hockey\n")), 10000);
        const QStringList lines = panel.liveView()->text().split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 5);
        QVERIFY(QRegularExpression(QStringLiteral("^away_score: \\d+$")).match(lines.at(1)).hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("^clock: \\d+:\\d\\d$")).match(lines.at(2)).hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("^home_score: \\d+$")).match(lines.at(3)).hasMatch());
        QVERIFY(QRegularExpression(QStringLiteral("^period: \\d+$")).match(lines.at(4)).hasMatch());
    }

    void networkTest_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("requests");
        QTest::newRow("passes on Wi-Fi") << QStringList{"--wifi", "Arena-Staff"}
                                         << QString::fromUtf8("✓ Local network – Wi-Fi Arena-Staff, 192.168.1.57\n"
                                                              "✓ DNS – resolved in 18 ms\n"
                                                              "✓ Cloud (secure port) – port 8883 answered\n"
                                                              "✓ Cloud (backup route) – port 443 answered\n"
                                                              "✓ Internet\n"
                                                              "✓ End to end – round trip 140 ms\n"
                                                              "All checks passed.")
                                         << 3;
        QTest::newRow("fails without a network") << QStringList{}
                                                 << QString::fromUtf8("✗ Local network – not connected\n"
                                                                      "✗ DNS – no network\n"
                                                                      "✗ Cloud (secure port) – not reachable\n"
                                                                      "✗ Cloud (backup route) – not reachable\n"
                                                                      "✗ Internet – no network\n"
                                                                      "✗ End to end – no answer from the cloud\n"
                                                                      "Some checks failed.")
                                                 << 3;
        // A test that never finishes: the panel stops asking after 13 requests.
        QTest::newRow("gives up after 13 requests") << QStringList{"--wifi", "Arena-Staff", "--nettest-polls", "40"}
                                                    << QString::fromUtf8("✓ Local network – Wi-Fi Arena-Staff, 192.168.1.57\n"
                                                                         "✗ DNS\n"
                                                                         "✗ Cloud (secure port)\n"
                                                                         "✗ Cloud (backup route)\n"
                                                                         "✗ Internet\n"
                                                                         "✗ End to end\n"
                                                                         "Still running…")
                                                    << 13;
    }
    void networkTest()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, text);
        QFETCH(int, requests);
        PanelDevice f(simArgs);
        QVERIFY(f.ready);
        StatusPanel panel(&f.session);
        panel.setTimingForTesting(quickTests());
        panel.testButton()->click();
        QVERIFY(!panel.testButton()->isEnabled());
        QCOMPARE(panel.testView()->toPlainText(), QString::fromUtf8("Running…"));
        QTRY_VERIFY_WITH_TIMEOUT(panel.testButton()->isEnabled(), 15000);
        QCOMPARE(panel.testView()->toPlainText(), text);
        QVERIFY(f.settle());
        QCOMPARE(f.sim.count(QStringLiteral("PARAMS networkTest ")), requests);
    }

    void aFailedTestShowsItsMessageAndEnablesTheButton()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        StatusPanel panel(&f.session);
        QVERIFY(f.sim.command(QStringLiteral("logout")));
        panel.testButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(panel.testButton()->isEnabled(), 15000);
        QCOMPARE(panel.testView()->toPlainText(), QStringLiteral("Sign in first."));
    }

    void withoutASessionNothingIsSent()
    {
        auto *session = new DeviceSession(new UsbLink(QStringLiteral("/nonexistent/tty")));
        StatusPanel panel(session);
        delete session;
        panel.refreshButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("Not connected to a device."));
        QVERIFY(isRed(panel.messageLabel()));
        panel.testButton()->click();
        QVERIFY(panel.testButton()->isEnabled());
    }
};

QTEST_MAIN(TestStatusPanel)
#include "tst_StatusPanel.moc"
