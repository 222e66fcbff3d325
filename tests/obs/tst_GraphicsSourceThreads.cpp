// The corvane_graphics source's callbacks where OBS calls them from: its properties and
// "Refresh" button from threads of their own (obs-websocket answers requests on its thread
// pool), show and activate from the video thread, while the account's outputs change on
// this, the user-interface thread. The tsan preset runs it under ThreadSanitizer, which does
// not see into libobs: what libobs's own objects need is checked here directly.
#include "app/App.h"
#include "device/lan/ScriptedWebServer.h"
#include "obs/ObsFixture.h"
#include "obs/StandInBrowser.h"

#include <obs.h>

#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace corvane;

namespace {

QByteArray outputsAnswer(int count)
{
    QByteArray list = R"({"id":"out-main","name":"Main scorebug","share_token":"tok-main","width":1920,"height":1080})";
    if (count > 1)
        list += R"(,{"id":"out-lower","name":"Lower third","share_token":"tok-lower","width":1280,"height":200})";
    return ScriptedWebServer::response(200, R"({"outputs":[)" + list + "]}");
}

// The list's entries and the status line of one properties object, as "label=value|...#status".
QString viewOf(obs_properties_t *props)
{
    QStringList entries;
    obs_property_t *list = obs_properties_get(props, "output_id");
    for (size_t i = 0; i < obs_property_list_item_count(list); ++i)
        entries << QString::fromUtf8(obs_property_list_item_name(list, i)) + QLatin1Char('=')
                       + QString::fromUtf8(obs_property_list_item_string(list, i));
    obs_property_t *status = obs_properties_get(props, "status");
    return entries.join(QLatin1Char('|')) + QLatin1Char('#')
           + (status ? QString::fromUtf8(obs_property_description(status)) : QString());
}

// Whether the list and the status line come from one state of the account.
bool consistent(const QString &view)
{
    const QString both = QStringLiteral("Main scorebug=out-main|Lower third=out-lower");
    const QString one = QStringLiteral("Main scorebug=out-main");
    const QString list = view.section(QLatin1Char('#'), 0, 0);
    const QString status = view.section(QLatin1Char('#'), 1);
    static const QRegularExpression found(QStringLiteral("^(\\d+) graphics outputs found in your account\\.$"));
    const QRegularExpressionMatch count = found.match(status);
    if (count.hasMatch())
        return list == (count.captured(1).toInt() == 2 ? both : one);
    return (list == both || list == one)
           && (status == QLatin1String("Graphics need an active Corvane cloud plan.")
               || status == QLatin1String("Sign in from the Corvane dock to see your graphics."));
}

void pressRefresh(obs_source_t *source)
{
    obs_properties_t *props = obs_source_properties(source);
    obs_property_button_clicked(obs_properties_get(props, "refresh"), source);
    obs_properties_destroy(props);
}

std::thread::id g_mainThread;
std::atomic<int> g_updatesOnMain{0};
std::atomic<int> g_updatesElsewhere{0};
void countPropertyUpdates(void *, calldata_t *)
{
    ++(std::this_thread::get_id() == g_mainThread ? g_updatesOnMain : g_updatesElsewhere);
}

} // namespace

class TestGraphicsSourceThreads : public QObject {
    Q_OBJECT
private:
    ScriptedWebServer m_portal;
    test::ObsFixture m_obs;

    static App *app() { return App::instance(); }

    bool signIn()
    {
        bool done = false;
        app()->portal().signIn(QStringLiteral("operator@example.com"), QStringLiteral("pw"),
                               [&](const PortalResult &) { done = true; });
        return QTest::qWaitFor([&] { return done; }, 10000) && app()->portal().isSignedIn();
    }

    int outputRequests() const
    {
        int count = 0;
        for (const ScriptedWebServer::Request &request : m_portal.requests)
            count += request.requestLine.startsWith("GET /api/graphics/outputs ") ? 1 : 0;
        return count;
    }

private Q_SLOTS:
    void initTestCase()
    {
        g_mainThread = std::this_thread::get_id();
        QVERIFY(m_portal.isListening());
        m_portal.answer("/auth/me", ScriptedWebServer::response(401, "{}"));
        m_portal.answer("/auth/login",
                        ScriptedWebServer::response(200, R"({"user":{"email":"operator@example.com","role":"owner"}})",
                                                    {"Set-Cookie: corvane_session=s1; Path=/"}));
        m_portal.answer("/auth/logout", ScriptedWebServer::response(200, "{}"));
        m_portal.answer("/devices", ScriptedWebServer::response(200, R"({"devices":[]})"));
        m_portal.answer("/api/graphics/outputs", outputsAnswer(2));
        const QString failed =
            m_obs.start({{QStringLiteral("portal_url"), QStringLiteral("http://127.0.0.1:%1").arg(m_portal.port())}});
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        test::registerStandInBrowser();
    }

    void cleanupTestCase() { m_obs.stop(); }

