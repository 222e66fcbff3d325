// PortalClient against the portal simulator over real HTTP on 127.0.0.1.
#include "cloud/PortalClient.h"
#include "support/PortalSimProcess.h"
#include "support/TestNetwork.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace corvane;
using corvane::test::PortalSimProcess;

namespace {

const QString kOperator = QStringLiteral("operator@example.com");
const QString kPassword = QStringLiteral("correct horse battery");

QString key(const char *name) { return QString::fromLatin1(name); }

// Waits for the one callback of a portal call.
class Waiter {
public:
    PortalClient::Callback callback()
    {
        return [this](const PortalResult &r) {
            ++calls;
            result = r;
        };
    }
    bool wait(int ms = 10000) { return QTest::qWaitFor([this] { return calls > 0; }, ms); }

    int calls = 0;
    PortalResult result;
};

// Runs one portal call and fails the test unless its callback runs exactly once.
PortalResult run(const std::function<void(PortalClient::Callback)> &start)
{
    Waiter waiter;
    start(waiter.callback());
    if (!waiter.wait())
        QTest::qFail("no callback within 10 s", __FILE__, __LINE__);
    // A second call of the callback would show up here.
    QTest::qWait(20);
    if (waiter.calls > 1)
        QTest::qFail(qPrintable(QStringLiteral("the callback ran %1 times").arg(waiter.calls)), __FILE__, __LINE__);
    return waiter.result;
}

QString readText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class TestPortalClient : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_sim;
    QTemporaryDir m_dir;

    std::unique_ptr<PortalClient> client(const QString &sessionFile = QString())
    {
        auto c = std::make_unique<PortalClient>();
        c->setBaseUrl(m_sim.url());
        if (!sessionFile.isEmpty()) {
            c->jar().setPath(m_dir.filePath(sessionFile));
            c->jar().load();
        }
        return c;
    }

    bool signIn(PortalClient &c, const QString &email = kOperator)
    {
        return run([&](auto cb) { c.signIn(email, kPassword, cb); }).ok && c.isSignedIn();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(!m_sim.start().isEmpty()); }
    void init() { QVERIFY(m_sim.reset()); }

    void requestsCarryTheHeaders()
    {
        auto c = client();
        QVERIFY(signIn(*c));
        QVERIFY(run([&](auto cb) { c->listDevices(cb); }).ok);
        const QJsonObject request = m_sim.lastRequest();
        QCOMPARE(request.value(key("method")).toString(), QStringLiteral("GET"));
        QCOMPARE(request.value(key("target")).toString(), QStringLiteral("/devices"));
        QCOMPARE(request.value(key("content_type")).toString(), QStringLiteral("application/json"));
        QCOMPARE(request.value(key("accept")).toString(), QStringLiteral("application/json"));
        QCOMPARE(request.value(key("user_agent")).toString(), QStringLiteral("Corvane-OBS/1.0.1"));
        QVERIFY(request.value(key("cookie")).toString().startsWith(QStringLiteral("corvane_session=")));
        QCOMPARE(request.value(key("body")).toString(), QString());
    }

    void errorsReachedThroughThePortal_data()
    {
        QTest::addColumn<QJsonObject>("behaviour");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const auto forced = [](int status, const char *code = "", const char *detail = "") {
            return QJsonObject{{key("status"), status}, {key("code"), key(code)}, {key("detail"), key(detail)}};
        };
        QTest::newRow("429") << forced(429) << 429 << QStringLiteral("Too many attempts. Wait a minute and try again.");
        QTest::newRow("rate_limited") << forced(400, "rate_limited") << 400
                                      << QStringLiteral("Too many attempts. Wait a minute and try again.");
        QTest::newRow("402") << forced(402) << 402 << QStringLiteral("This device needs an active Corvane cloud plan for that.");
        QTest::newRow("504") << forced(504) << 504
                             << QStringLiteral("The device did not answer. Check that it is powered on and online.");
        QTest::newRow("502") << forced(502) << 502
                             << QStringLiteral("The Corvane service could not reach the live data feed. Try again shortly.");
        QTest::newRow("401") << forced(401) << 401 << QStringLiteral("You have been signed out. Sign in again.");
        QTest::newRow("403") << forced(403) << 403 << QStringLiteral("Your account role is not allowed to do that.");
        QTest::newRow("400 detail text") << forced(400, "", "Nickname is too long.") << 400
                                         << QStringLiteral("Nickname is too long.");
        QTest::newRow("418 bare") << forced(418) << 418 << QStringLiteral("Corvane returned an error (418).");
        QTest::newRow("500 unknown code") << forced(500, "kaput") << 500 << QStringLiteral("Corvane returned an error (500).");
    }

