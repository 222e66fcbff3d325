// DeviceSession's device operations against corvane-devsim over a pty: Wi-Fi scan and join
// check, the wireless transmitter, controllers, the access token.

#include "support/SessionFixture.h"

#include <QRegularExpression>

using namespace corvane;
using State = DeviceSession::State;

namespace {

const QString TransmitterNote = QStringLiteral(
    "This device is set to send its scores to a wireless receiver, so its Wi-Fi is switched off and it cannot see "
    "networks. Turn the wireless link off to use Wi-Fi.");

// A device signed in with the factory password it was never asked to change.
struct ReadyDevice : SessionFixture {
    explicit ReadyDevice(DeviceSession::Timing timing = {}, QStringList extra = {})
        : SessionFixture(QStringList{QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--scan-ms"),
                                     QStringLiteral("50"), QStringLiteral("--restart-ms"), QStringLiteral("300")}
                             + extra,
                         timing)
    {
        session.start();
        ready = waitState(State::Ready);
    }
    bool ready = false;
};

DeviceSession::Timing quickWifiChecks()
{
    DeviceSession::Timing timing;
    timing.wifiCheckIntervalMs = 20;
    return timing;
}

using JoinCalls = Calls<bool, const QString &>;
using ProgressCalls = Calls<const QString &>;
using ScanCalls = Calls<bool, const QList<WifiNetwork> &, const QString &>;
using TransmitterCalls = Calls<bool, const QString &, const QString &>;

} // namespace

