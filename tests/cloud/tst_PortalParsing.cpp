// The portal client's pure parts: answer decoding, the error table, the list parsers, and
// the rule for which addresses may stand in for the portal or the download server.
#include "base/Origins.h"
#include "cloud/CloudDevice.h"
#include "cloud/GraphicsOutput.h"
#include "cloud/PortalResult.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace corvane;

namespace {

QJsonObject object(const char *json) { return QJsonDocument::fromJson(QByteArray(json)).object(); }

} // namespace

class TestPortalParsing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void answersBecomeResults_data()
    {
        QTest::addColumn<bool>("transportOk");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");

        QTest::newRow("2xx") << true << 204 << QByteArray() << true << QString() << QString();
        QTest::newRow("2xx without transport") << false << 200 << QByteArray("{}") << false << QString()
                                               << QStringLiteral("Corvane returned an error (200).");
        QTest::newRow("429 without body") << true << 429 << QByteArray() << false << QString()
                                          << QStringLiteral("Too many attempts. Wait a minute and try again.");
        QTest::newRow("400 with detail text") << true << 400 << QByteArray("{\"detail\": \"Name is too long.\"}") << false
                                              << QString() << QStringLiteral("Name is too long.");
        QTest::newRow("418 without detail") << true << 418 << QByteArray("<html>teapot</html>") << false << QString()
                                            << QStringLiteral("Corvane returned an error (418).");
        QTest::newRow("code in detail object")
            << true << 400 << QByteArray("{\"detail\": {\"error\": \"invalid_totp_code\"}}") << false
            << QStringLiteral("invalid_totp_code")
            << QStringLiteral("That code was not accepted. Enter the current 6-digit code from your authenticator app.");
        QTest::newRow("code at top level")
            << true << 400 << QByteArray("{\"error\": \"invalid_totp_code\"}") << false << QStringLiteral("invalid_totp_code")
            << QStringLiteral("That code was not accepted. Enter the current 6-digit code from your authenticator app.");
        QTest::newRow("detail object wins over top level")
            << true << 401 << QByteArray("{\"detail\": {\"error\": \"invalid_credentials\"}, \"error\": \"not_authenticated\"}")
            << false << QStringLiteral("invalid_credentials")
            << QStringLiteral("That email and password did not match. Check them and try again.");
        QTest::newRow("empty detail code falls back to top level")
            << true << 404 << QByteArray("{\"detail\": {\"error\": \"\"}, \"error\": \"device_not_found_or_not_owned\"}")
            << false << QStringLiteral("device_not_found_or_not_owned") << QStringLiteral("That device is not on this account.");
        QTest::newRow("known code beats detail text")
            << true << 400 << QByteArray("{\"detail\": \"ignored\", \"error\": \"claim_code_device_mismatch\"}") << false
            << QStringLiteral("claim_code_device_mismatch") << QStringLiteral("That device is not on this account.");
        QTest::newRow("no answer") << false << 0 << QByteArray() << false << QString()
                                   << QStringLiteral("Could not reach Corvane. Check your internet connection.");
    }

    void answersBecomeResults()
    {
        QFETCH(bool, transportOk);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(QString, code);
        QFETCH(QString, message);
        const PortalResult r = portalResultFromReply(transportOk, status, body);
        QCOMPARE(r.ok, ok);
        QCOMPARE(r.status, status);
        QCOMPARE(r.code, code);
        QCOMPARE(r.message, message);
        QCOMPARE(r.data, QJsonDocument::fromJson(body).object());
    }

    void errorTableOrder_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        // The first matching row wins: a code earlier in the table beats a later status.
        QTest::newRow("credentials over 429") << 429 << QStringLiteral("invalid_credentials")
                                              << QStringLiteral("That email and password did not match. Check them and try again.");
        QTest::newRow("rate limited code on 400") << 400 << QStringLiteral("rate_limited")
                                                  << QStringLiteral("Too many attempts. Wait a minute and try again.");
        QTest::newRow("429 over 402 code") << 429 << QStringLiteral("cloud_subscription_required")
                                           << QStringLiteral("Too many attempts. Wait a minute and try again.");
        QTest::newRow("plan code") << 400 << QStringLiteral("cloud_subscription_required")
                                   << QStringLiteral("This device needs an active Corvane cloud plan for that.");
        QTest::newRow("504") << 504 << QString()
                             << QStringLiteral("The device did not answer. Check that it is powered on and online.");
        QTest::newRow("unreachable code") << 500 << QStringLiteral("device_unreachable_or_timeout")
                                          << QStringLiteral("The device did not answer. Check that it is powered on and online.");
        QTest::newRow("502") << 502 << QString()
                             << QStringLiteral("The Corvane service could not reach the live data feed. Try again shortly.");
        QTest::newRow("gateway code") << 500 << QStringLiteral("gateway_unreachable")
                                      << QStringLiteral("The Corvane service could not reach the live data feed. Try again shortly.");
        QTest::newRow("not owned on 403") << 403 << QStringLiteral("device_not_found_or_not_owned")
                                          << QStringLiteral("That device is not on this account.");
        QTest::newRow("not authenticated code") << 400 << QStringLiteral("not_authenticated")
                                                << QStringLiteral("You have been signed out. Sign in again.");
        QTest::newRow("401") << 401 << QString() << QStringLiteral("You have been signed out. Sign in again.");
        QTest::newRow("403") << 403 << QString() << QStringLiteral("Your account role is not allowed to do that.");
        QTest::newRow("unknown code on 500") << 500 << QStringLiteral("something_else")
                                             << QStringLiteral("Corvane returned an error (500).");
    }

    void errorTableOrder()
    {
        QFETCH(int, status);
        QFETCH(QString, code);
        QFETCH(QString, message);
        QCOMPARE(describeError(status, code, QString()), message);
    }

    void devicesParse()
    {
        const QList<CloudDevice> devices = parseDevices(object(
            "{\"devices\": [{\"device_id\": \"A\", \"nickname\": \"Gym\", \"status\": \"online\", \"ble_passkey\": \"1\"},"
            " {\"device_id\": \"\", \"nickname\": \"skipped\"}, {\"nickname\": \"no id\"}, 7,"
            " {\"device_id\": \"B\", \"nickname\": 5}]}"));
        QCOMPARE(devices.size(), 2);
        QCOMPARE(devices[0].deviceId, QStringLiteral("A"));
        QCOMPARE(devices[0].nickname, QStringLiteral("Gym"));
        QCOMPARE(devices[0].status, QStringLiteral("online"));
        QCOMPARE(devices[0].blePasskey, QStringLiteral("1"));
        QCOMPARE(devices[0].displayName(), QStringLiteral("Gym (A)"));
        QCOMPARE(devices[1].nickname, QString());
        QCOMPARE(devices[1].status, QString());
        QCOMPARE(devices[1].displayName(), QStringLiteral("B"));
        QVERIFY(parseDevices(object("{\"devices\": {\"device_id\": \"A\"}}")).isEmpty());
        QVERIFY(parseDevices({}).isEmpty());
    }

    void outputsParse()
    {
        const QList<GraphicsOutput> outputs = parseOutputs(
            object("{\"outputs\": ["
                   "{\"id\": \"o1\", \"name\": \"Bug\", \"share_token\": \"t1\", \"device_id\": \"D\", \"width\": 1280, \"height\": 200},"
                   "{\"id\": \"o2\", \"share_token\": \"t2\"},"
                   "{\"id\": \"o3\", \"name\": \"No token\"},"
                   "{\"name\": \"No id\", \"share_token\": \"t4\"},"
                   "{\"id\": \"o5\", \"name\": \"\", \"share_token\": \"a/b?c#d\", \"width\": \"640\", \"height\": null}]}"),
            QStringLiteral("https://portal.example"));
        QCOMPARE(outputs.size(), 3);
        QCOMPARE(outputs[0].id, QStringLiteral("o1"));
        QCOMPARE(outputs[0].name, QStringLiteral("Bug"));
        QCOMPARE(outputs[0].shareToken, QStringLiteral("t1"));
        QCOMPARE(outputs[0].deviceId, QStringLiteral("D"));
        QCOMPARE(outputs[0].width, 1280);
        QCOMPARE(outputs[0].height, 200);
        QCOMPARE(outputs[0].url, QStringLiteral("https://portal.example/graphics/o/t1"));
        QCOMPARE(outputs[1].name, QStringLiteral("o2"));
        QCOMPARE(outputs[1].width, 1920);
        QCOMPARE(outputs[1].height, 1080);
        // Sizes of the wrong type take the defaults; a token cannot leave the page path.
        QCOMPARE(outputs[2].name, QStringLiteral("o5"));
        QCOMPARE(outputs[2].width, 1920);
        QCOMPARE(outputs[2].height, 1080);
        QCOMPARE(outputs[2].url, QStringLiteral("https://portal.example/graphics/o/a%2Fb%3Fc%23d"));
    }

    void allowedAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("https") << QStringLiteral("https://portal.example") << true;
        QTest::newRow("https with port") << QStringLiteral("https://10.0.0.5:8443") << true;
        QTest::newRow("HTTPS upper case") << QStringLiteral("HTTPS://portal.example") << true;
        QTest::newRow("http loopback") << QStringLiteral("http://127.0.0.1:8080") << true;
        QTest::newRow("http localhost") << QStringLiteral("http://localhost:8080") << true;
        QTest::newRow("http LOCALHOST") << QStringLiteral("http://LOCALHOST") << true;
        QTest::newRow("http other host") << QStringLiteral("http://portal.example") << false;
        QTest::newRow("http lan address") << QStringLiteral("http://192.168.1.2") << false;
        QTest::newRow("http localhost lookalike") << QStringLiteral("http://localhost.evil.example") << false;
        QTest::newRow("http 127.0.0.1 lookalike") << QStringLiteral("http://127.0.0.1.evil.example") << false;
        QTest::newRow("http userinfo trick") << QStringLiteral("http://127.0.0.1@evil.example") << false;
        QTest::newRow("https without host") << QStringLiteral("https://") << false;
        QTest::newRow("https path only") << QStringLiteral("https:/portal") << false;
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1") << false;
        QTest::newRow("file") << QStringLiteral("file:///etc/passwd") << false;
        QTest::newRow("no scheme") << QStringLiteral("portal.example") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void allowedAddresses()
    {
        QFETCH(QString, address);
        QFETCH(bool, allowed);
        QCOMPARE(isAllowedAddress(address), allowed);
    }

    void chosenOrigins()
    {
        const QString fallback = QString::fromLatin1(kPortalOrigin);
        QVERIFY(fallback.startsWith(QStringLiteral("https://")));
        QVERIFY(QString::fromLatin1(kDownloadsOrigin).startsWith(QStringLiteral("https://")));
        QCOMPARE(chooseOrigin(QString(), fallback), fallback);
        QCOMPARE(chooseOrigin(QStringLiteral("http://portal.example"), fallback), fallback);
        QCOMPARE(chooseOrigin(QStringLiteral(" http://127.0.0.1:5000/ "), fallback), QStringLiteral("http://127.0.0.1:5000"));
        QCOMPARE(chooseOrigin(QStringLiteral("https://staging.example"), fallback), QStringLiteral("https://staging.example"));
    }
};

QTEST_GUILESS_MAIN(TestPortalParsing)
#include "tst_PortalParsing.moc"
