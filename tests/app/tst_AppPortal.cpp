// App's cloud side against the portal simulator: the sign-in restore at construction, the
// cached device and output lists, and what signing in and out does to them.
#include "app/App.h"
#include "base/Log.h"
#include "base/Origins.h"
#include "support/PortalSimProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <optional>

using namespace corvane;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

QStringList g_log;

void captureLog(LogLevel level, const char *line)
{
    g_log << QStringLiteral("%1 %2").arg(int(level)).arg(QString::fromUtf8(line));
}

} // namespace

class TestAppPortal : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_sim;
    QTemporaryDir m_dir;
    int m_serial = 0;

    // A fresh configuration folder whose settings point the portal at `portalUrl`.
    AppEnvironment environment(const QString &portalUrl, const QString &reuseFolder = QString())
    {
        const QString folder = reuseFolder.isEmpty() ? m_dir.filePath(QString::number(++m_serial)) : reuseFolder;
        QDir().mkpath(folder);
        QFile settings(folder + QStringLiteral("/settings.json"));
        if (settings.open(QIODevice::WriteOnly))
            settings.write(QJsonDocument(QJsonObject{{key("portal_url"), portalUrl}}).toJson());
        return {folder + QStringLiteral("/settings.json"), folder + QStringLiteral("/session.json")};
    }

    static bool signIn(App &app, const QString &email = QStringLiteral("operator@example.com"))
    {
        bool done = false;
        app.portal().signIn(email, QStringLiteral("correct horse battery"), [&](const PortalResult &) { done = true; });
        return QTest::qWaitFor([&] { return done; }, 10000) && app.portal().isSignedIn();
    }

    // Runs App::refreshOutputs and waits for its answer: the success flag, false when none
    // came. The flag outlives this call, for an answer that comes later.
    static bool refreshOutputs(App &app)
    {
        const auto answer = std::make_shared<std::optional<bool>>();
        app.refreshOutputs([answer](bool ok, const QString &) { *answer = ok; });
        return QTest::qWaitFor([&] { return answer->has_value(); }, 10000) && answer->value();
    }

    int outputRequests()
    {
        int count = 0;
        for (const QJsonValue &request : m_sim.requests())
            count += request.toObject().value(key("target")).toString() == QLatin1String("/api/graphics/outputs") ? 1 : 0;
        return count;
    }

    // The restore at construction has answered (or given up) once the sim logged it.
    bool restoreAnswered(int before)
    {
        return QTest::qWaitFor([&] { return m_sim.requests().size() > before; }, 10000) && (QTest::qWait(100), true);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!m_sim.start().isEmpty());
        setLogSink(captureLog);
    }
    void init()
    {
        QVERIFY(m_sim.reset());
        g_log.clear();
    }

    void signInFillsBothListsAndSignOutEmptiesThem()
    {
        App app(environment(m_sim.url()));
        QVERIFY(restoreAnswered(0));
        QVERIFY(!app.portal().isSignedIn());
        QVERIFY2(g_log.isEmpty(), qPrintable(g_log.join(QLatin1Char('\n'))));

        QStringList order;
        connect(&app, &App::devicesChanged, this, [&] { order << QStringLiteral("devices"); });
        connect(&app, &App::outputsChanged, this, [&] { order << QStringLiteral("outputs"); });
        QVERIFY(signIn(app));
        QVERIFY(QTest::qWaitFor([&] { return order.size() == 2; }, 10000));
        QCOMPARE(app.devices().size(), 5);
        QCOMPARE(app.devices().first().deviceId, QStringLiteral("CV-1001"));
        QCOMPARE(app.devices().first().displayName(), QStringLiteral("Main gym (CV-1001)"));
        QCOMPARE(app.outputs().size(), 2);
        QCOMPARE(app.outputs().first().url, m_sim.url() + QStringLiteral("/graphics/o/tok-main"));
        QCOMPARE(app.outputs().at(1).name, QStringLiteral("out-lower"));
        QVERIFY(app.outputsError().isEmpty());

        // Hosted-server clients see the same account and list.
        const QJsonObject status = app.handleServerCommand(QStringLiteral("status"), {});
        QCOMPARE(status.value(key("signed_in")).toBool(), true);
        QCOMPARE(status.value(key("account")).toString(), QStringLiteral("operator@example.com"));
        const QJsonArray listed = app.handleServerCommand(QStringLiteral("devices"), {}).value(key("devices")).toArray();
        QCOMPARE(listed.size(), 5);
        QCOMPARE(listed.at(0).toObject(), QJsonObject({{key("id"), QStringLiteral("CV-1001")},
                                                       {key("name"), QStringLiteral("Main gym (CV-1001)")}}));
        QCOMPARE(listed.at(1).toObject().value(key("name")).toString(), QStringLiteral("CV-1002"));

        order.clear();
        app.portal().signOut();
        QCOMPARE(order, QStringList({QStringLiteral("devices"), QStringLiteral("outputs")}));
        QVERIFY(app.devices().isEmpty());
        QVERIFY(app.outputs().isEmpty());
        QCOMPARE(app.handleServerCommand(QStringLiteral("status"), {}).value(key("signed_in")).toBool(true), false);
        QVERIFY(app.handleServerCommand(QStringLiteral("devices"), {}).value(key("devices")).toArray().isEmpty());
    }

    void restoreAtConstructionSignsIn()
    {
        const AppEnvironment first = environment(m_sim.url());
        const QString folder = QFileInfo(first.settingsPath).path();
        {
            App app(first);
            QVERIFY(signIn(app));
        }
        const int before = m_sim.requests().size();
        App app(environment(m_sim.url(), folder));
        QSignalSpy devices(&app, &App::devicesChanged);
        QVERIFY(QTest::qWaitFor([&] { return app.portal().isSignedIn(); }, 10000));
        QCOMPARE(m_sim.requests().at(before).toObject().value(key("target")).toString(), QStringLiteral("/auth/me"));
        QVERIFY(QTest::qWaitFor([&] { return devices.count() == 1; }, 10000));
        QCOMPARE(app.devices().size(), 5);
        QVERIFY(g_log.isEmpty());
    }

    void failedRestoreLogsOnlyRealHttpErrors()
    {
        const AppEnvironment env = environment(m_sim.url());
        const QString folder = QFileInfo(env.settingsPath).path();
        {
            App app(env);
            QVERIFY(signIn(app));
        }
        QVERIFY(m_sim.behave({{key("status"), 500}, {key("path"), QStringLiteral("/auth/me")}, {key("times"), 1}}));
        {
            App app(environment(m_sim.url(), folder));
            QVERIFY(QTest::qWaitFor([&] { return !g_log.isEmpty(); }, 10000));
        }
        QCOMPARE(g_log, QStringList(QStringLiteral("%1 [corvane] could not restore sign-in: HTTP 500").arg(int(LogLevel::Warning))));
        QVERIFY(QFile::exists(folder + QStringLiteral("/session.json")));

        // A refused session is silent and forgotten.
        g_log.clear();
        QVERIFY(m_sim.expireSessions());
        const int before = m_sim.requests().size();
        {
            App app(environment(m_sim.url(), folder));
            QVERIFY(restoreAnswered(before));
        }
        QVERIFY(g_log.isEmpty());
        QVERIFY(!QFile::exists(folder + QStringLiteral("/session.json")));

        // No portal at all is silent too.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString closed = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        {
            App app(environment(closed));
            QTest::qWait(300);
        }
        QVERIFY(g_log.isEmpty());
    }

    void disallowedPortalAddressIsIgnored()
    {
        App app(environment(QStringLiteral("http://portal.example")));
        QCOMPARE(app.portal().baseUrl(), QString::fromLatin1(kPortalOrigin));
        QCOMPARE(app.downloadsOrigin(), QString::fromLatin1(kDownloadsOrigin));
        App local(environment(m_sim.url() + QStringLiteral("/")));
        QCOMPARE(local.portal().baseUrl(), m_sim.url());
    }

    void outputsNeedASignInAndAPlan()
    {
        App app(environment(m_sim.url()));
        QVERIFY(restoreAnswered(0));
        const int before = m_sim.requests().size();
        bool ok = true;
        QString message;
        app.refreshOutputs([&](bool k, const QString &m) {
            ok = k;
            message = m;
        });
        QVERIFY(!ok);
        QCOMPARE(message, QStringLiteral("Sign in from the Corvane dock to see your graphics."));
        QCOMPARE(app.outputsError(), message);
        QCOMPARE(m_sim.requests().size(), before);

        QVERIFY(signIn(app, QStringLiteral("free@example.com")));
        QSignalSpy outputs(&app, &App::outputsChanged);
        QVERIFY(!refreshOutputs(app));
        QCOMPARE(app.outputsError(), QStringLiteral("Graphics need an active Corvane cloud plan."));
        QCOMPARE(outputs.count(), 0);
    }

    void outputsFailuresKeepTheList()
    {
        App app(environment(m_sim.url()));
        QVERIFY(signIn(app));
        QVERIFY(refreshOutputs(app));
        QCOMPARE(app.outputs().size(), 2);

        QVERIFY(m_sim.behave({{key("status"), 402}, {key("path"), QStringLiteral("/api/graphics")}, {key("times"), 1}}));
        QVERIFY(!refreshOutputs(app));
        QCOMPARE(app.outputsError(), QStringLiteral("Graphics need an active Corvane cloud plan."));
        QCOMPARE(app.outputs().size(), 2);
        QCOMPARE(app.outputsView()->error, app.outputsError());
        QCOMPARE(app.outputsView()->outputs.size(), 2);

        QVERIFY(m_sim.behave({{key("status"), 504}, {key("path"), QStringLiteral("/api/graphics")}, {key("times"), 1}}));
        QVERIFY(!refreshOutputs(app));
        QCOMPARE(app.outputsError(), QStringLiteral("The device did not answer. Check that it is powered on and online."));

        QVERIFY(refreshOutputs(app));
        QVERIFY(app.outputsError().isEmpty());
        QVERIFY(app.outputsView()->error.isEmpty());
    }

    // A fetch asked for while one runs joins it: one request, every caller answered once.
    void outputsFetchesWhileOneRunsJoinIt()
    {
        App app(environment(m_sim.url()));
        QVERIFY(signIn(app));
        QVERIFY(refreshOutputs(app));
        QVERIFY(m_sim.behave({{key("delay_ms"), 600}, {key("path"), QStringLiteral("/api/graphics")}, {key("times"), 1},
                              {key("status"), 402}}));
        const int before = outputRequests();
        QList<QPair<bool, QString>> answers;
        for (int i = 0; i < 3; ++i)
            app.refreshOutputs([&](bool ok, const QString &message) { answers.append({ok, message}); });
        QVERIFY(QTest::qWaitFor([&] { return answers.size() == 3; }, 10000));
        QTest::qWait(100);
        QCOMPARE(answers.size(), 3);
        for (const auto &answer : std::as_const(answers))
            QCOMPARE(answer, qMakePair(false, QStringLiteral("Graphics need an active Corvane cloud plan.")));
        QCOMPARE(outputRequests(), before + 1);
        // Once answered, the next one asks again.
        QVERIFY(refreshOutputs(app));
        QCOMPARE(outputRequests(), before + 2);
    }

    void unauthorizedListSignsOutAndEmpties()
    {
        App app(environment(m_sim.url()));
        QVERIFY(signIn(app));
        QVERIFY(QTest::qWaitFor([&] { return app.devices().size() == 5; }, 10000));
        QVERIFY(m_sim.expireSessions());
        bool done = false;
        bool ok = true;
        QString message;
        app.refreshDevices([&](bool k, const QString &m) {
            done = true;
            ok = k;
            message = m;
        });
        QVERIFY(QTest::qWaitFor([&] { return done; }, 10000));
        QVERIFY(!ok);
        QCOMPARE(message, QStringLiteral("You have been signed out. Sign in again."));
        QVERIFY(!app.portal().isSignedIn());
        QVERIFY(app.devices().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAppPortal)
#include "tst_AppPortal.moc"