    void errorsReachedThroughThePortal()
    {
        QFETCH(QJsonObject, behaviour);
        QFETCH(int, status);
        QFETCH(QString, message);
        QVERIFY(m_sim.behave(behaviour));
        auto c = client();
        const PortalResult r = run([&](auto cb) { c->listDevices(cb); });
        QVERIFY(!r.ok);
        QCOMPARE(r.status, status);
        QCOMPARE(r.message, message);
    }

    void errorsFromThePortalsOwnAnswers()
    {
        auto c = client();
        // Not signed in at all.
        PortalResult r = run([&](auto cb) { c->listDevices(cb); });
        QCOMPARE(r.status, 401);
        QCOMPARE(r.code, QStringLiteral("not_authenticated"));
        QCOMPARE(r.message, QStringLiteral("You have been signed out. Sign in again."));

        r = run([&](auto cb) { c->signIn(kOperator, QStringLiteral("wrong"), cb); });
        QCOMPARE(r.code, QStringLiteral("invalid_credentials"));
        QCOMPARE(r.message, QStringLiteral("That email and password did not match. Check them and try again."));

        QVERIFY(signIn(*c));
        r = run([&](auto cb) { c->getDeviceState(QStringLiteral("CV-9999"), cb); });
        QCOMPARE(r.status, 404);
        QCOMPARE(r.message, QStringLiteral("That device is not on this account."));
        r = run([&](auto cb) { c->getDeviceState(QStringLiteral("CV-1004"), cb); });
        QCOMPARE(r.code, QStringLiteral("gateway_unreachable"));
        QCOMPARE(r.message, QStringLiteral("The Corvane service could not reach the live data feed. Try again shortly."));
        r = run([&](auto cb) { c->sendCommand(QStringLiteral("CV-1004"), QStringLiteral("restart"), {}, cb); });
        QCOMPARE(r.code, QStringLiteral("device_unreachable_or_timeout"));
        QCOMPARE(r.message, QStringLiteral("The device did not answer. Check that it is powered on and online."));
        r = run([&](auto cb) { c->linkDevice(QStringLiteral("CV-2001"), QStringLiteral("WRONG"), QStringLiteral("usb"), cb); });
        QCOMPARE(r.code, QStringLiteral("claim_code_device_mismatch"));
        QCOMPARE(r.message, QStringLiteral("That device is not on this account."));
        r = run([&](auto cb) { c->linkDevice(QStringLiteral("CV-2001"), QString(), QStringLiteral("usb"), cb); });
        QCOMPARE(r.status, 400);
        QCOMPARE(r.message, QStringLiteral("Enter the claim code printed on the device."));

        auto free = client();
        QVERIFY(signIn(*free, QStringLiteral("free@example.com")));
        r = run([&](auto cb) { free->listOutputs(cb); });
        QCOMPARE(r.code, QStringLiteral("cloud_subscription_required"));
        QCOMPARE(r.message, QStringLiteral("This device needs an active Corvane cloud plan for that."));

        auto viewer = client();
        QVERIFY(signIn(*viewer, QStringLiteral("viewer@example.com")));
        QCOMPARE(viewer->role(), QStringLiteral("viewer"));
        r = run([&](auto cb) { viewer->sendConfig(QStringLiteral("CV-1001"), {}, cb); });
        QCOMPARE(r.status, 403);
        QCOMPARE(r.message, QStringLiteral("Your account role is not allowed to do that."));
    }

    void noAnswerIsStatusZero()
    {
        const QString unreachable = QStringLiteral("Could not reach Corvane. Check your internet connection.");
        // A closed port.
        const quint16 closedPort = test::unusedLocalPort();
        QVERIFY(closedPort != 0);
        PortalClient closed;
        closed.setBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(closedPort));
        PortalResult r = run([&](auto cb) { closed.listDevices(cb); });
        QCOMPARE(r.status, 0);
        QCOMPARE(r.message, unreachable);

