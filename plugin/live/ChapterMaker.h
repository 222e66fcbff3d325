#pragma once

#include "live/ScoreState.h"

#include <QString>

#include <optional>

namespace corvane {

// Decides when a recording gets a chapter and what it is called: a change of the score, of
// the period, or of either renders the chapter template (the score text's language) from
// the state that follows the change.
class ChapterMaker {
public:
    enum class Changes { Score, Period, Both };

    // "{period}" reads whichever period field the device sends (see PeriodFields).
    static constexpr char kDefaultTemplate[] = "{home_name} {home_score}\u2013{away_score} {away_name} \u00b7 {period}";

    // The settings' words for Changes: "score", "period", "both"; anything else reads as both.
    static Changes changesFromKey(const QString &key);
    static QString key(Changes changes);

    void setChanges(Changes changes) { m_changes = changes; }
    void setTemplate(const QString &templateText) { m_template = templateText; }

    // Starts a recording's chapters from the state at its start: its text, or nothing while
    // there is no live data.
    std::optional<QString> begin(const ScoreState &state);
    // The chapter the move from the last state seen to `state` makes, if any. A change that
    // renders to the text of the last chapter (a period change under a template without the
    // period) makes none, nor does losing the live data.
    std::optional<QString> next(const ScoreState &state);

    // Whether the move from `before` to `after` is a change of the kind that makes chapters.
    static bool isChapterChange(const ScoreState &before, const ScoreState &after, Changes changes);
    // The template rendered from `state`, on one line and without surrounding spaces, and
    // without a "·" that a missing field left at an end or beside another.
    QString textFor(const ScoreState &state) const;

private:
    Changes m_changes = Changes::Both;
    QString m_template = QString::fromUtf8(kDefaultTemplate);
    ScoreState m_last;
    QString m_lastText;
};

} // namespace corvane
