// The source manager's three routes: cloud polling against the portal simulator over real
// HTTP, the local-network feed and an attached device session (their signals driven by the
// test), and every status text each route shows.
#include "cloud/PortalClient.h"
#include "device/DeviceLink.h"
#include "device/DeviceSession.h"
#include "device/lan/TlsFeed.h"
#include "live/LiveData.h"
#include "live/SourceManager.h"
#include "support/PortalSimProcess.h"
#include "support/TestNetwork.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

using namespace corvane;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

// A link that never connects: the test raises its live messages itself.
class QuietLink : public DeviceLink {
public:
    QString kind() const override { return QStringLiteral("usb"); }
    void open() override {}
    void close() override {}
    RpcTransport *rpcTransport() const override { return nullptr; }
    bool needsPolling() const override { return false; }
};

QJsonObject scores(int home, int away)
{
    return {{key("type"), key("state")},
            {key("fields"), QJsonObject{{key("home_score"), home}, {key("away_score"), away}}}};
}

const SourceManager::Timing kFastTiming{40, 400};

} // namespace

class TestSourceManager : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_sim;
    std::unique_ptr<PortalClient> m_portal;
    std::unique_ptr<LiveData> m_live;
    std::unique_ptr<SourceManager> m_manager;
    quint16 m_closedPort = 0;

    bool signIn(const QString &email = QStringLiteral("operator@example.com"))
    {
        bool done = false;
        m_portal->signIn(email, QStringLiteral("correct horse battery"), [&](const PortalResult &) { done = true; });
        return QTest::qWaitFor([&] { return done; }, 10000) && m_portal->isSignedIn();
    }

    bool waitForMessage(const QString &message, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return m_manager->message() == message; }, timeoutMs);
    }

    int stateRequests()
    {
        int count = 0;
        const QJsonArray requests = m_sim.requests();
        for (const QJsonValue &request : requests)
            count += request.toObject().value(key("target")).toString().endsWith(QLatin1String("/state"));
        return count;
    }

    // A local route whose feed finds nobody listening.
    void useUnreachableLan(const QString &id = QStringLiteral("CV-1001"))
    {
        m_manager->setFeedPortForTests(m_closedPort);
        m_manager->useLan(id, {QStringLiteral("127.0.0.1"), QStringLiteral("tok"), QStringLiteral("Gym board")});
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!m_sim.start().isEmpty());
        m_closedPort = test::unusedLocalPort();
        QVERIFY(m_closedPort != 0);
    }
    void init()
    {
        QVERIFY(m_sim.reset());
        m_portal = std::make_unique<PortalClient>();
        m_portal->setBaseUrl(m_sim.url());
        m_live = std::make_unique<LiveData>();
        m_manager = std::make_unique<SourceManager>(m_portal.get(), m_live.get());
        m_manager->setTimingForTests(kFastTiming);
    }
    void cleanup()
    {
        m_manager.reset();
        m_live.reset();
        m_portal.reset();
    }

    void defaultsAreTheProductionClocks()
    {
        SourceManager manager(m_portal.get(), m_live.get());
        QCOMPARE(manager.pollInterval(), 1000);
        QCOMPARE(manager.mode(), int(SourceManager::None));
    }

    void cloudPollingShowsTheDeviceLive()
    {
        QVERIFY(signIn());
        m_live->apply(scores(99, 99));
        QSignalSpy status(m_manager.get(), &SourceManager::statusChanged);
        m_manager->useCloud(QStringLiteral("CV-1001"));
        QCOMPARE(m_manager->message(), QStringLiteral("Connecting to CV-1001"));
        QVERIFY(m_live->value(key("home_score")).isEmpty()); // cleared on the switch
        QCOMPARE(m_live->source(), QStringLiteral("CV-1001"));
        QCOMPARE(m_manager->source(), QStringLiteral("CV-1001"));
        QCOMPARE(m_manager->device(), QStringLiteral("CV-1001"));
        QVERIFY(waitForMessage(QStringLiteral("Live from CV-1001")));
        QVERIFY(m_manager->isLive());
        QCOMPARE(m_live->value(key("home_name")), QStringLiteral("Hawks"));
        QCOMPARE(m_live->sport(), QStringLiteral("basketball"));
        // Polls keep coming without repeating the unchanged status.
        const int before = stateRequests();
        const int signals_ = status.size();
        QVERIFY(QTest::qWaitFor([&] { return stateRequests() >= before + 3; }, 10000));
        QCOMPARE(status.size(), signals_);

        // Choosing the same device again starts over from empty fields, too.
        m_manager->useCloud(QStringLiteral("CV-1001"));
        QVERIFY(m_live->fieldNames().isEmpty());
        QCOMPARE(m_manager->message(), QStringLiteral("Connecting to CV-1001"));
        QVERIFY(waitForMessage(QStringLiteral("Live from CV-1001")));
    }

    void cloudReplyTheLiveDataRejectsChangesNothing()
    {
        QVERIFY(signIn());
        // An empty 200 answer: no type, no fields.
        QVERIFY(m_sim.behave({{key("status"), 200}, {key("path"), key("/devices/CV-1001/state")}}));
        QSignalSpy status(m_manager.get(), &SourceManager::statusChanged);
        m_manager->useCloud(QStringLiteral("CV-1001"));
        QVERIFY(QTest::qWaitFor([&] { return stateRequests() >= 3; }, 10000));
        QCOMPARE(m_manager->message(), QStringLiteral("Connecting to CV-1001"));
        QVERIFY(!m_manager->isLive());
        QCOMPARE(status.size(), 1);
        QCOMPARE(m_manager->failures(), 0);
    }

    void pendingAndOfflineDevices()
    {
        QVERIFY(signIn());
        m_manager->useCloud(QStringLiteral("CV-1003"));
        QVERIFY(waitForMessage(QStringLiteral("CV-1003 has not sent any scoreboard data yet.")));
        QVERIFY(!m_manager->isLive());
        QVERIFY(m_live->fieldNames().isEmpty());

        m_manager->useCloud(QStringLiteral("CV-1002"));
        QVERIFY(waitForMessage(QStringLiteral("CV-1002 is offline. Showing its last scores.")));
        QVERIFY(!m_manager->isLive());
        QCOMPARE(m_live->value(key("away_name")), QStringLiteral("Otters"));
    }

    void permanentErrorsEndPolling_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("device");
        QTest::newRow("no plan") << QStringLiteral("free@example.com") << QStringLiteral("CV-3001");
        QTest::newRow("not owned") << QStringLiteral("operator@example.com") << QStringLiteral("CV-2001");
    }
    void permanentErrorsEndPolling()
    {
        QFETCH(QString, email);
        QFETCH(QString, device);
        QVERIFY(signIn(email));
        m_manager->useCloud(device);
        QVERIFY(QTest::qWaitFor([&] { return !m_manager->isPolling(); }, 10000));
        QVERIFY(!m_manager->isLive());
        QVERIFY(!m_manager->message().isEmpty());
        QVERIFY(!m_manager->message().startsWith(QLatin1String("Connecting")));
        const int before = stateRequests();
        QTest::qWait(300);
        QCOMPARE(stateRequests(), before);
        QCOMPARE(m_manager->mode(), int(SourceManager::Cloud));
        // Selecting the device again starts over.
        m_manager->useCloud(device);
        QVERIFY(m_manager->isPolling());
    }

    void repeatedFailuresSlowDownAndOneSuccessRestores()
    {
        QVERIFY(signIn());
        QVERIFY(m_sim.behave({{key("status"), 502}, {key("code"), key("gateway_unreachable")},
                              {key("path"), key("/devices/CV-1001/state")}, {key("times"), 6}}));
        m_manager->useCloud(QStringLiteral("CV-1001"));
        QVERIFY(QTest::qWaitFor([&] { return m_manager->failures() == 5; }, 10000));
        QCOMPARE(m_manager->pollInterval(), kFastTiming.pollIntervalMs);
        QVERIFY(!m_manager->isLive());
        QVERIFY(QTest::qWaitFor([&] { return m_manager->failures() == 6; }, 10000));
        QCOMPARE(m_manager->pollInterval(), kFastTiming.slowPollIntervalMs);
        QVERIFY(m_manager->isPolling());
        QVERIFY(waitForMessage(QStringLiteral("Live from CV-1001")));
        QCOMPARE(m_manager->failures(), 0);
        QCOMPARE(m_manager->pollInterval(), kFastTiming.pollIntervalMs);
    }

    void lateCloudReplyAfterRouteChangeIsIgnored()
    {
        QVERIFY(signIn());
        QVERIFY(m_sim.behave({{key("delay_ms"), 600}, {key("path"), key("/devices/CV-1001/state")}, {key("times"), 1}}));
        m_manager->useCloud(QStringLiteral("CV-1001"));
        QVERIFY(QTest::qWaitFor([&] { return stateRequests() == 1; }, 5000));
        useUnreachableLan();
        QCOMPARE(m_manager->mode(), int(SourceManager::Lan));
        QCOMPARE(m_manager->message(), QStringLiteral("Connecting to Gym board on your network"));
        QTest::qWait(1200);
        QVERIFY(m_live->fieldNames().isEmpty());
        QVERIFY(!m_manager->isLive());
        QVERIFY(!m_manager->message().startsWith(QLatin1String("Live from")));
        QCOMPARE(stateRequests(), 1);
    }

    void signedOutPolling()
    {
        // Never signed in: each poll asks for a sign-in and goes nowhere.
        m_manager->useCloud(QStringLiteral("CV-1001"));
        QCOMPARE(m_manager->message(), QStringLiteral("Sign in to see live scores."));
        QVERIFY(m_manager->isPolling());
        QCOMPARE(stateRequests(), 0);
        // Polling picks up by itself after a sign-in.
        QVERIFY(signIn());
        QVERIFY(waitForMessage(QStringLiteral("Live from CV-1001")));

        // Signing out while a poll is on its way: the late reply must not bring back "Live".
        QVERIFY(m_sim.behave({{key("delay_ms"), 400}, {key("path"), key("/devices/CV-1001/state")}}));
        const int before = stateRequests();
        QVERIFY(QTest::qWaitFor([&] { return stateRequests() > before; }, 5000));
        m_portal->signOut();
        QCOMPARE(m_manager->message(), QStringLiteral("Signed out. Sign in to see live scores."));
        QVERIFY(!m_manager->isLive());
        QVERIFY(!m_manager->isPolling());
        QCOMPARE(m_manager->mode(), int(SourceManager::Cloud));
        QTest::qWait(800);
        QCOMPARE(m_manager->message(), QStringLiteral("Signed out. Sign in to see live scores."));
    }

    void localNetworkFeed()
    {
        m_live->apply(scores(1, 1));
        m_manager->useLan(QStringLiteral("CV-1001"), {QStringLiteral("127.0.0.1"), QStringLiteral("tok"), QString()});
        QCOMPARE(m_manager->source(), QStringLiteral("CV-1001")); // no route name: the id
        useUnreachableLan();
        QVERIFY(m_live->fieldNames().isEmpty());
        QCOMPARE(m_manager->source(), QStringLiteral("Gym board"));
        QCOMPARE(m_live->source(), QStringLiteral("Gym board"));
        QVERIFY(m_manager->feed()->isActive());

        TlsFeed *feed = m_manager->feed();
        Q_EMIT feed->connectedChanged(true, QString());
        QCOMPARE(m_manager->message(), QStringLiteral("Connected to Gym board, waiting for scoreboard data"));
        // A rejected message changes nothing; any accepted one, auth_ok included, means live.
        Q_EMIT feed->envelope(QJsonObject());
        QVERIFY(!m_manager->isLive());
        Q_EMIT feed->envelope({{key("type"), key("auth_ok")}});
        QCOMPARE(m_manager->message(), QStringLiteral("Live from Gym board over your network"));
        QVERIFY(m_manager->isLive());
        Q_EMIT feed->envelope(scores(3, 2));
        QCOMPARE(m_live->value(key("home_score")), QStringLiteral("3"));
        Q_EMIT feed->connectedChanged(false, QString());
        QCOMPARE(m_manager->message(), QStringLiteral("Reconnecting to Gym board"));
        QVERIFY(!m_manager->isLive());
        Q_EMIT feed->connectedChanged(false, QStringLiteral("The device rejected the connection."));
        QCOMPARE(m_manager->message(), QStringLiteral("The device rejected the connection."));
    }

    void deletedSessionIsNoLongerLive()
    {
        auto *session = new DeviceSession(new QuietLink);
        m_manager->useDevice(session, QStringLiteral("USB device"));
        Q_EMIT session->envelope(scores(4, 5));
        QVERIFY(m_manager->isLive());
        delete session;
        QVERIFY(!m_manager->isLive());
        QCOMPARE(m_manager->message(), QStringLiteral("Lost the connection to USB device"));
    }

    void deviceSession()
    {
        auto *link = new QuietLink;
        DeviceSession session(link);
        QSignalSpy status(m_manager.get(), &SourceManager::statusChanged);
        m_manager->useDevice(&session, QStringLiteral("USB device"));
        QCOMPARE(m_manager->mode(), int(SourceManager::Session));
        QCOMPARE(m_manager->message(), QStringLiteral("Connected to USB device, waiting for scoreboard data"));
        QVERIFY(!m_manager->feed()->isActive());

        // The feed's messages belong to the local-network route only.
        Q_EMIT m_manager->feed()->envelope(scores(7, 7));
        Q_EMIT m_manager->feed()->connectedChanged(false, QString());
        QVERIFY(m_live->fieldNames().isEmpty());
        QCOMPARE(m_manager->message(), QStringLiteral("Connected to USB device, waiting for scoreboard data"));

        Q_EMIT link->envelope(scores(4, 5));
        QCOMPARE(m_manager->message(), QStringLiteral("Live from USB device"));
        QCOMPARE(m_live->value(key("away_score")), QStringLiteral("5"));
        // Ready while data flows keeps the live text.
        Q_EMIT session.stateChanged(DeviceSession::Ready, QString());
        QCOMPARE(m_manager->message(), QStringLiteral("Live from USB device"));
        QVERIFY(m_manager->isLive());

        Q_EMIT session.stateChanged(DeviceSession::Restarting, QString());
        QCOMPARE(m_manager->message(), QStringLiteral("USB device is restarting. Reopen the setup window to reconnect."));
        Q_EMIT session.stateChanged(DeviceSession::Ready, QString());
        QCOMPARE(m_manager->message(), QStringLiteral("Connected to USB device, waiting for scoreboard data"));
        Q_EMIT session.stateChanged(DeviceSession::Lost, QString());
        QCOMPARE(m_manager->message(), QStringLiteral("Lost the connection to USB device"));
        Q_EMIT session.stateChanged(DeviceSession::Error, QStringLiteral("The cable was unplugged."));
        QCOMPARE(m_manager->message(), QStringLiteral("The cable was unplugged."));
        Q_EMIT session.stateChanged(DeviceSession::SigningIn, QString());
        QCOMPARE(m_manager->message(), QStringLiteral("The cable was unplugged."));

        // Once another route is chosen the session is no longer heard.
        useUnreachableLan();
        Q_EMIT link->envelope(scores(9, 9));
        Q_EMIT session.stateChanged(DeviceSession::Lost, QString());
        QVERIFY(m_live->fieldNames().isEmpty());
        QCOMPARE(m_manager->message(), QStringLiteral("Connecting to Gym board on your network"));
    }
};

QTEST_MAIN(TestSourceManager)
#include "tst_SourceManager.moc"
