// The corvane_graphics source under libobs, with a stand-in "browser_source" that records
// the settings it is given (Debian's OBS ships no browser source), and App's output list
// coming from the portal simulator.
#include "app/App.h"
#include "obs/GraphicsSource.h"
#include "obs/Module.h"
#include "obs/StandInBrowser.h"
#include "support/PortalSimProcess.h"

#include <obs.h>
#include "base/Log.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdarg>
#include <cstdio>

using namespace corvane;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

QStringList g_log;

void captureLog(LogLevel level, const char *line)
{
    g_log << QStringLiteral("%1 %2").arg(int(level)).arg(QString::fromUtf8(line));
}

// What libobs itself logs, while a test listens.
QStringList g_obsLog;
void captureObsLog(int, const char *format, va_list args, void *)
{
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    g_obsLog << QString::fromUtf8(line);
}

// What the newest browser source holds. OBS applies a video source's settings at once and
// calls its update on the next video tick, so the settings object is the thing to check.
QJsonObject childSettings()
{
    obs_data_t *settings = obs_source_get_settings(test::g_browserChild);
    const QJsonObject object = QJsonDocument::fromJson(QByteArray(obs_data_get_json(settings))).object();
    obs_data_release(settings);
    return object;
}

// How often a source asked OBS to rebuild its properties view.
int g_propertyUpdates = 0;
void countPropertyUpdates(void *, calldata_t *) { ++g_propertyUpdates; }

// The entries of a string list property as "label=value".
QStringList listEntries(obs_property_t *list)
{
    QStringList out;
    for (size_t i = 0; i < obs_property_list_item_count(list); ++i)
        out << QString::fromUtf8(obs_property_list_item_name(list, i)) + QLatin1Char('=')
                + QString::fromUtf8(obs_property_list_item_string(list, i));
    return out;
}

QString statusOf(obs_properties_t *props)
{
    obs_property_t *status = obs_properties_get(props, "status");
    return status ? QString::fromUtf8(obs_property_description(status)) : QStringLiteral("<no status>");
}

const QJsonObject kExpectedChild(int width, int height, const QString &url)
{
    return {{key("url"), url},
            {key("width"), width},
            {key("height"), height},
            {key("fps"), 30},
            {key("fps_custom"), true},
            {key("reroute_audio"), false},
            {key("shutdown"), false},
            {key("restart_when_active"), false},
            {key("css"), QStringLiteral("body { background-color: rgba(0, 0, 0, 0); margin: 0px auto; overflow: hidden; }")}};
}

} // namespace

