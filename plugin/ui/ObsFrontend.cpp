#include "ui/ObsFrontend.h"

#include "ui/DockText.h"

#include <obs-frontend-api.h>
#include <obs.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace corvane {

namespace {

constexpr char kBrowserSource[] = "browser_source";

bool sourceExists(const QString &name)
{
    obs_source_t *source = obs_get_source_by_name(name.toUtf8().constData());
    obs_source_release(source);
    return source != nullptr;
}

} // namespace

bool ObsFrontend::addSourceToScene(const char *typeId, const QString &baseName)
{
    obs_source_t *sceneSource = obs_frontend_get_current_scene();
    if (!sceneSource)
        return false;
    const bool added = addSourceToScene(obs_scene_from_source(sceneSource), typeId, baseName);
    obs_source_release(sceneSource);
    return added;
}

bool ObsFrontend::addSourceToScene(obs_scene *scene, const char *typeId, const QString &baseName)
{
    obs_data_t *settings = obs_data_create();
    if (qstrcmp(typeId, "corvane_text") == 0)
        obs_data_set_string(settings, "template", "{home_score} - {away_score}");
    const bool added = addSourceWithSettings(scene, typeId, baseName, settings);
    obs_data_release(settings);
    return added;
}

namespace {

const char *g_chapterCallName = "obs_frontend_recording_add_chapter";

} // namespace

ObsFrontend::AddRecordingChapter ObsFrontend::recordingChapterCall()
{
#ifdef _WIN32
    HMODULE frontend = GetModuleHandleW(L"obs-frontend-api.dll");
    FARPROC call = frontend ? GetProcAddress(frontend, g_chapterCallName) : nullptr;
    return reinterpret_cast<AddRecordingChapter>(reinterpret_cast<void *>(call));
#else
    return reinterpret_cast<AddRecordingChapter>(dlsym(RTLD_DEFAULT, g_chapterCallName));
#endif
}

void ObsFrontend::setRecordingChapterCallNameForTesting(const char *name)
{
    g_chapterCallName = name;
}

bool ObsFrontend::hasSourceType(const char *typeId)
{
    // libobs's lists exist only once OBS has started it.
    if (!obs_initialized())
        return false;
    const char *type = nullptr;
    for (size_t i = 0; obs_enum_input_types(i, &type); ++i) {
        if (qstrcmp(type, typeId) == 0)
            return true;
    }
    return false;
}

bool ObsFrontend::addBrowserSourceToScene(const QString &url, const QString &baseName)
{
    if (!hasSourceType(kBrowserSource))
        return false;
    obs_source_t *sceneSource = obs_frontend_get_current_scene();
    if (!sceneSource)
        return false;
    obs_video_info video{};
    const bool haveVideo = obs_get_video_info(&video);
    obs_data_t *settings = obs_data_create();
    obs_data_set_string(settings, "url", url.toUtf8().constData());
    obs_data_set_bool(settings, "is_local_file", false);
    obs_data_set_int(settings, "width", haveVideo ? video.base_width : 1920);
    obs_data_set_int(settings, "height", haveVideo ? video.base_height : 1080);
    const bool added = addSourceWithSettings(obs_scene_from_source(sceneSource), kBrowserSource, baseName, settings);
    obs_data_release(settings);
    obs_source_release(sceneSource);
    return added;
}

bool ObsFrontend::addSourceWithSettings(obs_scene *scene, const char *typeId, const QString &baseName, obs_data *settings)
{
    const QString name = uniqueSourceName(baseName, sourceExists);
    obs_source_t *source = obs_source_create(typeId, name.toUtf8().constData(), settings, nullptr);
    if (!source)
        return false;
    obs_scene_add(scene, source);
    obs_frontend_open_source_properties(source);
    obs_source_release(source);
    return true;
}

bool ObsFrontend::isStreamingOrRecording()
{
    return obs_frontend_streaming_active() || obs_frontend_recording_active();
}

} // namespace corvane
