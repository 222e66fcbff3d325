// The requests other programs send through obs-websocket: each answers exactly what the
// hosted server's equivalent answers, an unknown request or a bad device id an error, and
// they may be asked from any thread. No OBS: App against the portal simulator.
#include "app/App.h"
#include "app/RemoteRequests.h"
#include "live/HostedServer.h"
#include "support/LineClient.h"
#include "support/PortalSimProcess.h"
#include "support/TestNetwork.h"
#include "support/TestSettings.h"

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

} // namespace

class TestRemoteRequests : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_sim;
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
        QCOMPARE(RemoteRequests::names(), QStringList({key("GetLiveData"), key("GetStatus"), key("ListDevices"), key("SelectDevice")}));
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
