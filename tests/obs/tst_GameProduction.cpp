// Game production inside the real libobs: the "show when" filter deciding from the shown
// scores, the hotkeys through OBS's own hotkey path with bindings read as OBS's settings
// window saves them, showing and hiding Corvane sources, and a recording's chapters and
// game log.
#include "app/App.h"
#include "app/FollowedDevices.h"
#include "live/DeviceLive.h"
#include "base/Log.h"
#include "live/OverlayServer.h"
#include "obs/CorvaneSources.h"
#include "obs/GameProduction.h"
#include "obs/Hotkeys.h"
#include "obs/ObsFixture.h"
#include "obs/RecordingChapters.h"
#include "obs/ShowWhenFilter.h"
#include "ui/ObsFrontend.h"

#include <obs.h>
#include <util/config-file.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
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

// A file as the recording output leaves it; `age` seconds old.
QString makeFile(const QString &path, int age = 0)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write("video");
    file.flush(); // else closing writes it, and stamps the file now
    file.setFileTime(QDateTime::currentDateTime().addSecs(-age), QFileDevice::FileModificationTime);
    return path;
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("(none)");
}

// A recording's chapters with OBS's chapter call and the clock played by the test.
struct Recording {
    RecordingChapters chapters{&app()};
    QStringList marked;
    qint64 now = 0;

    explicit Recording(const QString &fallbackFolder)
    {
        chapters.setAddChapterForTesting([this](const QString &name) {
            marked << name;
            return true;
        });
        chapters.setClockForTesting([this] { return now; });
        chapters.setFallbackFolderForTesting(fallbackFolder);
        chapters.setOpeningDelayForTesting(0);
    }
    void score(qint64 ms, const QString &field, int value)
    {
        now = ms;
        applyLive({{field, value}});
    }
};

QJsonObject startingState()
{
    return {{QStringLiteral("home_score"), 0}, {QStringLiteral("away_score"), 0}, {QStringLiteral("period"), 1}};
}

} // namespace

class TestGameProduction : public QObject {
    Q_OBJECT
private:
    test::ObsFixture obs;
    QTemporaryDir m_logs;

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
        app().settings().setChapterTemplate(QString());
        app().settings().setChapterChanges(QStringLiteral("both"));
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

