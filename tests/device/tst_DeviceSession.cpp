// DeviceSession's state machine and sign-in, end to end: corvane-devsim on a pty, UsbLink,
// RpcClient and the session.

#include "base/Log.h"
#include "device/DeviceLink.h"
#include "device/rpc/RpcTransport.h"
#include "support/SessionFixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>

using namespace corvane;
using State = DeviceSession::State;

namespace {

const QString Unplugged = QStringLiteral("The USB device was unplugged or stopped responding.");

QStringList g_log;
void captureLog(LogLevel, const char *line) { g_log << QString::fromUtf8(line); }

// A link that needs polling, as the network and Bluetooth links do, carried over the
// simulator's USB line so that the polls reach a real (simulated) device.
class PollingLink : public DeviceLink {
public:
    explicit PollingLink(const QString &port)
        : m_usb(new UsbLink(port, this))
    {
        connect(m_usb, &DeviceLink::opened, this, &DeviceLink::opened);
        connect(m_usb, &DeviceLink::closed, this, &DeviceLink::closed);
        connect(m_usb, &DeviceLink::envelope, this, &DeviceLink::envelope);
        connect(m_usb, &DeviceLink::failed, this, &DeviceLink::failed);
    }
    QString kind() const override { return QStringLiteral("polling-test"); }
    void open() override { m_usb->open(); }
    void close() override { m_usb->close(); }
    RpcTransport *rpcTransport() const override { return m_usb->rpcTransport(); }
    bool needsPolling() const override { return true; }

private:
    UsbLink *m_usb;
};

QStringList args(std::initializer_list<const char *> items)
{
    QStringList out;
    for (const char *item : items)
        out << QString::fromUtf8(item);
    return out;
}

} // namespace

