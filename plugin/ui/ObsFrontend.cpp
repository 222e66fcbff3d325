#include "ui/ObsFrontend.h"

#include "ui/DockText.h"

#include <obs-frontend-api.h>
#include <obs.h>

namespace corvane {

namespace {

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
    const QString name = uniqueSourceName(baseName, sourceExists);
    obs_data_t *settings = obs_data_create();
    if (qstrcmp(typeId, "corvane_text") == 0)
        obs_data_set_string(settings, "template", "{home_score} - {away_score}");
    obs_source_t *source = obs_source_create(typeId, name.toUtf8().constData(), settings, nullptr);
    obs_data_release(settings);
    if (source) {
        obs_scene_add(obs_scene_from_source(sceneSource), source);
        obs_frontend_open_source_properties(source);
        obs_source_release(source);
    }
    obs_source_release(sceneSource);
    return source != nullptr;
}

bool ObsFrontend::isStreamingOrRecording()
{
    return obs_frontend_streaming_active() || obs_frontend_recording_active();
}

} // namespace corvane
