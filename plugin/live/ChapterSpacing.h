#pragma once

#include <QString>

#include <optional>

namespace corvane {

// Keeps a recording's chapters at least a minimum apart, as video sites want them: a
// chapter goes in at once when the last one is far enough back; closer ones wait until the
// minimum has passed and then go in as one, under the latest name (none when that is the
// name already in). Times are the caller's monotonic milliseconds.
class ChapterSpacing {
public:
    void setMinimumMs(qint64 ms) { m_minimumMs = qMax<qint64>(0, ms); }
    // A new file: nothing is in it yet, so the next chapter goes in at once.
    void reset();

    // The chapter `text` wanted at `nowMs`: the text to add now, or nothing while it waits.
    std::optional<QString> offer(qint64 nowMs, const QString &text);
    // Adds `text` now whatever the spacing, as an operator's own chapter does; what waited
    // is dropped.
    void force(qint64 nowMs, const QString &text);
    // The waiting chapter once it is due at `nowMs`.
    std::optional<QString> takeDue(qint64 nowMs);
    // When the waiting chapter is due; -1 when none waits.
    qint64 dueAtMs() const;

private:
    qint64 m_minimumMs = 10000;
    qint64 m_lastAtMs = -1;
    QString m_lastText;
    std::optional<QString> m_waiting;
};

} // namespace corvane
