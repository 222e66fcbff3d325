// Game production inside the real libobs: the "show when" filter deciding from the shown
// scores, the hotkeys through OBS's own hotkey path with bindings read as OBS's settings
// window saves them, showing and hiding Corvane sources, and a recording's chapters and
// game log.
#include "app/App.h"
#include "base/Log.h"
#include "live/OverlayServer.h"
#include "obs/Hotkeys.h"
#include "obs/ObsFixture.h"
#include "obs/RecordingChapters.h"
#include "obs/ShowWhenFilter.h"
#include "ui/ObsFrontend.h"

#include <obs.h>
#include <util/config-file.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace corvane;

namespace {

struct Released {
    void operator()(obs_source_t *source) const { obs_source_release(source); }
};
using SourceRef = std::unique_ptr<obs_source_t, Released>;

QStringList g_logLines;
void captureLog(LogLevel, const char *line)
{
    g_logLines << QString::fromUtf8(line);
}

App &app() { return *App::instance(); }

void applyLive(const QJsonObject &message) { app().live().apply(message); }

// A text source (any video source would do) carrying a "show when" filter with `settings`.
struct Filtered {
    SourceRef source;
    SourceRef filter;

    explicit Filtered(const char *json)
    {
        source.reset(obs_source_create("corvane_text", "filtered", nullptr, nullptr));
        obs_data_t *settings = obs_data_create_from_json(json);
        filter.reset(obs_source_create_private("corvane_show_when", "show when", settings));
        obs_data_release(settings);
        obs_source_filter_add(source.get(), filter.get());
    }
    ~Filtered()
    {
        if (source && filter)
            obs_source_filter_remove(source.get(), filter.get());
    }
    bool visible() const { return static_cast<ShowWhenFilter *>(obs_obj_get_data(filter.get()))->visible.load(); }
};

// Presses `key` through OBS's hotkey path, as its hotkey thread does for a key press, and
// runs what the press posted to the user-interface thread.
void press(obs_key_t key)
{
    obs_hotkey_inject_event({0, key}, true);
    QCoreApplication::processEvents();
}

} // namespace

class TestGameProduction : public QObject {
    Q_OBJECT
private:
    test::ObsFixture obs;

private Q_SLOTS:
    void initTestCase()
    {
        const QString failed = obs.start();
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QVERIFY(obs_get_source_output_flags("corvane_show_when") & OBS_SOURCE_VIDEO);
        QCOMPARE(QByteArray(obs_source_get_display_name("corvane_show_when")), QByteArray("Corvane: show when"));
        QVERIFY(Hotkeys::isRegistered());
    }

    void cleanupTestCase() { obs.stop(); }

    void cleanup()
    {
        app().shown().resume();
        app().live().clear();
        obs_wait_for_destroy_queue();
    }

    void filterFollowsItsConditions()
    {
        Filtered arrow(R"({"field_1": "possession", "op_1": "eq", "value_1": "home", "no_scores": "hide"})");
        QVERIFY(!arrow.visible());
        applyLive({{QStringLiteral("possession"), QStringLiteral("home")}});
        QVERIFY(arrow.visible());
        applyLive({{QStringLiteral("possession"), QStringLiteral("away")}});
        QVERIFY(!arrow.visible());

        // Held, the filter keeps what it showed; resuming shows the latest at once.
        app().shown().hold();
        applyLive({{QStringLiteral("possession"), QStringLiteral("home")}});
        QVERIFY(!arrow.visible());
        app().shown().resume();
        QVERIFY(arrow.visible());

        // No live data: as chosen, also when a settings change comes meanwhile.
        app().live().clear();
        QVERIFY(!arrow.visible());
        obs_data_t *change = obs_data_create_from_json(R"({"no_scores": "show"})");
        obs_source_update(arrow.filter.get(), change);
        obs_data_release(change);
        QTRY_VERIFY(arrow.visible());
    }

    void filterCombinesRowsFromItsSettings()
    {
        // Numbers compare as numbers; an unknown operator leaves its row out rather than
        // testing something else.
        Filtered bonus(R"({"match": "any", "field_1": "home_fouls", "op_1": "ge", "value_1": "5",
                           "field_2": "bonus", "op_2": "not_empty", "field_3": "period", "op_3": "what", "value_3": "x"})");
        applyLive({{QStringLiteral("home_fouls"), 10}, {QStringLiteral("period"), QStringLiteral("x")}});
        QVERIFY(bonus.visible());
        applyLive({{QStringLiteral("home_fouls"), 4}});
        QVERIFY(!bonus.visible());
        applyLive({{QStringLiteral("bonus"), QStringLiteral("H")}});
        QVERIFY(bonus.visible());

