#include "obs/CorvaneSources.h"

#include <obs-frontend-api.h>
#include <obs.h>

#include <QByteArray>
#include <QList>

namespace corvane {

namespace {

std::function<void()> g_afterCollect;

bool isCorvaneSource(obs_source_t *source)
{
    const char *id = obs_source_get_id(source);
    return qstrcmp(id, "corvane_text") == 0 || qstrcmp(id, "corvane_graphics") == 0;
}

// The scene's Corvane items, those inside groups too, each with a reference of its own:
// once the enumeration ends, only that keeps an item removed meanwhile alive.
bool collectCorvaneItems(obs_scene_t *, obs_sceneitem_t *item, void *param)
{
    auto *items = static_cast<QList<obs_sceneitem_t *> *>(param);
    if (obs_sceneitem_is_group(item)) {
        obs_sceneitem_group_enum_items(item, collectCorvaneItems, param);
    } else if (isCorvaneSource(obs_sceneitem_get_source(item))) {
        obs_sceneitem_addref(item);
        items->append(item); // released once acted on
    }
    return true;
}

} // namespace

bool CorvaneSources::toggleCorvaneSources()
{
    obs_source_t *sceneSource = obs_frontend_get_current_scene();
    if (!sceneSource)
        return false;
    const bool toggled = toggleCorvaneSources(obs_scene_from_source(sceneSource));
    obs_source_release(sceneSource);
    return toggled;
}

bool CorvaneSources::toggleCorvaneSources(obs_scene *scene)
{
    QList<obs_sceneitem_t *> items;
    obs_scene_enum_items(scene, collectCorvaneItems, &items);
    if (g_afterCollect)
        g_afterCollect();
    bool anyShown = false;
    for (obs_sceneitem_t *item : items)
        anyShown = anyShown || obs_sceneitem_visible(item);
    for (obs_sceneitem_t *item : items) {
        obs_sceneitem_set_visible(item, !anyShown);
        obs_sceneitem_release(item);
    }
    return !items.isEmpty();
}

void CorvaneSources::setAfterCollectForTesting(std::function<void()> hook)
{
    g_afterCollect = std::move(hook);
}

} // namespace corvane
