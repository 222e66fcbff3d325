// The corvane_graphics source under libobs, with a stand-in "browser_source" that records
// the settings it is given (Debian's OBS ships no browser source), and App's output list
// coming from the portal simulator.
#include "app/App.h"
#include "obs/GraphicsSource.h"
#include "obs/Module.h"
#include "support/PortalSimProcess.h"

#include <obs.h>
#include "base/Log.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <cstdarg>
#include <cstdio>

using namespace corvane;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

QStringList g_log;
obs_source_t *g_child = nullptr; // the newest stand-in browser source
int g_childUpdates = 0;

void captureLog(LogLevel level, const char *line)
{
    g_log << QStringLiteral("%1 %2").arg(int(level)).arg(QString::fromUtf8(line));
}

void recordChild(obs_data_t *) { ++g_childUpdates; }

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
    obs_data_t *settings = obs_source_get_settings(g_child);
    const QJsonObject object = QJsonDocument::fromJson(QByteArray(obs_data_get_json(settings))).object();
    obs_data_release(settings);
    return object;
}

// The stand-in browser source: it only remembers what it was told.
const char *standInName(void *) { return "Browser (test stand-in)"; }
void *standInCreate(obs_data_t *settings, obs_source_t *source)
{
    g_child = source;
    recordChild(settings);
    return &g_childUpdates;
}
void standInDestroy(void *) {}
void standInUpdate(void *, obs_data_t *settings) { recordChild(settings); }
uint32_t standInWidth(void *) { return 0; }

void registerStandInBrowser()
{
    obs_source_info info = {};
    info.id = "browser_source";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = standInName;
    info.create = standInCreate;
    info.destroy = standInDestroy;
    info.update = standInUpdate;
    info.get_width = standInWidth;
    info.get_height = standInWidth;
    obs_register_source(&info);
}

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
        QCOMPARE(g_childUpdates, 0);
        registerStandInBrowser();
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

        // A refresh while signed out sends nothing and says why.
        const int before = m_sim.requests().size();
        QVERIFY(obs_property_button_clicked(obs_properties_get(props, "refresh"), source));
        QCOMPARE(statusOf(props), QStringLiteral("Sign in from the Corvane dock to see your graphics."));
        QCOMPARE(m_sim.requests().size(), before);
        obs_properties_destroy(props);
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
        obs_properties_t *props = obs_source_properties(source);
        QVERIFY(m_sim.behave({{key("status"), 402}, {key("path"), QStringLiteral("/api/graphics")}}));
        QVERIFY(obs_property_button_clicked(obs_properties_get(props, "refresh"), source));
        QCOMPARE(statusOf(props), QStringLiteral("Graphics need an active Corvane cloud plan."));
        // The last good list stays.
        QCOMPARE(listEntries(obs_properties_get(props, "output_id")).size(), 2);
        obs_properties_destroy(props);

        props = obs_source_properties(source);
        QCOMPARE(statusOf(props), QStringLiteral("Graphics need an active Corvane cloud plan."));
        obs_properties_destroy(props);

        QVERIFY(m_sim.reset());
        props = obs_source_properties(source);
        QVERIFY(obs_property_button_clicked(obs_properties_get(props, "refresh"), source));
        QCOMPARE(statusOf(props), QStringLiteral("2 graphics outputs found in your account."));
        obs_properties_destroy(props);
        obs_source_release(source);
    }
};

QTEST_GUILESS_MAIN(TestGraphicsSource)
#include "tst_GraphicsSource.moc"
