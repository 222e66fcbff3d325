// Devices followed beside the main one: each runs its own route at once (cloud polling
// against the portal simulator, network feeds, USB ports and Bluetooth helpers against
// device simulators),
// keeps its own live data and hold, is restored from settings.json, shares its serial port
// with setup, and can be unfollowed while its updates arrive.
#include "app/App.h"
#include "app/BluetoothRoute.h"
#include "app/FollowedDevice.h"
#include "app/FollowedDevices.h"
#include "app/MakeMain.h"
#include "app/UsbPortShare.h"
#include "base/Log.h"
#include "device/ble/BleBridge.h"
#include "device/usb/UsbLink.h"
#include "live/SourceManager.h"
#include "support/DevSimProcess.h"
#include "support/PortalSimProcess.h"
#include "support/TestSettings.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <memory>

using namespace corvane;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

QJsonObject readJson(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

// The log lines of one test, caught from the plugin's sink.
QStringList g_log;
void catchLine(LogLevel, const char *line) { g_log.append(QString::fromUtf8(line)); }

// A device on the local network: its simulator's live feed, with a token set beforehand.
struct NetworkDevice {
    NetworkDevice(const QString &id, const char *sport, QTemporaryDir &dir)
        : token(QStringLiteral("token-") + id)
        , sim({QStringLiteral("--feed-port"), QStringLiteral("0"), QStringLiteral("--live-ms"), QStringLiteral("50"),
               QStringLiteral("--sport"), QString::fromLatin1(sport), QStringLiteral("--device-id"), id,
               QStringLiteral("--state"), stateFile(id, token, dir)})
        , port(quint16(sim.waitFor(QStringLiteral("FEED ")).mid(5).toUInt()))
    {
    }
    static QString stateFile(const QString &id, const QString &token, QTemporaryDir &dir)
    {
        const QString path = dir.filePath(id + QStringLiteral(".state"));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(QJsonObject{{key("api_token"), token}}).toJson());
        return path;
    }
    FollowedRoute route(const QString &id) const
    {
        FollowedRoute r{id, FollowedRoute::Lan, id};
        r.lan = LanRoute{QStringLiteral("127.0.0.1"), token, id, QString(), port};
        return r;
    }
    QString token;
    DevSimProcess sim;
    quint16 port;
};

// A device on the USB cable: its simulator's pty, sending live messages of its own sport.
struct UsbDevice {
    UsbDevice(const QString &id, const char *sport)
        : sim({QStringLiteral("--live-ms"), QStringLiteral("50"), QStringLiteral("--sport"), QString::fromLatin1(sport),
               QStringLiteral("--device-id"), id})
    {
    }
    FollowedRoute route(const QString &id) const
    {
        FollowedRoute r{id, FollowedRoute::Usb};
        r.usbPort = sim.ptyPath();
        return r;
    }
    DevSimProcess sim;
};

// A device in Bluetooth range: its simulator's air holds it alone, at its own address, with
// an admin password that its account (the portal simulator's) keeps or not.
struct BluetoothDevice {
    BluetoothDevice(const QString &id, const char *bleAddress, const char *sport, const char *password)
        : address(QString::fromLatin1(bleAddress))
        , sim({QStringLiteral("--ble-port"), QStringLiteral("0"), QStringLiteral("--ble-address"), address,
               QStringLiteral("--feed-port"), QStringLiteral("0"), QStringLiteral("--live-ms"), QStringLiteral("100"),
               QStringLiteral("--sport"), QString::fromLatin1(sport), QStringLiteral("--device-id"), id,
               QStringLiteral("--password"), QString::fromLatin1(password)})
        , air(sim.waitFor(QStringLiteral("BLE ")).mid(4))
    {
    }
    FollowedRoute route(const QString &id) const
    {
        FollowedRoute r{id, FollowedRoute::Ble};
        r.bleAddress = address;
        return r;
    }
    // Sign-in attempts so far, whatever their outcome.
    int logins()
    {
        loginsSeen += sim.take(QStringLiteral("BLE-RPC ")).filter(QStringLiteral(" login ")).size();
        return loginsSeen;
    }
    QString address;
    DevSimProcess sim;
    QString air;
    int loginsSeen = 0;
};

// This computer's radio, hearing every simulated air at once (the helpers it starts inherit it).
struct Radio {
    explicit Radio(const QStringList &airs)
    {
        qputenv("CORVANE_BLE_SIM", airs.join(QLatin1Char(',')).toLatin1());
        BleBridge::instance()->setHelperPath(QStringLiteral(CORVANE_BLE_HELPER));
    }
    ~Radio() { qunsetenv("CORVANE_BLE_SIM"); }
};

