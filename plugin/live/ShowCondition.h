#pragma once

#include <QList>
#include <QString>

namespace corvane {

struct ScoreState;

// One test on a live field, such as `possession = home` or `home_fouls ≥ 5`, deciding
// whether a "show when" filter lets its source be drawn.
struct ShowCondition {
    enum class Op { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual, Contains, IsEmpty, IsNotEmpty };
    enum class Match { All, Any };

    QString field; // empty: an unused row, left out of the decision
    Op op = Op::Equal;
    QString value;

    // When both sides read as game clocks ("M:SS", "MM:SS", "H:MM:SS", "SS.t") they compare
    // as durations ("9:59" < "10:00"); when both read as finite numbers, as numbers
    // ("7" = "7.0"); else
    // as text, ignoring case and surrounding spaces. Ordering a number against text is
    // false, as is ordering anything against an empty side: neither is a game state.
    // A field that is not sent reads as empty.
    bool holds(const ScoreState &state) const;

    // Whether the conditions hold together; with no used condition, they do.
    static bool allHold(const QList<ShowCondition> &conditions, Match match, const ScoreState &state);

    // The operators as settings store them ("eq", "ne", ...) and as the properties show
    // them ("=", "≠", ...), in the order of Op.
    static QString key(Op op);
    static QString label(Op op);
    // False for an unknown key; *op is then left alone.
    static bool fromKey(const QString &key, Op *op);
    static QList<Op> allOps();
};

} // namespace corvane