    // Bound to a followed device, a filter reads that device alone, its hold included, and
    // offers that device's fields.
    void filterBoundToAFollowedDevice()
    {
        const QString court = QStringLiteral("CV-2");
        QVERIFY(app().followDevice({court, FollowedRoute::Cloud}));
        Filtered courtArrow(R"({"device": "CV-2", "field_1": "possession", "op_1": "eq", "value_1": "home"})");
        Filtered mainArrow(R"({"field_1": "possession", "op_1": "eq", "value_1": "home"})");
        app().liveOf(court)->apply({{QStringLiteral("possession"), QStringLiteral("home")}, {QStringLiteral("court_only"), 1}});
        QVERIFY(courtArrow.visible());
        QVERIFY(!mainArrow.visible());
        app().shownOf(court)->hold();
        app().liveOf(court)->apply({{QStringLiteral("possession"), QStringLiteral("away")}});
        QVERIFY(courtArrow.visible());
        app().shownOf(court)->resume();
        QVERIFY(!courtArrow.visible());

        obs_properties_t *props = obs_source_properties(courtArrow.filter.get());
        obs_property_t *field = obs_properties_get(props, "field_1");
        QStringList names;
        for (size_t i = 0; field && i < obs_property_list_item_count(field); ++i)
            names << QString::fromUtf8(obs_property_list_item_string(field, i));
        QCOMPARE(names, (QStringList{QString(), "court_only", "possession", "sport"}));
        obs_properties_destroy(props);
        QVERIFY(app().followed()->unfollow(court));
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
        config_set_string(profile, "Hotkeys", "corvane.hold_all_scores", R"({"bindings":[{"key":"OBS_KEY_F15"}]})");
        config_set_string(profile, "Hotkeys", "corvane.resume_all_scores", R"({"bindings":[{"key":"OBS_KEY_F16"}]})");
        Hotkeys::loadBindings(profile);
        config_close(profile);

        // Hold and resume act on the main device alone, the "all" ones on each device too.
        const QString court = QStringLiteral("CV-5");
        QVERIFY(app().followDevice({court, FollowedRoute::Cloud}));
        applyLive({{QStringLiteral("home_score"), 1}});
        press(OBS_KEY_F13);
        QVERIFY(app().shown().isHeld());
        QVERIFY(!app().shownOf(court)->isHeld());
        applyLive({{QStringLiteral("home_score"), 2}});
        QCOMPARE(app().shown().state().value(QStringLiteral("home_score")), QStringLiteral("1"));
        app().shownOf(court)->hold();
        press(OBS_KEY_F14);
        QVERIFY(!app().shown().isHeld() && app().shownOf(court)->isHeld());
        QCOMPARE(app().shown().state().value(QStringLiteral("home_score")), QStringLiteral("2"));
        app().shownOf(court)->resume();
        press(OBS_KEY_F15);
        QVERIFY(app().shown().isHeld() && app().shownOf(court)->isHeld());
        press(OBS_KEY_F16);
        QVERIFY(!app().shown().isHeld() && !app().shownOf(court)->isHeld());
        QVERIFY(app().followed()->unfollow(court));

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
        QVERIFY(CorvaneSources::toggleCorvaneSources(scene));
        QVERIFY(!obs_sceneitem_visible(scoreItem));
        QVERIFY(!obs_sceneitem_visible(groupedItem));
        QVERIFY(obs_sceneitem_visible(otherItem));
        QVERIFY(CorvaneSources::toggleCorvaneSources(scene));
        QVERIFY(obs_sceneitem_visible(scoreItem));
        QVERIFY(obs_sceneitem_visible(groupedItem));
        QVERIFY(obs_sceneitem_visible(otherItem));

        // An item removed while the toggle runs (obs-websocket removes items on its own
        // thread) is still safe to act on; the others toggle.
        CorvaneSources::setAfterCollectForTesting([scoreItem] { obs_sceneitem_remove(scoreItem); });
        QVERIFY(CorvaneSources::toggleCorvaneSources(scene));
        CorvaneSources::setAfterCollectForTesting(nullptr);
        QVERIFY(!obs_sceneitem_visible(groupedItem));

        obs_scene_t *empty = obs_scene_create_private("empty");
        QVERIFY(!CorvaneSources::toggleCorvaneSources(empty));
        obs_scene_release(empty);
        obs_scene_release(scene);
    }

