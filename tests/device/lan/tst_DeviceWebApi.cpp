#include "device/lan/DeviceWebApi.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTest>

using namespace corvane;

class TestDeviceWebApi : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void resolveHost_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("host");
        QTest::newRow("device number") << QStringLiteral("29") << QStringLiteral("corvane0029.local");
        QTest::newRow("padded number") << QStringLiteral("0029") << QStringLiteral("corvane0029.local");
        QTest::newRow("one digit") << QStringLiteral("7") << QStringLiteral("corvane0007.local");
        QTest::newRow("five digits unchanged") << QStringLiteral("12345") << QStringLiteral("12345");
        QTest::newRow("name in mixed case") << QStringLiteral("Corvane0029") << QStringLiteral("corvane0029.local");
        QTest::newRow("full name unchanged") << QStringLiteral("corvane0029.local") << QStringLiteral("corvane0029.local");
        QTest::newRow("name with port keeps the port last") << QStringLiteral("CORVANE0029:8080") << QStringLiteral("corvane0029.local:8080");
        QTest::newRow("url with path") << QStringLiteral("http://192.168.1.50/api") << QStringLiteral("192.168.1.50");
        QTest::newRow("url with port") << QStringLiteral("https://192.168.1.50:8080/x/y") << QStringLiteral("192.168.1.50:8080");
        QTest::newRow("url of a device number") << QStringLiteral("http://29/") << QStringLiteral("corvane0029.local");
        QTest::newRow("address with port unchanged") << QStringLiteral("192.168.1.50:8080") << QStringLiteral("192.168.1.50:8080");
        QTest::newRow("surrounding white space") << QStringLiteral("  192.168.1.50 \t\n") << QStringLiteral("192.168.1.50");
        QTest::newRow("number with trailing white space") << QStringLiteral("29 \n") << QStringLiteral("corvane0029.local");
        QTest::newRow("bracketed v6 literal unchanged") << QStringLiteral("[fe80::1]:8080") << QStringLiteral("[fe80::1]:8080");
        QTest::newRow("v6 url") << QStringLiteral("http://[::1]:8080/status") << QStringLiteral("[::1]:8080");
        QTest::newRow("inner space") << QStringLiteral("192.168 .1.50") << QString();
        QTest::newRow("inner tab") << QStringLiteral("corvane\t29") << QString();
        QTest::newRow("space after scheme") << QStringLiteral("http:// 192.168.1.50 x/") << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("blank") << QStringLiteral("   ") << QString();
        QTest::newRow("scheme only") << QStringLiteral("http://") << QString();
        QTest::newRow("scheme and path only") << QStringLiteral("http:///api") << QString();
        QTest::newRow("non-ascii digits are not a number") << QStringLiteral("\u0662\u0669") << QStringLiteral("\u0662\u0669");
    }
    void resolveHost()
    {
        QFETCH(QString, typed);
        QFETCH(QString, host);
        QCOMPARE(corvane::resolveHost(typed), host);
    }

    void splitHostAndPort_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("address and port") << QStringLiteral("192.168.1.50:8080") << QStringLiteral("192.168.1.50") << 8080;
        QTest::newRow("no port") << QStringLiteral("192.168.1.50") << QStringLiteral("192.168.1.50") << 0;
        QTest::newRow("name and port") << QStringLiteral("corvane0029.local:81") << QStringLiteral("corvane0029.local") << 81;
        QTest::newRow("lowest port") << QStringLiteral("h:1") << QStringLiteral("h") << 1;
        QTest::newRow("highest port") << QStringLiteral("h:65535") << QStringLiteral("h") << 65535;
        QTest::newRow("port 0 stays in the host") << QStringLiteral("h:0") << QStringLiteral("h:0") << 0;
        QTest::newRow("port 70000 stays in the host") << QStringLiteral("h:70000") << QStringLiteral("h:70000") << 0;
        QTest::newRow("huge port") << QStringLiteral("h:99999999999999999999") << QStringLiteral("h:99999999999999999999") << 0;
        QTest::newRow("signed port") << QStringLiteral("h:+80") << QStringLiteral("h:+80") << 0;
        QTest::newRow("empty port") << QStringLiteral("h:") << QStringLiteral("h:") << 0;
        QTest::newRow("colon first") << QStringLiteral(":8080") << QStringLiteral(":8080") << 0;
        QTest::newRow("bare v6 literal") << QStringLiteral("fe80::1") << QStringLiteral("fe80::1") << 0;
        QTest::newRow("bare v6 literal ending in digits") << QStringLiteral("2001:db8::8080") << QStringLiteral("2001:db8::8080") << 0;
        QTest::newRow("bracketed v6 with port") << QStringLiteral("[::1]:8080") << QStringLiteral("::1") << 8080;
        QTest::newRow("bracketed v6 without port") << QStringLiteral("[fe80::1]") << QStringLiteral("fe80::1") << 0;
        QTest::newRow("bracketed v6 with bad port") << QStringLiteral("[::1]:0") << QStringLiteral("[::1]:0") << 0;
        QTest::newRow("bracketed v6 with junk") << QStringLiteral("[::1]x") << QStringLiteral("[::1]x") << 0;
        QTest::newRow("trailing white space") << QStringLiteral("192.168.1.50:8080 \n") << QStringLiteral("192.168.1.50") << 8080;
        QTest::newRow("leading white space") << QStringLiteral("  [::1]:81") << QStringLiteral("::1") << 81;
    }
    void splitHostAndPort()
    {
        QFETCH(QString, address);
        QFETCH(QString, host);
        QFETCH(int, port);
        const HostAndPort split = corvane::splitHostAndPort(address);
        QCOMPARE(split.host, host);
        QCOMPARE(split.port, port);
    }

    void urlsWritePortOnlyWhenSet()
    {
        QCOMPARE(webUrl(QStringLiteral("192.168.1.50"), 0, QStringLiteral("/api/status")).toString(),
                 QStringLiteral("http://192.168.1.50/api/status"));
        QCOMPARE(webUrl(QStringLiteral("corvane0029.local"), 8080, QStringLiteral("/state")).toString(),
                 QStringLiteral("http://corvane0029.local:8080/state"));
        QCOMPARE(webUrl(QStringLiteral("::1"), 81, QStringLiteral("/scan")).toString(), QStringLiteral("http://[::1]:81/scan"));
    }

    void routeTable()
    {
        const WebRoute *login = findWebRoute(QStringLiteral("login"));
        QVERIFY(login);
        QCOMPARE(login->verb, WebVerb::Post);
        QCOMPARE(QByteArray(login->path), QByteArray("/login"));
        QCOMPARE(login->body, WebBody::Json);

        const WebRoute *wifi = findWebRoute(QStringLiteral("configureWifi"));
        QVERIFY(wifi);
        QCOMPARE(QByteArray(wifi->path), QByteArray("/configure"));
        QCOMPARE(wifi->body, WebBody::Form);

        const WebRoute *c6Status = findWebRoute(QStringLiteral("c6OtaStatus"));
        const WebRoute *c6Apply = findWebRoute(QStringLiteral("c6OtaApply"));
        QVERIFY(c6Status && c6Apply);
        QCOMPARE(QByteArray(c6Status->path), QByteArray(c6Apply->path));
        QCOMPARE(c6Status->verb, WebVerb::Get);
        QCOMPARE(c6Apply->verb, WebVerb::Post);

        // USB- and Bluetooth-only methods, and near misses in letter case.
        for (const char *method : {"getEspNow", "setEspNow", "getLogs", "resetLocalPassword", "factoryReset", "clearMqttConfig",
                                   "GetStatus", "getstatus", "", "login "})
            QVERIFY2(!findWebRoute(QString::fromLatin1(method)), method);
    }

    // The table's invariants: one route per method, GETs carry no body, POSTs do, and only
    // the two methods that restart the device count a dropped connection as done.
    void routeTableIsConsistent()
    {
        const QList<WebRoute> routes = webRoutes();
        QCOMPARE(routes.size(), 25);
        QSet<QString> methods;
        QSet<QString> postPaths;
        QStringList dropped;
        for (const WebRoute &route : routes) {
            const QString method = QString::fromLatin1(route.method);
            QVERIFY2(!methods.contains(method), route.method);
            methods.insert(method);
            QVERIFY2(QByteArray(route.path).startsWith('/'), route.method);
            QCOMPARE(route.verb == WebVerb::Get, route.body == WebBody::None);
            if (route.verb == WebVerb::Post) {
                QVERIFY2(!postPaths.contains(QString::fromLatin1(route.path)), route.path);
                postPaths.insert(QString::fromLatin1(route.path));
            }
            if (route.doneWhenDropped)
                dropped << method;
        }
        QCOMPARE(dropped, (QStringList{QStringLiteral("reboot"), QStringLiteral("otaApply")}));
    }

    void formBody_data()
    {
        QTest::addColumn<QJsonObject>("params");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("keys in alphabetical order")
            << QJsonObject{{QStringLiteral("ssid"), QStringLiteral("Arena")}, {QStringLiteral("pass"), QStringLiteral("secret")}}
            << QByteArray("pass=secret&ssid=Arena");
        QTest::newRow("spaces and reserved characters")
            << QJsonObject{{QStringLiteral("ssid"), QStringLiteral("Arena Wi-Fi #2")}, {QStringLiteral("pass"), QStringLiteral("a&b=c+d/e?f%g")}}
            << QByteArray("pass=a%26b%3Dc%2Bd%2Fe%3Ff%25g&ssid=Arena%20Wi-Fi%20%232");
        QTest::newRow("unreserved characters stay") << QJsonObject{{QStringLiteral("k"), QStringLiteral("Az09-._~")}}
                                                    << QByteArray("k=Az09-._~");
        QTest::newRow("utf-8 percent-encoded") << QJsonObject{{QStringLiteral("ssid"), QStringLiteral("Caf\u00e9 \u2615")}}
                                               << QByteArray("ssid=Caf%C3%A9%20%E2%98%95");
        QTest::newRow("numbers and booleans")
            << QJsonObject{{QStringLiteral("channel"), 6}, {QStringLiteral("hidden"), false}, {QStringLiteral("gain"), 1.5},
                           {QStringLiteral("offset"), -3}, {QStringLiteral("on"), true}}
            << QByteArray("channel=6&gain=1.5&hidden=false&offset=-3&on=true");
        QTest::newRow("reserved characters in keys") << QJsonObject{{QStringLiteral("a b"), QStringLiteral("x")}} << QByteArray("a%20b=x");
        QTest::newRow("empty value") << QJsonObject{{QStringLiteral("pass"), QString()}} << QByteArray("pass=");
        QTest::newRow("no params") << QJsonObject() << QByteArray();
        // Qt's JSON parser orders keys by code point, objects built in code by UTF-16 unit: the
        // body must not depend on where the parameters came from.
        QTest::newRow("keys past U+FFFF, as parsed")
            << QJsonDocument::fromJson("{\"\xef\xbc\xa1\":\"a\",\"\xf0\x9f\x98\x80\":\"b\"}").object()
            << QByteArray("%F0%9F%98%80=b&%EF%BC%A1=a");
    }
    void formBody()
    {
        QFETCH(QJsonObject, params);
        QFETCH(QByteArray, body);
        QCOMPARE(encodeFormBody(params), body);
        QCOMPARE(encodeWebBody(WebBody::Form, params), body);
    }

    void jsonAndEmptyBodies()
    {
        const QJsonObject params{{QStringLiteral("password"), QStringLiteral("mapleguard")}, {QStringLiteral("n"), 2}};
        QCOMPARE(encodeWebBody(WebBody::Json, params), QByteArray(R"({"n":2,"password":"mapleguard"})"));
        QCOMPARE(encodeWebBody(WebBody::Json, QJsonObject()), QByteArray("{}"));
        QCOMPARE(encodeWebBody(WebBody::None, params), QByteArray());
    }

    void statusCodes_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("400 with code") << 400 << QByteArray(R"({"code":"weak_password","message":"Too short."})")
                                       << QStringLiteral("weak_password") << QStringLiteral("Too short.");
        QTest::newRow("400 without code") << 400 << QByteArray(R"({"error":"missing ssid"})") << QStringLiteral("bad_request")
                                          << QStringLiteral("missing ssid");
        QTest::newRow("401") << 401 << QByteArray(R"({"error":"login_required"})") << QStringLiteral("unauthorized")
                             << QStringLiteral("login_required");
        QTest::newRow("403 csrf") << 403 << QByteArray(R"({"error":"csrf_invalid"})") << QStringLiteral("unauthorized")
                                  << QStringLiteral("csrf_invalid");
        QTest::newRow("403 other") << 403 << QByteArray(R"({"error":"locked","message":"Locked."})") << QStringLiteral("forbidden")
                                   << QStringLiteral("Locked.");
        QTest::newRow("403 without body") << 403 << QByteArray() << QStringLiteral("forbidden")
                                          << QStringLiteral("The device answered with an error (403).");
        QTest::newRow("429") << 429 << QByteArray(R"({"message":"Wait a minute."})") << QStringLiteral("rate_limited")
                             << QStringLiteral("Wait a minute.");
        QTest::newRow("503") << 503 << QByteArray("restarting") << QStringLiteral("unavailable")
                             << QStringLiteral("The device answered with an error (503).");
        QTest::newRow("404") << 404 << QByteArray("<html>Not found</html>") << QStringLiteral("device_error")
                             << QStringLiteral("The device answered with an error (404).");
        QTest::newRow("500 array body") << 500 << QByteArray("[1,2]") << QStringLiteral("device_error")
                                        << QStringLiteral("The device answered with an error (500).");
        QTest::newRow("302") << 302 << QByteArray() << QStringLiteral("device_error") << QStringLiteral("The device answered with an error (302).");
        QTest::newRow("empty message falls back to error") << 401 << QByteArray(R"({"message":"","error":"expired"})")
                                                           << QStringLiteral("unauthorized") << QStringLiteral("expired");
        QTest::newRow("non-string message ignored") << 400 << QByteArray(R"({"message":5,"code":7})") << QStringLiteral("bad_request")
                                                    << QStringLiteral("The device answered with an error (400).");
    }
    void statusCodes()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const WebAnswer answer = translateWebAnswer(QStringLiteral("getSettings"), status, body, QByteArray());
        QVERIFY(!answer.result.ok);
        QCOMPARE(answer.result.code, code);
        QCOMPARE(answer.result.message, message);
        QVERIFY(answer.result.result.isEmpty());
        QVERIFY(!answer.storeSession);
    }

    void successBodies()
    {
        const WebAnswer object = translateWebAnswer(QStringLiteral("getState"), 200, R"({"home_score":3})", QByteArray());
        QVERIFY(object.result.ok);
        QCOMPARE(object.result.result, (QJsonObject{{QStringLiteral("home_score"), 3}}));
        QVERIFY(object.result.code.isEmpty());

        const WebAnswer array = translateWebAnswer(QStringLiteral("scanWifi"), 200, R"([{"ssid":"a"}])", QByteArray());
        QCOMPARE(array.result.result.value(QLatin1String("value")).toArray().size(), 1);

        for (const QByteArray &body : {QByteArray(), QByteArray("OK"), QByteArray("42"), QByteArray("{broken")}) {
            const WebAnswer other = translateWebAnswer(QStringLiteral("setSettings"), 204, body, QByteArray());
            QVERIFY(other.result.ok);
            QCOMPARE(other.result.result, (QJsonObject{{QStringLiteral("value"), QJsonValue::Null}}));
        }
        QVERIFY(translateWebAnswer(QStringLiteral("getState"), 299, "{}", QByteArray()).result.ok);
        QVERIFY(!translateWebAnswer(QStringLiteral("getState"), 300, "{}", QByteArray()).result.ok);
        QVERIFY(!translateWebAnswer(QStringLiteral("getState"), 199, "{}", QByteArray()).result.ok);
    }

    void noAnswer()
    {
        for (const char *method : {"reboot", "otaApply"}) {
            const WebAnswer answer = translateWebAnswer(QString::fromLatin1(method), 0, QByteArray(), QByteArray());
            QVERIFY2(answer.result.ok, method);
            QCOMPARE(answer.result.result, (QJsonObject{{QStringLiteral("status"), QStringLiteral("ok")}}));
        }
        for (const char *method : {"getState", "login", "c6OtaApply", "getEspNow"}) {
            const WebAnswer answer = translateWebAnswer(QString::fromLatin1(method), 0, QByteArray(), QByteArray());
            QVERIFY2(!answer.result.ok, method);
            QCOMPARE(answer.result.code, QStringLiteral("unreachable"));
            QCOMPARE(answer.result.message, QStringLiteral("Could not reach the device on your network."));
            QVERIFY(!answer.storeSession);
        }
        // Restarting methods still report a refusal the device did answer.
        const WebAnswer refused = translateWebAnswer(QStringLiteral("reboot"), 401, QByteArray(), QByteArray());
        QCOMPARE(refused.result.code, QStringLiteral("unauthorized"));
    }

    void sessionFromLogin()
    {
        const WebAnswer answer = translateWebAnswer(QStringLiteral("login"), 200, R"({"csrf_token":"t0k\u00e9n","must_change_password":true})",
                                                    "cv_session=abc123; Path=/; HttpOnly");
        QVERIFY(answer.result.ok);
        QVERIFY(answer.storeSession);
        QCOMPARE(answer.cookie, QByteArray("cv_session=abc123"));
        QCOMPARE(answer.csrfToken, QByteArray("t0k\xc3\xa9n"));
        QVERIFY(answer.result.result.value(QLatin1String("must_change_password")).toBool());

        // A login without either clears both; other methods never touch them.
        const WebAnswer bare = translateWebAnswer(QStringLiteral("login"), 200, "{}", QByteArray());
        QVERIFY(bare.storeSession);
        QVERIFY(bare.cookie.isEmpty());
        QVERIFY(bare.csrfToken.isEmpty());
        QVERIFY(!translateWebAnswer(QStringLiteral("getStatus"), 200, R"({"csrf_token":"x"})", "a=b").storeSession);
        QVERIFY(!translateWebAnswer(QStringLiteral("login"), 401, R"({"csrf_token":"x"})", "a=b").storeSession);
    }

    void sessionCookie_data()
    {
        QTest::addColumn<QByteArray>("setCookie");
        QTest::addColumn<QByteArray>("cookie");
        QTest::newRow("attributes dropped") << QByteArray("sid=1; Path=/") << QByteArray("sid=1");
        QTest::newRow("no attributes") << QByteArray("sid=1") << QByteArray("sid=1");
        QTest::newRow("semicolon first keeps all") << QByteArray(";sid=1") << QByteArray(";sid=1");
        QTest::newRow("missing") << QByteArray() << QByteArray();
        QTest::newRow("first of several headers") << QByteArray("sid=1; Path=/\ntheme=dark") << QByteArray("sid=1");
        QTest::newRow("first of several, no attributes") << QByteArray("sid=1\ntheme=dark; Path=/") << QByteArray("sid=1");
    }
    void sessionCookie()
    {
        QFETCH(QByteArray, setCookie);
        QFETCH(QByteArray, cookie);
        QCOMPARE(sessionCookieFrom(setCookie), cookie);
    }
};

QTEST_GUILESS_MAIN(TestDeviceWebApi)
#include "tst_DeviceWebApi.moc"
