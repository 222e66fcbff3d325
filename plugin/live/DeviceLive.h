#pragma once

#include "live/LiveData.h"
#include "live/ShownScores.h"

#include <memory>

namespace corvane {

// One followed device's scoreboard and what the production shows of it. Readers on OBS's
// threads share it, so a device unfollowed while one reads stays whole until the reader
// lets go; the last owner deletes it on the thread it lives on.
class DeviceLive {
public:
    // On the thread the objects are to live on (the user-interface thread in the plugin).
    static std::shared_ptr<DeviceLive> create();

    LiveData &live() { return m_live; }
    ShownScores &shown() { return m_shown; }

private:
    DeviceLive() = default;

    LiveData m_live;
    ShownScores m_shown{&m_live};
};

} // namespace corvane
