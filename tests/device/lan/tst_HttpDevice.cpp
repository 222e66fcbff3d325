#include "device/DeviceSession.h"
#include "device/lan/HttpAdminTransport.h"
#include "device/lan/HttpLink.h"
#include "device/lan/ScriptedWebServer.h"
#include "device/rpc/RpcClient.h"
#include "device/usb/UsbLink.h"
#include "support/DevSimProcess.h"
#include "support/RpcWait.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace corvane;
using test::callAndWait;

// The plugin's network link against corvane-devsim's web API over real HTTP on 127.0.0.1:
// the same device state and RPC behaviour as its USB line, reached through routes, cookies
// and CSRF tokens.

namespace {

const QString Factory = QStringLiteral("mapleguard");

// Serial port locks are named after the path and shared by every process on the machine;
// a path of the test's own keeps runs in parallel from taking each other's lock.
QStringList simArguments(const QTemporaryDir &dir, const QStringList &extra)
{
    return QStringList{QStringLiteral("--live-ms"), QStringLiteral("0"), QStringLiteral("--http-port"), QStringLiteral("0"),
                       QStringLiteral("--pty-link"), dir.filePath(QStringLiteral("ttyCORVANE0"))}
        + extra;
}

QJsonObject password(const QString &text)
{
    return QJsonObject{{QStringLiteral("password"), text}};
}

// One request line the simulator reported: verb, path, content type and body.
struct WebLine {
    explicit WebLine(const QString &line)
    {
        const QStringList parts = line.split(QLatin1Char(' '));
        verb = parts.value(1);
        path = parts.value(2);
        contentType = parts.value(3);
        if (parts.value(4) != QLatin1String("-"))
            body = QByteArray::fromBase64(parts.value(4).toLatin1());
    }
    QString verb;
    QString path;
    QString contentType;
    QByteArray body;
};

// The simulator with its web API, and an opened network link to it.
struct Fixture {
    explicit Fixture(const QStringList &extra = {})
        : sim(simArguments(dir, extra))
    {
        address = sim.waitFor(QStringLiteral("HTTP ")).mid(5);
        link = std::make_unique<HttpLink>(address);
        client = std::make_unique<RpcClient>(link->rpcTransport());
    }
    bool open()
    {
        QSignalSpy opened(link.get(), &DeviceLink::opened);
        link->open();
        return opened.wait(10000);
    }
    HttpAdminTransport *transport() const { return link->adminTransport(); }
    RpcResult call(const QString &method, const QJsonObject &params = {}) { return callAndWait(*client, method, params); }

    QTemporaryDir dir;
    DevSimProcess sim;
    QString address;
    std::unique_ptr<HttpLink> link;
    std::unique_ptr<RpcClient> client;
};

// A DeviceSession on a network link to the simulator, with its states recorded.
struct SessionOnHttp {
    using State = DeviceSession::State;

    explicit SessionOnHttp(const QStringList &extra = {}, DeviceSession::Timing timing = fastPolls())
        : sim(simArguments(dir, extra))
        , address(sim.waitFor(QStringLiteral("HTTP ")).mid(5))
        , session(new HttpLink(address))
    {
        session.setTimingForTests(timing);
        QObject::connect(&session, &DeviceSession::stateChanged, &session,
                         [this](State state, const QString &) { states << state; });
    }
    // Polls ten times a second, so that a test sees several in a short time.
    static DeviceSession::Timing fastPolls()
    {
        DeviceSession::Timing timing;
        timing.pollIntervalMs = 100;
        return timing;
    }
    bool startAndWait(State state)
    {
        session.start();
        return waitState(state);
    }
    bool waitState(State state, int timeoutMs = 15000)
    {
        return QTest::qWaitFor([&] { return session.state() == state; }, timeoutMs);
    }
    // The device's password is not the factory one: the user types it.
    bool signIn()
    {
        if (!startAndWait(State::NeedsPassword))
            return false;
        session.submitPassword(QStringLiteral("arena-admin-1"));
        return waitState(State::Ready);
    }
    HttpAdminTransport *transport() const { return static_cast<HttpLink *>(session.link())->adminTransport(); }
    int logins() { return sim.take(QStringLiteral("WEB POST /login ")).size(); }
    int polls() { return sim.take(QStringLiteral("WEB GET /state ")).size(); }
    // Waits until `count` more polls reached the device.
    bool waitPolls(int count, int timeoutMs = 10000)
    {
        int seen = 0;
        return QTest::qWaitFor([&] { return (seen += polls()) >= count; }, timeoutMs);
    }

