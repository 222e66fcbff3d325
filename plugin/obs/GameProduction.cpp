#include "obs/GameProduction.h"

#include "app/App.h"
#include "app/FollowedDevices.h"
#include "obs/CorvaneSources.h"
#include "obs/Hotkeys.h"
#include "obs/RecordingChapters.h"

#include <obs-frontend-api.h>
#include <obs.h>

#include <QPointer>

namespace corvane {

namespace {

RecordingChapters *g_chapters = nullptr;
bool g_frontendCallback = false;
// The recording output whose signals we follow, with a reference of our own.
obs_output_t *g_output = nullptr;
std::function<bool()> g_recordingActiveForTesting;

bool recordingUnderWay()
{
    return g_recordingActiveForTesting ? g_recordingActiveForTesting() : obs_frontend_recording_active();
}

// The file the output writes first: "path" for OBS's file outputs, "url" for its FFmpeg
// output (a file or a network address).
QString firstFile(obs_output_t *output)
{
    obs_data_t *settings = obs_output_get_settings(output);
    QString path = QString::fromUtf8(obs_data_get_string(settings, "path"));
    if (path.isEmpty())
        path = QString::fromUtf8(obs_data_get_string(settings, "url"));
    obs_data_release(settings);
    return path;
}

qint64 recordedMs(obs_output_t *output)
{
    obs_video_info video{};
    if (!obs_get_video_info(&video) || video.fps_num == 0)
        return 0;
    return qint64(obs_output_get_total_frames(output)) * 1000 * video.fps_den / video.fps_num;
}

// On the output's thread, as the muxer moves to the next file of a split recording.
void onFileChanged(void *, calldata_t *data)
{
    App *app = App::instance();
    if (!app)
        return;
    const QString next = QString::fromUtf8(calldata_string(data, "next_file"));
    QPointer<RecordingChapters> chapters = g_chapters;
    app->post([chapters, next] {
        if (chapters)
            chapters->fileChanged(next);
    });
}

void followOutput()
{
    if (g_output)
        return;
    g_output = obs_frontend_get_recording_output();
    if (g_output)
        signal_handler_connect(obs_output_get_signal_handler(g_output), "file_changed", onFileChanged, nullptr);
}

void stopFollowingOutput()
{
    if (!g_output)
        return;
    signal_handler_disconnect(obs_output_get_signal_handler(g_output), "file_changed", onFileChanged, nullptr);
    obs_output_release(g_output);
    g_output = nullptr;
}

// The log of a recording under way, when OBS quits or the plugin unloads.
void finishRecording()
{
    if (g_chapters)
        g_chapters->finish();
}

void recordingStarted()
{
    followOutput();
    g_chapters->recordingStarted(g_output ? firstFile(g_output) : QString(), g_output ? recordedMs(g_output) : 0);
}

void recordingStopped()
{
    stopFollowingOutput();
    char *path = obs_frontend_get_last_recording();
    g_chapters->recordingStopped(path ? QString::fromUtf8(path) : QString());
    bfree(path);
}

void onRecordingEvent(obs_frontend_event event, void *)
{
    if (!g_chapters)
        return;
    switch (event) {
    case OBS_FRONTEND_EVENT_RECORDING_STARTED:
        recordingStarted();
        break;
    case OBS_FRONTEND_EVENT_RECORDING_PAUSED:
        g_chapters->recordingPaused();
        break;
    case OBS_FRONTEND_EVENT_RECORDING_UNPAUSED:
        g_chapters->recordingUnpaused();
        break;
    case OBS_FRONTEND_EVENT_RECORDING_STOPPING:
        g_chapters->recordingStopping();
        break;
    case OBS_FRONTEND_EVENT_RECORDING_STOPPED:
        recordingStopped();
        break;
    case OBS_FRONTEND_EVENT_EXIT:
        // OBS stops a recording only after this, with its front end gone: no event would
        // tell us, and unload comes too late for the output's signals.
        finishRecording();
        stopFollowingOutput();
        // It may go while it runs; at unload the front end takes no removals any more.
        obs_frontend_remove_event_callback(onRecordingEvent, nullptr);
        g_frontendCallback = false;
        break;
    default:
        break;
    }
}

// The main device and every followed one.
void setAllHeld(App *app, bool held)
{
    app->shown().setHeld(held);
    for (const QString &id : app->followed()->ids())
        app->shownOf(id)->setHeld(held);
}

void runHotkey(Hotkeys::Action action)
{
    App *app = App::instance();
    if (!app)
        return;
    switch (action) {
    case Hotkeys::Action::Hold:
        app->shown().hold();
        break;
    case Hotkeys::Action::Resume:
        app->shown().resume();
        break;
    case Hotkeys::Action::ToggleSources:
        CorvaneSources::toggleCorvaneSources();
        break;
    case Hotkeys::Action::Chapter:
        if (g_chapters)
            g_chapters->addNow();
        break;
    case Hotkeys::Action::HoldAll:
    case Hotkeys::Action::ResumeAll:
        setAllHeld(app, action == Hotkeys::Action::HoldAll);
        break;
    }
}

} // namespace

void GameProduction::start(App *app)
{
    if (!g_chapters) {
        g_chapters = new RecordingChapters(app);
        obs_frontend_add_event_callback(onRecordingEvent, nullptr);
        g_frontendCallback = true;
        // OBS started with --startrecording, or a start before ours: no event will come.
        if (recordingUnderWay()) {
            recordingStarted();
            if (obs_frontend_recording_paused())
                g_chapters->recordingPaused();
        }
    }
    if (obs_initialized())
        Hotkeys::registerAll(runHotkey);
}

void GameProduction::stop()
{
    Hotkeys::unregisterAll();
    if (g_frontendCallback)
        obs_frontend_remove_event_callback(onRecordingEvent, nullptr);
    g_frontendCallback = false;
    stopFollowingOutput();
    finishRecording();
    delete g_chapters;
    g_chapters = nullptr;
}

RecordingChapters *GameProduction::chapters()
{
    return g_chapters;
}

void GameProduction::setRecordingActiveForTesting(std::function<bool()> active)
{
    g_recordingActiveForTesting = std::move(active);
}

} // namespace corvane
