#pragma once

#include <atomic>
#include <memory>

struct obs_source;

namespace corvane {

// One `corvane_graphics` source: one of the account's cloud graphics outputs, drawn by a
// private OBS browser source that this source keeps pointed at the output's page.
struct GraphicsSource {
    static constexpr int kDefaultWidth = 1920;
    static constexpr int kDefaultHeight = 1080;

    // Whether a press of "Refresh" is being answered; on the user-interface thread only, and
    // shared with the answer, which may come after the source is gone.
    struct Refresh {
        bool running = false;
    };

    obs_source *source = nullptr; // the corvane_graphics source; not referenced
    obs_source *child = nullptr;  // the private browser source; we hold its one reference
    // Written by updates, read by OBS's size queries, which may run on other threads.
    std::atomic<int> width{kDefaultWidth};
    std::atomic<int> height{kDefaultHeight};
    std::shared_ptr<Refresh> refresh;

    // Registers the `corvane_graphics` type with OBS unless it is known already.
    static void registerType();
};

} // namespace corvane