class TestDeviceSession : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void factoryPasswordLeadsToNewPasswordThenReady()
    {
        DeviceSession::Timing timing;
        timing.pollIntervalMs = 50;
        SessionFixture f({}, timing);
        QSignalSpy statusReads(&f.session, &DeviceSession::statusUpdated);
        f.session.start();
        QVERIFY(f.waitState(State::NeedsNewPassword));
        QCOMPARE(statusReads.count(), 1); // the read after the login
        QCOMPARE(f.stateSequence(), (QList<State>{State::Connecting, State::SigningIn, State::NeedsNewPassword}));
        for (const auto &entry : std::as_const(f.states))
            QVERIFY(entry.second.isEmpty());
        QCOMPARE(f.session.password(), QStringLiteral("mapleguard"));
        QVERIFY(f.session.mustChangePassword());
        // The status was read after the login; the hello filled in what it lacks.
        QCOMPARE(f.session.deviceId(), QStringLiteral("CVSIM-0001"));
        QCOMPARE(f.session.firmwareVersion(), QStringLiteral("1.4.0-sim"));
        QCOMPARE(f.session.hello().value(QLatin1String("t")).toString(), QStringLiteral("hello"));

        // A refused change leaves the state alone.
        Calls<bool, const QString &> weak;
        f.session.changePassword(QStringLiteral("mapleguard"), QStringLiteral("short"), weak.make());
        QVERIFY(weak.wait());
        QCOMPARE(weak.only(), std::make_tuple(false, QStringLiteral("The new password must have at least 8 characters.")));
        QCOMPARE(f.session.state(), State::NeedsNewPassword);

        Calls<bool, const QString &> changed;
        f.session.changePassword(QStringLiteral("mapleguard"), QStringLiteral("scoreboard42"), changed.make());
        QVERIFY(changed.wait());
        QCOMPARE(changed.only(), std::make_tuple(true, QString()));
        QCOMPARE(f.session.state(), State::Ready);
        QCOMPARE(f.states.last().first, State::Ready);
        QCOMPARE(f.session.password(), QStringLiteral("scoreboard42"));
        QVERIFY(!f.session.mustChangePassword());
        QCOMPARE(f.paramsOf(QStringLiteral("changePassword")).last(),
                 (QJsonObject{{QStringLiteral("current_password"), QStringLiteral("mapleguard")},
                              {QStringLiteral("new_password"), QStringLiteral("scoreboard42")},
                              {QStringLiteral("confirm_password"), QStringLiteral("scoreboard42")}}));

        // The USB device pushes its state itself: no polls, whatever the interval.
        QTest::qWait(400);
        QCOMPARE(f.requestsOf(QStringLiteral("getState")), 0);
        QCOMPARE(weak.log.size(), 1);
        QCOMPARE(changed.log.size(), 1);
    }

    void changedPasswordAsksAfterOneAttempt()
    {
        SessionFixture f(args({"--password", "secret-77"}));
        f.session.start();
        QVERIFY(f.waitState(State::NeedsPassword));
        QCOMPARE(f.paramsOf(QStringLiteral("login")),
                 (QList<QJsonObject>{QJsonObject{{QStringLiteral("password"), QStringLiteral("mapleguard")}}}));
        QVERIFY(f.session.lastError().isEmpty());
        QVERIFY(f.session.password().isEmpty());

        f.states.clear();
        f.session.submitPassword(QStringLiteral("guess-1"));
        QVERIFY(QTest::qWaitFor([&] { return f.states.size() == 2; }));
        QCOMPARE(f.stateSequence(), (QList<State>{State::SigningIn, State::NeedsPassword}));

        f.session.submitPassword(QStringLiteral("secret-77"));
        QVERIFY(f.waitState(State::Ready));
        QCOMPARE(f.session.password(), QStringLiteral("secret-77"));
        QVERIFY(!f.session.mustChangePassword());
        QCOMPARE(f.paramsOf(QStringLiteral("login")).size(), 2);
    }

    void rateLimitStopsAtNeedsPasswordWithTheDevicesMessage()
    {
        SessionFixture f(args({"--password", "secret-77", "--max-failures", "3"}));
        f.session.start();
        QVERIFY(f.waitState(State::NeedsPassword)); // failure 1, the factory password
        f.session.submitPassword(QStringLiteral("guess-1"));
        QVERIFY(QTest::qWaitFor([&] { return f.states.last().first == State::NeedsPassword && f.states.size() == 5; }));
        QVERIFY(f.session.lastError().isEmpty());

        f.session.submitPassword(QStringLiteral("guess-2")); // failure 3: locked out
        QVERIFY(QTest::qWaitFor([&] { return f.states.size() == 7; }));
        QCOMPARE(f.states.last(), qMakePair(State::NeedsPassword, QString()));
        QCOMPARE(f.session.lastError(), QStringLiteral("Too many wrong passwords. Try again in 30 seconds."));

        // Even the right password is refused while the device holds the lock-out.
        f.session.submitPassword(QStringLiteral("secret-77"));
        QVERIFY(QTest::qWaitFor([&] { return f.states.size() == 9; }));
        QCOMPARE(f.session.state(), State::NeedsPassword);
        QVERIFY(f.session.lastError().startsWith(QStringLiteral("Too many wrong passwords.")));
    }

    void aNewAttemptForgetsTheLockOut()
    {
        SessionFixture f(args({"--password", "secret-77", "--max-failures", "1", "--lockout-ms", "300"}));
        g_log.clear();
        const LogSink previous = setLogSink(captureLog);
        f.session.start();
        QVERIFY(f.waitState(State::NeedsPassword));
        QVERIFY(f.session.lastError().startsWith(QStringLiteral("Too many wrong passwords.")));

        QTest::qWait(400); // the lock-out ends
        f.session.submitPassword(QStringLiteral("secret-77"));
        QVERIFY(f.session.lastError().isEmpty());
        QVERIFY(f.waitState(State::Ready));
        QVERIFY(f.session.lastError().isEmpty());
        // Support sees each step with its reason, never a password.
        setLogSink(previous);
        QVERIFY(g_log.contains(QStringLiteral("[corvane] device session (usb): NeedsPassword")));
        QVERIFY(g_log.contains(QStringLiteral("[corvane] device session (usb): Ready")));
        QVERIFY(g_log.filter(QStringLiteral("secret-77")).isEmpty());
        QVERIFY(g_log.filter(QStringLiteral("mapleguard")).isEmpty());

        // A status read that fails adds no status signal.
        QSignalSpy statusReads(&f.session, &DeviceSession::statusUpdated);
        Calls<bool, const QString &> read;
        f.session.refreshStatus(read.make());
        QVERIFY(read.wait());
        QCOMPARE(std::get<0>(read.only()), true);
        QCOMPARE(statusReads.count(), 1);
        f.session.close();
        Calls<bool, const QString &> closed;
        f.session.refreshStatus(closed.make());
        QVERIFY(closed.wait());
        QCOMPARE(std::get<0>(closed.only()), false);
        QCOMPARE(statusReads.count(), 1);
    }

    void rebootRestartsAndSignsInAgainWithoutAsking()
    {
        SessionFixture f(args({"--password", "secret-77", "--restart-ms", "700"}));
        f.session.start();
        QVERIFY(f.waitState(State::NeedsPassword));
        f.session.submitPassword(QStringLiteral("secret-77"));
        QVERIFY(f.waitState(State::Ready));
        f.sim.take(QStringLiteral("PARAMS login"));

        Calls<bool, const QString &> rebooted;
        f.states.clear();
        f.session.reboot(rebooted.make());
        QVERIFY(rebooted.wait());
        QCOMPARE(rebooted.only(), std::make_tuple(true, QString()));
        QVERIFY(f.waitState(State::Restarting));
        QCOMPARE(f.states, (QList<QPair<State, QString>>{{State::Restarting, QString()}}));

        // The device comes back under the same name; the remembered password signs in.
        QVERIFY(f.reopenAfterRestart());
        QVERIFY(f.waitState(State::Ready));
        QCOMPARE(f.stateSequence(), (QList<State>{State::Restarting, State::SigningIn, State::Ready}));
        QCOMPARE(f.paramsOf(QStringLiteral("login")),
                 (QList<QJsonObject>{QJsonObject{{QStringLiteral("password"), QStringLiteral("secret-77")}}}));
        QCOMPARE(rebooted.log.size(), 1);

        // The restart is over: pulling the cable now is a loss, not another restart.
        QVERIFY(f.sim.command(QStringLiteral("unplug")));
        QVERIFY(f.waitState(State::Lost));
        QCOMPARE(f.states.last().second, Unplugged);
    }

    void rebootLosingTheLineCountsAsDone()
    {
        SessionFixture f(args({"--password", "mapleguard"}));
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        // The device goes away before it answers: the call ends with "disconnected".
        QVERIFY(f.sim.command(QStringLiteral("silent on")));
        Calls<bool, const QString &> rebooted;
        f.session.reboot(rebooted.make());
        QTest::qWait(100);
        QVERIFY(f.sim.command(QStringLiteral("unplug")));
        QVERIFY(rebooted.wait());
        QCOMPARE(rebooted.only(), std::make_tuple(true, QString()));
        QVERIFY(f.waitState(State::Restarting));
        QVERIFY(f.session.restartExpected());
    }

    // The device may restart before it answers at all: a reboot whose request times out
    // has done what was asked, and the loss that follows is the restart.
    void rebootTimingOutCountsAsRestarting()
    {
        DeviceSession::Timing timing;
        timing.rebootTimeoutMs = 300;
        SessionFixture f(args({"--password", "mapleguard"}), timing);
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        QVERIFY(f.sim.command(QStringLiteral("silent on")));
        Calls<bool, const QString &> rebooted;
        f.session.reboot(rebooted.make());
        QVERIFY(rebooted.wait());
        QCOMPARE(rebooted.only(), std::make_tuple(true, QString()));
        QVERIFY(f.session.restartExpected());
        QVERIFY(f.sim.command(QStringLiteral("unplug")));
        QVERIFY(f.waitState(State::Restarting));
    }

    void refusedRebootIsNoRestart()
    {
        SessionFixture f(args({"--password", "mapleguard"}));
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        QVERIFY(f.sim.command(QStringLiteral("logout")));
        Calls<bool, const QString &> rebooted;
        f.session.reboot(rebooted.make());
        QVERIFY(rebooted.wait());
        QCOMPARE(rebooted.only(), std::make_tuple(false, QStringLiteral("Sign in first.")));
        QVERIFY(!f.session.restartExpected());
        QVERIFY(f.sim.command(QStringLiteral("unplug")));
        QVERIFY(f.waitState(State::Lost));
    }

    void lostLinkFailsEveryOutstandingCall()
    {
        SessionFixture f(args({"--password", "mapleguard", "--scan-ms", "5000"}));
        f.session.start();
        QVERIFY(f.waitState(State::Ready));

        Calls<bool, const QList<WifiNetwork> &, const QString &> scan;
        Calls<bool, const QList<ControllerChoice> &, const QString &> controllers;
        Calls<bool, const QString &> status;
        f.session.scanWifi(scan.make());
        f.session.listControllers(controllers.make());
        f.session.refreshStatus(status.make());
        QVERIFY(!f.sim.waitFor(QStringLiteral("RPC 3 scanWifi"), 5000).isEmpty());
        QVERIFY(f.sim.command(QStringLiteral("unplug")));
        QVERIFY(f.waitState(State::Lost));
        QCOMPARE(f.states.last().second, Unplugged);

        const QString lost = QStringLiteral("The connection to the device was lost");
        QCOMPARE(std::get<0>(scan.only()), false);
        QCOMPARE(std::get<2>(scan.only()), lost);
        QCOMPARE(std::get<2>(controllers.only()), lost);
        QCOMPARE(status.only(), std::make_tuple(false, lost));
        QCOMPARE(f.session.rpc()->pendingCount(), 0);

        // Closing afterwards is silent.
        const int before = f.states.size();
        f.session.close();
        QCOMPARE(f.session.state(), State::Idle);
        QTest::qWait(100);
        QCOMPARE(f.states.size(), before);
        QCOMPARE(scan.log.size(), 1);
    }

    void closeIsSilentAndEndsOutstandingCalls()
    {
        DeviceSession::Timing timing;
        timing.wifiCheckIntervalMs = 60000;
        SessionFixture f(args({"--password", "mapleguard", "--scan-ms", "5000"}), timing);
        f.session.start();
        QVERIFY(f.waitState(State::Ready));

        // One call on the line, and one Wi-Fi join waiting for its next check.
        Calls<bool, const QString &> join;
        Calls<const QString &> progress;
        f.session.configureWifi(QStringLiteral("Arena-Staff"), QStringLiteral("pw-123456"), progress.make(), join.make());
        QVERIFY(progress.wait());
        Calls<bool, const QList<WifiNetwork> &, const QString &> scan;
        f.session.scanWifi(scan.make());
        QVERIFY(!f.sim.waitFor(QStringLiteral("RPC 4 scanWifi"), 5000).isEmpty());

        const int before = f.states.size();
        f.session.close();
        QCOMPARE(f.session.state(), State::Idle);
        QVERIFY(f.session.password().isEmpty());
        QCOMPARE(std::get<2>(scan.only()), QStringLiteral("Disconnected"));
        QCOMPARE(join.only(), std::make_tuple(false, QStringLiteral("Disconnected")));
        QTest::qWait(300);
        QCOMPARE(f.states.size(), before);
        QCOMPARE(scan.log.size(), 1);
        QCOMPARE(join.log.size(), 1);
    }

    void destroyingTheSessionAnswersEveryCallback()
    {
        Calls<bool, const QList<WifiNetwork> &, const QString &> scan;
        Calls<bool, const QString &> token;
        {
            SessionFixture f(args({"--password", "mapleguard", "--scan-ms", "5000"}));
            f.session.start();
            QVERIFY(f.waitState(State::Ready));
            f.session.scanWifi(scan.make());
            f.session.ensureApiToken([&token](bool ok, const QString &, const QString &error) { token.make()(ok, error); });
            QVERIFY(!f.sim.waitFor(QStringLiteral("RPC 3 scanWifi"), 5000).isEmpty());
        }
        QCOMPARE(std::get<2>(scan.only()), QStringLiteral("Disconnected"));
        QCOMPARE(token.only(), std::make_tuple(false, QStringLiteral("Disconnected")));
    }

    void receiverOnlyThenThroughTheReceiver()
    {
        SessionFixture f(args({"--mode", "receiver", "--password", "mapleguard", "--relay-ms", "50"}));
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        QVERIFY(f.session.receiverOnly());
        QCOMPARE(f.requestsOf(QStringLiteral("login")), 0);

        f.session.signInThroughReceiver();
        QVERIFY(QTest::qWaitFor([&] { return f.states.size() == 4 && f.session.state() == State::Ready; }));
        QCOMPARE(f.stateSequence(), (QList<State>{State::Connecting, State::Ready, State::SigningIn, State::Ready}));
        QVERIFY(f.session.viaReceiver());
        QVERIFY(!f.session.receiverOnly());
        QCOMPARE(f.session.deviceId(), QStringLiteral("CVSIM-0001"));
    }

    void loginTimeoutThroughTheReceiverNamesTheReceiver()
    {
        DeviceSession::Timing timing;
        timing.receiverLoginTimeoutMs = 400;
        SessionFixture f(args({"--mode", "receiver", "--paired-silent"}), timing);
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        f.session.signInThroughReceiver();
        QVERIFY(f.waitState(State::Error));
        QCOMPARE(f.states.last().second, DeviceSession::receiverTimeoutText());
        QCOMPARE(f.session.lastError(), DeviceSession::receiverTimeoutText());
    }

    void loginTimeoutOverADirectLinkKeepsTheClientsText()
    {
        DeviceSession::Timing timing;
        timing.loginTimeoutMs = 400;
        SessionFixture f(args({"--silent"}), timing);
        f.session.start();
        QVERIFY(f.sim.command(QStringLiteral("hello"))); // answers hello, never the login
        QVERIFY(f.waitState(State::Error));
        QCOMPARE(f.states.last().second, QStringLiteral("The device did not answer 'login' in time"));
    }

    void linkFailureIsAnError()
    {
        DeviceSession session(new UsbLink(QStringLiteral("/dev/corvane-no-such-port")));
        QSignalSpy states(&session, &DeviceSession::stateChanged);
        session.start();
        QCOMPARE(session.state(), State::Error);
        QVERIFY(session.lastError().startsWith(QStringLiteral("Could not open the USB port")));
        QCOMPARE(states.last().at(1).toString(), session.lastError());
    }

    void pollingLinkPollsOncePerTickAndStaysOutOfTheWay()
    {
        DeviceSession::Timing timing;
        timing.pollIntervalMs = 100;
        SessionFixture f(args({"--password", "mapleguard", "--scan-ms", "1500"}), timing, pollingLink);
        QSignalSpy envelopes(&f.session, &DeviceSession::envelope);
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(QTest::qWaitFor([&] { return envelopes.count() >= 5; }, 10000));
        QTest::qWait(150); // the poll in flight, if any, lands
        const qint64 elapsed = clock.elapsed();
        // Each answered poll is one envelope; never more polls than ticks.
        const int polls = f.requestsOf(QStringLiteral("getState"));
        QVERIFY2(polls >= envelopes.count() && polls <= envelopes.count() + 1, qPrintable(QString::number(polls)));
        QVERIFY2(polls <= elapsed / timing.pollIntervalMs + 2, qPrintable(QStringLiteral("%1 polls in %2 ms").arg(polls).arg(elapsed)));
        const QJsonObject env = envelopes.last().at(0).toJsonObject();
        QCOMPARE(env.value(QLatin1String("type")).toString(), QStringLiteral("state"));

        // A slow call holds the polls back instead of queueing them behind it.
        Calls<bool, const QList<WifiNetwork> &, const QString &> scan;
        f.session.scanWifi(scan.make());
        int mostPending = 0;
        QVERIFY(QTest::qWaitFor([&] {
            mostPending = qMax(mostPending, f.session.rpc()->pendingCount());
            return !scan.log.isEmpty();
        }, 10000));
        QCOMPARE(mostPending, 1);
        QVERIFY(std::get<0>(scan.only()));
        const int envelopesAfterScan = envelopes.count();
        QVERIFY(QTest::qWaitFor([&] { return envelopes.count() > envelopesAfterScan; }, 5000));
    }

    void noPollingUntilTheFactoryPasswordIsChanged()
    {
        DeviceSession::Timing timing;
        timing.pollIntervalMs = 50;
        SessionFixture f({}, timing, pollingLink);
        QSignalSpy envelopes(&f.session, &DeviceSession::envelope);
        f.session.start();
        QVERIFY(f.waitState(State::NeedsNewPassword));
        QTest::qWait(300);
        QCOMPARE(f.requestsOf(QStringLiteral("getState")), 0);
        Calls<bool, const QString &> changed;
        f.session.changePassword(QStringLiteral("mapleguard"), QStringLiteral("scoreboard42"), changed.make());
        QVERIFY(changed.wait());
        QCOMPARE(f.session.state(), State::Ready);
        QVERIFY(QTest::qWaitFor([&] { return envelopes.count() >= 2; }));
    }

    void pollAfterTheDeviceDroppedTheSessionSignsInSilently()
    {
        DeviceSession::Timing timing;
        timing.pollIntervalMs = 100;
        SessionFixture f(args({"--password", "mapleguard"}), timing, pollingLink);
        QSignalSpy envelopes(&f.session, &DeviceSession::envelope);
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        QVERIFY(QTest::qWaitFor([&] { return envelopes.count() >= 1; }));
        f.paramsOf(QStringLiteral("login"));
        f.states.clear();

        QVERIFY(f.sim.command(QStringLiteral("logout")));
        QVERIFY(!f.sim.waitFor(QStringLiteral("PARAMS login"), 5000).isEmpty());
        const int before = envelopes.count();
        QVERIFY(QTest::qWaitFor([&] { return envelopes.count() > before + 2; }));
        // Back to Ready without a stop on the way.
        QVERIFY(!f.states.isEmpty());
        for (const auto &entry : std::as_const(f.states))
            QCOMPARE(entry.first, State::Ready);

        // The password was changed elsewhere: the silent sign-in fails and the user is asked.
        f.states.clear();
        QVERIFY(f.sim.command(QStringLiteral("password changed-elsewhere")));
        QVERIFY(f.waitState(State::NeedsPassword));
        QCOMPARE(f.stateSequence(), QList<State>{State::NeedsPassword});
        f.requestsOf(QStringLiteral("getState"));
        QTest::qWait(400);
        QCOMPARE(f.requestsOf(QStringLiteral("getState")), 0); // no polls until signed in again
    }

    void threePollTimeoutsCloseTheLinkAndReportLost()
    {
        DeviceSession::Timing timing;
        timing.pollIntervalMs = 50;
        timing.pollTimeoutMs = 200;
        SessionFixture f(args({"--password", "mapleguard"}), timing, pollingLink);
        QSignalSpy envelopes(&f.session, &DeviceSession::envelope);
        f.session.start();
        QVERIFY(f.waitState(State::Ready));
        QVERIFY(QTest::qWaitFor([&] { return envelopes.count() >= 1; }));

        // Two time-outs and an answer: the count starts again, so two more are no loss either.
        for (int round = 0; round < 2; ++round) {
            QVERIFY(f.sim.command(QStringLiteral("drop 2")));
            QVERIFY(!f.sim.waitFor(QStringLiteral("DROPPED getState")).isEmpty());
            QVERIFY(!f.sim.waitFor(QStringLiteral("DROPPED getState")).isEmpty());
            const int before = envelopes.count();
            QVERIFY(QTest::qWaitFor([&] { return envelopes.count() > before; }));
            QCOMPARE(f.session.state(), State::Ready);
        }

        QVERIFY(f.sim.command(QStringLiteral("silent on")));
        QVERIFY(f.waitState(State::Lost, 5000));
        QCOMPARE(f.states.last().second, DeviceSession::stoppedAnsweringText());
        QVERIFY(!f.session.link()->rpcTransport()->isConnected());
        QCOMPARE(f.requestsOf(QStringLiteral("getState")) >= 3, true);

        // Nothing goes out on the closed link; calls fail at once.
        Calls<bool, const QString &> status;
        f.session.refreshStatus(status.make());
        QCOMPARE(status.only(), std::make_tuple(false, QStringLiteral("Not connected to a device")));
        const int lostSignals = f.states.size();
        QTest::qWait(300);
        QCOMPARE(f.states.size(), lostSignals);
    }

private:
    static DeviceLink *pollingLink(const QString &port) { return new PollingLink(port); }
};

QTEST_GUILESS_MAIN(TestDeviceSession)
#include "tst_DeviceSession.moc"
