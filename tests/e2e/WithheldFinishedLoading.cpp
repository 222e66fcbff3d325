// Preloaded into real OBS by obs-deferred-start.sh: stands in for the front end's callback
// calls so that every event reaches every callback as usual, except that the plugin's
// callbacks never hear "finished loading". OBS then quits before the plugin has started.
#include <obs-frontend-api.h>

#include <dlfcn.h>

#include <cstring>

namespace {

using AddFn = void (*)(obs_frontend_event_cb, void *);
using RemoveFn = void (*)(obs_frontend_event_cb, void *);

// One per registration of a plugin callback; kept after removal, since OBS may still be
// walking its list.
struct Registration {
    obs_frontend_event_cb callback = nullptr;
    void *data = nullptr;
    bool active = false;
};
Registration g_registrations[32];

template <typename Fn> Fn next(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

bool fromPlugin(obs_frontend_event_cb callback)
{
    Dl_info info{};
    return dladdr(reinterpret_cast<void *>(callback), &info) && info.dli_fname &&
           std::strstr(info.dli_fname, "corvane-obs") != nullptr;
}

void withholdFinishedLoading(obs_frontend_event event, void *registration)
{
    const auto *r = static_cast<Registration *>(registration);
    if (event != OBS_FRONTEND_EVENT_FINISHED_LOADING)
        r->callback(event, r->data);
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void obs_frontend_add_event_callback(obs_frontend_event_cb callback, void *data)
{
    const auto add = next<AddFn>("obs_frontend_add_event_callback");
    if (!fromPlugin(callback)) {
        add(callback, data);
        return;
    }
    for (Registration &r : g_registrations) {
        if (!r.callback) {
            r = Registration{callback, data, true};
            add(withholdFinishedLoading, &r);
            return;
        }
    }
}

__attribute__((visibility("default"))) void obs_frontend_remove_event_callback(obs_frontend_event_cb callback, void *data)
{
    const auto remove = next<RemoveFn>("obs_frontend_remove_event_callback");
    for (Registration &r : g_registrations) {
        if (r.active && r.callback == callback && r.data == data) {
            r.active = false;
            remove(withholdFinishedLoading, &r);
            return;
        }
    }
    remove(callback, data);
}

} // extern "C"
