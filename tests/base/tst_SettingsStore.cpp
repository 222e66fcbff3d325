#include "base/SettingsStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace corvane;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QJsonObject readObject(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const QString &name = QStringLiteral("settings.json")) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void defaultsWithoutFile()
    {
        SettingsStore s;
        s.load(path(QStringLiteral("missing.json")));
        QCOMPARE(s.selectedDevice(), QString());
        QCOMPARE(s.serverEnabled(), false);
        QCOMPARE(s.serverPort(), 9001);
        QCOMPARE(s.serverAllowNetwork(), false);
        QCOMPARE(s.shareConnection(), true);
        QCOMPARE(s.autoCheckUpdates(), true);
        QCOMPARE(s.lastUpdateCheck(), qint64(0));
        QCOMPARE(s.lastUsbPort(), QString());
        QCOMPARE(s.routeFor(QStringLiteral("dev1")), QStringLiteral("cloud"));
        QCOMPARE(s.lanRoute(QStringLiteral("dev1")), LanRoute{});
        QVERIFY(!QFile::exists(path(QStringLiteral("missing.json"))));
    }

    void nonObjectFilesReadAsEmpty_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("array") << QByteArray(R"([{"server_enabled": true}])");
        QTest::newRow("null") << QByteArray("null");
        QTest::newRow("garbage") << QByteArray("{server_enabled: true");
        QTest::newRow("empty") << QByteArray();
    }
    void nonObjectFilesReadAsEmpty()
    {
        QFETCH(QByteArray, content);
        const QString file = path(QStringLiteral("odd.json"));
        writeFile(file, content);
        SettingsStore s;
        s.load(file);
        QCOMPARE(s.serverEnabled(), false);
        s.setServerPort(9100);
        QCOMPARE(readObject(file), QJsonObject({{QStringLiteral("server_port"), 9100}}));
    }

    void wrongTypesReadAsDefaults()
    {
        const QString file = path(QStringLiteral("types.json"));
        writeFile(file, R"({"server_port": "9002", "server_enabled": 1, "share_connection": "false",
            "selected_device": 17, "last_update_check": "5",
            "routes": {"a": 1, "b": "lan", "c": null}, "lan": {"a": {"host": 5, "token": "t"}, "b": "x"}})");
        SettingsStore s;
        s.load(file);
        QCOMPARE(s.serverPort(), 9001);
        QCOMPARE(s.serverEnabled(), false);
        QCOMPARE(s.shareConnection(), true);
        QCOMPARE(s.selectedDevice(), QString());
        QCOMPARE(s.lastUpdateCheck(), qint64(0));
        QCOMPARE(s.routeFor(QStringLiteral("a")), QStringLiteral("cloud"));
        QCOMPARE(s.routeFor(QStringLiteral("b")), QStringLiteral("lan"));
        QCOMPARE(s.routeFor(QStringLiteral("c")), QStringLiteral("cloud"));
        QCOMPARE(s.lanRoute(QStringLiteral("a")), (LanRoute{QString(), QStringLiteral("t"), QString()}));
        QCOMPARE(s.lanRoute(QStringLiteral("b")), LanRoute{});
    }

    void portMustBeAWholeNumber()
    {
        const QString file = path(QStringLiteral("port.json"));
        writeFile(file, R"({"server_port": 9001.5})");
        SettingsStore s;
        s.load(file);
        QCOMPARE(s.serverPort(), 9001);
        writeFile(file, R"({"server_port": 1e12})");
        s.load(file);
        QCOMPARE(s.serverPort(), 9001);
        writeFile(file, R"({"server_port": 9005})");
        s.load(file);
        QCOMPARE(s.serverPort(), 9005);
    }

    void writesSurviveReload()
    {
        const QString file = path(QStringLiteral("sub/dir/roundtrip.json"));
        SettingsStore s;
        s.load(file);
        s.setSelectedDevice(QStringLiteral("CV-1"));
        s.setServerEnabled(true);
        s.setServerPort(9200);
        s.setServerAllowNetwork(true);
        s.setShareConnection(false);
        s.setAutoCheckUpdates(false);
        s.setLastUpdateCheck(1796644531);
        s.setLastUsbPort(QStringLiteral("/dev/ttyACM0"));
        s.setRoute(QStringLiteral("CV-1"), QStringLiteral("lan"));

        SettingsStore again;
        again.load(file);
        QCOMPARE(again.selectedDevice(), QStringLiteral("CV-1"));
        QCOMPARE(again.serverEnabled(), true);
        QCOMPARE(again.serverPort(), 9200);
        QCOMPARE(again.serverAllowNetwork(), true);
        QCOMPARE(again.shareConnection(), false);
        QCOMPARE(again.autoCheckUpdates(), false);
        QCOMPARE(again.lastUpdateCheck(), qint64(1796644531));
        QCOMPARE(again.lastUsbPort(), QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(again.routeFor(QStringLiteral("CV-1")), QStringLiteral("lan"));

        QVERIFY(readObject(file).value(QStringLiteral("last_update_check")).isDouble());
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY2(f.readAll().contains('\n'), "settings are written as indented JSON");
    }

    void lanRouteKeepsOtherDevices()
    {
        const QString file = path(QStringLiteral("lan.json"));
        SettingsStore s;
        s.load(file);
        const LanRoute a{QStringLiteral("192.0.2.5"), QStringLiteral("tok-a"), QStringLiteral("Gym"), QString(64, QLatin1Char('a'))};
        const LanRoute b{QStringLiteral("cv-b.local"), QStringLiteral("tok-b"), QStringLiteral("Field"), QString(), 1011};
        s.setLanRoute(QStringLiteral("a"), a);
        s.setLanRoute(QStringLiteral("b"), b);
        s.setRoute(QStringLiteral("a"), QStringLiteral("lan"));
        s.setRoute(QStringLiteral("b"), QStringLiteral("cloud"));
        SettingsStore again;
        again.load(file);
        QCOMPARE(again.lanRoute(QStringLiteral("a")), a);
        QCOMPARE(again.lanRoute(QStringLiteral("b")), b);
        QCOMPARE(again.routeFor(QStringLiteral("a")), QStringLiteral("lan"));
        QCOMPARE(again.routeFor(QStringLiteral("b")), QStringLiteral("cloud"));
    }

    // A route stored before pinning keeps the first certificate its feed meets, in a member
    // that plugins before pinning pass over: the route they read stays as it was. A pin is
    // never replaced that way, and a device without a route gets none.
    void firstCertificateIsPinnedBesideOlderRoutes()
    {
        const QString file = path(QStringLiteral("pin.json"));
        writeFile(file, R"({"lan": {"a": {"host": "192.0.2.5", "token": "tok-a", "name": "Gym"}}})");
        SettingsStore s;
        s.load(file);
        QCOMPARE(s.lanRoute(QStringLiteral("a")).certificateSha256, QString());
        const QString first(64, QLatin1Char('c'));
        QVERIFY(s.pinLanCertificate(QStringLiteral("a"), first));
        QVERIFY(!s.pinLanCertificate(QStringLiteral("a"), QString(64, QLatin1Char('d'))));
        QVERIFY(!s.pinLanCertificate(QStringLiteral("b"), first));

        SettingsStore again;
        again.load(file);
        QCOMPARE(again.lanRoute(QStringLiteral("a")),
                 (LanRoute{QStringLiteral("192.0.2.5"), QStringLiteral("tok-a"), QStringLiteral("Gym"), first}));
        QCOMPARE(again.lanRoute(QStringLiteral("b")), LanRoute{});
        const QJsonObject lan = readObject(file).value(QStringLiteral("lan")).toObject();
        QCOMPARE(lan.keys(), QStringList{QStringLiteral("a")});
        QCOMPARE(lan.value(QStringLiteral("a")).toObject(),
                 QJsonObject({{QStringLiteral("host"), QStringLiteral("192.0.2.5")},
                              {QStringLiteral("token"), QStringLiteral("tok-a")},
                              {QStringLiteral("name"), QStringLiteral("Gym")},
                              {QStringLiteral("tls_sha256"), first}}));
    }

    // One good entry beside each kind of bad one: the bad one is refused with its reason,
    // the good one still read. The first row is a file from before followed devices.
    void followedDevicesRead_data()
    {
        QTest::addColumn<QByteArray>("followed");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("reason");
        const QByteArray good = R"({"device": "CV-1", "route": "cloud"})";
        const auto beside = [&good](const char *bad) { return "[" + good + "," + QByteArray(bad) + "]"; };
        const QStringList one{QStringLiteral("CV-1")};
        QTest::newRow("older file: none") << QByteArray() << QStringList() << QString();
        QTest::newRow("every kind") << QByteArray(R"([{"device": "CV-1", "route": "cloud"},
            {"device": "CV-2", "route": "lan", "host": "10.0.0.2", "token": "t", "port": 1011},
            {"device": "CV-3", "route": "usb", "port_name": "/dev/ttyACM1"},
            {"device": "CV-4", "route": "ble", "address": "AA:BB:CC:DD:EE:FF"}])")
                                    << QStringList{QStringLiteral("CV-1"), QStringLiteral("CV-2"), QStringLiteral("CV-3"), QStringLiteral("CV-4")}
                                    << QString();
        QTest::newRow("not a list") << QByteArray(R"({"device": "CV-1"})") << QStringList() << QStringLiteral("not a list");
        QTest::newRow("entry not an object") << beside("7") << one << QStringLiteral("entry 2: not an object");
        QTest::newRow("no device") << beside(R"({"route": "cloud"})") << one << QStringLiteral("\"device\" is missing");
        QTest::newRow("unknown route") << beside(R"({"device": "CV-9", "route": "carrier pigeon"})") << one << QStringLiteral("unknown route");
        QTest::newRow("network route without token") << beside(R"({"device": "CV-9", "route": "lan", "host": "h"})") << one
                                                     << QStringLiteral("\"token\" is missing");
        QTest::newRow("port out of range") << beside(R"({"device": "CV-9", "route": "lan", "host": "h", "token": "t", "port": 70000})")
                                           << one << QStringLiteral("\"port\" is not a port number");
        QTest::newRow("port as text") << beside(R"({"device": "CV-9", "route": "lan", "host": "h", "token": "t", "port": "1011"})")
                                      << one << QStringLiteral("\"port\" is not a port number");
        QTest::newRow("usb without port") << beside(R"({"device": "CV-9", "route": "usb"})") << one << QStringLiteral("\"port_name\" is missing");
        QTest::newRow("ble without address") << beside(R"({"device": "CV-9", "route": "ble", "address": ""})") << one
                                             << QStringLiteral("\"address\" is missing");
        QTest::newRow("name not a text") << beside(R"({"device": "CV-9", "route": "cloud", "name": 3})") << one << QStringLiteral("\"name\" is not a text");
        QTest::newRow("same device twice") << beside(R"({"device": "CV-1", "route": "usb", "port_name": "p"})") << one
                                           << QStringLiteral("entry 2: device already followed");
    }
    void followedDevicesRead()
    {
        QFETCH(QByteArray, followed);
        QFETCH(QStringList, ids);
        QFETCH(QString, reason);
        QByteArray content = R"({"selected_device": "CV-7", "routes": {"CV-7": "lan"},
            "lan": {"CV-7": {"host": "10.0.0.7", "token": "tok", "name": "Gym"}})";
        if (!followed.isEmpty())
            content += ", \"followed_devices\": " + followed;
        const QString file = path(QStringLiteral("followed.json"));
        writeFile(file, content + "}");
        SettingsStore s;
        s.load(file);
        QStringList refused;
        QStringList read;
        for (const FollowedRoute &route : s.followedRoutes(&refused))
            read.append(route.deviceId);
        QCOMPARE(read, ids);
        QCOMPARE(refused.size(), reason.isEmpty() ? 0 : 1);
        QVERIFY2(reason.isEmpty() || refused.first().contains(reason), qPrintable(refused.value(0)));
        // The main device's keys read as before, whatever is followed.
        QCOMPARE(s.selectedDevice(), QStringLiteral("CV-7"));
        QCOMPARE(s.routeFor(QStringLiteral("CV-7")), QStringLiteral("lan"));
        QCOMPARE(s.lanRoute(QStringLiteral("CV-7")), (LanRoute{QStringLiteral("10.0.0.7"), QStringLiteral("tok"), QStringLiteral("Gym")}));
    }

    void followedRoutesRoundTripAndKeepWhatCannotBeRead()
    {
        const QString file = path(QStringLiteral("roundtrip.json"));
        // An entry of a kind only a newer plugin knows: not read, never lost.
        writeFile(file, R"({"followed_devices": [{"device": "CV-0", "route": "satellite"}]})");
        SettingsStore s;
        s.load(file);
        FollowedRoute lan{QStringLiteral("CV-2"), FollowedRoute::Lan, QStringLiteral("Court 2")};
        lan.lan = LanRoute{QStringLiteral("10.0.0.2"), QStringLiteral("tok"), QStringLiteral("Court 2"), QStringLiteral("ab12"), 1011};
        FollowedRoute usb{QStringLiteral("CV-3"), FollowedRoute::Usb};
        usb.usbPort = QStringLiteral("/dev/ttyACM1");
        FollowedRoute ble{QStringLiteral("CV-4"), FollowedRoute::Ble};
        ble.bleAddress = QStringLiteral("AA:BB:CC:DD:EE:FF");
        const FollowedRoute cloud{QStringLiteral("CV-1"), FollowedRoute::Cloud};
        for (const FollowedRoute &route : {cloud, lan, usb, ble})
            s.setFollowedRoute(route);
        // Replaced in place, not appended.
        usb.usbPort = QStringLiteral("/dev/ttyACM2");
        s.setFollowedRoute(usb);
        s.removeFollowedRoute(QStringLiteral("CV-1"));
        s.setServerPort(9100);

        SettingsStore again;
        again.load(file);
        QStringList refused;
        QCOMPARE(again.followedRoutes(&refused), (QList<FollowedRoute>{lan, usb, ble}));
        QCOMPARE(refused.size(), 1);
        const QJsonArray stored = readObject(file).value(QStringLiteral("followed_devices")).toArray();
        QCOMPARE(stored.size(), 4);
        QCOMPARE(stored.first().toObject().value(QStringLiteral("route")).toString(), QStringLiteral("satellite"));
        QCOMPARE(again.serverPort(), 9100);
    }

    void savesAreOwnerOnly()
    {
        const QString file = path(QStringLiteral("mode.json"));
        writeFile(file, "{}");
        QVERIFY(::chmod(QFile::encodeName(file).constData(), 0644) == 0);
        SettingsStore s;
        s.load(file);
        s.setServerEnabled(true);
        QCOMPARE(modeOf(file), mode_t(0600));
        const QString fresh = path(QStringLiteral("fresh/mode.json"));
        s.load(fresh);
        s.setServerEnabled(true);
        QCOMPARE(modeOf(fresh), mode_t(0600));
    }

    void failedSaveKeepsValueInMemory()
    {
        const QString blocker = path(QStringLiteral("blocker"));
        writeFile(blocker, "not a folder");
        SettingsStore s;
        s.load(blocker + QStringLiteral("/settings.json"));
        s.setServerPort(9300);
        QCOMPARE(s.serverPort(), 9300);
        QVERIFY(!QFile::exists(blocker + QStringLiteral("/settings.json")));
    }

    void emptyPathLivesInMemory()
    {
        SettingsStore s;
        s.load(QString());
        s.setSelectedDevice(QStringLiteral("x"));
        QCOMPARE(s.selectedDevice(), QStringLiteral("x"));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_SettingsStore.moc"