    void recordingGetsChaptersAndAGameLog()
    {
        QTemporaryDir dir;
        app().settings().setChapterTemplate(QStringLiteral("{home_score}-{away_score} P{period}"));
        app().settings().setChapterChanges(QStringLiteral("score"));
        Recording rec(dir.filePath(QStringLiteral("kept")));
        QSignalSpy notices(&app(), &App::recordingNotice);

        applyLive(startingState());
        rec.chapters.recordingStarted(makeFile(dir.filePath(QStringLiteral("game.mkv"))));
        rec.score(65000, QStringLiteral("home_score"), 1);
        rec.score(70000, QStringLiteral("period"), 2); // not a chapter change here
        // Held: no chapter; resuming to a new score makes one.
        app().shown().hold();
        rec.score(80000, QStringLiteral("away_score"), 1);
        rec.now = 3725000;
        app().shown().resume();
        rec.now = 3726000;
        rec.chapters.addNow();
        rec.chapters.recordingStopped();

        QCOMPARE(rec.marked, (QStringList{"0-0 P1", "1-0 P1", "1-1 P2", "1-1 P2"}));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("game.scores.txt"))),
                 QStringLiteral("0:00:00 0-0 P1\n0:01:05 1-0 P1\n1:02:05 1-1 P2\n1:02:06 1-1 P2\n"));
        QVERIFY(!rec.chapters.isRecording());

        // The hotkey with nothing recording, and with chapters off, says why it added none.
        rec.chapters.addNow();
        app().settings().setChaptersEnabled(false);
        rec.marked.clear();
        rec.chapters.recordingStarted(makeFile(dir.filePath(QStringLiteral("off.mkv"))));
        applyLive({{QStringLiteral("home_score"), 5}});
        rec.chapters.addNow();
        rec.chapters.recordingStopped();
        QVERIFY(rec.marked.isEmpty());
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("off.scores.txt"))));
        app().settings().setChaptersEnabled(true);
        QStringList said;
        for (const QList<QVariant> &notice : notices)
            said << notice.value(0).toString();
        QCOMPARE(said, (QStringList{"Chapter added: 1-1 P2", "No chapter added: nothing is recording.",
                                    "No chapter added: chapters are off for this recording (see Recordings)."}));
    }

    void recordingFollowsItsDevice_data()
    {
        // The device chosen when the recording starts; a choice made during it; what becomes
        // of that device during it (unfollowed, made main); and the chapters, the log and the
        // notice.
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("chosenDuring");
        QTest::addColumn<QString>("during");
        QTest::addColumn<QStringList>("marked");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("notice");
        const QString main = QStringLiteral("0:00:00 0-0\n0:00:20 1-0\n0:01:00 1-1\n");
        const QString court = QStringLiteral("0:00:00 10-10\n0:00:40 11-10\n0:01:20 11-11\n");
        QTest::newRow("the main device by default") << "" << "" << "" << QStringList{"0-0", "1-0", "1-1"} << main << "";
        QTest::newRow("a followed device") << "CV-7" << "CV-7" << "" << QStringList{"10-10", "11-10", "11-11"} << court << "";
        QTest::newRow("chosen anew during the recording")
            << "CV-7" << "" << "" << QStringList{"10-10", "11-10", "11-11"} << court << "";
        QTest::newRow("unfollowed during the recording")
            << "CV-7" << "CV-7" << "unfollow" << QStringList{"10-10", "11-10"} << "0:00:00 10-10\n0:00:40 11-10\n"
            << "Chapters of this recording have stopped: CV-7 is no longer followed. The game log keeps those made so far.";
        QTest::newRow("not followed when it starts")
            << "CV-8" << "CV-8" << "" << QStringList{} << "(none)"
            << "No chapters for this recording: CV-8 is not followed (see Recordings).";
        // Last: the main route keeps CV-7 afterwards.
        QTest::newRow("made main during the recording")
            << "CV-7" << "CV-7" << "make main" << QStringList{"10-10", "11-10", "11-1"} << "0:00:00 10-10\n0:00:40 11-10\n0:01:00 11-1\n" << "";
    }
    void recordingFollowsItsDevice()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, chosenDuring);
        QFETCH(QString, during);
        QFETCH(QStringList, marked);
        QFETCH(QString, log);
        QFETCH(QString, notice);
        QTemporaryDir dir;
        app().settings().setChapterTemplate(QStringLiteral("{home_score}-{away_score}"));
        app().settings().setChapterChanges(QStringLiteral("score"));
        const QString courtId = QStringLiteral("CV-7");
        QVERIFY(app().followDevice({courtId, FollowedRoute::Cloud}));
        // Kept past an unfollow, as a reader on another thread may keep it.
        const std::shared_ptr<DeviceLive> court = app().followed()->dataOf(courtId);
        court->live().apply({{QStringLiteral("home_score"), 10}, {QStringLiteral("away_score"), 10}});
        applyLive(startingState());
        app().settings().setChapterDevice(chosen);
        Recording rec(dir.filePath(QStringLiteral("kept")));
        QSignalSpy notices(&app(), &App::recordingNotice);

        rec.chapters.recordingStarted(makeFile(dir.filePath(QStringLiteral("game.mp4"))));
        rec.score(20000, QStringLiteral("home_score"), 1);
        rec.now = 40000;
        court->live().apply({{QStringLiteral("home_score"), 11}});
        app().settings().setChapterDevice(chosenDuring);
        if (during == QLatin1String("unfollow"))
            QVERIFY(app().followed()->unfollow(courtId));
        if (during == QLatin1String("make main")) {
            app().selectDevice(courtId);
            applyLive({{QStringLiteral("home_score"), 11}, {QStringLiteral("away_score"), 10}});
        }
        rec.score(60000, QStringLiteral("away_score"), 1);
        rec.now = 80000;
        court->live().apply({{QStringLiteral("away_score"), 11}});
        rec.chapters.recordingStopped();

        app().followed()->unfollow(courtId);
        app().settings().setChapterDevice(QString());
        QCOMPARE(rec.marked, marked);
        QCOMPARE(readFile(dir.filePath(QStringLiteral("game.scores.txt"))), log);
        QStringList said;
        for (const QList<QVariant> &told : notices)
            said << told.value(0).toString();
        QCOMPARE(said, notice.isEmpty() ? QStringList() : QStringList{notice});
    }

    void splitRecordingGetsALogPerFile()
    {
        // Each file timed from its own start, opening on the state shown when it began.
        QTemporaryDir dir;
        app().settings().setChapterTemplate(QStringLiteral("{home_score}-{away_score}"));
        app().settings().setChapterChanges(QStringLiteral("both"));
        Recording rec(dir.filePath(QStringLiteral("kept")));
        applyLive(startingState());
        rec.chapters.recordingStarted(makeFile(dir.filePath(QStringLiteral("a.mp4"))));
        rec.score(12000, QStringLiteral("home_score"), 1);
        rec.now = 30000;
        rec.chapters.fileChanged(makeFile(dir.filePath(QStringLiteral("b.mp4"))));
        QTRY_COMPARE(rec.marked.size(), 3);
        rec.score(45000, QStringLiteral("away_score"), 1);
        rec.chapters.recordingStopped(dir.filePath(QStringLiteral("b.mp4")));

        QCOMPARE(rec.marked, (QStringList{"0-0", "1-0", "1-0", "1-1"}));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("a.scores.txt"))), QStringLiteral("0:00:00 0-0\n0:00:12 1-0\n"));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("b.scores.txt"))), QStringLiteral("0:00:00 1-0\n0:00:15 1-1\n"));
    }

    void hotkeyNoticeSaysWhereTheChapterWent_data()
    {
        // What OBS's chapter call does (takes it; refuses it, as for an MKV recording;
        // missing, as in OBS 30.0), whether the recording is paused, and what the dock says.
        QTest::addColumn<QString>("call");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<QString>("notice");
        QTest::newRow("taken") << "takes" << false << "Chapter added: 0-0";
        QTest::newRow("taken on resuming") << "takes" << true << "Chapter added where the recording resumes: 0-0";
        QTest::newRow("format without markers")
            << "refuses" << false
            << "Chapter added to the game log only: 0-0 (this recording's format takes no chapter markers; Hybrid MP4 and MOV do).";
        QTest::newRow("OBS without the call")
            << "missing" << false << "Chapter added to the game log only: 0-0 (this OBS cannot add chapter markers; OBS 30.2 and later can).";
    }

    void hotkeyNoticeSaysWhereTheChapterWent()
    {
        QFETCH(QString, call);
        QFETCH(bool, paused);
        QFETCH(QString, notice);
        QTemporaryDir dir;
        app().settings().setChapterTemplate(QStringLiteral("{home_score}-{away_score}"));
        Recording rec(dir.filePath(QStringLiteral("kept")));
        if (call == QLatin1String("refuses"))
            rec.chapters.setAddChapterForTesting([](const QString &) { return false; });
        else if (call == QLatin1String("missing"))
            rec.chapters.setAddChapterForTesting({});
        rec.chapters.recordingStarted(makeFile(dir.filePath(QStringLiteral("game.mkv"))));
        if (paused)
            rec.chapters.recordingPaused();
        applyLive(startingState());
        QSignalSpy notices(&app(), &App::recordingNotice);
        rec.chapters.addNow();
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.first().value(0).toString(), notice);
        rec.chapters.recordingStopped();
    }

    void newFileOpeningWaitsOutAPause()
    {
        // A pause that begins before the new file's opening chapter went to OBS (OBS takes
        // none while paused): it goes in on resuming, or leaves the log if the pause lasts.
        QTemporaryDir dir;
        app().settings().setChapterTemplate(QStringLiteral("{home_score}-{away_score}"));
        for (const bool resumes : {true, false}) {
            Recording rec(dir.filePath(QStringLiteral("kept")));
            applyLive(startingState());
            rec.chapters.recordingStarted(makeFile(dir.filePath(QStringLiteral("a.mp4"))));
            rec.now = 30000;
            rec.chapters.fileChanged(makeFile(dir.filePath(QStringLiteral("b.mp4"))));
            rec.chapters.recordingPaused();
            QCoreApplication::processEvents();
            rec.now = 40000;
            if (resumes)
                rec.chapters.recordingUnpaused();
            QCoreApplication::processEvents();
            rec.chapters.recordingStopped();
            QCOMPARE(rec.marked, resumes ? (QStringList{"0-0", "0-0"}) : (QStringList{"0-0"}));
            QCOMPARE(readFile(dir.filePath(QStringLiteral("b.scores.txt"))), resumes ? QStringLiteral("0:00:00 0-0\n") : QStringLiteral("(none)"));
            QFile::remove(dir.filePath(QStringLiteral("b.scores.txt")));
        }
    }

    void fileAndLogHoldTheSameChapters()
    {
        // During a pause the recording takes one chapter, the last asked for, where it
        // resumes, and none when it stops before resuming; from "stopping" on it takes none;
        // changes closer than the spacing merge.
        QTemporaryDir dir;
        app().settings().setChapterTemplate(QStringLiteral("{home_score}-{away_score}"));
        Recording rec(dir.filePath(QStringLiteral("kept")));
        applyLive(startingState());
        rec.chapters.recordingStarted(makeFile(dir.filePath(QStringLiteral("game.mp4"))));
        rec.score(3000, QStringLiteral("home_score"), 1); // within 10 s of the first: waits
        rec.score(6000, QStringLiteral("home_score"), 2);
        rec.now = 10000;
        rec.chapters.runDueForTesting();
        rec.now = 20000;
        rec.chapters.recordingPaused();
        rec.score(40000, QStringLiteral("away_score"), 1);
        rec.score(55000, QStringLiteral("away_score"), 2);
        rec.now = 60000;
        rec.chapters.recordingUnpaused();
        rec.now = 90000;
        rec.chapters.recordingStopping();
        rec.score(91000, QStringLiteral("away_score"), 3);
        rec.chapters.recordingStopped();

        QCOMPARE(rec.marked, (QStringList{"0-0", "2-0", "2-2"}));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("game.scores.txt"))),
                 QStringLiteral("0:00:00 0-0\n0:00:10 2-0\n0:00:20 2-2\n"));

        // A pause that lasts until the recording stops: what was asked for in it reaches
        // neither the file nor the log.
        rec.marked.clear();
        rec.now = 100000;
        rec.chapters.recordingStarted(makeFile(dir.filePath(QStringLiteral("paused.mp4"))));
        rec.now = 110000;
        rec.chapters.recordingPaused();
        rec.score(125000, QStringLiteral("home_score"), 3);
        rec.chapters.recordingStopped();
        QCOMPARE(rec.marked, QStringList{"2-3"});
        QCOMPARE(readFile(dir.filePath(QStringLiteral("paused.scores.txt"))), QStringLiteral("0:00:00 2-3\n"));
    }

    void recordingUnderWayAtStartGetsChapters()
    {
        // OBS started with --startrecording, or recording before the plugin's start: no
        // "recording started" will come.
        app().settings().setChapterTemplate(QStringLiteral("{home_score}-{away_score}"));
        applyLive(startingState());
        GameProduction::stop();
        GameProduction::setRecordingActiveForTesting([] { return true; });
        GameProduction::start(&app());
        GameProduction::setRecordingActiveForTesting(nullptr);
        RecordingChapters *chapters = GameProduction::chapters();
        QVERIFY(chapters && chapters->isRecording());
        QCOMPARE(chapters->log().entries().size(), 1);
        QCOMPARE(chapters->log().entries().first().text, QStringLiteral("0-0"));
        chapters->setFallbackFolderForTesting(m_logs.path());
        GameProduction::stop();
        GameProduction::start(&app());
        QVERIFY(Hotkeys::isRegistered());
    }

    void logGoesWhereItCanBeFound_data()
    {
        // What the output names (a file this recording made, a URL, nothing), what OBS's
        // last recording names, and where the log must go: beside, or the plugin's folder.
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("lastRecording");
        QTest::addColumn<bool>("blockBeside");
        QTest::addColumn<QString>("log");

        QTest::newRow("beside its file") << "game.mp4" << "" << false << "game.scores.txt";
        QTest::newRow("cannot write beside") << "game.mp4" << "" << true << "kept/game.scores.txt";
        QTest::newRow("to a URL") << "rtmp://127.0.0.1/live" << "old.mp4" << false << "kept/recording";
        QTest::newRow("no file named, last recording is older") << "" << "old.mp4" << false << "kept/recording";
    }

    void logGoesWhereItCanBeFound()
    {
        QFETCH(QString, output);
        QFETCH(QString, lastRecording);
        QFETCH(bool, blockBeside);
        QFETCH(QString, log);
        QTemporaryDir dir;
        // An earlier recording with its log, which no later recording may overwrite.
        makeFile(dir.filePath(QStringLiteral("old.mp4")), 3600);
        QFile earlier(dir.filePath(QStringLiteral("old.scores.txt")));
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("0:00:00 earlier game\n");
        earlier.close();
        if (blockBeside)
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("game.scores.txt")));
        const QString outputPath = output.contains(QLatin1Char('/')) || output.isEmpty() ? output : makeFile(dir.filePath(output));
        app().settings().setChapterTemplate(QStringLiteral("{home_score}-{away_score}"));
        Recording rec(dir.filePath(QStringLiteral("kept")));
        QSignalSpy notices(&app(), &App::recordingNotice);
        applyLive(startingState());
        rec.chapters.recordingStarted(outputPath);
        rec.chapters.recordingStopped(lastRecording.isEmpty() ? QString() : dir.filePath(lastRecording));

        QCOMPARE(readFile(dir.filePath(QStringLiteral("old.scores.txt"))), QStringLiteral("0:00:00 earlier game\n"));
        const QDir kept(dir.filePath(QStringLiteral("kept")));
        const QStringList keptLogs = kept.entryList(QDir::Files);
        if (!log.startsWith(QLatin1String("kept/"))) {
            QCOMPARE(readFile(dir.filePath(log)), QStringLiteral("0:00:00 0-0\n"));
            QVERIFY(keptLogs.isEmpty());
            QCOMPARE(notices.size(), 0);
            return;
        }
        // Kept in the plugin's folder, and the operator told where.
        QCOMPARE(keptLogs.size(), 1);
        QVERIFY2(keptLogs.first().startsWith(log.mid(5)) && keptLogs.first().endsWith(QLatin1String(".scores.txt")),
                 qPrintable(keptLogs.first()));
        QCOMPARE(notices.size(), 1);
        QVERIFY(notices.first().value(0).toString().contains(kept.filePath(keptLogs.first())));
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
            chapters.recordingStarted(makeFile(dir.filePath(name)));
            applyLive({{QStringLiteral("home_score"), name.size()}});
            chapters.recordingStopped();
        }
        setLogSink(previous);
        QCOMPARE(g_logLines.filter(QStringLiteral("cannot add chapter markers")).size(), 1);
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("first.scores.txt"))));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("second.scores.txt"))));
    }
};

QTEST_GUILESS_MAIN(TestGameProduction)
#include "tst_GameProduction.moc"
