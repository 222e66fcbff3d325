#pragma once

#include "live/ScoreState.h"

#include <QObject>

#include <mutex>

namespace corvane {

class LiveData;

// What the production shows: the live scoreboard, or while held the state it showed when
// the hold began. Score texts, "show when" filters, chapter markers and obs-websocket's
// events read this; the dock, the hosted server and the device views keep reading the
// live data, so the operator still sees the game while the picture is held.
class ShownScores : public QObject {
    Q_OBJECT
public:
    explicit ShownScores(LiveData *live, QObject *parent = nullptr);

    // Any thread.
    ScoreState state() const;
    bool isHeld() const;

    // User-interface thread. A hold while held, or a resume while not, changes nothing.
    void hold();
    void resume();
    void setHeld(bool held) { held ? hold() : resume(); }

Q_SIGNALS:
    // What is shown changed: a live change while not held, or the resume.
    void changed();
    void heldChanged(bool held);

private:
    void onLiveChanged();

    LiveData *m_live;
    mutable std::mutex m_lock;
    bool m_held = false;
    ScoreState m_frozen; // guarded by m_lock; what a hold keeps showing
};

} // namespace corvane
