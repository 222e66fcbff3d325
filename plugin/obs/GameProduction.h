#pragma once

#include <functional>

namespace corvane {

class App;
class RecordingChapters;

// The game production's side of OBS: the hotkeys, and the recording followed through
// OBS's front-end events and the recording output's own signals (its file changes at each
// split, which no front-end event reports) into chapters and game logs.
class GameProduction {
public:
    // Registers the hotkeys and follows recordings, one already under way included.
    static void start(App *app);
    // At unload: a recording still under way gets its log, then everything is released.
    static void stop();
    static RecordingChapters *chapters();

    // Test seam: whether OBS records when the production starts (null: ask OBS).
    static void setRecordingActiveForTesting(std::function<bool()> active);
};

} // namespace corvane