BluetoothRoute *bluetoothOf(App &app, const QString &id)
{
    FollowedDevice *device = app.followed()->device(id);
    return device ? device->bluetooth() : nullptr;
}

bool processGone(qint64 pid) { return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; }

bool isLive(App &app, const QString &id)
{
    FollowedDevice *device = app.followed()->device(id);
    return device && device->sourceManager()->isLive() && !device->live().fieldNames().isEmpty();
}

} // namespace

class TestFollowedDevices : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_portal;
    QTemporaryDir m_dir;
    int m_serial = 0;

    AppEnvironment environment(QJsonObject settings = {})
    {
        const QString folder = m_dir.filePath(QString::number(++m_serial));
        QDir().mkpath(folder);
        settings.insert(key("portal_url"), m_portal.url());
        corvane::test::writeTestSettings(folder + QStringLiteral("/settings.json"), settings);
        return {folder + QStringLiteral("/settings.json"), folder + QStringLiteral("/session.json")};
    }

    static bool signIn(App &app)
    {
        app.portal().signIn(QStringLiteral("operator@example.com"), QStringLiteral("correct horse battery"), [](const PortalResult &) {});
        return QTest::qWaitFor([&app] { return app.portal().isSignedIn(); }, 10000);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(!m_portal.start().isEmpty()); }
    void init()
    {
        QVERIFY(m_portal.reset());
        g_log.clear();
    }

    void twoCloudDevicesLiveAtOnceEachWithItsOwnDataAndHold()
    {
        // An entry that cannot be read is logged and skipped.
        const LogSink previous = setLogSink(catchLine);
        const AppEnvironment env = environment({{key("followed_devices"),
                                                 QJsonArray{QJsonObject{{key("device"), QStringLiteral("CV-9")}, {key("route"), QStringLiteral("lan")}}}}});
        App app(env);
        setLogSink(previous);
        QVERIFY(app.followed()->ids().isEmpty());
        const QStringList refusals = g_log.filter(QStringLiteral("followed device is ignored"));
        QCOMPARE(refusals.size(), 1);
        QVERIFY2(refusals.first().contains(QStringLiteral("entry 1: \"host\" is missing or empty")), qPrintable(refusals.first()));

        QSignalSpy mainChanged(&app.live(), &LiveData::changed);
        QSignalSpy mainShown(&app.shown(), &ShownScores::changed);
        QVERIFY(app.followDevice({QStringLiteral("CV-1001"), FollowedRoute::Cloud}));
        QVERIFY(app.followDevice({QStringLiteral("gym/court 2"), FollowedRoute::Cloud, QStringLiteral("Court 2")}));
        QVERIFY(!app.followDevice({QStringLiteral("CV-1001"), FollowedRoute::Cloud}));
        QVERIFY(signIn(app));
        QVERIFY(QTest::qWaitFor([&] { return isLive(app, QStringLiteral("CV-1001")) && isLive(app, QStringLiteral("gym/court 2")); }, 10000));
        // Named by its name where it has one, by its id where not.
        QCOMPARE(app.followed()->device(QStringLiteral("gym/court 2"))->sourceManager()->message(), QStringLiteral("Live from Court 2"));
        QCOMPARE(app.followed()->device(QStringLiteral("CV-1001"))->sourceManager()->message(), QStringLiteral("Live from CV-1001"));

        // Different games, and none of it reached the main device (no main route runs).
        QCOMPARE(app.liveOf(QStringLiteral("CV-1001"))->value(key("home_name")), QStringLiteral("Hawks"));
        QCOMPARE(app.liveOf(QStringLiteral("gym/court 2"))->value(key("home_name")), QStringLiteral("Lynx"));
        QCOMPARE(mainChanged.size(), 0);
        QCOMPARE(mainShown.size(), 0);
        QVERIFY(app.liveOf(QStringLiteral("CV-1002")) == nullptr);
        QVERIFY(app.liveOf(QString()) == &app.live());

        // A hold is the device's own.
        app.shownOf(QStringLiteral("CV-1001"))->hold();
        QVERIFY(!app.shown().isHeld());
        QVERIFY(!app.shownOf(QStringLiteral("gym/court 2"))->isHeld());

        // The main device's route takes a followed device over: one device, one route. Those
        // bound to its id read it there, and the former main device, followed in its stead,
        // feeds those bound to its own.
        const QString court(QStringLiteral("gym/court 2"));
        QVERIFY(makeMain(app, court));
        QCOMPARE(app.followed()->ids(), QStringList{QStringLiteral("CV-1001")});
        QVERIFY(!app.followDevice({court, FollowedRoute::Cloud}));
        QVERIFY(app.liveOf(court) == &app.live());
        QVERIFY(QTest::qWaitFor([&] { return app.live().value(key("home_name")) == QStringLiteral("Lynx"); }, 10000));
        QVERIFY(makeMain(app, QStringLiteral("CV-1001")));
        QVERIFY(app.shownScoresOf(QStringLiteral("CV-1001")).get() == &app.shown());
        QVERIFY(app.liveOf(court) == &app.followed()->device(court)->live());

        // What is followed is there again after a restart.
        App again(env);
        QCOMPARE(again.followed()->ids(), QStringList{court});
    }

    void twoNetworkDevicesLiveAtOnceOnTheirOwnFeeds()
    {
        NetworkDevice hockey(QStringLiteral("CV-5001"), "hockey", m_dir);
        NetworkDevice soccer(QStringLiteral("CV-5002"), "soccer", m_dir);
        QVERIFY(hockey.port != 0 && soccer.port != 0 && hockey.port != soccer.port);
        const AppEnvironment env = environment();
        App app(env);
        QVERIFY(app.followDevice(hockey.route(QStringLiteral("CV-5001"))));
        QVERIFY(app.followDevice(soccer.route(QStringLiteral("CV-5002"))));
        QVERIFY(QTest::qWaitFor([&] { return isLive(app, QStringLiteral("CV-5001")) && isLive(app, QStringLiteral("CV-5002")); }, 15000));
        QCOMPARE(app.liveOf(QStringLiteral("CV-5001"))->sport(), QStringLiteral("hockey"));
        QCOMPARE(app.liveOf(QStringLiteral("CV-5002"))->sport(), QStringLiteral("soccer"));
        QVERIFY(app.live().fieldNames().isEmpty());

        // Each route keeps the certificate its feed met first.
        const QJsonArray stored = readJson(env.settingsPath).value(key("followed_devices")).toArray();
        QCOMPARE(stored.size(), 2);
        for (const QJsonValue &entry : stored) {
            QCOMPARE(entry.toObject().value(key("tls_sha256")).toString().size(), 64);
            QVERIFY(entry.toObject().value(key("port")).toInt() > 0);
        }

        // Made main, it keeps its feed's port and its pin.
        QVERIFY(makeMain(app, QStringLiteral("CV-5001")));
        QCOMPARE(app.settings().lanRoute(QStringLiteral("CV-5001")).certificateSha256,
                 stored.first().toObject().value(key("tls_sha256")).toString());
        QVERIFY(QTest::qWaitFor([&] { return app.sourceManager()->isLive() && app.live().sport() == QStringLiteral("hockey"); }, 15000));
    }

    void twoUsbDevicesLiveAtOnceAndTheirPortsSharedWithSetup()
    {
        UsbDevice baseball(QStringLiteral("CV-6001"), "baseball");
        UsbDevice lacrosse(QStringLiteral("CV-6002"), "lacrosse");
        App app(environment());
        app.usbPorts()->setReopenDelayForTests(100);
        QVERIFY(app.followDevice(baseball.route(QStringLiteral("CV-6001"))));
        // Followed under another id than its own (its port's name moved): shown, and said.
        QVERIFY(app.followDevice(lacrosse.route(QStringLiteral("CV-6009"))));
        QVERIFY(QTest::qWaitFor([&] { return isLive(app, QStringLiteral("CV-6001")) && isLive(app, QStringLiteral("CV-6009")); }, 15000));
        QCOMPARE(app.liveOf(QStringLiteral("CV-6001"))->sport(), QStringLiteral("baseball"));
        QCOMPARE(app.liveOf(QStringLiteral("CV-6009"))->sport(), QStringLiteral("lacrosse"));
        QCOMPARE(app.followed()->device(QStringLiteral("CV-6001"))->sourceManager()->message(), QStringLiteral("Live from CV-6001"));
        QCOMPARE(app.followed()->device(QStringLiteral("CV-6009"))->sourceManager()->message(),
                 QStringLiteral("Live from CV-6009. The device there says it is CV-6002, not CV-6009."));

        // Setup opens the port a followed device has: the follower's link gives way (a
        // second open would fail) and the device stays live through setup's link.
        const QString port = baseball.sim.ptyPath();
        std::unique_ptr<UsbLink> setup(app.openUsbLink(port));
        QSignalSpy failed(setup.get(), &DeviceLink::failed);
        QSignalSpy opened(setup.get(), &DeviceLink::opened);
        setup->open();
        QVERIFY(opened.wait(10000));
        QCOMPARE(failed.size(), 0);
        QVERIFY(app.usbPorts()->linkOn(port) == setup.get());
        QSignalSpy changed(app.liveOf(QStringLiteral("CV-6001")), &LiveData::changed);
        QVERIFY(changed.wait(10000));

        // Setup done and its link gone: the follower opens the port again by itself.
        setup.reset();
        QVERIFY(QTest::qWaitFor([&] { return app.usbPorts()->linkOn(port) != nullptr; }, 5000));
        QVERIFY(QTest::qWaitFor([&] { return isLive(app, QStringLiteral("CV-6001")); }, 15000));
        QVERIFY(changed.wait(10000));

        // Unfollowed, the port is free for anyone.
        QVERIFY(app.followed()->unfollow(QStringLiteral("CV-6001")));
        QVERIFY(app.usbPorts()->linkOn(port) == nullptr);
        UsbLink other(port);
        QSignalSpy otherOpened(&other, &DeviceLink::opened);
        other.open();
        QVERIFY(otherOpened.wait(10000));
    }

    // Each Bluetooth device has a helper of its own (a helper holds one connection) on the
    // one radio: both live at once with their own games, signed in with the password their
    // account keeps; a refused one is not tried again; a dropped link comes back by itself.
    void bluetoothDevicesLiveAtOnceEachOnItsOwnHelper()
    {
        BluetoothDevice hockey(QStringLiteral("CV-1001"), "C0FFEE001001", "hockey", "admin-1001");
        BluetoothDevice soccer(QStringLiteral("CV-1002"), "C0FFEE001002", "soccer", "admin-1002");
        BluetoothDevice stranger(QStringLiteral("CV-1004"), "C0FFEE001004", "volleyball", "changed-on-the-device");
        const Radio radio({hockey.air, soccer.air, stranger.air});
        App app(environment());
        const QStringList ids{QStringLiteral("CV-1001"), QStringLiteral("CV-1002"), QStringLiteral("CV-1004")};
        QVERIFY(app.followDevice(hockey.route(ids[0])));
        QVERIFY(app.followDevice(soccer.route(ids[1])));
        for (const QString &id : ids.first(2)) {
            BluetoothRoute *route = bluetoothOf(app, id);
            QVERIFY(route);
            route->setReconnectDelayForTests(100);
        }

        // The factory password is refused: each waits for its account's.
        const auto asksPassword = [&app](const QString &id) {
            return app.followed()->device(id)->sourceManager()->message().contains(QStringLiteral("needs its admin password"));
        };
        QVERIFY(QTest::qWaitFor([&] { return asksPassword(ids[0]) && asksPassword(ids[1]); }, 20000));
        QVERIFY(signIn(app));
        QVERIFY(QTest::qWaitFor([&] { return isLive(app, ids[0]) && isLive(app, ids[1]); }, 20000));
        QCOMPARE(app.liveOf(ids[0])->sport(), QStringLiteral("hockey"));
        QCOMPARE(app.liveOf(ids[1])->sport(), QStringLiteral("soccer"));
        QVERIFY(app.live().fieldNames().isEmpty());
        const qint64 hockeyHelper = bluetoothOf(app, ids[0])->bridge()->helperProcessId();
        const qint64 soccerHelper = bluetoothOf(app, ids[1])->bridge()->helperProcessId();
        QVERIFY(hockeyHelper != 0 && soccerHelper != 0 && hockeyHelper != soccerHelper);

        // Both keep updating side by side.
        QSignalSpy hockeyChanged(app.liveOf(ids[0]), &LiveData::changed);
        QSignalSpy soccerChanged(app.liveOf(ids[1]), &LiveData::changed);
        QVERIFY(QTest::qWaitFor([&] { return hockeyChanged.size() >= 3 && soccerChanged.size() >= 3; }, 15000));

        // A password the account keeps but the device refuses is tried once, not again and
        // again until the device locks itself.
        bool saved = false;
        app.portal().putPairing(ids[2], QStringLiteral("saved-before-a-change"), [&saved](const PortalResult &r) { saved = r.ok; });
        QVERIFY(QTest::qWaitFor([&saved] { return saved; }, 10000));
        QVERIFY(app.followDevice(stranger.route(ids[2])));
        QVERIFY(QTest::qWaitFor([&] { return stranger.logins() >= 2 && asksPassword(ids[2]); }, 20000));
        QTest::qWait(1000);
        QCOMPARE(stranger.logins(), 2);
        QVERIFY(!isLive(app, ids[2]));

        // A link lost is connected again, signed in with the password that worked.
        QVERIFY(hockey.sim.command(QStringLiteral("ble-drop")));
        QVERIFY(QTest::qWaitFor([&] { return !isLive(app, ids[0]); }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return isLive(app, ids[0]); }, 20000));
        hockeyChanged.clear();
        QVERIFY(hockeyChanged.wait(10000));
        QCOMPARE(bluetoothOf(app, ids[0])->bridge()->helperProcessId(), hockeyHelper);
    }

    // Unfollowed while its notifications arrive: its link is released on the air, its
    // helper ends and its data goes; the other Bluetooth device keeps running.
    void unfollowBluetoothWhileNotificationsArrive()
    {
        BluetoothDevice first(QStringLiteral("CV-1001"), "C0FFEE001001", "basketball", "admin-1001");
        BluetoothDevice second(QStringLiteral("CV-1002"), "C0FFEE001002", "lacrosse", "admin-1002");
        const Radio radio({first.air, second.air});
        App app(environment());
        QVERIFY(signIn(app));
        QVERIFY(app.followDevice(first.route(QStringLiteral("CV-1001"))));
        QVERIFY(app.followDevice(second.route(QStringLiteral("CV-1002"))));
        QVERIFY(QTest::qWaitFor([&] { return isLive(app, QStringLiteral("CV-1001")) && isLive(app, QStringLiteral("CV-1002")); }, 20000));

        const std::weak_ptr<DeviceLive> gone = app.followed()->dataOf(QStringLiteral("CV-1001"));
        const qint64 helper = bluetoothOf(app, QStringLiteral("CV-1001"))->bridge()->helperProcessId();
        QSignalSpy firstChanged(app.liveOf(QStringLiteral("CV-1001")), &LiveData::changed);
        QVERIFY(firstChanged.wait(10000));
        // Each connect releases what the helper held before: those releases are not this one.
        first.sim.take(QStringLiteral("BLE-CLOSE"));
        QVERIFY(app.followed()->unfollow(QStringLiteral("CV-1001")));
        QVERIFY(app.liveOf(QStringLiteral("CV-1001")) == nullptr);
        QVERIFY(QTest::qWaitFor([&] { return processGone(helper); }, 10000));
        QVERIFY(!first.sim.waitFor(QStringLiteral("BLE-CLOSE"), 5000).isEmpty());

        QSignalSpy secondChanged(app.liveOf(QStringLiteral("CV-1002")), &LiveData::changed);
        QVERIFY(secondChanged.wait(10000));
        QVERIFY(QTest::qWaitFor([&] { return gone.expired(); }, 5000));
    }

    // A helper that said hello and then neither answers nor quits: unfollowing its device
    // does not wait for it (the interface thread goes on), it is ended in the background,
    // and one still quitting when OBS quits is ended then: no helper outlives the plugin.
    void hungHelperEndsInTheBackground()
    {
        const QString started = m_dir.filePath(QStringLiteral("hung-started"));
        const QString script = m_dir.filePath(QStringLiteral("hung-helper"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/bash\nexec 3<>/dev/tcp/127.0.0.1/$2\nprintf '{\"hello\":\"%s\"}\\n' \"$CORVANE_BLE_TOKEN\" >&3\n"
                   "read -r line <&3\necho >>'" + started.toUtf8() + "'\nexec sleep 600\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QString previous = BleBridge::instance()->helperPath();
        BleBridge::instance()->setHelperPath(script);
        const auto restore = qScopeGuard([&previous] { BleBridge::instance()->setHelperPath(previous); });

        auto app = std::make_unique<App>(environment());
        const QStringList ids{QStringLiteral("CV-1001"), QStringLiteral("CV-1002")};
        for (const QString &id : ids) {
            FollowedRoute route{id, FollowedRoute::Ble};
            route.bleAddress = QStringLiteral("C0FFEE00") + id.right(4);
            QVERIFY(app->followDevice(route));
        }
        QFile marks(started);
        QVERIFY(QTest::qWaitFor([&] { return marks.size() >= 2; }, 20000));
        const qint64 first = bluetoothOf(*app, ids[0])->bridge()->helperProcessId();
        const qint64 second = bluetoothOf(*app, ids[1])->bridge()->helperProcessId();
        QVERIFY(first != 0 && second != 0);

        QVERIFY(app->followed()->unfollow(ids[0]));
        QVERIFY(!processGone(first));
        QVERIFY(QTest::qWaitFor([&] { return processGone(first); }, 10000));

        QVERIFY(app->followed()->unfollow(ids[1]));
        app.reset();
        QVERIFY(processGone(second));
    }
};

QTEST_GUILESS_MAIN(TestFollowedDevices)
#include "tst_FollowedDevices.moc"
