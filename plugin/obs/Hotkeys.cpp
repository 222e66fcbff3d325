#include "obs/Hotkeys.h"

#include "app/App.h"
#include "base/Log.h"

#include <obs-frontend-api.h>
#include <obs.h>
#include <util/config-file.h>

#include <cstdint>
#include <iterator>

namespace corvane {

const Hotkeys::Entry Hotkeys::kEntries[6] = {
    {Action::Hold, "corvane.hold_scores", "Corvane: Hold live scores"},
    {Action::Resume, "corvane.resume_scores", "Corvane: Resume live scores"},
    {Action::ToggleSources, "corvane.toggle_sources", "Corvane: Show or hide Corvane sources in this scene"},
    {Action::Chapter, "corvane.add_chapter", "Corvane: Add a chapter marker now"},
    {Action::HoldAll, "corvane.hold_all_scores", "Corvane: Hold live scores of every device"},
    {Action::ResumeAll, "corvane.resume_all_scores", "Corvane: Resume live scores of every device"},
};

namespace {

obs_hotkey_id g_ids[std::size(Hotkeys::kEntries)];
bool g_registered = false;
std::function<void(Hotkeys::Action)> g_act;
bool g_frontendCallback = false;

// OBS calls this on its hotkey thread, or on its user-interface thread when it routes
// hotkeys there; either way the work is posted to App's thread. A binding's release is
// not an action.
void onHotkey(void *data, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
    App *app = App::instance();
    if (!pressed || !app)
        return;
    const auto action = static_cast<Hotkeys::Action>(reinterpret_cast<std::uintptr_t>(data));
    app->post([action] {
        if (g_act)
            g_act(action);
    });
}

void onFrontendEvent(obs_frontend_event event, void *)
{
    if (event == OBS_FRONTEND_EVENT_PROFILE_CHANGED) {
        Hotkeys::loadBindings(obs_frontend_get_profile_config());
    } else if (event == OBS_FRONTEND_EVENT_EXIT) {
        // It may go while it runs; at unload the front end takes no removals any more.
        obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
        g_frontendCallback = false;
    }
}

} // namespace

void Hotkeys::registerAll(std::function<void(Action)> act)
{
    g_act = std::move(act);
    if (g_registered)
        return;
    for (std::size_t i = 0; i < std::size(kEntries); ++i) {
        void *data = reinterpret_cast<void *>(static_cast<std::uintptr_t>(kEntries[i].action));
        g_ids[i] = obs_hotkey_register_frontend(kEntries[i].name, kEntries[i].description, onHotkey, data);
    }
    g_registered = true;
    loadBindings(obs_frontend_get_profile_config());
    obs_frontend_add_event_callback(onFrontendEvent, nullptr);
    g_frontendCallback = true;
}

void Hotkeys::unregisterAll()
{
    if (!g_registered)
        return;
    if (g_frontendCallback)
        obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
    g_frontendCallback = false;
    // Once this returns no callback of ours runs: OBS calls them under its hotkeys lock.
    for (obs_hotkey_id id : g_ids)
        obs_hotkey_unregister(id);
    g_registered = false;
    g_act = nullptr;
}

void Hotkeys::loadBindings(config_data *config)
{
    if (!config || !g_registered)
        return;
    for (std::size_t i = 0; i < std::size(kEntries); ++i) {
        // {"bindings": [...]}, as OBS's settings window writes it.
        const char *json = config_get_string(config, "Hotkeys", kEntries[i].name);
        obs_data_t *data = json ? obs_data_create_from_json(json) : nullptr;
        obs_data_array_t *bindings = data ? obs_data_get_array(data, "bindings") : nullptr;
        // Also without a saved entry: a profile switch must not keep the last profile's keys.
        obs_hotkey_load(g_ids[i], bindings);
        obs_data_array_release(bindings);
        obs_data_release(data);
    }
}

bool Hotkeys::isRegistered()
{
    return g_registered;
}

} // namespace corvane
