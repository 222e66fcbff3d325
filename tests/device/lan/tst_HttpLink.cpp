#include "device/lan/HttpAdminTransport.h"
#include "device/lan/HttpLink.h"
#include "device/lan/ScriptedWebServer.h"
#include "device/rpc/RpcClient.h"
#include "support/RpcWait.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace corvane;
using test::callAndWait;

namespace {

const QString Unreachable127 = QStringLiteral(
    "Could not reach 127.0.0.1 on your network. Check the address, and that this computer and the device are on the same network.");

// A link to a scripted server, opened, with its signals recorded.
struct Fixture {
    explicit Fixture(const QByteArray &statusAnswer = ScriptedWebServer::response(200, "{}"))
        : link(server.address())
        , client(link.rpcTransport())
        , opened(&link, &DeviceLink::opened)
        , failed(&link, &DeviceLink::failed)
    {
        server.answer("/api/status", statusAnswer);
    }
    bool open()
    {
        link.open();
        return QTest::qWaitFor([this] { return opened.count() + failed.count() > 0; }, 10000) && opened.count() == 1;
    }

    ScriptedWebServer server;
    HttpLink link;
    RpcClient client;
    QSignalSpy opened;
    QSignalSpy failed;
};

} // namespace

class TestHttpLink : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void addressSplitReachesTheLink()
    {
        HttpLink plain(QStringLiteral("192.168.1.50:8080 "));
        QCOMPARE(plain.host(), QStringLiteral("192.168.1.50"));
        QCOMPARE(plain.port(), 8080);
        QCOMPARE(plain.adminTransport()->host(), QStringLiteral("192.168.1.50"));
        QCOMPARE(plain.adminTransport()->port(), 8080);
        HttpLink v6(QStringLiteral("fe80::1"));
        QCOMPARE(v6.host(), QStringLiteral("fe80::1"));
        QCOMPARE(v6.port(), 0);
        QCOMPARE(v6.kind(), QStringLiteral("lan"));
        QVERIFY(v6.needsPolling());
        QCOMPARE(v6.rpcTransport(), v6.adminTransport());
    }

    // Any HTTP status proves the device is there; a sign-in comes later.
    void statusCheckAnsweredWith401Opens()
    {
        Fixture f(ScriptedWebServer::response(401, R"({"error":"unauthorized"})"));
        QVERIFY(!f.link.rpcTransport()->isConnected());
        QVERIFY(f.open());
        QCOMPARE(f.opened.at(0).at(0).toJsonObject(), QJsonObject());
        QVERIFY(f.link.rpcTransport()->isConnected());
        QCOMPARE(f.server.requests.size(), 1);
        QCOMPARE(f.server.requests.at(0).requestLine, QByteArray("GET /api/status HTTP/1.1"));
        QCOMPARE(f.server.requests.at(0).header("host"), QStringLiteral("127.0.0.1:%1").arg(f.server.port()).toLatin1());
        QTest::qWait(50);
        QCOMPARE(f.opened.count(), 1);
        QCOMPARE(f.failed.count(), 0);
    }

    void statusCheckOverIpv6Literal()
    {
        ScriptedWebServer server(QHostAddress::LocalHostIPv6);
        if (!server.isListening())
            QSKIP("no IPv6 loopback here");
        server.answer("/api/status", ScriptedWebServer::response(200, "{}"));
        HttpLink link(QStringLiteral("[::1]:%1").arg(server.port()));
        QCOMPARE(link.host(), QStringLiteral("::1"));
        QSignalSpy opened(&link, &DeviceLink::opened);
        link.open();
        QTRY_COMPARE(opened.count(), 1);
        QCOMPARE(server.requests.at(0).header("host"), QStringLiteral("[::1]:%1").arg(server.port()).toLatin1());
    }

    // A device that accepts the connection and never answers: the status check gives up
    // after its time-out (shortened here) and names the host.
    void silentDeviceIsUnreachable()
    {
        ScriptedWebServer server; // answers nothing
        HttpLink link(server.address());
        HttpLink::Timing timing;
        timing.statusCheckTimeoutMs = 400;
        link.setTimingForTests(timing);
        QSignalSpy opened(&link, &DeviceLink::opened);
        QSignalSpy failed(&link, &DeviceLink::failed);
        link.open();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("unreachable"));
        QCOMPARE(failed.at(0).at(1).toString(), Unreachable127);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(opened.count(), 0);
        QVERIFY(!link.rpcTransport()->isConnected());
    }

    void nothingListeningIsUnreachable()
    {
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        HttpLink link(QStringLiteral("127.0.0.1:%1").arg(port));
        QSignalSpy failed(&link, &DeviceLink::failed);
        link.open();
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(1).toString(), Unreachable127);
    }

    // close() and a new open() make the answers of earlier attempts void.
    void olderAttemptsAreIgnored()
    {
        ScriptedWebServer server;
        HttpLink link(server.address());
        HttpLink::Timing timing;
        timing.statusCheckTimeoutMs = 300;
        link.setTimingForTests(timing);
        QSignalSpy opened(&link, &DeviceLink::opened);
        QSignalSpy failed(&link, &DeviceLink::failed);

        link.open();
        link.close();
        QTest::qWait(700);
        QCOMPARE(failed.count(), 0);

        link.open();
        link.open();
        QTRY_COMPARE(failed.count(), 1);
        QTest::qWait(500);
        QCOMPARE(failed.count(), 1);

        // An answer that comes once the script allows it opens only the newest attempt.
        server.answer("/api/status", ScriptedWebServer::response(200, "{}"));
        link.open();
        QTRY_COMPARE(opened.count(), 1);
        link.close();
        QVERIFY(!link.rpcTransport()->isConnected());
        QCOMPARE(opened.count(), 1);
    }

    void refusedWithoutTraffic()
    {
        Fixture f;
        // Before the status check answered, every call is refused.
        const RpcResult early = callAndWait(f.client, QStringLiteral("getState"));
        QCOMPARE(early.code, QStringLiteral("disconnected"));
        QCOMPARE(f.server.connections, 0);

        QVERIFY(f.open());
        const int requestsBefore = f.server.requests.size();
        bool called = false;
        RpcResult espNow;
        f.client.call(QStringLiteral("getEspNow"), {}, [&](const RpcResult &result) {
            espNow = result;
            called = true;
        });
        // Answered inside the call, without a request.
        QVERIFY(called);
        QVERIFY(!espNow.ok);
        QCOMPARE(espNow.code, QStringLiteral("not_available_here"));
        QCOMPARE(espNow.message, QStringLiteral("This is only available over USB or Bluetooth, not over the network."));
        for (const char *method : {"setEspNow", "getLogs", "factoryReset", "GetState"})
            QCOMPARE(callAndWait(f.client, QString::fromLatin1(method)).code, QStringLiteral("not_available_here"));
        QTest::qWait(100);
        QCOMPARE(f.server.requests.size(), requestsBefore);

        // The transport answers a request it cannot place with the request's own id.
        QSignalSpy messages(f.link.rpcTransport(), &RpcTransport::message);
        f.link.rpcTransport()->send(R"({"id":77,"method":"getEspNow","params":{}})");
        QCOMPARE(messages.count(), 1);
        QCOMPARE(QJsonDocument::fromJson(messages.at(0).at(0).toByteArray()).object(),
                 (QJsonObject{{QStringLiteral("id"), 77},
                              {QStringLiteral("ok"), false},
                              {QStringLiteral("error"),
                               QJsonObject{{QStringLiteral("code"), QStringLiteral("not_available_here")},
                                           {QStringLiteral("message"),
                                            QStringLiteral("This is only available over USB or Bluetooth, not over the network.")}}}}));
    }

    // Headers, bodies and the session that "login" hands out, exactly as the device sees them.
    void sessionCookieAndToken()
    {
        Fixture f;
        f.server.answer("/login", ScriptedWebServer::response(200, R"({"csrf_token":"tok-1","must_change_password":false})",
                                                              {"Set-Cookie: sid=abc; Path=/; HttpOnly"}));
        f.server.answer("/api/settings", ScriptedWebServer::response(204, QByteArray()));
        f.server.answer("/state", ScriptedWebServer::response(200, R"({"home_score":4})"));
        QVERIFY(f.open());

        const RpcResult login = callAndWait(f.client, QStringLiteral("login"), {{QStringLiteral("password"), QStringLiteral("p w")}});
        QVERIFY(login.ok);
        QCOMPARE(login.result.value(QLatin1String("csrf_token")).toString(), QStringLiteral("tok-1"));
        const auto &loginRequest = f.server.requests.last();
        QCOMPARE(loginRequest.requestLine, QByteArray("POST /login HTTP/1.1"));
        QCOMPARE(loginRequest.body, QByteArray(R"({"password":"p w"})"));
        QCOMPARE(loginRequest.header("content-type"), QByteArray("application/json"));
        QCOMPARE(loginRequest.header("accept"), QByteArray("application/json"));
        QVERIFY(!loginRequest.hasHeader("cookie"));
        QVERIFY(!loginRequest.hasHeader("x-csrf-token"));
        QCOMPARE(f.link.adminTransport()->sessionCookie(), QByteArray("sid=abc"));
        QCOMPARE(f.link.adminTransport()->csrfToken(), QByteArray("tok-1"));

        // A 204 without a body is a success with a null value.
        const RpcResult saved = callAndWait(f.client, QStringLiteral("setSettings"), {{QStringLiteral("brightness"), 3}});
        QVERIFY(saved.ok);
        QCOMPARE(saved.result, (QJsonObject{{QStringLiteral("value"), QJsonValue::Null}}));
        const auto &post = f.server.requests.last();
        QCOMPARE(post.requestLine, QByteArray("POST /api/settings HTTP/1.1"));
        QCOMPARE(post.body, QByteArray(R"({"brightness":3})"));
        QCOMPARE(post.header("cookie"), QByteArray("sid=abc"));
        QCOMPARE(post.header("x-csrf-token"), QByteArray("tok-1"));

        // A GET sends no parameters and no body.
        const RpcResult state = callAndWait(f.client, QStringLiteral("getState"), {{QStringLiteral("ignored"), true}});
        QCOMPARE(state.result.value(QLatin1String("home_score")).toInt(), 4);
        QCOMPARE(f.server.requests.last().requestLine, QByteArray("GET /state HTTP/1.1"));
        QVERIFY(f.server.requests.last().body.isEmpty());
        QCOMPARE(f.server.requests.last().header("cookie"), QByteArray("sid=abc"));

        // A login answered without Set-Cookie or token forgets both.
        f.server.answer("/login", ScriptedWebServer::response(200, R"({})"));
        QVERIFY(callAndWait(f.client, QStringLiteral("login"), {{QStringLiteral("password"), QStringLiteral("x")}}).ok);
        QVERIFY(f.link.adminTransport()->sessionCookie().isEmpty());
        QVERIFY(f.link.adminTransport()->csrfToken().isEmpty());
        QVERIFY(callAndWait(f.client, QStringLiteral("getState")).ok);
        QVERIFY(!f.server.requests.last().hasHeader("cookie"));
        QVERIFY(!f.server.requests.last().hasHeader("x-csrf-token"));

        // A failed login keeps what was stored.
        f.server.answer("/login", ScriptedWebServer::response(200, R"({"csrf_token":"tok-2"})", {"Set-Cookie: sid=def"}));
        QVERIFY(callAndWait(f.client, QStringLiteral("login")).ok);
        f.server.answer("/login", ScriptedWebServer::response(401, R"({"error":"invalid_credentials"})", {"Set-Cookie: sid=zzz"}));
        const RpcResult refused = callAndWait(f.client, QStringLiteral("login"));
        QCOMPARE(refused.code, QStringLiteral("unauthorized"));
        QCOMPARE(refused.message, QStringLiteral("invalid_credentials"));
        QCOMPARE(f.link.adminTransport()->sessionCookie(), QByteArray("sid=def"));

        // close() forgets the session; calls are refused until the link opens again.
        f.link.close();
        QVERIFY(f.link.adminTransport()->sessionCookie().isEmpty());
        QVERIFY(f.link.adminTransport()->csrfToken().isEmpty());
        QCOMPARE(callAndWait(f.client, QStringLiteral("getState")).code, QStringLiteral("disconnected"));
    }

    // A login still under way when the link closes must not bring the old session back.
    void loginAnsweredAfterCloseIsNotStored()
    {
        Fixture f;
        QVERIFY(f.open());
        QSignalSpy messages(f.link.rpcTransport(), &RpcTransport::message);
        f.link.rpcTransport()->send(R"({"id":5,"method":"login","params":{"password":"x"}})");
        QTRY_COMPARE(f.server.requests.size(), 2);
        f.link.close();
        f.link.open();
        QTRY_COMPARE(f.opened.count(), 2);
        // The device answers the old login only now.
        f.server.answer("/login", ScriptedWebServer::response(200, R"({"csrf_token":"old"})", {"Set-Cookie: sid=old"}));
        f.server.answer("/state", ScriptedWebServer::response(200, R"({})"));
        QVERIFY(callAndWait(f.client, QStringLiteral("getState")).ok);
        QVERIFY(!f.server.requests.last().hasHeader("cookie"));
        QVERIFY(f.link.adminTransport()->sessionCookie().isEmpty());
    }

    // No HTTP answer at all: a restart that drops the connection is the expected outcome of
    // "reboot" and "otaApply", a failure for everything else.
    void droppedConnections()
    {
        Fixture f;
        f.server.hangUp("/api/system/reboot");
        f.server.hangUp("/ota/apply");
        f.server.hangUp("/api/system/c6-ota");
        QVERIFY(f.open());

        const RpcResult reboot = callAndWait(f.client, QStringLiteral("reboot"));
        QVERIFY(reboot.ok);
        QCOMPARE(reboot.result, (QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}}));
        const RpcResult ota = callAndWait(f.client, QStringLiteral("otaApply"));
        QVERIFY(ota.ok);
        const RpcResult c6 = callAndWait(f.client, QStringLiteral("c6OtaApply"), {{QStringLiteral("source"), QStringLiteral("partition")}});
        QCOMPARE(c6.code, QStringLiteral("unreachable"));
        QCOMPARE(c6.message, QStringLiteral("Could not reach the device on your network."));

        // A restart is asked for once: a POST is never sent again on a new connection.
        QTest::qWait(200);
        int reboots = 0;
        for (const auto &request : std::as_const(f.server.requests))
            reboots += request.requestLine.startsWith("POST /api/system/reboot ") ? 1 : 0;
        QCOMPARE(reboots, 1);
    }

    // A device that takes a request and never answers: the transfer time-out (shortened
    // through the seam) ends it like a dropped connection.
    void requestTimeOut()
    {
        Fixture f;
        HttpLink::Timing timing;
        timing.requestTimeoutMs = 300;
        f.link.setTimingForTests(timing);
        QVERIFY(f.open());
        const RpcResult state = callAndWait(f.client, QStringLiteral("getState"));
        QCOMPARE(state.code, QStringLiteral("unreachable"));
        const RpcResult ota = callAndWait(f.client, QStringLiteral("otaApply"));
        QVERIFY(ota.ok);
    }

    void errorStatusesReachTheCaller()
    {
        Fixture f;
        f.server.answer("/api/auth/change-password",
                        ScriptedWebServer::response(400, R"({"code":"weak_password","message":"Too short."})"));
        f.server.answer("/api/settings", ScriptedWebServer::response(403, R"({"error":"csrf_invalid"})"));
        f.server.answer("/api/device-id", ScriptedWebServer::response(302, QByteArray(), {"Location: http://127.0.0.1:1/elsewhere"}));
        QVERIFY(f.open());
        const RpcResult weak = callAndWait(f.client, QStringLiteral("changePassword"));
        QCOMPARE(weak.code, QStringLiteral("weak_password"));
        QCOMPARE(weak.message, QStringLiteral("Too short."));
        QCOMPARE(callAndWait(f.client, QStringLiteral("setSettings")).code, QStringLiteral("unauthorized"));
        // Redirects are not followed: the device's answer is what counts.
        const RpcResult moved = callAndWait(f.client, QStringLiteral("getDeviceId"));
        QCOMPARE(moved.code, QStringLiteral("device_error"));
        QCOMPARE(moved.message, QStringLiteral("The device answered with an error (302)."));
    }
};

QTEST_GUILESS_MAIN(TestHttpLink)
#include "tst_HttpLink.moc"