    // The child browser is private: it shows and runs only as far as this source tells it.
    void showAndActivateReachTheChild()
    {
        obs_source_t *source = obs_source_create("corvane_graphics", "shown", nullptr, nullptr);
        QVERIFY(source);
        obs_source_t *child = test::g_browserChild;
        QVERIFY(!obs_source_showing(child) && !obs_source_active(child));
        obs_scene_t *scene = obs_scene_create_private("graphics scene");
        obs_scene_add(scene, source);
        obs_source_t *sceneSource = obs_scene_get_source(scene);
        int views = 0;
        // Also when a check fails: OBS must not shut down with the scene still shown.
        const auto cleanup = qScopeGuard([&] {
            obs_set_output_source(0, nullptr);
            for (; views > 0; --views)
                obs_source_dec_showing(sceneSource);
            obs_scene_release(scene);
            obs_source_release(source);
        });

        // In a view only (a preview, a projector): shown, not active.
        obs_source_inc_showing(sceneSource);
        ++views;
        QTRY_VERIFY(obs_source_showing(child));
        QVERIFY(!obs_source_active(child));
        // On the program output as well: active too; off it again: shown only.
        obs_set_output_source(0, sceneSource);
        QTRY_VERIFY(obs_source_active(child));
        obs_set_output_source(0, nullptr);
        QTRY_VERIFY(!obs_source_active(child));
        QVERIFY(obs_source_showing(child));
        obs_source_dec_showing(sceneSource);
        --views;
        QTRY_VERIFY(!obs_source_showing(child));
    }

    // Listing the properties elsewhere (obs-websocket does, on its threads, two requests at
    // once if asked) leaves the source's settings alone: two threads changing them at once
    // broke libobs's item table, and the listers then crashed or spun for good. The
    // properties view, on this thread, still fills in the chosen output.
    void listingElsewhereLeavesTheSettingsAlone()
    {
        QVERIFY(signIn());
        QVERIFY(QTest::qWaitFor([] { return app()->outputs().size() == 2; }, 10000));
        obs_data_t *settings = obs_data_create();
        obs_data_set_string(settings, "output_id", "out-lower");
        obs_source_t *source = obs_source_create_private("corvane_graphics", "listed elsewhere", settings);
        obs_data_release(settings);
        QVERIFY(source);
        const auto release = qScopeGuard([&] { obs_source_release(source); });
        const auto settingsNow = [source] {
            obs_data_t *now = obs_source_get_settings(source);
            const QString text = QString::fromUtf8(obs_data_get_json(now));
            obs_data_release(now);
            return text;
        };
        const QString before = settingsNow();

        std::thread([source] { obs_properties_destroy(obs_source_properties(source)); }).join();
        QCOMPARE(settingsNow(), before);

        obs_properties_destroy(obs_source_properties(source));
        obs_data_t *now = obs_source_get_settings(source);
        QCOMPARE(QString::fromUtf8(obs_data_get_string(now, "output_name")), QStringLiteral("Lower third"));
        QVERIFY(QString::fromUtf8(obs_data_get_string(now, "url")).endsWith(QLatin1String("/graphics/o/tok-lower")));
        QCOMPARE(obs_data_get_int(now, "height"), 200);
        obs_data_release(now);
    }

    void propertiesAndRefreshFromOtherThreads()
    {
        QVERIFY(signIn());
        QVERIFY(QTest::qWaitFor([] { return app()->outputs().size() == 2; }, 10000));
        obs_data_t *settings = obs_data_create();
        obs_data_set_string(settings, "output_id", "out-main");
        obs_data_set_string(settings, "output_name", "Main scorebug");
        obs_source_t *source = obs_source_create_private("corvane_graphics", "threads", settings);
        obs_data_release(settings);
        QVERIFY(source);
        signal_handler_t *signals = obs_source_get_signal_handler(source);
        signal_handler_connect(signals, "update_properties", countPropertyUpdates, nullptr);

        std::atomic<bool> stop{false};
        std::atomic<int> listed{0};
        std::atomic<int> pressed{0};
        QSet<QString> views; // the lister's own until it is joined
        std::thread lister([&] {
            while (!stop.load()) {
                obs_properties_t *props = obs_source_properties(source);
                views.insert(viewOf(props));
                obs_properties_destroy(props);
                ++listed;
            }
        });
        std::thread presser([&] {
            while (!stop.load()) {
                pressRefresh(source);
                ++pressed;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });

        // Meanwhile the outputs change here: other lists, a refused fetch, a sign-out and in.
        const QList<QByteArray> answers = {outputsAnswer(1), ScriptedWebServer::response(402, "{}"), outputsAnswer(2)};
        for (int round = 0; round < 400 && (round < 30 || listed.load() < 200 || pressed.load() < 50); ++round) {
            m_portal.answer("/api/graphics/outputs", answers.at(round % answers.size()));
            if (round % 10 == 9) {
                app()->portal().signOut();
                QTest::qWait(2);
                QVERIFY(signIn());
            }
            bool done = false;
            app()->refreshOutputs([&](bool, const QString &) { done = true; });
            QVERIFY(QTest::qWaitFor([&] { return done; }, 10000));
        }
        stop.store(true);
        lister.join();
        presser.join();
        QTest::qWait(200); // presses still on their way finish here

        QVERIFY2(listed.load() >= 200 && pressed.load() >= 50,
                 qPrintable(QStringLiteral("%1 lists, %2 presses").arg(listed.load()).arg(pressed.load())));
        for (const QString &view : std::as_const(views))
            QVERIFY2(consistent(view), qPrintable(view));

        // A press on another thread fetches once, and the view is refreshed on this one.
        m_portal.answer("/api/graphics/outputs", outputsAnswer(2));
        const int requestsBefore = outputRequests();
        const int updatesBefore = g_updatesOnMain.load();
        std::thread(pressRefresh, source).join();
        QTRY_COMPARE(g_updatesOnMain.load(), updatesBefore + 1);
        QCOMPARE(outputRequests(), requestsBefore + 1);
        QCOMPARE(g_updatesElsewhere.load(), 0);

        signal_handler_disconnect(signals, "update_properties", countPropertyUpdates, nullptr);
        obs_source_release(source);
    }
};

QTEST_GUILESS_MAIN(TestGraphicsSourceThreads)
#include "tst_GraphicsSourceThreads.moc"
