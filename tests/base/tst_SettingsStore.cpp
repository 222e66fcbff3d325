#include "base/SettingsStore.h"

#include <QFile>
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
        const LanRoute b{QStringLiteral("cv-b.local"), QStringLiteral("tok-b"), QStringLiteral("Field"), QString()};
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
