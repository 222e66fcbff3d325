#pragma once

// A stand-in "browser_source" for libobs tests (Debian's OBS ships no browser source): it
// draws nothing and only remembers the newest one made and how often it was told settings.
#include <obs.h>

#include <atomic>

namespace corvane::test {

inline obs_source_t *g_browserChild = nullptr; // the newest stand-in browser source
inline std::atomic<int> g_browserUpdates{0}; // OBS may update from its video thread

inline void registerStandInBrowser()
{
    obs_source_info info = {};
    info.id = "browser_source";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = [](void *) { return "Browser (test stand-in)"; };
    info.create = [](obs_data_t *, obs_source_t *source) -> void * {
        g_browserChild = source;
        ++g_browserUpdates;
        return &g_browserChild;
    };
    info.destroy = [](void *) {};
    info.update = [](void *, obs_data_t *) { ++g_browserUpdates; };
    info.get_width = [](void *) -> uint32_t { return 0; };
    info.get_height = [](void *) -> uint32_t { return 0; };
    obs_register_source(&info);
}

} // namespace corvane::test