        // A portal that takes the request and never answers, or answers too late.
        auto c = client();
        c->setTimeoutForTests(300);
        QVERIFY(m_sim.behave({{key("silent"), true}, {key("path"), QStringLiteral("/devices")}}));
        r = run([&](auto cb) { c->listDevices(cb); });
        QCOMPARE(r.status, 0);
        QCOMPARE(r.message, unreachable);
        QVERIFY(m_sim.behave({{key("delay_ms"), 1500}, {key("path"), QStringLiteral("/api")}}));
        r = run([&](auto cb) { c->listOutputs(cb); });
        QCOMPARE(r.status, 0);
        QVERIFY(!r.ok);
    }

    void authenticatorFlow()
    {
        auto c = client(QStringLiteral("totp/session.json"));
        QSignalSpy changes(c.get(), &PortalClient::signedInChanged);
        PortalResult r = run([&](auto cb) { c->signIn(QStringLiteral("totp@example.com"), kPassword, cb); });
        QVERIFY(r.ok);
        QVERIFY(r.data.value(key("totp_required")).toBool());
        const QString challenge = r.data.value(key("challenge_id")).toString();
        QVERIFY(!challenge.isEmpty());
        QVERIFY(!c->isSignedIn());
        QCOMPARE(changes.count(), 0);
        QVERIFY(!QFile::exists(c->jar().path()));

        r = run([&](auto cb) { c->signInWithCode(challenge, QStringLiteral("000000"), cb); });
        QCOMPARE(r.status, 401);
        QCOMPARE(r.message,
                 QStringLiteral("That code was not accepted. Enter the current 6-digit code from your authenticator app."));
        QVERIFY(!c->isSignedIn());
        QCOMPARE(changes.count(), 0);

        r = run([&](auto cb) { c->signInWithCode(challenge, QStringLiteral(" 424242\n"), cb); });
        QVERIFY(r.ok);
        QCOMPARE(QJsonDocument::fromJson(m_sim.lastRequest().value(key("body")).toString().toUtf8()).object(),
                 QJsonObject({{key("challenge_id"), challenge}, {key("code"), QStringLiteral("424242")}}));
        QVERIFY(c->isSignedIn());
        QCOMPARE(c->email(), QStringLiteral("totp@example.com"));
        QCOMPARE(c->role(), QStringLiteral("owner"));
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).toBool(), true);
        QVERIFY(readText(c->jar().path()).contains(QStringLiteral("corvane_session=")));
    }

    void emailIsTrimmedPasswordIsNot()
    {
        auto c = client();
        const PortalResult r = run([&](auto cb) {
            c->signIn(QStringLiteral("  spaces@example.com\t "), QStringLiteral("  pass word  "), cb);
        });
        QVERIFY2(r.ok, qPrintable(r.message));
        const QJsonObject body = QJsonDocument::fromJson(m_sim.lastRequest().value(key("body")).toString().toUtf8()).object();
        QCOMPARE(body, QJsonObject({{key("email"), QStringLiteral("spaces@example.com")},
                                    {key("password"), QStringLiteral("  pass word  ")}}));
    }

    void deviceOperations()
    {
        auto c = client();
        QVERIFY(signIn(*c));
        PortalResult r = run([&](auto cb) { c->getDeviceState(QStringLiteral("gym/court 2"), cb); });
        QVERIFY2(r.ok, qPrintable(r.message));
        QCOMPARE(m_sim.lastRequest().value(key("target")).toString(), QStringLiteral("/devices/gym%2Fcourt%202/state"));
        QCOMPARE(r.data.value(key("device_id")).toString(), QStringLiteral("gym/court 2"));
        QCOMPARE(r.data.value(key("type")).toString(), QStringLiteral("state"));
        QVERIFY(r.data.value(key("fields")).toObject().contains(key("clock")));

        r = run([&](auto cb) { c->getDeviceState(QStringLiteral("CV-1003"), cb); });
        QCOMPARE(r.data, QJsonObject({{key("type"), QStringLiteral("pending")}}));
        r = run([&](auto cb) { c->getDeviceState(QStringLiteral("CV-1002"), cb); });
        QCOMPARE(r.data.value(key("online")).toBool(true), false);

        // The device id is escaped, the command name is not.
        const QJsonObject args{{key("seconds"), 5}};
        r = run([&](auto cb) { c->sendCommand(QStringLiteral("a~b.c_d-e f"), QStringLiteral("set/clock"), args, cb); });
        QCOMPARE(m_sim.lastRequest().value(key("target")).toString(), QStringLiteral("/devices/a~b.c_d-e%20f/cmd/set/clock"));

        r = run([&](auto cb) { c->sendCommand(QStringLiteral("CV-1002"), QStringLiteral("restart"), args, cb); });
        QVERIFY(r.ok);
        QCOMPARE(r.status, 202);
        QCOMPARE(r.data.value(key("status")).toString(), QStringLiteral("queued"));
        // The command's arguments travel under "args", a configuration under "config".
        QCOMPARE(m_sim.lastRequest().value(key("body")).toString(), QStringLiteral("{\"args\":{\"seconds\":5}}"));

        const QJsonObject config{{key("brightness"), 80}};
        r = run([&](auto cb) { c->sendConfig(QStringLiteral("CV-1001"), config, cb); });
        QVERIFY(r.ok);
        QCOMPARE(r.data.value(key("config")).toObject(), config);
        QCOMPARE(m_sim.lastRequest().value(key("target")).toString(), QStringLiteral("/devices/CV-1001/config"));
        QCOMPARE(m_sim.lastRequest().value(key("body")).toString(), QStringLiteral("{\"config\":{\"brightness\":80}}"));

        r = run([&](auto cb) { c->linkDevice(QStringLiteral("CV-2002"), QString(), QStringLiteral("manual"), cb); });
        QVERIFY(r.ok);
        QCOMPARE(QJsonDocument::fromJson(m_sim.lastRequest().value(key("body")).toString().toUtf8()).object(),
                 QJsonObject({{key("device_id"), QStringLiteral("CV-2002")}, {key("via"), QStringLiteral("manual")}}));
        r = run([&](auto cb) { c->linkDevice(QStringLiteral("CV-2001"), QStringLiteral("ABCD-1234"), QStringLiteral("usb"), cb); });
        QVERIFY(r.ok);
        QCOMPARE(QJsonDocument::fromJson(m_sim.lastRequest().value(key("body")).toString().toUtf8()).object(),
                 QJsonObject({{key("device_id"), QStringLiteral("CV-2001")}, {key("via"), QStringLiteral("usb")},
                              {key("code"), QStringLiteral("ABCD-1234")}}));
        const PortalResult devices = run([&](auto cb) { c->listDevices(cb); });
        QStringList ids;
        for (const CloudDevice &d : parseDevices(devices.data))
            ids << d.deviceId;
        QVERIFY(ids.contains(QStringLiteral("CV-2001")) && ids.contains(QStringLiteral("CV-2002")));

        r = run([&](auto cb) { c->putPairing(QStringLiteral("CV-1001"), QStringLiteral("new secret"), cb); });
        QVERIFY(r.ok);
        QCOMPARE(m_sim.lastRequest().value(key("method")).toString(), QStringLiteral("PUT"));
        r = run([&](auto cb) { c->revealPairing(QStringLiteral("CV-1001"), cb); });
        QVERIFY(r.ok);
        QCOMPARE(m_sim.lastRequest().value(key("method")).toString(), QStringLiteral("POST"));
        const QJsonObject pairing = r.data.value(key("pairing")).toObject();
        QCOMPARE(pairing.value(key("admin_password")).toString(), QStringLiteral("new secret"));
        QCOMPARE(pairing.value(key("ble_passkey")).toString(), QStringLiteral("112233"));

        r = run([&](auto cb) {
            c->sendRequest("PATCH", QStringLiteral("/devices/CV-1001"), QJsonObject{{key("x"), 1}}, cb, true);
        });
        QCOMPARE(m_sim.lastRequest().value(key("method")).toString(), QStringLiteral("PATCH"));
        QCOMPARE(m_sim.lastRequest().value(key("body")).toString(), QStringLiteral("{\"x\":1}"));
    }

    // Every body the plugin sends to the portal, byte for byte: compact, keys in the
    // documented order.
    void bodiesAreExact()
    {
        auto c = client();
        QVERIFY(signIn(*c));
        QCOMPARE(m_sim.lastRequest().value(key("body")).toString(),
                 QStringLiteral(R"({"email":"operator@example.com","password":"correct horse battery"})"));
        struct Row {
            std::function<void(PortalClient::Callback)> send;
            QString body;
        };
        const QList<Row> rows = {
            {[&](auto cb) { c->signInWithCode(QStringLiteral("ch-1"), QStringLiteral("424242"), cb); },
             QStringLiteral(R"({"challenge_id":"ch-1","code":"424242"})")},
            {[&](auto cb) { c->linkDevice(QStringLiteral("CV-2001"), QStringLiteral("ABCD-1234"), QStringLiteral("usb"), cb); },
             QStringLiteral(R"({"device_id":"CV-2001","via":"usb","code":"ABCD-1234"})")},
            {[&](auto cb) { c->linkDevice(QStringLiteral("CV-2002"), QString(), QStringLiteral("manual"), cb); },
             QStringLiteral(R"({"device_id":"CV-2002","via":"manual"})")},
            {[&](auto cb) { c->putPairing(QStringLiteral("CV-1001"), QStringLiteral("new secret"), cb); },
             QStringLiteral(R"({"admin_password":"new secret"})")},
            {[&](auto cb) { c->sendCommand(QStringLiteral("CV-1001"), QStringLiteral("restart"), {{key("seconds"), 5}}, cb); },
             QStringLiteral(R"({"args":{"seconds":5}})")},
            {[&](auto cb) {
                 c->sendConfig(QStringLiteral("CV-1001"),
                               {{key("sport"), QStringLiteral("football")}, {key("input_type"), QStringLiteral("rs232")},
                                {key("model"), QStringLiteral("5000")}, {key("manufacturer"), QStringLiteral("daktronics")}},
                               cb);
             },
             QStringLiteral(R"({"config":{"manufacturer":"daktronics","model":"5000","sport":"football","input_type":"rs232"}})")},
        };
        for (const Row &row : rows) {
            run(row.send);
            QCOMPARE(m_sim.lastRequest().value(key("body")).toString(), row.body);
        }
    }

    void unauthorizedSignsOutOnce()
    {
        auto c = client();
        QVERIFY(signIn(*c));
        QSignalSpy changes(c.get(), &PortalClient::signedInChanged);
        // A refused sign-in attempt says nothing about the session.
        PortalResult r = run([&](auto cb) { c->signIn(kOperator, QStringLiteral("wrong"), cb); });
        QCOMPARE(r.status, 401);
        QVERIFY(c->isSignedIn());
        QCOMPARE(changes.count(), 0);

        QVERIFY(m_sim.expireSessions());
        r = run([&](auto cb) { c->listDevices(cb); });
        QCOMPARE(r.status, 401);
        QVERIFY(!c->isSignedIn());
        QCOMPARE(changes.count(), 1);
        QCOMPARE(changes.at(0).at(0).toBool(), false);
        run([&](auto cb) { c->listOutputs(cb); });
        run([&](auto cb) { c->getDeviceState(QStringLiteral("CV-1001"), cb); });
        QCOMPARE(changes.count(), 1);
        // The cookies stay until sign-out.
        QVERIFY(!c->jar().allCookies().isEmpty());
    }

    void sessionSurvivesARestart()
    {
        const QString file = QStringLiteral("restart/session.json");
        {
            auto first = client(file);
            QVERIFY(signIn(*first));
        }
        auto second = client(file);
        QVERIFY(!second->jar().allCookies().isEmpty());
        QSignalSpy changes(second.get(), &PortalClient::signedInChanged);
        const PortalResult r = run([&](auto cb) { second->restoreSession(cb); });
        QVERIFY2(r.ok, qPrintable(r.message));
        QVERIFY(second->isSignedIn());
        QCOMPARE(second->email(), kOperator);
        QCOMPARE(changes.count(), 1);
        QVERIFY(run([&](auto cb) { second->listDevices(cb); }).ok);

        // Signing out sends the cookie along, then forgets it here and on disk.
        second->signOut();
        QVERIFY(!second->isSignedIn());
        QCOMPARE(changes.count(), 2);
        QVERIFY(second->email().isEmpty());
        QVERIFY(!QFile::exists(m_dir.filePath(file)));
        QVERIFY(second->jar().allCookies().isEmpty());
        QVERIFY(QTest::qWaitFor([&] {
            const QJsonObject last = m_sim.lastRequest();
            return last.value(key("target")).toString() == QStringLiteral("/auth/logout")
                && last.value(key("cookie")).toString().startsWith(QStringLiteral("corvane_session="));
        }, 5000));
        second->signOut();
        QCOMPARE(changes.count(), 2);
    }

    void refusedRestoreDeletesTheSession()
    {
        const QString file = QStringLiteral("refused/session.json");
        {
            auto first = client(file);
            QVERIFY(signIn(*first));
        }
        QVERIFY(QFile::exists(m_dir.filePath(file)));
        QVERIFY(m_sim.expireSessions());
        auto second = client(file);
        QSignalSpy changes(second.get(), &PortalClient::signedInChanged);
        const PortalResult r = run([&](auto cb) { second->restoreSession(cb); });
        QCOMPARE(r.status, 401);
        QVERIFY(!QFile::exists(m_dir.filePath(file)));
        QVERIFY(second->jar().allCookies().isEmpty());
        QCOMPARE(changes.count(), 0);
    }

    void otherRestoreFailuresKeepTheSession()
    {
        const QString file = QStringLiteral("kept/session.json");
        {
            auto first = client(file);
            QVERIFY(signIn(*first));
        }
        QVERIFY(m_sim.behave({{key("status"), 503}, {key("path"), QStringLiteral("/auth/me")}}));
        auto second = client(file);
        const PortalResult r = run([&](auto cb) { second->restoreSession(cb); });
        QCOMPARE(r.status, 503);
        QVERIFY(!second->isSignedIn());
        QVERIFY(QFile::exists(m_dir.filePath(file)));
    }

    void overlappingRequestsEachGetTheirAnswer()
    {
        auto c = client();
        QVERIFY(signIn(*c));
        QVERIFY(m_sim.behave({{key("delay_ms"), 300}, {key("path"), QStringLiteral("/devices/CV-1001")}, {key("times"), 1}}));
        Waiter slow, fast;
        c->getDeviceState(QStringLiteral("CV-1001"), slow.callback());
        c->listOutputs(fast.callback());
        QVERIFY(fast.wait());
        QVERIFY(slow.wait());
        QVERIFY(fast.result.data.contains(key("outputs")));
        QCOMPARE(slow.result.data.value(key("device_id")).toString(), QStringLiteral("CV-1001"));
        QCOMPARE(slow.calls + fast.calls, 2);
    }

    void commandLineSwitchesForceAnswers()
    {
        PortalSimProcess limited;
        QVERIFY(!limited.start({QStringLiteral("--fail-status"), QStringLiteral("429")}).isEmpty());
        PortalClient c;
        c.setBaseUrl(limited.url());
        PortalResult r = run([&](auto cb) { c.signIn(kOperator, kPassword, cb); });
        QCOMPARE(r.status, 429);
        QCOMPARE(r.message, QStringLiteral("Too many attempts. Wait a minute and try again."));

        PortalSimProcess gateway;
        QVERIFY(!gateway.start({QStringLiteral("--fail-status"), QStringLiteral("502"), QStringLiteral("--fail-code"),
                                QStringLiteral("gateway_unreachable")}).isEmpty());
        c.setBaseUrl(gateway.url());
        r = run([&](auto cb) { c.listDevices(cb); });
        QCOMPARE(r.code, QStringLiteral("gateway_unreachable"));

        PortalSimProcess silent;
        QVERIFY(!silent.start({QStringLiteral("--silent")}).isEmpty());
        c.setBaseUrl(silent.url());
        c.setTimeoutForTests(300);
        r = run([&](auto cb) { c.listDevices(cb); });
        QCOMPARE(r.status, 0);
    }

    void destroyedClientCallsNothing()
    {
        QVERIFY(m_sim.behave({{key("silent"), true}}));
        Waiter waiter;
        {
            auto c = client();
            c->listDevices(waiter.callback());
            QTest::qWait(100);
        }
        QTest::qWait(100);
        QCOMPARE(waiter.calls, 0);
    }
};

QTEST_GUILESS_MAIN(TestPortalClient)
#include "tst_PortalClient.moc"
