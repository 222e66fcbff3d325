// The dock's data-only texts: the score line, the status dot, the server sentence, the
// names of added sources, followed devices' routes and the check of a device to follow.
#include "live/LiveData.h"
#include "ui/DockText.h"
#include "ui/FollowRequest.h"

#include <QJsonDocument>
#include <QTest>

using namespace corvane;

class TestDockText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scoreLine_data()
    {
        QTest::addColumn<QByteArray>("message");
        QTest::addColumn<QString>("expected");
        const QString dot = QStringLiteral("   \u00b7   ");

        QTest::newRow("no fields") << QByteArray("{}") << QString();
        QTest::newRow("clock only") << QByteArray(R"({"clock":"12:00"})") << QStringLiteral("12:00");
        QTest::newRow("home only") << QByteArray(R"({"home_score":3})") << QStringLiteral("3 \u2013 0");
        QTest::newRow("details in order")
            << QByteArray(R"({"clock":"4:10","home_score":"21","away_score":"17","period":"2","inning":"7"})")
            << QStringLiteral("21 \u2013 17") + dot + QStringLiteral("2") + dot + QStringLiteral("7") + dot + QStringLiteral("4:10");
        QTest::newRow("a volleyball set is a period")
            << QByteArray(R"({"home_score":"2","away_score":"1","set":"3"})")
            << QStringLiteral("2 \u2013 1") + dot + QStringLiteral("3");
        QTest::newRow("unrelated fields, three pairs")
            << QByteArray(R"({"fields":{"a":"1","b":"2","c":"3","d":"4"}})")
            << QStringLiteral("a: 1") + dot + QStringLiteral("b: 2") + dot + QStringLiteral("c: 3");
        QTest::newRow("escaped") << QByteArray(R"({"clock":"<b>&"})") << QStringLiteral("&lt;b&gt;&amp;");
    }

    void scoreLine()
    {
        QFETCH(QByteArray, message);
        QFETCH(QString, expected);
        LiveData live;
        live.apply(QJsonDocument::fromJson(message).object());
        QCOMPARE(dockScoreText(live), expected);
    }

    void statusLine()
    {
        QCOMPARE(dockStatusHtml(true, QStringLiteral("Live from <gym>")),
                 QStringLiteral("<span style=\"color:#3cb371\">\u25cf</span> Live from &lt;gym&gt;"));
        QCOMPARE(dockStatusHtml(false, QString()), QStringLiteral("<span style=\"color:#d9a441\">\u25cf</span> Pick a scoreboard above."));
    }

    void chapterHint()
    {
        QVERIFY(dockChapterHint(true).contains(QStringLiteral("Hybrid MP4 and MOV recordings get them as chapter markers")));
        // An OBS without the chapter call must not promise markers.
        QVERIFY(!dockChapterHint(false).contains(QStringLiteral("get them as chapter markers")));
        QVERIFY(dockChapterHint(false).contains(QStringLiteral("This OBS cannot add chapter markers (OBS 30.2 and later can)")));
        for (const bool markers : {true, false})
            QVERIFY(dockChapterHint(markers).contains(QStringLiteral("game log beside it (same name, .scores.txt)")));
    }

    void serverSentence_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<bool>("network");
        QTest::addColumn<QString>("expected");
        QTest::newRow("off") << false << true << false << QStringLiteral("Off.");
        QTest::newRow("loopback") << true << true << false
                                  << QStringLiteral("Connect to 127.0.0.1:9100 and read one JSON line per update. 2 connected.");
        QTest::newRow("network") << true << true << true
                                 << QStringLiteral("Connect to this computer's address:9100 and read one JSON line per update. 2 connected.");
        QTest::newRow("not listening") << true << false << false
                                       << QStringLiteral("Could not start - port 9001 may be in use. Try another port.");
    }

    void serverSentence()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, listening);
        QFETCH(bool, network);
        QFETCH(QString, expected);
        QCOMPARE(dockServerText({enabled, listening, network, 9001, 9100, 2}), expected);
    }

    // One row per way a request to follow a device can be wrong, and per kind of route it
    // makes: the route as it would be stored, or the sentence the dialog shows.
    void followRequest_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("usbPort");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QByteArray>("stored");
        const int cloud = FollowedRoute::Cloud, lan = FollowedRoute::Lan, usb = FollowedRoute::Usb, ble = FollowedRoute::Ble;
        const QString none;
        const QString pin(64, QLatin1Char('a'));
        const QString badAddress =
            QStringLiteral("Type the device's network address, e.g. 192.168.1.20, or its number, e.g. 0029.");

        QTest::newRow("no device") << cloud << QStringLiteral("  ") << none << none
                                   << QStringLiteral("Choose or type the device to follow.") << QByteArray();
        QTest::newRow("the main device")
            << cloud << QStringLiteral("CV-MAIN") << none << none
            << QStringLiteral("CV-MAIN is the main device (the one the dock picks), so it cannot be followed beside itself.") << QByteArray();
        QTest::newRow("followed already") << lan << QStringLiteral(" CV-1002 ") << QStringLiteral("10.0.0.7") << none
                                          << QStringLiteral("CV-1002 is followed already.") << QByteArray();
        QTest::newRow("cloud") << cloud << QStringLiteral("CV-1003") << none << none << none
                               << QByteArray(R"({"device":"CV-1003","route":"cloud"})");
        QTest::newRow("network, the stored host")
            << lan << QStringLiteral("CV-LAN") << none << none << none
            << QByteArray(R"({"device":"CV-LAN","route":"lan","host":"192.168.1.57","token":"tok","tls_sha256":"PIN"})").replace("PIN", pin.toLatin1());
        QTest::newRow("network, typed with a feed port")
            << lan << QStringLiteral("CV-LAN") << QStringLiteral(" 10.0.0.7:1020 ") << none << none
            << QByteArray(R"({"device":"CV-LAN","route":"lan","host":"10.0.0.7","token":"tok","tls_sha256":"PIN","port":1020})")
                   .replace("PIN", pin.toLatin1());
        QTest::newRow("network, a device number")
            << lan << QStringLiteral("CV-LAN") << QStringLiteral("29") << none << none
            << QByteArray(R"({"device":"CV-LAN","route":"lan","host":"corvane0029.local","token":"tok","tls_sha256":"PIN"})").replace("PIN", pin.toLatin1());
        QTest::newRow("network, a port out of range")
            << lan << QStringLiteral("CV-LAN") << QStringLiteral("10.0.0.7:70000") << none
            << QStringLiteral("The feed port after the address must be a number from 1 to 65535.") << QByteArray();
        QTest::newRow("network, a device name with port 0")
            << lan << QStringLiteral("CV-LAN") << QStringLiteral("corvane0029:0") << none
            << QStringLiteral("The feed port after the address must be a number from 1 to 65535.") << QByteArray();
        QTest::newRow("network, not an address") << lan << QStringLiteral("CV-LAN") << QStringLiteral("gym pc") << none << badAddress
                                                 << QByteArray();
        QTest::newRow("network, no token stored")
            << lan << QStringLiteral("CV-9") << QStringLiteral("10.0.0.7") << none
            << QStringLiteral("This computer has no access token for CV-9 yet. Set the device up once with \"Set up or manage a "
                              "device\u2026\" over USB or Bluetooth, then follow it here.")
            << QByteArray();
        QTest::newRow("USB, no port") << usb << QStringLiteral("CV-7") << none << QStringLiteral(" ")
                                      << QStringLiteral("Choose the USB port the device is plugged into.") << QByteArray();
        QTest::newRow("USB, a port another device has")
            << usb << QStringLiteral("CV-7") << none << QStringLiteral("/dev/ttyACM0")
            << QStringLiteral("Court 3 is followed on that USB port already.") << QByteArray();
        QTest::newRow("USB") << usb << QStringLiteral("CV-7") << none << QStringLiteral("/dev/ttyACM1") << none
                             << QByteArray(R"({"device":"CV-7","route":"usb","port_name":"/dev/ttyACM1"})");
        QTest::newRow("Bluetooth, too short") << ble << QStringLiteral("CV-8") << QStringLiteral("C0:FF:EE") << none
                                              << QStringLiteral("Type the device's Bluetooth address, e.g. C0:FF:EE:00:00:29.")
                                              << QByteArray();
        QTest::newRow("Bluetooth, as the helper lists it") << ble << QStringLiteral("CV-8") << QStringLiteral("C0FFEE000029") << none << none
                                                           << QByteArray(R"({"device":"CV-8","route":"ble","address":"C0FFEE000029"})");
    }

    void followRequest()
    {
        QFETCH(int, kind);
        QFETCH(QString, device);
        QFETCH(QString, address);
        QFETCH(QString, usbPort);
        QFETCH(QString, error);
        QFETCH(QByteArray, stored);
        FollowedRoute onPort{QStringLiteral("CV-USB"), FollowedRoute::Usb, QStringLiteral("Court 3")};
        onPort.usbPort = QStringLiteral("/dev/ttyACM0");
        const FollowContext context{QStringLiteral("CV-MAIN"),
                                    {FollowedRoute{QStringLiteral("CV-1002"), FollowedRoute::Cloud}, onPort},
                                    [](const QString &id) {
                                        return id == QLatin1String("CV-LAN")
                                                   ? LanRoute{QStringLiteral("192.168.1.57"), QStringLiteral("tok"), QStringLiteral("Gym"),
                                                              QString(64, QLatin1Char('a'))}
                                                   : LanRoute{};
                                    }};
        const FollowCheck check = checkFollowRequest({FollowedRoute::Kind(kind), device, QString(), address, usbPort}, context);
        QCOMPARE(check.error, error);
        QCOMPARE(check.route.has_value(), error.isEmpty());
        if (check.route)
            QCOMPARE(check.route->toJson(), QJsonDocument::fromJson(stored).object());
    }

    void followedRouteLine_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("network") << QByteArray(R"({"device":"CV-1","route":"lan","host":"10.0.0.7","token":"t"})")
                                 << QStringLiteral("network 10.0.0.7");
        QTest::newRow("network, another feed port") << QByteArray(R"({"device":"CV-1","route":"lan","host":"10.0.0.7","token":"t","port":1020})")
                                                    << QStringLiteral("network 10.0.0.7, feed port 1020");
        QTest::newRow("Bluetooth") << QByteArray(R"({"device":"CV-1","route":"ble","address":"C0FFEE000029"})")
                                   << QStringLiteral("Bluetooth C0FFEE000029");
    }

    void followedRouteLine()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, expected);
        const std::optional<FollowedRoute> route = FollowedRoute::fromJson(QJsonDocument::fromJson(stored).object(), nullptr);
        QVERIFY(route);
        QCOMPARE(followedRouteText(*route), expected);
    }

    void sourceNamesCountUp()
    {
        QStringList taken;
        const auto isTaken = [&taken](const QString &name) { return taken.contains(name); };
        for (int i = 0; i < 3; ++i)
            taken << uniqueSourceName(QStringLiteral("Corvane Score"), isTaken);
        QCOMPARE(taken, (QStringList{QStringLiteral("Corvane Score"), QStringLiteral("Corvane Score 2"), QStringLiteral("Corvane Score 3")}));
        taken.removeAt(1);
        QCOMPARE(uniqueSourceName(QStringLiteral("Corvane Score"), isTaken), QStringLiteral("Corvane Score 2"));
    }
};

QTEST_APPLESS_MAIN(TestDockText)
#include "tst_DockText.moc"
