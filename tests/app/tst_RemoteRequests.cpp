// The requests other programs send through obs-websocket: each answers exactly what the
// hosted server's equivalent answers, an unknown request or a bad device id an error, and
// they may be asked from any thread; a device parameter picks a followed device, and each
// followed device has events of its own. No OBS: App against the portal simulator.
#include "app/App.h"
#include "app/FollowedDevice.h"
#include "app/FollowedDevices.h"
#include "app/RemoteEvents.h"
#include "app/RemoteRequests.h"
#include "live/SourceManager.h"
#include "live/HostedServer.h"
#include "support/LineClient.h"
#include "support/PortalSimProcess.h"
#include "support/TestNetwork.h"
#include "support/TestSettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using namespace corvane;
using corvane::test::LineClient;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

QJsonObject parse(const QByteArray &line) { return QJsonDocument::fromJson(line).object(); }

QJsonObject withOk(QJsonObject answer)
{
    answer.insert(QStringLiteral("ok"), true);
    return answer;
}

// Two followed devices beside the main one: a cloud one with a name, and one on the local
// network named by its id alone (its feed finds nobody on its port).
const QString kCourt = QStringLiteral("CV-9001");
const QString kLanCourt = QStringLiteral("CV-9002");

} // namespace

class TestRemoteRequests : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_sim;

    void followCourts()
    {
        FollowedDevices *followed = m_app->followed();
        if (!followed->contains(kCourt))
            QVERIFY(m_app->followDevice({kCourt, FollowedRoute::Cloud, key("Court 2")}));
        if (!followed->contains(kLanCourt)) {
            FollowedRoute lan{kLanCourt, FollowedRoute::Lan};
            lan.lan = {key("127.0.0.1"), key("token"), QString(), QString(), quint16(corvane::test::unusedLocalPort())};
            QVERIFY(m_app->followDevice(lan));
        }
    }
    QTemporaryDir m_dir;
    std::unique_ptr<App> m_app;

    // What the hosted server answers to `line`, without the "op" it adds to answers other
    // than a snapshot. Live updates that a device choice sets off may come first.
    QJsonObject serverAnswer(const QByteArray &line)
    {
        LineClient client(m_app->server()->port());
        if (!QTest::qWaitFor([&] { return !client.lines.isEmpty(); }, 5000))
            return {};
        client.lines.clear();
        client.send(line + '\n');
        const bool snapshot = line == "get";
        QJsonObject answer;
        const bool answered = QTest::qWaitFor([&] {
            while (!client.lines.isEmpty() && answer.isEmpty()) {
                const QJsonObject next = parse(client.take());
                if (snapshot || next.contains(key("op")))
                    answer = next;
            }
            return !answer.isEmpty();
        }, 5000);
        if (!answered)
            return {};
        answer.remove(key("op"));
        return answer;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!m_sim.start().isEmpty());
        const QString settings = m_dir.filePath(key("settings.json"));
        QVERIFY(corvane::test::writeTestSettings(settings, {{key("portal_url"), m_sim.url()},
                                                            {key("server_enabled"), true},
                                                            {key("server_port"), corvane::test::unusedLocalPort()}}));
        m_app = std::make_unique<App>(AppEnvironment{settings, m_dir.filePath(key("session.json"))});
        App::setInstance(m_app.get());
        QVERIFY(m_app->server()->isListening());
        bool listed = false;
        connect(m_app.get(), &App::devicesChanged, this, [&] { listed = true; });
        m_app->portal().signIn(key("operator@example.com"), key("correct horse battery"), [](const PortalResult &) {});
        QVERIFY(QTest::qWaitFor([&] { return listed; }, 10000));
        QVERIFY(m_app->devices().size() > 1);
        m_app->live().apply({{key("sport"), key("hockey")}, {key("home_score"), 3}});
    }

    void cleanupTestCase()
    {
        App::setInstance(nullptr);
        m_app.reset();
    }

    void answersMatchTheHostedServer_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QByteArray>("serverLine");
        QTest::newRow("live data") << key("GetLiveData") << QJsonObject() << QByteArray("get");
        QTest::newRow("status") << key("GetStatus") << QJsonObject() << QByteArray("status");
        QTest::newRow("devices") << key("ListDevices") << QJsonObject() << QByteArray("devices");
        QTest::newRow("select a device of the account")
            << key("SelectDevice") << QJsonObject{{key("deviceId"), key("CV-1002")}} << QByteArray(R"({"op":"use","device":"CV-1002"})");
        QTest::newRow("select an unknown device")
            << key("SelectDevice") << QJsonObject{{key("deviceId"), key("CV-0000")}} << QByteArray(R"({"op":"use","device":"CV-0000"})");
        QTest::newRow("device id not a string")
            << key("SelectDevice") << QJsonObject{{key("deviceId"), 1002}} << QByteArray(R"({"op":"use","device":1002})");
        QTest::newRow("device id missing") << key("SelectDevice") << QJsonObject() << QByteArray(R"({"op":"use"})");
    }
    void answersMatchTheHostedServer()
    {
        QFETCH(QString, request);
        QFETCH(QJsonObject, data);
        QFETCH(QByteArray, serverLine);
        const QJsonObject answer = RemoteRequests::answer(*m_app, request, data);
        QCOMPARE(answer, serverAnswer(serverLine));
    }

    void selectDeviceSelects()
    {
        const QJsonObject answer = RemoteRequests::answer(*m_app, key("SelectDevice"), {{key("deviceId"), key("CV-1003")}});
        QCOMPARE(answer, QJsonObject({{key("device"), key("CV-1003")}, {key("ok"), true}}));
        QCOMPARE(m_app->settings().selectedDevice(), key("CV-1003"));
        const QJsonObject refused = RemoteRequests::answer(*m_app, key("SelectDevice"), {{key("deviceId"), key("CV-0000")}});
        QCOMPARE(refused, QJsonObject({{key("error"), key("unknown_device")}, {key("ok"), false}}));
        QCOMPARE(m_app->settings().selectedDevice(), key("CV-1003"));
    }

    void unknownRequest()
    {
        QCOMPARE(RemoteRequests::answer(*m_app, key("getStatus"), {}), QJsonObject({{key("error"), key("unknown_request")}, {key("ok"), false}}));
        QCOMPARE(RemoteRequests::names(), QStringList({key("GetLiveData"), key("GetStatus"), key("ListDevices"), key("SelectDevice"),
                                                       key("ListFollowedDevices")}));
    }

    void deviceParameterPicksTheDevice_data()
    {
        // "main" stands for the main device's own id; the answer is the main device's, a
        // followed device's, or the unknown-device error.
        QTest::addColumn<QString>("request");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("answeredFor");
        // Both requests pick the device alike; each answers for it on its own.
        for (const char *request : {"GetLiveData", "GetStatus"}) {
            const QString name = key(request);
            QTest::addRow("%s: no device", request) << name << QJsonObject() << "main";
            QTest::addRow("%s: a followed device", request) << name << QJsonObject{{key("deviceId"), kCourt}} << kCourt;
            QTest::addRow("%s: an account device not followed", request)
                << name << QJsonObject{{key("deviceId"), key("CV-1001")}} << "unknown";
        }
        const QString live = key("GetLiveData");
        QTest::newRow("empty id") << live << QJsonObject{{key("deviceId"), QString()}} << "main";
        QTest::newRow("null") << live << QJsonObject{{key("deviceId"), QJsonValue::Null}} << "main";
        QTest::newRow("the main device's id") << live << QJsonObject{{key("deviceId"), key("main")}} << "main";
        QTest::newRow("not a string") << live << QJsonObject{{key("deviceId"), 9001}} << "unknown";
    }
    void deviceParameterPicksTheDevice()
    {
        QFETCH(QString, request);
        QFETCH(QJsonObject, data);
        QFETCH(QString, answeredFor);
        followCourts();
        if (m_app->sourceManager()->device() != key("CV-1003"))
            m_app->selectDevice(key("CV-1003"));
        if (data.value(key("deviceId")) == key("main"))
            data.insert(key("deviceId"), m_app->sourceManager()->device());
        FollowedDevice *court = m_app->followed()->device(kCourt);
        court->live().apply({{key("sport"), key("basketball")}, {key("home_score"), 40}});
        const bool live = request == QLatin1String("GetLiveData");
        QJsonObject expected;
        if (answeredFor == QLatin1String("main")) {
            expected = live ? m_app->live().snapshot() : withOk(m_app->handleServerCommand(key("status"), {}));
        } else if (answeredFor == kCourt) {
            const SourceManager *manager = court->sourceManager();
            expected = live ? court->live().snapshot()
                            : QJsonObject{{key("signed_in"), true}, {key("account"), key("operator@example.com")},
                                          {key("source"), manager->source()}, {key("device"), kCourt},
                                          {key("live"), manager->isLive()}, {key("message"), manager->message()},
                                          {key("sport"), key("basketball")}, {key("ok"), true}};
        } else {
            expected = HostedServer::failure(key("unknown_device"));
        }
        QCOMPARE(RemoteRequests::answer(*m_app, request, data), expected);
    }

    void listFollowedDevicesPutsTheMainOneFirst()
    {
        followCourts();
        if (m_app->sourceManager()->device() != key("CV-1003"))
            m_app->selectDevice(key("CV-1003"));
        QString mainName;
        for (const CloudDevice &device : m_app->devices())
            mainName = device.deviceId == key("CV-1003") ? device.displayName() : mainName;
        QVERIFY(!mainName.isEmpty());
        const SourceManager *main = m_app->sourceManager();
        const auto entry = [](const QString &id, const QString &name, const char *route, bool isMain, const SourceManager *manager) {
            return QJsonObject{{key("id"), id}, {key("name"), name}, {key("route"), key(route)}, {key("main"), isMain},
                               {key("live"), manager->isLive()}, {key("message"), manager->message()}};
        };
        const QJsonArray devices{entry(key("CV-1003"), mainName, "cloud", true, main),
                                 entry(kCourt, key("Court 2"), "cloud", false, m_app->followed()->device(kCourt)->sourceManager()),
                                 entry(kLanCourt, kLanCourt, "lan", false, m_app->followed()->device(kLanCourt)->sourceManager())};
        QCOMPARE(RemoteRequests::answer(*m_app, key("ListFollowedDevices"), {}),
                 QJsonObject({{key("devices"), devices}, {key("ok"), true}}));
    }

    void eventsNameTheirDevice()
    {
        followCourts();
        m_app->followed()->unfollow(kCourt);
        QStringList names;
        QList<QJsonObject> data;
        RemoteEvents remote(*m_app, [&](const char *name, const QByteArray &json) {
            names << QString::fromLatin1(name);
            data << parse(json);
        });
        followCourts();
        QTRY_VERIFY(names.contains(key("FollowedDevicesChanged")));
        names.clear();

        // The main device's as before: the snapshot alone.
        m_app->live().apply({{key("home_score"), 4}});
        QCOMPARE(names, QStringList{"LiveDataChanged"});
        QCOMPARE(data.last(), m_app->live().snapshot());

        // A followed device's under its own name, with its id; held, it sends none.
        FollowedDevice *court = m_app->followed()->device(kCourt);
        court->live().apply({{key("home_score"), 41}});
        QCOMPARE(names.mid(1), QStringList{"DeviceLiveDataChanged"});
        QJsonObject expected = court->live().snapshot();
        expected.insert(key("deviceId"), kCourt);
        QCOMPARE(data.last(), expected);
        court->shown().hold();
        court->live().apply({{key("home_score"), 42}});
        court->shown().resume();
        QCOMPARE(names.mid(2), QStringList{"DeviceLiveDataChanged"});

        // Its status once its first cloud poll answers: the "GetStatus" answer for it.
        const auto status = [&] {
            QJsonObject answer = RemoteRequests::answer(*m_app, key("GetStatus"), {{key("deviceId"), kCourt}});
            answer.remove(key("ok"));
            answer.insert(key("deviceId"), kCourt);
            return answer;
        };
        QTRY_VERIFY(data.contains(status()));

        // Unfollowed: the list goes out, and nothing more of its data, even while a reader
        // keeps it.
        names.clear();
        data.clear();
        const std::shared_ptr<DeviceLive> kept = m_app->followed()->dataOf(kCourt);
        QVERIFY(m_app->followed()->unfollow(kCourt));
        // The devices listed, "*" after the main one (their states move on meanwhile).
        const auto listed = [&] {
            QStringList ids;
            const QJsonArray devices = data.at(names.lastIndexOf(key("FollowedDevicesChanged"))).value(key("devices")).toArray();
            for (const QJsonValue &device : devices)
                ids << device[key("id")].toString() + (device[key("main")].toBool() ? key("*") : QString());
            return ids;
        };
        QTRY_VERIFY(names.contains(key("FollowedDevicesChanged")));
        QCOMPARE(listed(), QStringList({m_app->sourceManager()->device() + key("*"), kLanCourt}));
        names.clear();
        data.clear();
        kept->live().apply({{key("home_score"), 43}});
        QVERIFY(names.isEmpty());

        // A followed device made the main one: the list names it main, not the former one.
        m_app->selectDevice(kLanCourt);
        QTRY_VERIFY(names.contains(key("FollowedDevicesChanged")));
        QCOMPARE(listed(), QStringList{kLanCourt + key("*")});
        m_app->selectDevice(key("CV-1003"));
    }

    void askedFromAnotherThread()
    {
        QJsonObject answer;
        std::atomic<bool> answered{false};
        std::thread asker([&] {
            answer = RemoteRequests::ask(key("GetLiveData"), {});
            answered = true;
        });
        // The answer needs this thread's event loop.
        QTRY_VERIFY(answered.load());
        asker.join();
        QCOMPARE(answer, m_app->live().snapshot());

        // With this thread busy, the asker gives up instead of hanging.
        std::thread impatient([&] { answer = RemoteRequests::ask(key("GetStatus"), {}, 50); });
        impatient.join();
        QCOMPARE(answer, HostedServer::failure(key("timeout")));
        // The late answer finds nobody waiting and does no harm.
        QCoreApplication::processEvents();
    }
};

QTEST_GUILESS_MAIN(TestRemoteRequests)
#include "tst_RemoteRequests.moc"
