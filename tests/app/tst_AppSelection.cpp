// App's choice of the live device: the automatic pick after a sign-in, selectDevice's route
// and stored choice, and the hosted server's "use" and "status" answers, against the portal
// simulator.
#include "app/App.h"
#include "base/SettingsStore.h"
#include "device/lan/TlsFeed.h"
#include "live/SourceManager.h"
#include "support/PortalSimProcess.h"
#include "support/TestSettings.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

QJsonObject readJson(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

} // namespace

class TestAppSelection : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_sim;
    QTemporaryDir m_dir;
    int m_serial = 0;

    AppEnvironment environment(QJsonObject settings)
    {
        const QString folder = m_dir.filePath(QString::number(++m_serial));
        QDir().mkpath(folder);
        settings.insert(key("portal_url"), m_sim.url());
        corvane::test::writeTestSettings(folder + QStringLiteral("/settings.json"), settings);
        return {folder + QStringLiteral("/settings.json"), folder + QStringLiteral("/session.json")};
    }

    // Signs in and waits until the device list that follows has arrived.
    static bool signInAndList(App &app, const QString &email)
    {
        bool listed = false;
        const QMetaObject::Connection connection =
            QObject::connect(&app, &App::devicesChanged, &app, [&] { listed = true; });
        app.portal().signIn(email, QStringLiteral("correct horse battery"), [](const PortalResult &) {});
        const bool ok = QTest::qWaitFor([&] { return listed; }, 10000);
        QObject::disconnect(connection);
        // The pick runs in the same callback, right after the list signal, so it is done
        // by the time the wait sees the signal.
        return ok;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(!m_sim.start().isEmpty()); }
    void init() { QVERIFY(m_sim.reset()); }

    void autoSelectAfterSignIn_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("only device replaces an unknown choice")
            << QStringLiteral("free@example.com") << QStringLiteral("CV-1001") << QStringLiteral("CV-3001");
        QTest::newRow("only device without a choice") << QStringLiteral("free@example.com") << QString() << QStringLiteral("CV-3001");
        QTest::newRow("unknown choice among several devices")
            << QStringLiteral("operator@example.com") << QStringLiteral("CV-9999") << QString();
        QTest::newRow("known choice among several devices")
            << QStringLiteral("operator@example.com") << QStringLiteral("CV-1002") << QStringLiteral("CV-1002");
    }
    void autoSelectAfterSignIn()
    {
        QFETCH(QString, email);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QJsonObject settings;
        if (!stored.isEmpty())
            settings.insert(key("selected_device"), stored);
        App app(environment(settings));
        QVERIFY(signInAndList(app, email));
        SourceManager *manager = app.sourceManager();
        if (expected.isEmpty()) {
            QCOMPARE(manager->mode(), int(SourceManager::None));
            QCOMPARE(app.settings().selectedDevice(), stored);
            return;
        }
        QCOMPARE(manager->mode(), int(SourceManager::Cloud));
        QCOMPARE(manager->device(), expected);
        QCOMPARE(app.settings().selectedDevice(), expected);
        QCOMPARE(readJson(app.settings().path()).value(key("selected_device")).toString(), expected);
    }

    void autoSelectLeavesARouteInUseAlone()
    {
        App app(environment({}));
        app.selectDevice(QStringLiteral("CV-1004"));
        QVERIFY(signInAndList(app, QStringLiteral("free@example.com")));
        QCOMPARE(app.sourceManager()->device(), QStringLiteral("CV-1004"));
        app.autoSelectDevice();
        QCOMPARE(app.sourceManager()->device(), QStringLiteral("CV-1004"));
    }

    void cloudScoresResumeAfterSigningOutAndIn()
    {
        App app(environment({{key("selected_device"), key("CV-1001")}}));
        QVERIFY(signInAndList(app, QStringLiteral("operator@example.com")));
        SourceManager *manager = app.sourceManager();
        QVERIFY(QTest::qWaitFor([&] { return manager->message() == QStringLiteral("Live from CV-1001"); }, 10000));
        app.portal().signOut();
        QCOMPARE(manager->message(), QStringLiteral("Signed out. Sign in to see live scores."));
        QVERIFY(signInAndList(app, QStringLiteral("operator@example.com")));
        QVERIFY(QTest::qWaitFor([&] { return manager->message() == QStringLiteral("Live from CV-1001"); }, 10000));
        QVERIFY(manager->isPolling());
    }

    void listsAnsweredAfterSignOutAreDropped()
    {
        App app(environment({}));
        // Signing out in the sign-in's own callback: the lists it asked for answer later.
        bool signedIn = false;
        app.portal().signIn(QStringLiteral("free@example.com"), QStringLiteral("correct horse battery"),
                            [&](const PortalResult &result) {
                                signedIn = result.ok;
                                app.portal().signOut();
                            });
        QVERIFY(QTest::qWaitFor([&] { return signedIn; }, 10000));
        // The simulator answers in order, so this one comes after the two late lists.
        bool answered = false;
        app.refreshDevices([&](bool, const QString &) { answered = true; });
        QVERIFY(QTest::qWaitFor([&] { return answered; }, 10000));
        QVERIFY(app.devices().isEmpty());
        QVERIFY(app.outputs().isEmpty());
        QCOMPARE(app.sourceManager()->mode(), int(SourceManager::None));
    }

    void selectDevicePicksTheRoute_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("token");
        QTest::addColumn<int>("mode");
        QTest::newRow("lan with host and token") << key("lan") << key("127.0.0.1") << key("tok") << int(SourceManager::Lan);
        QTest::newRow("lan without token") << key("lan") << key("127.0.0.1") << QString() << int(SourceManager::Cloud);
        QTest::newRow("lan without host") << key("lan") << QString() << key("tok") << int(SourceManager::Cloud);
        QTest::newRow("cloud route with lan data") << key("cloud") << key("127.0.0.1") << key("tok") << int(SourceManager::Cloud);
    }
    void selectDevicePicksTheRoute()
    {
        QFETCH(QString, route);
        QFETCH(QString, host);
        QFETCH(QString, token);
        QFETCH(int, mode);
        const QJsonObject settings{
            {key("routes"), QJsonObject{{key("CV-1001"), route}}},
            {key("lan"), QJsonObject{{key("CV-1001"), QJsonObject{{key("host"), host}, {key("token"), token}, {key("name"), key("Gym")}}}}}};
        App app(environment(settings));
        app.selectDevice(QStringLiteral("CV-1001"));
        QCOMPARE(app.sourceManager()->mode(), mode);
        QCOMPARE(app.settings().selectedDevice(), QStringLiteral("CV-1001"));
        if (mode == SourceManager::Lan)
            QCOMPARE(app.sourceManager()->message(), QStringLiteral("Connecting to Gym on your network"));
        app.sourceManager()->stop();
    }

    // The certificate the feed pinned for a route stored without one is kept with the route.
    void aCertificateTheFeedPinnedIsKept()
    {
        const QJsonObject settings{
            {key("routes"), QJsonObject{{key("CV-1001"), key("lan")}}},
            {key("lan"), QJsonObject{{key("CV-1001"), QJsonObject{{key("host"), key("127.0.0.1")}, {key("token"), key("tok")}, {key("name"), key("Gym")}}}}}};
        App app(environment(settings));
        const QString pin(64, QLatin1Char('e'));
        Q_EMIT app.sourceManager()->lanCertificatePinned(key("CV-1001"), pin);
        QCOMPARE(app.settings().lanRoute(key("CV-1001")).certificateSha256, pin);
    }

    // A route that setup stores (a device reset: a new certificate) reaches the feed of that
    // device at once; another device's route and an unchanged one leave it alone.
    void aStoredRouteRestartsItsDevicesFeed()
    {
        const QString oldPin(64, QLatin1Char('a'));
        const QString newPin(64, QLatin1Char('b'));
        const QJsonObject settings{
            {key("routes"), QJsonObject{{key("CV-1001"), key("lan")}}},
            {key("lan"), QJsonObject{{key("CV-1001"), QJsonObject{{key("host"), key("127.0.0.1")}, {key("token"), key("tok")}, {key("name"), key("Gym")}, {key("tls_sha256"), oldPin}}}}}};
        App app(environment(settings));
        app.selectDevice(key("CV-1001"));
        QCOMPARE(app.sourceManager()->feed()->pinnedSha256(), oldPin);
        app.storeLanRoute(key("CV-2002"), LanRoute{key("127.0.0.2"), key("tok2"), key("Hall"), newPin});
        QCOMPARE(app.sourceManager()->feed()->pinnedSha256(), oldPin);
        app.storeLanRoute(key("CV-1001"), LanRoute{key("127.0.0.1"), key("tok"), key("Gym"), newPin});
        QCOMPARE(app.settings().lanRoute(key("CV-1001")).certificateSha256, newPin);
        QCOMPARE(app.sourceManager()->feed()->pinnedSha256(), newPin);
        QVERIFY(app.sourceManager()->feed()->isActive());
        app.sourceManager()->stop();
    }

    void serverUseAndStatus()
    {
        App app(environment({}));
        // Nothing known yet: every id is unknown.
        const QJsonObject unknownOp{{key("ok"), false}, {key("error"), key("unknown_device")}};
        QCOMPARE(app.handleServerCommand(key("use"), {{key("device"), key("CV-1001")}}), unknownOp);
        QVERIFY(signInAndList(app, QStringLiteral("operator@example.com")));
        QCOMPARE(app.sourceManager()->mode(), int(SourceManager::None));

        QCOMPARE(app.handleServerCommand(key("use"), {{key("device"), key("CV-2001")}}), unknownOp);
        QCOMPARE(app.handleServerCommand(key("use"), {{key("device"), key("cv-1001")}}), unknownOp);
        QCOMPARE(app.handleServerCommand(key("use"), {}), unknownOp);
        QCOMPARE(app.sourceManager()->mode(), int(SourceManager::None));

        QCOMPARE(app.handleServerCommand(key("use"), {{key("device"), key("CV-1001")}}),
                 QJsonObject({{key("device"), key("CV-1001")}}));
        QCOMPARE(app.settings().selectedDevice(), QStringLiteral("CV-1001"));
        QVERIFY(QTest::qWaitFor([&] { return app.sourceManager()->isLive(); }, 10000));
        const QJsonObject status = app.handleServerCommand(key("status"), {});
        QCOMPARE(status.value(key("source")).toString(), QStringLiteral("CV-1001"));
        QCOMPARE(status.value(key("device")).toString(), QStringLiteral("CV-1001"));
        QCOMPARE(status.value(key("live")).toBool(), true);
        QCOMPARE(status.value(key("message")).toString(), QStringLiteral("Live from CV-1001"));
        QCOMPARE(status.value(key("sport")).toString(), QStringLiteral("basketball"));
    }
};

QTEST_MAIN(TestAppSelection)
#include "tst_AppSelection.moc"
