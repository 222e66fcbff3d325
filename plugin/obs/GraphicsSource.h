#pragma once

struct obs_source;

namespace corvane {

// One `corvane_graphics` source: one of the account's cloud graphics outputs, drawn by a
// private OBS browser source that this source keeps pointed at the output's page.
struct GraphicsSource {
    static constexpr int kDefaultWidth = 1920;
    static constexpr int kDefaultHeight = 1080;

    obs_source *source = nullptr; // the corvane_graphics source; not referenced
    obs_source *child = nullptr;  // the private browser source; we hold its one reference
    int width = kDefaultWidth;
    int height = kDefaultHeight;

    // Registers the `corvane_graphics` type with OBS unless it is known already.
    static void registerType();
};

} // namespace corvane
