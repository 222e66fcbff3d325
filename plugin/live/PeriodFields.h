#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

struct ScoreState;

// The fields in which devices name the part of the game (quarter, half, set, inning,
// period), in the order they are looked for. The overlays' script is built from the same
// list, so the chapters, the dock and the overlays agree on what a period is.
class PeriodFields {
public:
    static QStringList names();
    static bool isPeriodField(const QString &name);
    // The first period field `state` sends with a value, as sent; empty when none.
    static QString value(const ScoreState &state);
};

} // namespace corvane
