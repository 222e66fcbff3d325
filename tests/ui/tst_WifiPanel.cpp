// The Wi-Fi tab against corvane-devsim: scanning, joining a listed or typed network, the
// wireless receiver notice in its three states, the switch requests and the countdown.

#include "ui/PanelFixture.h"

#include "ui/WifiPanel.h"

#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>

using namespace corvane;
using State = DeviceSession::State;

namespace {

DeviceSession::Timing quickJoinChecks()
{
    DeviceSession::Timing timing;
    timing.wifiCheckIntervalMs = 20;
    return timing;
}

WifiPanel::Timing quickCountdown()
{
    WifiPanel::Timing timing;
    timing.countdownTickMs = 5;
    return timing;
}

const QString UseReceiver = QStringLiteral(
    "Use the wireless receiver | The device will stop using Wi-Fi and send its scores to the Corvane wireless receiver, then "
    "restart. Its scores reach the cloud through a computer connected to that receiver.\n\nMake sure the receiver is set up first - "
    "you can switch back over USB or Bluetooth.\n\nContinue?");

void scan(WifiPanel &panel)
{
    panel.scanButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(panel.scanButton()->isEnabled(), 15000);
}

} // namespace

class TestWifiPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scanListsNetworksAndKeepsTheTypedName()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        WifiPanel panel(&f.session);
        panel.networkBox()->setEditText(QStringLiteral("Backstage"));
        panel.scanButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QString::fromUtf8("Scanning… this can take up to 15 seconds."));
        QVERIFY(!panel.scanButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(panel.scanButton()->isEnabled(), 15000);
        QStringList items;
        for (int i = 0; i < panel.networkBox()->count(); ++i)
            items << panel.networkBox()->itemText(i) + QStringLiteral(" -> ") + panel.networkBox()->itemData(i).toString();
        QCOMPARE(items, (QStringList{
                            QStringLiteral("Arena-Guest   (-52 dBm) -> Arena-Guest"),
                            QStringLiteral("PressBox-revert   (-58 dBm) -> PressBox-revert"),
                            QStringLiteral("Arena-Staff   (-67 dBm) -> Arena-Staff"),
                            QStringLiteral("Concourse-never   (-75 dBm) -> Concourse-never"),
                            QStringLiteral("Scoreboard   (-80 dBm) -> Scoreboard"),
                        }));
        QCOMPARE(panel.networkBox()->currentText(), QStringLiteral("Backstage"));
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("5 network(s) found."));
    }

    void aFailedScanLeavesTheNameEditable()
    {
        PanelDevice f;
        QVERIFY(f.ready);
        WifiPanel panel(&f.session);
        QVERIFY(f.sim.command(QStringLiteral("logout")));
        scan(panel);
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("Sign in first. You can still type the network name."));
        QVERIFY(isRed(panel.messageLabel()));
        QVERIFY(panel.networkBox()->isEditable() && panel.networkBox()->isEnabled());
    }

    void joinsTheChosenNetwork_data()
    {
        QTest::addColumn<int>("pick");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("scanAgain");
        QTest::addColumn<QString>("ssid");
        QTest::newRow("listed network") << 0 << "" << false << "Arena-Guest";
        QTest::newRow("typed network not in the list") << -1 << "  Backstage-5G " << false << "Backstage-5G";
        QTest::newRow("listed name typed over") << 0 << "Arena-Guest-2" << false << "Arena-Guest-2";
        QTest::newRow("listed network, scanned again") << 2 << "" << true << "Arena-Staff";
    }
    void joinsTheChosenNetwork()
    {
        QFETCH(int, pick);
        QFETCH(QString, typed);
        QFETCH(bool, scanAgain);
        QFETCH(QString, ssid);
        PanelDevice f({}, quickJoinChecks());
        QVERIFY(f.ready);
        WifiPanel panel(&f.session);
        QSignalSpy joined(&panel, &WifiPanel::joined);
        scan(panel);
        if (pick >= 0)
            panel.networkBox()->setCurrentIndex(pick);
        if (!typed.isEmpty())
            panel.networkBox()->setEditText(typed);
        if (scanAgain)
            scan(panel);
        panel.passwordField()->setText(QStringLiteral("courtside"));
        panel.connectButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QString::fromUtf8("Sending the network to the device…"));
        QVERIFY(!panel.connectButton()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(panel.connectButton()->isEnabled(), 15000);
        QCOMPARE(f.onlyParams(QStringLiteral("configureWifi")), QStringLiteral(R"({"pass":"courtside","ssid":"%1"})").arg(ssid));
        const QRegularExpression done(QStringLiteral("^Joined %1 \\((192\\.168\\.1\\.\\d+)\\)\\.$").arg(QRegularExpression::escape(ssid)));
        const QRegularExpressionMatch match = done.match(panel.messageLabel()->text());
        QVERIFY2(match.hasMatch(), qPrintable(panel.messageLabel()->text()));
        QVERIFY(!isRed(panel.messageLabel()));
        QCOMPARE(joined.size(), 1);
        QCOMPARE(joined.first().first().toString(), match.captured(1));
    }

    void aJoinTheDeviceRevertsIsRed()
    {
        PanelDevice f({}, quickJoinChecks());
        QVERIFY(f.ready);
        WifiPanel panel(&f.session);
        QSignalSpy joined(&panel, &WifiPanel::joined);
        panel.connectButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("Choose or type a network name first."));
        QVERIFY(isRed(panel.messageLabel()));
        panel.networkBox()->setEditText(QStringLiteral("PressBox-revert"));
        panel.connectButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(panel.connectButton()->isEnabled(), 15000);
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("The device could not join PressBox-revert: authentication failed (wrong "
                                                              "password?). Check the password and try again."));
        QVERIFY(isRed(panel.messageLabel()));
        QVERIFY(joined.isEmpty());
    }

    void switchingToTheReceiver_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("params");
        QTest::addColumn<bool>("newKeyShown");
        QTest::newRow("empty key field asks for a new key")
            << "" << R"({"generate_key":true,"peer_mac":"aa:bb:cc:dd:ee:ff","role":"tx"})" << true;
        QTest::newRow("typed key asks for none") << " 00112233445566778899aabbccddeeff "
                                                 << R"({"key":"00112233445566778899aabbccddeeff","peer_mac":"aa:bb:cc:dd:ee:ff","role":"tx"})"
                                                 << false;
    }
    void switchingToTheReceiver()
    {
        QFETCH(QString, key);
        QFETCH(QString, params);
        QFETCH(bool, newKeyShown);
        PanelDevice f;
        QVERIFY(f.ready);
        Prompts prompts;
        WifiPanel panel(&f.session);
        panel.setTimingForTesting(quickCountdown());
        panel.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(!panel.noticeFrame()->isHidden(), 15000);
        QCOMPARE(panel.noticeLabel()->text(), QStringLiteral("This device connects over Wi-Fi. If the venue has no Wi-Fi it can send its "
                                                             "scores to a Corvane wireless receiver instead."));
        QCOMPARE(panel.noticeButton()->text(), QString::fromUtf8("Set up a Corvane wireless receiver instead of Wi-Fi…"));
        QVERIFY(!panel.receiverAddressField()->isVisibleTo(&panel));

        panel.noticeButton()->click();
        QVERIFY(panel.receiverAddressField()->isVisibleTo(&panel) && panel.pairingKeyField()->isVisibleTo(&panel));
        QCOMPARE(panel.noticeButton()->text(), QStringLiteral("Switch to the wireless receiver and restart"));
        panel.noticeButton()->click();
        QCOMPARE(panel.messageLabel()->text(), QStringLiteral("Enter the receiver's address first. It is printed on the receiver."));
        QVERIFY(isRed(panel.messageLabel()));
        QVERIFY(prompts.asked.isEmpty());

        panel.receiverAddressField()->setText(QStringLiteral(" AA:BB:CC:DD:EE:FF "));
        panel.pairingKeyField()->setText(key);
        panel.noticeButton()->click();
        QCOMPARE(prompts.questions(), QStringList{UseReceiver});
        QCOMPARE(panel.messageLabel()->text(), QString::fromUtf8("Switching to the wireless receiver…"));
        QTRY_VERIFY_WITH_TIMEOUT(!panel.countdownLabel()->isHidden(), 15000);
        QCOMPARE(f.onlyParams(QStringLiteral("setEspNow")), params);
        QCOMPARE(f.requestsOf(QStringLiteral("reboot")), 1);
        const QRegularExpression shownKey(QStringLiteral("^New pairing key - enter it on the receiver \\(shown only once\\):\n[0-9a-f]{32}$"));
        QCOMPARE(shownKey.match(panel.messageLabel()->text()).hasMatch(), newKeyShown);
        QVERIFY(panel.noticeFrame()->isHidden() && !panel.receiverAddressField()->isVisibleTo(&panel));
        QVERIFY(f.waitState(State::Restarting));
    }

    void aPairedDeviceSwitchesWithoutTheAddressThenCountsDown()
    {
        PanelDevice f({QStringLiteral("--paired-receiver"), QStringLiteral("aa:bb:cc:dd:ee:01")});
        QVERIFY(f.ready);
        Prompts prompts;
        WifiPanel panel(&f.session);
        panel.setTimingForTesting(quickCountdown());
        panel.refresh();
        QTRY_VERIFY_WITH_TIMEOUT(!panel.noticeFrame()->isHidden(), 15000);
        QCOMPARE(panel.noticeLabel()->text(), QStringLiteral("This device connects over Wi-Fi. It is also paired with a Corvane wireless "
                                                             "receiver (aa:bb:cc:dd:ee:01), so it can send its scores there instead."));
        QCOMPARE(panel.noticeButton()->text(), QStringLiteral("Use the wireless receiver instead of Wi-Fi"));
        // What the countdown shows after each of its ticks.
        QStringList shown;
        auto *ticks = panel.findChild<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(ticks);
        connect(ticks, &QTimer::timeout, this, [&] { shown << panel.countdownLabel()->text(); });
        panel.noticeButton()->click();
        QCOMPARE(prompts.questions(), QStringList{UseReceiver});
        QTRY_COMPARE_WITH_TIMEOUT(panel.countdownLabel()->text(),
                                  QStringLiteral("<div style='font-size:15pt; font-weight:bold'>The device is restarting and will send its "
                                                 "scores to the wireless receiver. Wi-Fi is off.</div><div style='font-size:20pt; "
                                                 "font-weight:bold'>The device should be back.</div><div style='font-size:15pt; "
                                                 "font-weight:bold'>Close this window and reopen it to reconnect to the device.</div>"),
                                  15000);
        const QString headline = QStringLiteral("The device is restarting and will send its scores to the wireless receiver. Wi-Fi is off.");
        QStringList seconds;
        for (int left = WifiPanel::CountdownSeconds - 1; left > 0; --left)
            seconds << WifiPanel::countdownText(headline, left);
        QTest::qWait(50); // no tick after the last
        QCOMPARE(shown, seconds << WifiPanel::countdownDoneText(headline));
        QCOMPARE(f.onlyParams(QStringLiteral("setEspNow")), QStringLiteral(R"({"role":"tx"})"));
        QVERIFY(panel.messageLabel()->text().isEmpty());
    }

    void transmitterOnSwitchesBackToWifi()
    {
        PanelDevice f({QStringLiteral("--paired-receiver"), QStringLiteral("aa:bb:cc:dd:ee:01")});
        QVERIFY(f.ready);
        Prompts prompts;
        WifiPanel panel(&f.session);
        panel.setTimingForTesting(quickCountdown());
        // The device switched to the receiver, restarted and was opened again.
        Calls<bool, const QString &, const QString &> switched;
        f.session.enableWirelessTransmitter(QString(), QString(), false, switched.make());
        QVERIFY(switched.wait());
        QVERIFY(f.reopenAfterRestart());
        QVERIFY(f.waitState(State::Ready));
        panel.refresh();
        QTRY_COMPARE_WITH_TIMEOUT(panel.noticeButton()->text(), QStringLiteral("Switch off the wireless transmitter and use Wi-Fi"), 15000);
        QCOMPARE(panel.noticeLabel()->text(), QStringLiteral("This device is sending its scores to a Corvane wireless receiver "
                                                             "(aa:bb:cc:dd:ee:01), so its Wi-Fi is switched off."));
        QVERIFY(!panel.scanButton()->isEnabled() && !panel.connectButton()->isEnabled() && !panel.networkBox()->isEnabled());
        f.paramsOf(QStringLiteral("setEspNow"));
        panel.noticeButton()->click();
        QCOMPARE(prompts.questions(), QStringList{QStringLiteral("Switch off the wireless transmitter | The device will stop sending its "
                                                                 "scores to the wireless receiver and restart so it can use Wi-Fi. The "
                                                                 "receiver's pairing is kept, so you can switch back later.\n\nContinue?")});
        QCOMPARE(panel.messageLabel()->text(), QString::fromUtf8("Switching off the wireless transmitter…"));
        QTRY_VERIFY_WITH_TIMEOUT(panel.countdownLabel()->text().contains(QStringLiteral("The device should be back.")), 15000);
        QVERIFY(panel.countdownLabel()->text().startsWith(
            QStringLiteral("<div style='font-size:15pt; font-weight:bold'>The device is restarting to use Wi-Fi.</div>")));
        QCOMPARE(f.onlyParams(QStringLiteral("setEspNow")), QStringLiteral(R"({"role":"off"})"));
    }

    void countdownTexts()
    {
        QCOMPARE(WifiPanel::countdownText(QStringLiteral("Back soon."), 7),
                 QStringLiteral("<div style='font-size:15pt; font-weight:bold'>Back soon.</div><div style='font-size:26pt; "
                                "font-weight:bold'>7</div><div style='font-size:15pt; font-weight:bold'>Wait 7 seconds, then close this "
                                "window and reopen it to reconnect to the device.</div>"));
    }
};

QTEST_MAIN(TestWifiPanel)
#include "tst_WifiPanel.moc"
