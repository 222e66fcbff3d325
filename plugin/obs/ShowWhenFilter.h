#pragma once

#include "live/ShowCondition.h"

#include <QList>

#include <atomic>
#include <cstddef>

struct obs_source;
struct obs_data;

namespace corvane {

struct ScoreState;

// One "Corvane: show when" filter: it draws its source only while its conditions on the
// shown scores hold, and as the operator chose while there are none.
struct ShowWhenFilter {
    static constexpr int kRows = 4;

    obs_source *filter = nullptr; // not referenced
    QList<ShowCondition> conditions;
    ShowCondition::Match match = ShowCondition::Match::All;
    bool showWithoutScores = false;
    QString deviceId; // the device it reads: empty for the main one
    // Decided on the user-interface thread or in an update, read by OBS's video thread.
    std::atomic<bool> visible{false};

    // Whether a source with these choices is drawn in `state`.
    bool shows(const ScoreState &state) const;
    // Reads the conditions and choices from the filter's settings.
    void read(obs_data *settings);

    static void registerType();
    // Decides every filter again from the shown scores; connected to ShownScores::changed.
    // Decides again for every filter bound to the main device (refreshAll, connected to its
    // ShownScores::changed) or to one followed device.
    static void refreshAll();
    static void refreshDevice(const QString &deviceId);
    static std::size_t registeredCount();
};

} // namespace corvane
