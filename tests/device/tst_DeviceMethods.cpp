// The device's admin methods as the panels issue them, through a signed-in DeviceSession's
// RpcClient with the deadlines of the method table, against corvane-devsim.

#include "device/rpc/RpcMethodTable.h"
#include "support/RpcWait.h"
#include "support/SessionFixture.h"

#include <QJsonArray>

using namespace corvane;
using State = DeviceSession::State;

namespace {

RpcResult callAndWait(DeviceSession &session, const QString &method, const QJsonObject &params = {})
{
    return test::callAndWait(*session.rpc(), method, params, rpcTimeoutMs(method));
}

QStringList readyArgs(QStringList extra = {})
{
    return QStringList{QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--restart-ms"), QStringLiteral("300"),
                       QStringLiteral("--scan-ms"), QStringLiteral("20")}
        + extra;
}

} // namespace

class TestDeviceMethods : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyMethodOfTheTableIsServed()
    {
        SessionFixture f(readyArgs());
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        // Methods that would restart or wipe the device go without their confirmation.
        const QSet<QString> drastic{QStringLiteral("reboot"), QStringLiteral("otaApply"), QStringLiteral("login")};
        for (const RpcMethodInfo &info : rpcMethodTable()) {
            if (drastic.contains(info.name))
                continue;
            const RpcResult result = callAndWait(f.session, info.name);
            QVERIFY2(result.code != QLatin1String("unknown_method") && result.code != QLatin1String("test_gave_up"),
                     qPrintable(info.name + QLatin1Char(' ') + result.code));
        }
        QCOMPARE(f.session.state(), State::Ready);
        QCOMPARE(callAndWait(f.session, QStringLiteral("factoryReset")).code, QStringLiteral("confirm_required"));
        QCOMPARE(callAndWait(f.session, QStringLiteral("c6OtaApply")).code, QStringLiteral("invalid_params"));
    }

    void networkTestRunsOverSeveralPolls()
    {
        SessionFixture f(readyArgs());
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        QList<bool> done;
        RpcResult last;
        for (int i = 0; i < 5 && !done.contains(true); ++i) {
            last = callAndWait(f.session, QStringLiteral("networkTest"));
            QVERIFY(last.ok);
            done << last.result.value(QLatin1String("done")).toBool();
        }
        QCOMPARE(done, (QList<bool>{false, false, true}));
        // Not on Wi-Fi: the test says so.
        QCOMPARE(last.result.value(QLatin1String("overall")).toString(), QStringLiteral("fail"));
        QCOMPARE(last.result.value(QLatin1String("checks")).toObject().value(QLatin1String("local_network")).toObject().value(QLatin1String("status")).toString(),
                 QStringLiteral("fail"));
    }

    void settingsKeepTheirDefaultsAndRanges()
    {
        SessionFixture f(readyArgs());
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        const RpcResult settings = callAndWait(f.session, QStringLiteral("getSettings"));
        QVERIFY(settings.ok);
        QVERIFY(!settings.result.contains(QLatin1String("ethernet_bridge_port")));
        QCOMPARE(settings.result.value(QLatin1String("xbee_channel")).toInt(), 255);
        QCOMPARE(settings.result.value(QLatin1String("manufacturer")).toString(), QStringLiteral("daktronics"));

        QCOMPARE(callAndWait(f.session, QStringLiteral("setSettings"), {{QStringLiteral("wireless_channel"), 80}}).code,
                 QStringLiteral("invalid_params"));
        QVERIFY(callAndWait(f.session, QStringLiteral("setSettings"), {{QStringLiteral("ethernet_bridge_port"), 1200}}).ok);
        QCOMPARE(callAndWait(f.session, QStringLiteral("getSettings")).result.value(QLatin1String("ethernet_bridge_port")).toInt(), 1200);
    }

    void tokensPasskeyAndPasswordReset()
    {
        SessionFixture f(readyArgs());
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        const QString token = callAndWait(f.session, QStringLiteral("ensureApiToken")).result.value(QLatin1String("token")).toString();
        QCOMPARE(callAndWait(f.session, QStringLiteral("ensureApiToken")).result.value(QLatin1String("token")).toString(), token);
        const QString fresh = callAndWait(f.session, QStringLiteral("ensureApiToken"), {{QStringLiteral("force_new"), true}})
                                  .result.value(QLatin1String("token")).toString();
        QVERIFY(!fresh.isEmpty() && fresh != token);
        QVERIFY(callAndWait(f.session, QStringLiteral("getStatus")).result.value(QLatin1String("api_token_configured")).toBool());
        QCOMPARE(callAndWait(f.session, QStringLiteral("blePasskey")).result.value(QLatin1String("passkey")).toString().size(), 6);

        QVERIFY(callAndWait(f.session, QStringLiteral("resetLocalPassword"), {{QStringLiteral("confirm"), true}}).ok);
        // The reset drops the sign-in; the factory password now asks for a new one.
        QCOMPARE(callAndWait(f.session, QStringLiteral("getLogs")).code, QStringLiteral("unauthorized"));
        const RpcResult login = callAndWait(f.session, QStringLiteral("login"), {{QStringLiteral("password"), QStringLiteral("mapleguard")}});
        QVERIFY(login.result.value(QLatin1String("must_change_password")).toBool());
    }

    void firmwareUpdateEndsInARestartIntoTheNewVersion()
    {
        SessionFixture f(readyArgs());
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        const RpcResult check = callAndWait(f.session, QStringLiteral("otaCheck"));
        QVERIFY(check.result.value(QLatin1String("update_available")).toBool());
        const QString version = check.result.value(QLatin1String("version")).toString();
        QVERIFY(callAndWait(f.session, QStringLiteral("otaApply")).ok);
        QStringList states;
        QVERIFY(QTest::qWaitFor([&] {
            const RpcResult progress = callAndWait(f.session, QStringLiteral("otaProgress"));
            const QString state = progress.result.value(QLatin1String("state")).toString();
            if (states.isEmpty() || states.last() != state)
                states << state;
            QTest::qWait(100);
            return state == QLatin1String("rebooting") || !progress.ok;
        }, 15000));
        QCOMPARE(states, (QStringList{QStringLiteral("downloading"), QStringLiteral("applying"), QStringLiteral("rebooting")}));
        // A restart the session did not ask for is a loss; the device comes back updated.
        QVERIFY(f.waitState(State::Lost));
        QVERIFY(f.reopenAfterRestart());
        QVERIFY(f.waitState(State::Ready));
        QCOMPARE(f.session.firmwareVersion(), version);
    }

    void factoryResetComesBackFactoryFresh()
    {
        SessionFixture f(readyArgs());
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        QVERIFY(callAndWait(f.session, QStringLiteral("setDeviceId"), {{QStringLiteral("device_id"), QStringLiteral("GYM-EAST")}}).ok);
        QVERIFY(callAndWait(f.session, QStringLiteral("factoryReset"), {{QStringLiteral("confirm"), true}}).ok);
        QVERIFY(f.waitState(State::Lost));
        QVERIFY(f.reopenAfterRestart());
        // The factory password signs in again, and asks to be changed.
        QVERIFY(f.waitState(State::NeedsNewPassword));
        QCOMPARE(f.session.deviceId(), QStringLiteral("GYM-EAST"));
    }

    void stateFileKeepsThePasswordAcrossRuns()
    {
        QTemporaryDir dir;
        const QString stateFile = dir.filePath(QStringLiteral("device.json"));
        {
            SessionFixture f({QStringLiteral("--state"), stateFile});
            f.session.start();
            QVERIFY(f.waitState(State::NeedsNewPassword));
            QVERIFY(callAndWait(f.session, QStringLiteral("changePassword"),
                                {{QStringLiteral("current_password"), QStringLiteral("mapleguard")},
                                 {QStringLiteral("new_password"), QStringLiteral("kept-secret")},
                                 {QStringLiteral("confirm_password"), QStringLiteral("kept-secret")}})
                        .ok);
        }
        SessionFixture f({QStringLiteral("--state"), stateFile});
        f.session.start();
        QVERIFY(f.waitState(State::NeedsPassword));
        f.session.submitPassword(QStringLiteral("kept-secret"));
        QVERIFY(f.waitState(State::Ready));
    }
};

QTEST_GUILESS_MAIN(TestDeviceMethods)
#include "tst_DeviceMethods.moc"
