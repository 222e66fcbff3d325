#pragma once

#include <functional>

struct obs_scene;

namespace corvane {

// The Corvane score texts and graphics placed in OBS's scenes.
class CorvaneSources {
public:
    // Shows the Corvane score texts and graphics of the current scene (groups included)
    // when all are hidden, else hides them all. False when there is none to toggle.
    static bool toggleCorvaneSources();
    static bool toggleCorvaneSources(obs_scene *scene);

    // Test seam: runs between finding the scene's items and acting on them, where another
    // thread (obs-websocket's RemoveSceneItem) may remove one.
    static void setAfterCollectForTesting(std::function<void()> hook);
};

} // namespace corvane