        obs_data_t *all = obs_data_create_from_json(R"({"match": "all"})");
        obs_source_update(bonus.filter.get(), all);
        obs_data_release(all);
        QTRY_VERIFY(!bonus.visible());
    }

    void filterPropertiesListTheSentFields()
    {
        applyLive({{QStringLiteral("possession"), QStringLiteral("home")}, {QStringLiteral("bonus"), QString()}});
        Filtered filtered("{}");
        obs_properties_t *props = obs_source_properties(filtered.filter.get());
        QVERIFY(props);
        obs_property_t *field = obs_properties_get(props, "field_1");
        QVERIFY(field);
        QStringList names;
        for (size_t i = 0; i < obs_property_list_item_count(field); ++i)
            names << QString::fromUtf8(obs_property_list_item_string(field, i));
        QCOMPARE(names, (QStringList{QString(), "bonus", "possession", "sport"}));
        obs_property_t *op = obs_properties_get(props, "op_4");
        QVERIFY(op);
        QCOMPARE(obs_property_list_item_count(op), size_t(9));
        obs_properties_destroy(props);
    }

    void hotkeysActThroughOurBindingsFromTheProfile()
    {
        // The profile's [Hotkeys] section as OBS's settings window writes it.
        QTemporaryDir dir;
        config_t *profile = nullptr;
        QCOMPARE(config_open(&profile, dir.filePath(QStringLiteral("basic.ini")).toUtf8().constData(), CONFIG_OPEN_ALWAYS),
                 CONFIG_SUCCESS);
        config_set_string(profile, "Hotkeys", "corvane.hold_scores", R"({"bindings":[{"key":"OBS_KEY_F13"}]})");
        config_set_string(profile, "Hotkeys", "corvane.resume_scores", R"({"bindings":[{"key":"OBS_KEY_F14"}]})");
        Hotkeys::loadBindings(profile);
        config_close(profile);

        applyLive({{QStringLiteral("home_score"), 1}});
        press(OBS_KEY_F13);
        QVERIFY(app().shown().isHeld());
        applyLive({{QStringLiteral("home_score"), 2}});
        QCOMPARE(app().shown().state().value(QStringLiteral("home_score")), QStringLiteral("1"));
        press(OBS_KEY_F14);
        QVERIFY(!app().shown().isHeld());
        QCOMPARE(app().shown().state().value(QStringLiteral("home_score")), QStringLiteral("2"));

        // A profile without our entries leaves no binding behind.
        QTemporaryDir other;
        QCOMPARE(config_open(&profile, other.filePath(QStringLiteral("basic.ini")).toUtf8().constData(), CONFIG_OPEN_ALWAYS),
                 CONFIG_SUCCESS);
        Hotkeys::loadBindings(profile);
        config_close(profile);
        press(OBS_KEY_F13);
        QVERIFY(!app().shown().isHeld());
    }

    void overlaysHoldWithTheScores()
    {
        OverlayServer *overlays = app().overlayServer();
        QString error;
        QVERIFY2(overlays->start(0, &error), qPrintable(error));
        applyLive({{QStringLiteral("home_score"), 1}});
        const qint64 live = overlays->bytesSerialised();
        QVERIFY(live > 0);
        app().shown().hold();
        applyLive({{QStringLiteral("home_score"), 2}});
        QCOMPARE(overlays->bytesSerialised(), live);
        app().shown().resume();
        QVERIFY(overlays->bytesSerialised() > live);
        overlays->stop();
    }

    void corvaneSourcesShowAndHideTogether()
    {
        obs_scene_t *scene = obs_scene_create_private("game");
        SourceRef score(obs_source_create("corvane_text", "score", nullptr, nullptr));
        SourceRef other(obs_source_create("text_ft2_source_v2", "other", nullptr, nullptr));
        obs_sceneitem_t *scoreItem = obs_scene_add(scene, score.get());
        obs_sceneitem_t *otherItem = obs_scene_add(scene, other.get());
        obs_sceneitem_t *group = obs_scene_add_group(scene, "group");
        SourceRef grouped(obs_source_create("corvane_text", "grouped", nullptr, nullptr));
        obs_sceneitem_t *groupedItem = obs_scene_add(scene, grouped.get());
        obs_sceneitem_group_add_item(group, groupedItem);
        obs_sceneitem_set_visible(groupedItem, false);

        // One shown: all hide; none shown: all show; others stay as they are.
        QVERIFY(ObsFrontend::toggleCorvaneSources(scene));
        QVERIFY(!obs_sceneitem_visible(scoreItem));
        QVERIFY(!obs_sceneitem_visible(groupedItem));
        QVERIFY(obs_sceneitem_visible(otherItem));
        QVERIFY(ObsFrontend::toggleCorvaneSources(scene));
        QVERIFY(obs_sceneitem_visible(scoreItem));
        QVERIFY(obs_sceneitem_visible(groupedItem));
        QVERIFY(obs_sceneitem_visible(otherItem));

        obs_scene_t *empty = obs_scene_create_private("empty");
        QVERIFY(!ObsFrontend::toggleCorvaneSources(empty));
        obs_scene_release(empty);
        obs_scene_release(scene);
    }

    void recordingGetsChaptersAndAGameLog()
    {
        QTemporaryDir dir;
        app().settings().setChapterTemplate(QStringLiteral("{home_score}-{away_score} P{period}"));
        app().settings().setChapterChanges(QStringLiteral("score"));
        RecordingChapters chapters(&app());
        QStringList marked;
        chapters.setAddChapterForTesting([&marked](const QString &name) {
            marked << name;
            return true;
        });
        qint64 now = 0;
        chapters.setClockForTesting([&now] { return now; });

        applyLive({{QStringLiteral("home_score"), 0}, {QStringLiteral("away_score"), 0}, {QStringLiteral("period"), 1}});
        chapters.recordingStarted();
        now = 65000;
        applyLive({{QStringLiteral("home_score"), 1}});
        now = 70000;
        applyLive({{QStringLiteral("period"), 2}}); // not a chapter change here
        // Held: no chapter; resuming to a new score makes one.
        app().shown().hold();
        now = 80000;
        applyLive({{QStringLiteral("away_score"), 1}});
        now = 3725000;
        app().shown().resume();
        now = 3726000;
        chapters.addNow();
        const QString recording = dir.filePath(QStringLiteral("game.mkv"));
        chapters.recordingStopped(recording);

        QCOMPARE(marked, (QStringList{"0-0 P1", "1-0 P1", "1-1 P2", "1-1 P2"}));
        QFile log(dir.filePath(QStringLiteral("game.scores.txt")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(log.readAll()),
                 QStringLiteral("0:00:00 0-0 P1\n0:01:05 1-0 P1\n1:02:05 1-1 P2\n1:02:06 1-1 P2\n"));
        QVERIFY(!chapters.isRecording());

        // Switched off: nothing marked, no log.
        app().settings().setChaptersEnabled(false);
        marked.clear();
        chapters.recordingStarted();
        applyLive({{QStringLiteral("home_score"), 5}});
        chapters.recordingStopped(dir.filePath(QStringLiteral("off.mkv")));
        QVERIFY(marked.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("off.scores.txt"))));
        app().settings().setChaptersEnabled(true);
    }

    // OBS older than 30.2 has no chapter call: the look-up fails (here through its test seam),
    // the log says so once, and the game log is still written.
    void withoutTheChapterCallTheGameLogRemains()
    {
        QVERIFY2(RecordingChapters::frontendAddChapter(), "this OBS (30.2 or later) has the chapter call");
        ObsFrontend::setRecordingChapterCallNameForTesting("obs_frontend_recording_add_chapter_missing");
        QVERIFY(!ObsFrontend::recordingChapterCall());
        RecordingChapters chapters(&app());
        ObsFrontend::setRecordingChapterCallNameForTesting("obs_frontend_recording_add_chapter");
        g_logLines.clear();
        const LogSink previous = setLogSink(captureLog);
        QTemporaryDir dir;
        applyLive({{QStringLiteral("home_score"), 0}, {QStringLiteral("away_score"), 0}, {QStringLiteral("period"), 1}});
        for (const QString &name : {QStringLiteral("first.mkv"), QStringLiteral("second.mkv")}) {
            chapters.recordingStarted();
            applyLive({{QStringLiteral("home_score"), name.size()}});
            chapters.recordingStopped(dir.filePath(name));
        }
        setLogSink(previous);
        QCOMPARE(g_logLines.filter(QStringLiteral("cannot add chapter markers")).size(), 1);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("first.scores.txt"))));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("second.scores.txt"))));
    }
};

QTEST_GUILESS_MAIN(TestGameProduction)
#include "tst_GameProduction.moc"