class TestDeviceSessionOperations : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scanDropsRepeatsAndHiddenNamesStrongestFirst()
    {
        ReadyDevice f;
        QVERIFY(f.ready);
        ScanCalls scan;
        f.session.scanWifi(scan.make());
        QVERIFY(scan.wait());
        const auto [ok, networks, note] = scan.only();
        QVERIFY(ok);
        QVERIFY(note.isEmpty());
        QStringList names;
        for (const WifiNetwork &network : networks)
            names << network.ssid;
        QCOMPARE(names, (QStringList{QStringLiteral("Arena-Guest"), QStringLiteral("PressBox-revert"), QStringLiteral("Arena-Staff"),
                                     QStringLiteral("Concourse-never"), QStringLiteral("Scoreboard")}));
        // The first "Arena-Staff" (-67) wins over the stronger second one (-49).
        QCOMPARE(networks.at(2).rssi, -67);
        QCOMPARE(networks.at(2).auth, QStringLiteral("3"));
        QCOMPARE(networks.at(0).auth, QStringLiteral("0"));
        QCOMPARE(networks.at(1).auth, QStringLiteral("wpa2_psk"));
    }

    void joinSucceedsWithTheAddress()
    {
        ReadyDevice f(quickWifiChecks());
        QVERIFY(f.ready);
        ProgressCalls progress;
        JoinCalls join;
        f.session.configureWifi(QStringLiteral("Arena-Staff"), QStringLiteral("pw-123456"), progress.make(), join.make());
        QVERIFY(join.wait());
        const auto [ok, text] = join.only();
        QVERIFY(ok);
        QVERIFY2(QRegularExpression(QStringLiteral("^Joined Arena-Staff \\(192\\.168\\.1\\.\\d+\\)\\.$")).match(text).hasMatch(),
                 qPrintable(text));
        QCOMPARE(text, QStringLiteral("Joined Arena-Staff (%1).").arg(f.session.stationIp()));
        QCOMPARE(f.paramsOf(QStringLiteral("configureWifi")),
                 (QList<QJsonObject>{QJsonObject{{QStringLiteral("ssid"), QStringLiteral("Arena-Staff")},
                                                 {QStringLiteral("pass"), QStringLiteral("pw-123456")}}}));
        // The device settles at its third status read: the first progress line, then one per
        // unsettled check.
        QCOMPARE(progress.log.size(), 3);
        QCOMPARE(std::get<0>(progress.log.at(0)), QStringLiteral("Checking that the device can join Arena-Staff\u2026"));
        QCOMPARE(std::get<0>(progress.log.at(1)), QStringLiteral("Checking that the device can join Arena-Staff\u2026 (0 s)"));
    }

    void revertedJoinGivesTheDevicesDetail()
    {
        ReadyDevice f(quickWifiChecks());
        QVERIFY(f.ready);
        ProgressCalls progress;
        JoinCalls join;
        f.session.configureWifi(QStringLiteral("PressBox-revert"), QStringLiteral("pw-123456"), progress.make(), join.make());
        QVERIFY(join.wait());
        QCOMPARE(join.only(), std::make_tuple(false, QStringLiteral("The device could not join PressBox-revert: authentication failed "
                                                                    "(wrong password?). Check the password and try again.")));
        QVERIFY(f.session.stationIp().isEmpty());
    }

    void joinThatNeverSettlesGivesUpAfterThirteenChecks()
    {
        ReadyDevice f(quickWifiChecks());
        QVERIFY(f.ready);
        f.paramsOf(QStringLiteral("getStatus")); // the sign-in's own
        ProgressCalls progress;
        JoinCalls join;
        f.session.configureWifi(QStringLiteral("Concourse-never"), QString(), progress.make(), join.make());
        QVERIFY(join.wait());
        QCOMPARE(join.only(), std::make_tuple(false, QStringLiteral("The device is still working on joining Concourse-never. Check "
                                                                    "back in a minute.")));
        QCOMPARE(f.requestsOf(QStringLiteral("getStatus")), 13);
        QCOMPARE(progress.log.size(), 13);
        QTest::qWait(200);
        QCOMPARE(join.log.size(), 1);
        QCOMPARE(f.requestsOf(QStringLiteral("getStatus")), 0);
    }

    void refusedJoinAndFailedCheckEndAtOnce()
    {
        ReadyDevice f(quickWifiChecks());
        QVERIFY(f.ready);
        ProgressCalls progress;
        JoinCalls join;
        f.session.configureWifi(QStringLiteral("  "), QString(), progress.make(), join.make());
        QVERIFY(join.wait());
        QCOMPARE(join.only(), std::make_tuple(false, QStringLiteral("Give the network name.")));
        QVERIFY(progress.log.isEmpty());

        // A status read that fails ends the check with its message, no retry.
        DeviceSession::Timing slow;
        slow.wifiCheckIntervalMs = 300;
        f.session.setTimingForTests(slow);
        JoinCalls second;
        f.session.configureWifi(QStringLiteral("Arena-Staff"), QString(), progress.make(), second.make());
        QVERIFY(progress.wait());
        QVERIFY(f.sim.command(QStringLiteral("logout")));
        QVERIFY(second.wait());
        QCOMPARE(second.only(), std::make_tuple(false, QStringLiteral("Sign in first.")));
    }

    void transmitterParamsAndTheRebootThatFollows()
    {
        ReadyDevice f;
        QVERIFY(f.ready);

        // Generated key, typed address trimmed and lower-cased.
        TransmitterCalls enabled;
        f.session.enableWirelessTransmitter(QStringLiteral("AA:BB:CC:DD:EE:FF "), QStringLiteral("ignored-key"), true, enabled.make());
        QVERIFY(enabled.wait());
        const auto [ok, error, key] = enabled.only();
        QVERIFY(ok);
        QVERIFY(error.isEmpty());
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(key).hasMatch(), qPrintable(key));
        QCOMPARE(f.paramsOf(QStringLiteral("setEspNow")),
                 (QList<QJsonObject>{QJsonObject{{QStringLiteral("role"), QStringLiteral("tx")},
                                                 {QStringLiteral("peer_mac"), QStringLiteral("aa:bb:cc:dd:ee:ff")},
                                                 {QStringLiteral("generate_key"), true}}}));
        QCOMPARE(f.requestsOf(QStringLiteral("reboot")), 1);
        QVERIFY(f.session.transmitterOn());
        QVERIFY(f.waitState(State::Restarting));

        // Back after the restart: the radio is the transmitter's, so the scan is empty.
        QVERIFY(f.reopenAfterRestart());
        QVERIFY(f.waitState(State::Ready));
        ScanCalls scan;
        f.session.scanWifi(scan.make());
        QVERIFY(scan.wait());
        QCOMPARE(std::get<0>(scan.only()), true);
        QVERIFY(std::get<1>(scan.only()).isEmpty());
        QCOMPARE(std::get<2>(scan.only()), TransmitterNote);

        Calls<const WirelessLink &> link;
        f.session.wirelessLink(link.make());
        QVERIFY(link.wait());
        const WirelessLink state = std::get<0>(link.only());
        QVERIFY(state.present);
        QVERIFY(state.transmitter);
        QVERIFY(state.keySet);
        QCOMPARE(state.peerMac, QStringLiteral("aa:bb:cc:dd:ee:ff"));
        QVERIFY(state.startError.isEmpty());

        // A typed key is sent trimmed; no address, no key and no generation sends neither.
        TransmitterCalls typed;
        f.session.enableWirelessTransmitter(QString(), QStringLiteral("  typed-key-99 "), false, typed.make());
        QVERIFY(typed.wait());
        QCOMPARE(typed.only(), std::make_tuple(true, QString(), QString()));
        QVERIFY(f.reopenAfterRestart());
        QVERIFY(f.waitState(State::Ready));
        TransmitterCalls bare;
        f.session.enableWirelessTransmitter(QStringLiteral("  "), QStringLiteral(" "), false, bare.make());
        QVERIFY(bare.wait());
        QCOMPARE(bare.only(), std::make_tuple(true, QString(), QString()));
        QCOMPARE(f.paramsOf(QStringLiteral("setEspNow")),
                 (QList<QJsonObject>{QJsonObject{{QStringLiteral("role"), QStringLiteral("tx")}, {QStringLiteral("key"), QStringLiteral("typed-key-99")}},
                                     QJsonObject{{QStringLiteral("role"), QStringLiteral("tx")}}}));
        QVERIFY(f.reopenAfterRestart());
        QVERIFY(f.waitState(State::Ready));

        // Switching it off ends in a restart too, and Wi-Fi sees networks again.
        Calls<bool, const QString &> disabled;
        f.session.disableEspNowSender(disabled.make());
        QVERIFY(disabled.wait());
        QCOMPARE(disabled.only(), std::make_tuple(true, QString()));
        QVERIFY(!f.session.transmitterOn());
        QCOMPARE(f.paramsOf(QStringLiteral("setEspNow")), (QList<QJsonObject>{QJsonObject{{QStringLiteral("role"), QStringLiteral("off")}}}));
        QVERIFY(f.waitState(State::Restarting));
        QVERIFY(f.reopenAfterRestart());
        QVERIFY(f.waitState(State::Ready));
        ScanCalls again;
        f.session.scanWifi(again.make());
        QVERIFY(again.wait());
        QCOMPARE(std::get<1>(again.only()).size(), 5);
    }

    void refusedTransmitterSettingsDoNotRestart()
    {
        ReadyDevice f;
        QVERIFY(f.ready);
        TransmitterCalls refused;
        f.session.enableWirelessTransmitter(QStringLiteral("not-an-address"), QString(), true, refused.make());
        QVERIFY(refused.wait());
        QCOMPARE(refused.only(),
                 std::make_tuple(false, QStringLiteral("The receiver address must look like aa:bb:cc:dd:ee:ff."), QString()));
        QCOMPARE(f.requestsOf(QStringLiteral("reboot")), 0);
        QVERIFY(!f.session.transmitterOn());
        QVERIFY(!f.session.restartExpected());
        QCOMPARE(f.session.state(), State::Ready);
    }

    void controllersOnceEachInTheDevicesOrder()
    {
        ReadyDevice f;
        QVERIFY(f.ready);
        Calls<bool, const QList<ControllerChoice> &, const QString &> list;
        f.session.listControllers(list.make());
        QVERIFY(list.wait());
        const auto [ok, choices, error] = list.only();
        QVERIFY(ok);
        QVERIFY(error.isEmpty());
        QCOMPARE(choices.size(), 11); // thirteen rows, two of them repeats
        QCOMPARE(choices.at(0), (ControllerChoice{QStringLiteral("daktronics"), QStringLiteral("5000"), QStringLiteral("basketball"), QStringLiteral("rs232")}));
        QCOMPARE(choices.at(3), (ControllerChoice{QStringLiteral("oes"), QStringLiteral("ISC9000"), QStringLiteral("basketball"), QStringLiteral("wireless")}));
        QCOMPARE(choices.last().inputType, QStringLiteral("channel_1"));

        Calls<bool, const QString &> set;
        f.session.setController(choices.at(4), set.make());
        QVERIFY(set.wait());
        QCOMPARE(set.only(), std::make_tuple(true, QString()));
        Calls<bool, const QJsonObject &, const QString &> config;
        f.session.getControllerConfig(config.make());
        QVERIFY(config.wait());
        QCOMPARE(std::get<1>(config.only()),
                 (QJsonObject{{QStringLiteral("manufacturer"), QStringLiteral("oes")}, {QStringLiteral("model"), QStringLiteral("ISC9000")},
                              {QStringLiteral("sport"), QStringLiteral("volleyball")}, {QStringLiteral("input_type"), QStringLiteral("rs485")}}));

        Calls<bool, const QString &> unknown;
        f.session.setController(ControllerChoice{QStringLiteral("acme"), QStringLiteral("1"), QStringLiteral("curling"), QStringLiteral("rs232")},
                                unknown.make());
        QVERIFY(unknown.wait());
        QCOMPARE(unknown.only(), std::make_tuple(false, QStringLiteral("This device cannot read that controller.")));
    }

    void apiTokenIsStable()
    {
        ReadyDevice f;
        QVERIFY(f.ready);
        Calls<bool, const QString &, const QString &> first;
        Calls<bool, const QString &, const QString &> second;
        f.session.ensureApiToken(first.make());
        f.session.ensureApiToken(second.make());
        QVERIFY(second.wait());
        const auto [ok, token, error] = first.only();
        QVERIFY(ok);
        QVERIFY(error.isEmpty());
        QCOMPARE(token.size(), 40);
        QCOMPARE(std::get<1>(second.only()), token);
        QCOMPARE(f.paramsOf(QStringLiteral("ensureApiToken")), (QList<QJsonObject>{QJsonObject(), QJsonObject()}));
    }

    void operationsBeforeThePasswordChangeAreRefused()
    {
        SessionFixture f({});
        f.session.start();
        QVERIFY(f.waitState(State::NeedsNewPassword));
        Calls<bool, const QString &, const QString &> token;
        f.session.ensureApiToken(token.make());
        QVERIFY(token.wait());
        QCOMPARE(token.only(), std::make_tuple(false, QString(), QStringLiteral("Change the factory password before anything else.")));
        Calls<const WirelessLink &> link;
        f.session.wirelessLink(link.make());
        QVERIFY(link.wait());
        QVERIFY(!std::get<0>(link.only()).present);
        QVERIFY(!f.session.transmitterOn());
    }
};

QTEST_GUILESS_MAIN(TestDeviceSessionOperations)
#include "tst_DeviceSessionOperations.moc"
