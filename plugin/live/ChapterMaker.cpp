#include "live/ChapterMaker.h"

#include "live/TextTemplate.h"

namespace corvane {

namespace {

constexpr const char *kScoreFields[] = {"home_score", "away_score"};
// The names devices give the part of the game, as the dock's summary line reads them.
constexpr const char *kPeriodFields[] = {"period", "quarter", "half", "inning"};

template <std::size_t N>
bool anyDiffers(const ScoreState &before, const ScoreState &after, const char *const (&names)[N])
{
    for (const char *name : names) {
        const QString key = QString::fromLatin1(name);
        if (before.fields.value(key) != after.fields.value(key))
            return true;
    }
    return false;
}

struct ChangesKey {
    ChapterMaker::Changes changes;
    const char *key;
};

constexpr ChangesKey kChangesKeys[] = {
    {ChapterMaker::Changes::Score, "score"},
    {ChapterMaker::Changes::Period, "period"},
    {ChapterMaker::Changes::Both, "both"},
};

} // namespace

ChapterMaker::Changes ChapterMaker::changesFromKey(const QString &key)
{
    for (const ChangesKey &entry : kChangesKeys)
        if (key == QLatin1String(entry.key))
            return entry.changes;
    return Changes::Both;
}

QString ChapterMaker::key(Changes changes)
{
    for (const ChangesKey &entry : kChangesKeys)
        if (entry.changes == changes)
            return QString::fromLatin1(entry.key);
    return QStringLiteral("both");
}

bool ChapterMaker::isChapterChange(const ScoreState &before, const ScoreState &after, Changes changes)
{
    if (after.fields.isEmpty())
        return false;
    const bool score = anyDiffers(before, after, kScoreFields);
    const bool period = anyDiffers(before, after, kPeriodFields);
    switch (changes) {
    case Changes::Score:
        return score;
    case Changes::Period:
        return period;
    case Changes::Both:
        return score || period;
    }
    return false;
}

QString ChapterMaker::textFor(const ScoreState &state) const
{
    // A chapter name and a game-log line are one line each, whatever a field holds.
    QString text = renderTemplate(m_template, state);
    for (QChar &c : text)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    return text.trimmed();
}

std::optional<QString> ChapterMaker::begin(const ScoreState &state)
{
    m_last = state;
    m_lastText.clear();
    if (state.fields.isEmpty())
        return std::nullopt;
    m_lastText = textFor(state);
    if (m_lastText.isEmpty())
        return std::nullopt;
    return m_lastText;
}

std::optional<QString> ChapterMaker::next(const ScoreState &state)
{
    const bool due = isChapterChange(m_last, state, m_changes);
    m_last = state;
    if (!due)
        return std::nullopt;
    const QString text = textFor(state);
    if (text.isEmpty() || text == m_lastText)
        return std::nullopt;
    m_lastText = text;
    return text;
}

} // namespace corvane