    QTemporaryDir dir;
    DevSimProcess sim;
    QString address;
    DeviceSession session;
    QList<State> states;
};

struct Done {
    int calls = 0;
    bool ok = false;
    QString error;
    DeviceSession::DoneCallback callback()
    {
        return [this](bool success, const QString &text) {
            ++calls;
            ok = success;
            error = text;
        };
    }
};

const QString Admin = QStringLiteral("arena-admin-1");

} // namespace

class TestHttpDevice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addressPrintedBeforeThePty()
    {
        Fixture f;
        QVERIFY(f.address.startsWith(QStringLiteral("127.0.0.1:")));
        QCOMPARE(f.link->host(), QStringLiteral("127.0.0.1"));
        QVERIFY(f.link->port() > 0);
        // The status check needs no sign-in to open the link, though the device wants one.
        QVERIFY(f.open());
        QVERIFY(!f.sim.waitFor(QStringLiteral("WEB GET /api/status - -")).isEmpty());
        const RpcResult anonymous = f.call(QStringLiteral("getState"));
        QCOMPARE(anonymous.code, QStringLiteral("unauthorized"));
        QCOMPARE(anonymous.message, QStringLiteral("Sign in first."));
    }

    // A factory-fresh device: the factory password signs in and asks for a new one; the new
    // one works from then on, over the network and over USB alike.
    void factoryPasswordThenMustChange()
    {
        Fixture f;
        QVERIFY(f.open());
        const RpcResult login = f.call(QStringLiteral("login"), password(Factory));
        QVERIFY2(login.ok, qPrintable(login.message));
        QVERIFY(login.result.value(QLatin1String("must_change_password")).toBool());
        QVERIFY(f.transport()->sessionCookie().startsWith("cv_session="));
        QCOMPARE(f.transport()->csrfToken().size(), 32);
        const WebLine loginLine(f.sim.waitFor(QStringLiteral("WEB POST /login ")));
        QCOMPARE(loginLine.contentType, QStringLiteral("application/json"));
        QCOMPARE(loginLine.body, QByteArray(R"({"password":"mapleguard"})"));

        // Signed in, but the device wants its password changed before anything else.
        const RpcResult status = f.call(QStringLiteral("getStatus"));
        QVERIFY(status.ok);
        QCOMPARE(status.result.value(QLatin1String("device_id")).toString(), QStringLiteral("CVSIM-0001"));
        const RpcResult controller = f.call(QStringLiteral("getControllerConfig"));
        QCOMPARE(controller.code, QStringLiteral("forbidden"));

        // The change has no result: a 204 without a body.
        const QString next = QStringLiteral("new pass & more");
        const RpcResult changed = f.call(QStringLiteral("changePassword"), {{QStringLiteral("current_password"), Factory},
                                                                            {QStringLiteral("new_password"), next},
                                                                            {QStringLiteral("confirm_password"), next}});
        QVERIFY2(changed.ok, qPrintable(changed.message));
        QCOMPARE(changed.result, (QJsonObject{{QStringLiteral("value"), QJsonValue::Null}}));
        // The parameters in the documented order, as over every other transport.
        const WebLine changeLine(f.sim.waitFor(QStringLiteral("WEB POST /api/auth/change-password ")));
        QCOMPARE(changeLine.body,
                 QByteArray(R"({"current_password":"mapleguard","new_password":"new pass & more","confirm_password":"new pass & more"})"));
        QVERIFY(f.call(QStringLiteral("getControllerConfig")).ok);

        // A refusal with a code of its own keeps it.
        const RpcResult weak = f.call(QStringLiteral("changePassword"), {{QStringLiteral("current_password"), next},
                                                                         {QStringLiteral("new_password"), QStringLiteral("short")},
                                                                         {QStringLiteral("confirm_password"), QStringLiteral("short")}});
        QCOMPARE(weak.code, QStringLiteral("weak_password"));
        QCOMPARE(weak.message, QStringLiteral("The new password must have at least 8 characters."));

        // The same device behind the USB line knows the new password.
        UsbLink usb(f.sim.ptyPath());
        RpcClient usbClient(usb.rpcTransport());
        QSignalSpy usbOpened(&usb, &DeviceLink::opened);
        usb.open();
        QVERIFY(usbOpened.wait(10000));
        QCOMPARE(callAndWait(usbClient, QStringLiteral("login"), password(Factory)).code, QStringLiteral("invalid_credentials"));
        const RpcResult usbLogin = callAndWait(usbClient, QStringLiteral("login"), password(next));
        QVERIFY(usbLogin.ok);
        QVERIFY(!usbLogin.result.value(QLatin1String("must_change_password")).toBool());
    }

    // Wrong passwords are refused with 401 until the device locks sign-in out with 429; the
    // lock-out holds for the right password too.
    void wrongPasswordsThenRateLimit()
    {
        Fixture f({QStringLiteral("--password"), QStringLiteral("arena-admin-1"), QStringLiteral("--max-failures"), QStringLiteral("3")});
        QVERIFY(f.open());
        for (int i = 0; i < 2; ++i) {
            const RpcResult wrong = f.call(QStringLiteral("login"), password(Factory));
            QCOMPARE(wrong.code, QStringLiteral("unauthorized"));
            QCOMPARE(wrong.message, QStringLiteral("Wrong password."));
            QVERIFY(f.transport()->sessionCookie().isEmpty());
        }
        const RpcResult third = f.call(QStringLiteral("login"), password(QStringLiteral("guess")));
        QCOMPARE(third.code, QStringLiteral("rate_limited"));
        QVERIFY(third.message.startsWith(QStringLiteral("Too many wrong passwords. Try again in ")));
        const RpcResult locked = f.call(QStringLiteral("login"), password(QStringLiteral("arena-admin-1")));
        QCOMPARE(locked.code, QStringLiteral("rate_limited"));
        QVERIFY(f.transport()->sessionCookie().isEmpty());
    }

    // A CSRF token that goes stale is answered 403 "csrf_invalid", which the caller sees as
    // "unauthorized"; signing in again fetches a new token and the POST goes through.
    void staleCsrfTokenMeansSignInAgain()
    {
        Fixture f({QStringLiteral("--password"), QStringLiteral("arena-admin-1")});
        QVERIFY(f.open());
        QVERIFY(f.call(QStringLiteral("login"), password(QStringLiteral("arena-admin-1"))).ok);
        const QByteArray firstToken = f.transport()->csrfToken();
        const QJsonObject settings{{QStringLiteral("wireless_channel"), 4}};
        QVERIFY(f.call(QStringLiteral("setSettings"), settings).ok);

        QVERIFY(f.sim.command(QStringLiteral("web csrf-rotate")));
        const RpcResult stale = f.call(QStringLiteral("setSettings"), settings);
        QCOMPARE(stale.code, QStringLiteral("unauthorized"));
        QCOMPARE(stale.message, QStringLiteral("The security token is missing or out of date."));
        QCOMPARE(f.call(QStringLiteral("getSettings")).code, QStringLiteral("unauthorized"));

        QVERIFY(f.call(QStringLiteral("login"), password(QStringLiteral("arena-admin-1"))).ok);
        QVERIFY(f.transport()->csrfToken() != firstToken);
        QVERIFY(f.call(QStringLiteral("setSettings"), settings).ok);
        QCOMPARE(f.call(QStringLiteral("getSettings")).result.value(QLatin1String("wireless_channel")).toInt(), 4);
    }

    // The exact bytes of a Wi-Fi join as the device received them.
    void configureWifiFormBody()
    {
        Fixture f({QStringLiteral("--password"), QStringLiteral("arena-admin-1"), QStringLiteral("--join-checks"), QStringLiteral("1")});
        QVERIFY(f.open());
        QVERIFY(f.call(QStringLiteral("login"), password(QStringLiteral("arena-admin-1"))).ok);
        const RpcResult joined = f.call(QStringLiteral("configureWifi"), {{QStringLiteral("ssid"), QStringLiteral("Caf\u00e9 Arena #2")},
                                                                          {QStringLiteral("pass"), QStringLiteral("p@ss w&rd=1+2/3")}});
        QVERIFY2(joined.ok, qPrintable(joined.message));
        const WebLine line(f.sim.waitFor(QStringLiteral("WEB POST /configure ")));
        QCOMPARE(line.contentType, QStringLiteral("application/x-www-form-urlencoded"));
        QCOMPARE(line.body, QByteArray("pass=p%40ss%20w%26rd%3D1%2B2%2F3&ssid=Caf%C3%A9%20Arena%20%232"));
        // The device decoded the values whole: it joined that very network.
        const RpcResult status = f.call(QStringLiteral("getStatus"));
        QCOMPARE(status.result.value(QLatin1String("wifi_provision")).toObject().value(QLatin1String("state")).toString(),
                 QStringLiteral("ok"));
        QCOMPARE(status.result.value(QLatin1String("wifi_sta_ssid")).toString(), QStringLiteral("Caf\u00e9 Arena #2"));
    }

    // "reboot": the device drops the connection instead of answering, which is success; it
    // answers 503 while it restarts, and afterwards wants a new sign-in.
    void rebootDropsTheConnection()
    {
        Fixture f({QStringLiteral("--password"), QStringLiteral("arena-admin-1"), QStringLiteral("--restart-ms"), QStringLiteral("1500")});
        QVERIFY(f.open());
        QVERIFY(f.call(QStringLiteral("login"), password(QStringLiteral("arena-admin-1"))).ok);
        const RpcResult reboot = f.call(QStringLiteral("reboot"));
        QVERIFY2(reboot.ok, qPrintable(reboot.code));
        QCOMPARE(reboot.result, (QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}}));

        const RpcResult during = f.call(QStringLiteral("getStatus"));
        QCOMPARE(during.code, QStringLiteral("unavailable"));
        QCOMPARE(during.message, QStringLiteral("The device is restarting."));

        QTRY_VERIFY_WITH_TIMEOUT(f.call(QStringLiteral("getStatus")).code == QLatin1String("unauthorized"), 10000);
        QVERIFY(f.call(QStringLiteral("login"), password(QStringLiteral("arena-admin-1"))).ok);
        QVERIFY(f.call(QStringLiteral("getStatus")).ok);
        // Asked for once.
        QCOMPARE(f.sim.take(QStringLiteral("WEB POST /api/system/reboot ")).size(), 1);
    }

    void methodsWithoutARoute()
    {
        Fixture f({QStringLiteral("--password"), QStringLiteral("arena-admin-1")});
        QVERIFY(f.open());
        QVERIFY(f.call(QStringLiteral("login"), password(QStringLiteral("arena-admin-1"))).ok);
        f.sim.take(QStringLiteral("WEB "));
        // The device has these methods, but not on its web API.
        for (const char *method : {"getEspNow", "getLogs", "clearMqttConfig"})
            QCOMPARE(f.call(QString::fromLatin1(method)).code, QStringLiteral("not_available_here"));
        QVERIFY(f.call(QStringLiteral("getStatus")).ok);
        QCOMPARE(f.sim.take(QStringLiteral("WEB ")), QStringList{QStringLiteral("WEB GET /api/status - -")});
    }

    // The whole sign-in of a DeviceSession over the network.
    void sessionSignsInWithTheFactoryPassword()
    {
        SessionOnHttp s;
        QVERIFY(s.startAndWait(DeviceSession::NeedsNewPassword));
        QCOMPARE(s.states, (QList<DeviceSession::State>{DeviceSession::Connecting, DeviceSession::SigningIn, DeviceSession::NeedsNewPassword}));
        QCOMPARE(s.logins(), 1);
        QCOMPARE(s.session.deviceId(), QStringLiteral("CVSIM-0001"));
        // No polling until the password has been changed.
        QTest::qWait(400);
        QCOMPARE(s.polls(), 0);

        Done changed;
        QSignalSpy envelopes(&s.session, &DeviceSession::envelope);
        s.session.changePassword(Factory, Admin, changed.callback());
        QTRY_COMPARE(changed.calls, 1);
        QVERIFY2(changed.ok, qPrintable(changed.error));
        QCOMPARE(s.session.state(), DeviceSession::Ready);
        QCOMPARE(s.session.password(), Admin);
        // Polls now go out, and each answer arrives as an envelope.
        QVERIFY(s.waitPolls(3));
        QTRY_VERIFY(envelopes.count() >= 3);
        QVERIFY(!envelopes.last().at(0).toJsonObject().isEmpty());
    }

    void sessionStopsAtNeedsPasswordThenSignsIn()
    {
        SessionOnHttp s({QStringLiteral("--password"), Admin});
        QVERIFY(s.startAndWait(DeviceSession::NeedsPassword));
        QCOMPARE(s.logins(), 1);
        QVERIFY(s.session.lastError().isEmpty());

        s.session.submitPassword(QStringLiteral("not it"));
        QCOMPARE(s.session.state(), DeviceSession::SigningIn);
        QVERIFY(s.waitState(DeviceSession::NeedsPassword));
        s.session.submitPassword(Admin);
        QVERIFY(s.waitState(DeviceSession::Ready));
        QCOMPARE(s.session.password(), Admin);
        QCOMPARE(s.logins(), 2);
        QVERIFY(!s.sim.waitFor(QStringLiteral("WEB GET /state ")).isEmpty());
    }

    // The device locks sign-in out after repeated wrong passwords: the session stops at
    // NeedsPassword with the device's words, also for the right password during the lock-out.
    void sessionRateLimited()
    {
        SessionOnHttp s({QStringLiteral("--password"), Admin, QStringLiteral("--max-failures"), QStringLiteral("2")});
        QVERIFY(s.startAndWait(DeviceSession::NeedsPassword));
        s.session.submitPassword(QStringLiteral("guess"));
        QTRY_VERIFY(!s.session.lastError().isEmpty());
        QCOMPARE(s.session.state(), DeviceSession::NeedsPassword);
        QVERIFY(s.session.lastError().startsWith(QStringLiteral("Too many wrong passwords. Try again in ")));

        s.session.submitPassword(Admin);
        QCOMPARE(s.session.state(), DeviceSession::SigningIn);
        QVERIFY(s.waitState(DeviceSession::NeedsPassword));
        QVERIFY(s.session.lastError().startsWith(QStringLiteral("Too many wrong passwords.")));
        QVERIFY(s.session.password().isEmpty());
        QVERIFY(s.transport()->sessionCookie().isEmpty());
    }

    // A poll never queues behind another call: none goes out while a slow scan is outstanding.
    void pollsSkippedWhileACallIsOutstanding()
    {
        SessionOnHttp s({QStringLiteral("--password"), Admin, QStringLiteral("--scan-ms"), QStringLiteral("1200")});
        QVERIFY(s.signIn());
        QVERIFY(s.waitPolls(2));

        // The session closes as the scan answers, so that any poll the device saw went out
        // while the scan was outstanding.
        bool scanned = false;
        s.session.scanWifi([&](bool ok, const QList<WifiNetwork> &, const QString &) {
            scanned = ok;
            s.session.close();
        });
        QVERIFY(!s.sim.waitFor(QStringLiteral("WEB GET /scan ")).isEmpty());
        s.polls(); // those before the scan
        QTRY_VERIFY_WITH_TIMEOUT(scanned, 10000);
        QTest::qWait(200);
        QCOMPARE(s.polls(), 0);
    }

    // A device that stops answering: three poll time-outs in a row close the link, and from
    // then on nothing is sent.
    void threePollTimeoutsCloseTheLink()
    {
        DeviceSession::Timing timing;
        timing.pollIntervalMs = 250;
        timing.pollTimeoutMs = 300;
        SessionOnHttp s({QStringLiteral("--password"), Admin}, timing);
        QVERIFY(s.signIn());
        QVERIFY(s.waitPolls(1));

        // At most one answered poll can slip in between these two lines.
        s.polls();
        QVERIFY(s.sim.command(QStringLiteral("web silent on")));
        QTRY_VERIFY_WITH_TIMEOUT(!s.transport()->isConnected(), 10000);
        const int unanswered = s.polls();
        QVERIFY2(unanswered >= 3 && unanswered <= 4, qPrintable(QString::number(unanswered)));
        QVERIFY(s.transport()->sessionCookie().isEmpty());
        QVERIFY(s.session.state() != DeviceSession::Ready);

        QTest::qWait(500);
        QCOMPARE(s.polls(), 0);
        // Calls end at once, without traffic.
        s.sim.take(QStringLiteral("WEB "));
        Done refresh;
        s.session.refreshStatus(refresh.callback());
        QCOMPARE(refresh.calls, 1);
        QVERIFY(!refresh.ok);
        QTest::qWait(200);
        QCOMPARE(s.sim.take(QStringLiteral("WEB ")).size(), 0);
    }

    // A CSRF token that goes stale: the next poll is answered 403 "csrf_invalid", which the
    // session takes as "unauthorized" and signs in again, fetching a new token, without
    // leaving Ready.
    void staleCsrfTokenSignsInAgain()
    {
        SessionOnHttp s({QStringLiteral("--password"), Admin});
        QVERIFY(s.signIn());
        QVERIFY(s.waitPolls(1));
        const QByteArray cookie = s.transport()->sessionCookie();
        const QByteArray token = s.transport()->csrfToken();
        s.logins();
        s.states.clear();

        QVERIFY(s.sim.command(QStringLiteral("web csrf-rotate")));
        QTRY_VERIFY(!s.transport()->csrfToken().isEmpty() && s.transport()->csrfToken() != token);
        QVERIFY(s.transport()->sessionCookie() != cookie);
        QCOMPARE(s.logins(), 1);
        QVERIFY(!s.states.contains(DeviceSession::NeedsPassword));
        QCOMPARE(s.session.state(), DeviceSession::Ready);

        // A POST goes through with the new token.
        Done set;
        s.session.setController(ControllerChoice{QStringLiteral("daktronics"), QStringLiteral("5000"), QStringLiteral("hockey"),
                                                 QStringLiteral("rs232")},
                                set.callback());
        QTRY_COMPARE(set.calls, 1);
        QVERIFY2(set.ok, qPrintable(set.error));
    }

    // The device forgets the web session (401 on the next poll): the session signs in again
    // with the password that worked, and polling goes on.
    void forgottenWebSessionSignsInAgain()
    {
        SessionOnHttp s({QStringLiteral("--password"), Admin});
        QVERIFY(s.signIn());
        QVERIFY(s.waitPolls(1));
        const QByteArray cookie = s.transport()->sessionCookie();
        s.logins();
        s.states.clear();

        QVERIFY(s.sim.command(QStringLiteral("web logout")));
        QVERIFY(!s.sim.waitFor(QStringLiteral("WEB POST /login ")).isEmpty());
        QTRY_VERIFY(s.transport()->sessionCookie() != cookie);
        QVERIFY(s.waitPolls(2));
        QCOMPARE(s.session.state(), DeviceSession::Ready);
        QVERIFY(!s.states.contains(DeviceSession::NeedsPassword));
    }

    // "reboot" over the network: the dropped connection is the success, and the session signs
    // in again by itself once the device is back (its sessions did not survive the restart).
    void rebootThenSilentSignIn()
    {
        SessionOnHttp s({QStringLiteral("--password"), Admin, QStringLiteral("--restart-ms"), QStringLiteral("1000")});
        QVERIFY(s.signIn());
        s.logins();
        Done rebooted;
        s.session.reboot(rebooted.callback());
        QTRY_COMPARE(rebooted.calls, 1);
        QVERIFY2(rebooted.ok, qPrintable(rebooted.error));
        QVERIFY(s.session.restartExpected());
        QVERIFY(!s.sim.waitFor(QStringLiteral("DOWN")).isEmpty());
        QVERIFY(!s.sim.waitFor(QStringLiteral("WEB POST /login "), 10000).isEmpty());
        QCOMPARE(s.session.state(), DeviceSession::Ready);
        QVERIFY(!s.sim.waitFor(QStringLiteral("WEB GET /state ")).isEmpty());
    }

    // A device that accepts the connection and never answers the status check.
    void sessionOnASilentDevice()
    {
        ScriptedWebServer silent;
        auto *link = new HttpLink(silent.address());
        HttpLink::Timing timing;
        timing.statusCheckTimeoutMs = 300;
        link->setTimingForTests(timing);
        DeviceSession session(link);
        session.start();
        QTRY_COMPARE(session.state(), DeviceSession::Error);
        QCOMPARE(session.lastError(),
                 QStringLiteral("Could not reach 127.0.0.1 on your network. Check the address, and that this computer and the "
                                "device are on the same network."));
    }
};

QTEST_GUILESS_MAIN(TestHttpDevice)
#include "tst_HttpDevice.moc"