class TestGraphicsSource : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    PortalSimProcess m_sim;
    App *m_app = nullptr;

    obs_source_t *create(const QJsonObject &settings)
    {
        obs_data_t *data = obs_data_create_from_json(QJsonDocument(settings).toJson().constData());
        obs_source_t *source = obs_source_create("corvane_graphics", "graphics under test", data, nullptr);
        obs_data_release(data);
        return source;
    }

    void signIn()
    {
        bool done = false;
        m_app->portal().signIn(QStringLiteral("operator@example.com"), QStringLiteral("correct horse battery"),
                               [&](const PortalResult &) { done = true; });
        QVERIFY(QTest::qWaitFor([&] { return done; }, 10000));
        QVERIFY(QTest::qWaitFor([&] { return m_app->outputs().size() == 2; }, 10000));
    }

    int outputRequests()
    {
        int count = 0;
        for (const QJsonValue &request : m_sim.requests())
            count += request.toObject().value(key("target")).toString() == QLatin1String("/api/graphics/outputs") ? 1 : 0;
        return count;
    }

    // Presses "refresh" (which must not wait for the answer) and, once the source has asked
    // OBS to rebuild its view, the status a new properties object shows.
    QString refreshStatus(obs_source_t *source)
    {
        obs_properties_t *props = obs_source_properties(source);
        signal_handler_t *signals = obs_source_get_signal_handler(source);
        g_propertyUpdates = 0;
        signal_handler_connect(signals, "update_properties", countPropertyUpdates, nullptr);
        const bool refreshedAtOnce = obs_property_button_clicked(obs_properties_get(props, "refresh"), source);
        obs_properties_destroy(props);
        const bool asked = QTest::qWaitFor([] { return g_propertyUpdates > 0; }, 10000);
        signal_handler_disconnect(signals, "update_properties", countPropertyUpdates, nullptr);
        if (refreshedAtOnce)
            return QStringLiteral("<the button waited for the answer>");
        if (!asked)
            return QStringLiteral("<no properties update>");
        props = obs_source_properties(source);
        const QString status = statusOf(props);
        obs_properties_destroy(props);
        return status;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!m_sim.start().isEmpty());
        setLogSink(captureLog);
        QVERIFY(obs_startup("en-US", QFile::encodeName(m_dir.path()).constData(), nullptr));
        Module::loadLocaleFile(CORVANE_SOURCE_DIR "/locale/en-US.ini");
        QCOMPARE(QByteArray(Module::text("GraphicsNone")), QByteArray("No graphics outputs"));
        GraphicsSource::registerType();

        QFile settings(m_dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QJsonDocument(QJsonObject{{key("portal_url"), m_sim.url()}}).toJson());
        settings.close();
        m_app = new App({settings.fileName(), m_dir.filePath(QStringLiteral("session.json"))});
        App::setInstance(m_app);
        QTest::qWait(200); // the sign-in restore finds no session
    }

    void cleanupTestCase()
    {

        // obs_shutdown() needs video, which this test does not start.
        App::setInstance(nullptr);
        delete m_app;
        Module::freeLocale();
    }

    void registeringAgainIsQuiet()
    {
        log_handler_t previous = nullptr;
        void *previousParam = nullptr;
        base_get_log_handler(&previous, &previousParam);
        g_obsLog.clear();
        base_set_log_handler(captureObsLog, nullptr);
        GraphicsSource::registerType(); // a second load of the module
        base_set_log_handler(previous, previousParam);
        QVERIFY2(g_obsLog.filter(QStringLiteral("corvane_graphics")).isEmpty(), qPrintable(g_obsLog.join(QLatin1Char('\n'))));
    }

    // Must run before the stand-in exists.
    void withoutABrowserSourceCreationFails()
    {
        g_log.clear();
        obs_source_t *source = create({{key("url"), QStringLiteral("https://example.invalid/")}});
        QVERIFY(g_log.contains(QStringLiteral("%1 [corvane] this OBS has no browser source, so graphics cannot be shown")
                                   .arg(int(LogLevel::Error))));
        if (source) {
            QCOMPARE(obs_source_get_width(source), 0u);
            obs_source_release(source);
        }
        QCOMPARE(test::g_browserUpdates.load(), 0);
        test::registerStandInBrowser();
    }

    void childGetsExactlyItsSettings()
    {
        obs_source_t *source = create({{key("url"), QStringLiteral("https://portal.example/graphics/o/t1")},
                                       {key("width"), 0}, {key("height"), 10}, {key("output_id"), QStringLiteral("o1")}});
        QVERIFY(source);
        QCOMPARE(childSettings(), kExpectedChild(1920, 1080, QStringLiteral("https://portal.example/graphics/o/t1")));
        QCOMPARE(obs_source_get_width(source), 1920u);
        QCOMPARE(obs_source_get_height(source), 1080u);

        // OBS runs a video source's update on its next video tick, which this test has no
        // video thread for; a new source applies its settings at once, through the same path.
        obs_source_t *floor = create({{key("url"), QStringLiteral("https://portal.example/graphics/o/t1")},
                                      {key("width"), 16}, {key("height"), 15}});
        QCOMPARE(childSettings(), kExpectedChild(16, 1080, QStringLiteral("https://portal.example/graphics/o/t1")));
        QCOMPARE(obs_source_get_width(floor), 16u);
        QCOMPARE(obs_source_get_height(floor), 1080u);
        obs_source_release(floor);

        // Defaults: no settings at all give a 1920 x 1080 page with an empty address.
        obs_source_t *bare = obs_source_create("corvane_graphics", "bare", nullptr, nullptr);
        QCOMPARE(childSettings(), kExpectedChild(1920, 1080, QString()));
        obs_source_release(bare);
        obs_source_release(source);
    }

    void signedOutShowsNothingToChoose()
    {
        QVERIFY(!m_app->portal().isSignedIn());
        obs_source_t *source = create({});
        obs_properties_t *props = obs_source_properties(source);
        obs_property_t *list = obs_properties_get(props, "output_id");
        QCOMPARE(listEntries(list), QStringList(QStringLiteral("No graphics outputs=")));
        QCOMPARE(statusOf(props), QStringLiteral("Sign in from the Corvane dock to see your graphics."));
        QVERIFY(obs_properties_get(props, "width") && obs_properties_get(props, "height"));
        QCOMPARE(obs_property_int_min(obs_properties_get(props, "width")), 16);
        QCOMPARE(obs_property_int_max(obs_properties_get(props, "height")), 8192);

        // Choosing the empty entry changes nothing.
        obs_data_t *settings = obs_source_get_settings(source);
        obs_data_set_string(settings, "output_id", "");
        QVERIFY(!obs_property_modified(list, settings));
        QCOMPARE(QByteArray(obs_data_get_string(settings, "url")), QByteArray());
        obs_data_release(settings);

        obs_properties_destroy(props);

        // A refresh while signed out sends nothing and says why.
        const int before = m_sim.requests().size();
        QCOMPARE(refreshStatus(source), QStringLiteral("Sign in from the Corvane dock to see your graphics."));
        QCOMPARE(m_sim.requests().size(), before);
        obs_source_release(source);
    }

    void signedInListsOutputsAndRemembersTheChosenOne()
    {
        signIn();
        obs_source_t *source = create({{key("output_id"), QStringLiteral("out-retired")},
                                       {key("output_name"), QStringLiteral("Retired bug")},
                                       {key("url"), QStringLiteral("https://portal.example/graphics/o/old")}});
        obs_properties_t *props = obs_source_properties(source);
        QCOMPARE(listEntries(obs_properties_get(props, "output_id")),
                 QStringList({QStringLiteral("Retired bug=out-retired"), QStringLiteral("Main scorebug=out-main"),
                              QStringLiteral("out-lower=out-lower")}));
        QCOMPARE(statusOf(props), QStringLiteral("2 graphics outputs found in your account."));
        obs_properties_destroy(props);

        // Without a remembered name the id stands in; a listed output is not repeated.
        obs_data_t *settings = obs_source_get_settings(source);
        obs_data_set_string(settings, "output_name", "");
        props = obs_source_properties(source);
        QCOMPARE(listEntries(obs_properties_get(props, "output_id")).first(), QStringLiteral("out-retired=out-retired"));
        obs_properties_destroy(props);
        obs_data_set_string(settings, "output_id", "out-main");
        props = obs_source_properties(source);
        QCOMPARE(listEntries(obs_properties_get(props, "output_id")).size(), 2);
        obs_properties_destroy(props);
        obs_data_release(settings);
        obs_source_release(source);
    }

    void selectingAnOutputPointsThePageAtIt()
    {
        if (!m_app->portal().isSignedIn())
            signIn();
        obs_source_t *source = create({});
        obs_properties_t *props = obs_source_properties(source);
        obs_data_t *settings = obs_source_get_settings(source);
        obs_data_set_string(settings, "output_id", "out-lower");
        QVERIFY(obs_property_modified(obs_properties_get(props, "output_id"), settings));
        const QString url = m_sim.url() + QStringLiteral("/graphics/o/tok-lower");
        QCOMPARE(QString::fromUtf8(obs_data_get_string(settings, "url")), url);
        QCOMPARE(QByteArray(obs_data_get_string(settings, "output_name")), QByteArray("out-lower"));
        QCOMPARE(obs_data_get_int(settings, "width"), 1280);
        QCOMPARE(obs_data_get_int(settings, "height"), 200);
        obs_source_t *shown = create(QJsonDocument::fromJson(QByteArray(obs_data_get_json(settings))).object());
        QCOMPARE(childSettings(), kExpectedChild(1280, 200, url));
        QCOMPARE(obs_source_get_height(shown), 200u);
        obs_source_release(shown);

        // An id that is not in the list changes nothing.
        obs_data_set_string(settings, "output_id", "out-draft");
        QVERIFY(!obs_property_modified(obs_properties_get(props, "output_id"), settings));
        QCOMPARE(QString::fromUtf8(obs_data_get_string(settings, "url")), url);
        obs_data_release(settings);
        obs_properties_destroy(props);
        obs_source_release(source);
    }

    void refreshShowsThePlanError()
    {
        if (!m_app->portal().isSignedIn())
            signIn();
        obs_source_t *source = create({});
        QVERIFY(m_sim.behave({{key("status"), 402}, {key("path"), QStringLiteral("/api/graphics")}}));
        QCOMPARE(refreshStatus(source), QStringLiteral("Graphics need an active Corvane cloud plan."));
        // The last good list stays.
        obs_properties_t *props = obs_source_properties(source);
        QCOMPARE(listEntries(obs_properties_get(props, "output_id")).size(), 2);
        obs_properties_destroy(props);

        QVERIFY(m_sim.reset());
        QCOMPARE(refreshStatus(source), QStringLiteral("2 graphics outputs found in your account."));
        obs_source_release(source);
    }

    // The button starts the fetch and returns; clicks while it runs start nothing more, and
    // the answer asks OBS once to rebuild the view.
    void refreshStartsOneFetchAndRefreshesTheViewOnce()
    {
        if (!m_app->portal().isSignedIn())
            signIn();
        obs_source_t *source = create({});
        obs_properties_t *props = obs_source_properties(source);
        obs_property_t *refresh = obs_properties_get(props, "refresh");
        signal_handler_t *signals = obs_source_get_signal_handler(source);
        g_propertyUpdates = 0;
        signal_handler_connect(signals, "update_properties", countPropertyUpdates, nullptr);
        QVERIFY(m_sim.behave({{key("delay_ms"), 800}, {key("path"), QStringLiteral("/api/graphics")}, {key("times"), 1}}));
        const int before = outputRequests();
        QVERIFY(!obs_property_button_clicked(refresh, source));
        QVERIFY(!obs_property_button_clicked(refresh, source));
        QTest::qWait(100);
        QVERIFY(!obs_property_button_clicked(refresh, source));
        QTRY_COMPARE_WITH_TIMEOUT(g_propertyUpdates, 1, 10000);
        QTest::qWait(200);
        QCOMPARE(g_propertyUpdates, 1);
        QCOMPARE(outputRequests(), before + 1);

        // Once it has answered, the next click fetches again.
        QVERIFY(!obs_property_button_clicked(refresh, source));
        QTRY_COMPARE_WITH_TIMEOUT(g_propertyUpdates, 2, 10000);
        QCOMPARE(outputRequests(), before + 2);
        signal_handler_disconnect(signals, "update_properties", countPropertyUpdates, nullptr);
        obs_properties_destroy(props);
        obs_source_release(source);
    }

    // Closing the properties (and with them the source) while the fetch is pending, then
    // the answer: nothing that is gone may be touched.
    void refreshOutlivesItsProperties()
    {
        if (!m_app->portal().isSignedIn())
            signIn();
        QVERIFY(m_sim.behave({{key("delay_ms"), 1500}, {key("path"), QStringLiteral("/api/graphics")}, {key("times"), 1}}));
        obs_source_t *source = create({});
        obs_properties_t *props = obs_source_properties(source);
        QSignalSpy answered(m_app, &App::outputsChanged);
        bool closed = false;
        QTimer::singleShot(300, m_app, [&] {
            obs_properties_destroy(props);
            obs_source_release(source);
            closed = true;
        });
        obs_property_button_clicked(obs_properties_get(props, "refresh"), source);
        QVERIFY(QTest::qWaitFor([&] { return closed; }, 5000));
        obs_wait_for_destroy_queue();
        QVERIFY(answered.count() > 0 || answered.wait(10000));
        QTest::qWait(100); // whatever was queued behind the answer
    }

    // Settings written by hand or through obs-websocket can ask for any size; the page gets
    // the properties view's range, 16 to 8192, and a size below it falls back to the default.
    void sizesStayInTheViewsRange_data()
    {
        QTest::addColumn<qint64>("width");
        QTest::addColumn<qint64>("height");
        QTest::addColumn<int>("shownWidth");
        QTest::addColumn<int>("shownHeight");
        QTest::newRow("above") << qint64(8193) << qint64(100000) << 8192 << 8192;
        QTest::newRow("past int") << (qint64(1) << 32) + 1280 << (qint64(1) << 31) << 8192 << 8192;
        QTest::newRow("negative") << qint64(-5) << -(qint64(1) << 32) << 1920 << 1080;
        QTest::newRow("edges") << qint64(16) << qint64(8192) << 16 << 8192;
    }
    void sizesStayInTheViewsRange()
    {
        QFETCH(qint64, width);
        QFETCH(qint64, height);
        QFETCH(int, shownWidth);
        QFETCH(int, shownHeight);
        const QString url = QStringLiteral("https://portal.example/graphics/o/t1");
        obs_source_t *source = create({{key("url"), url}, {key("width"), width}, {key("height"), height}});
        QCOMPARE(childSettings(), kExpectedChild(shownWidth, shownHeight, url));
        QCOMPARE(obs_source_get_width(source), uint32_t(shownWidth));
        QCOMPARE(obs_source_get_height(source), uint32_t(shownHeight));
        obs_source_release(source);
    }
};

QTEST_GUILESS_MAIN(TestGraphicsSource)
#include "tst_GraphicsSource.moc"
