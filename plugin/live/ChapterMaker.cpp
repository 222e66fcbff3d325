#include "live/ChapterMaker.h"

#include "live/PeriodFields.h"
#include "live/TextTemplate.h"

#include <QStringList>

namespace corvane {

namespace {

const QStringList kScoreFields = {QStringLiteral("home_score"), QStringLiteral("away_score")};
constexpr QChar kSeparator = QChar(0x00b7);

bool anyDiffers(const ScoreState &before, const ScoreState &after, const QStringList &names)
{
    for (const QString &name : names)
        if (before.fields.value(name) != after.fields.value(name))
            return true;
    return false;
}

// "{period}" names the period under whatever field the device sends it (a soccer half, a
// volleyball set), so that one template serves every sport.
ScoreState withPeriod(const ScoreState &state)
{
    ScoreState out = state;
    const QString key = QStringLiteral("period");
    if (out.fields.value(key).trimmed().isEmpty())
        out.fields.insert(key, PeriodFields::value(state));
    return out;
}

// A "·" left with nothing on one side, by a field that is not sent, goes with its gap.
QString withoutStraySeparators(const QString &text)
{
    QStringList parts = text.split(kSeparator);
    for (QString &part : parts)
        part = part.trimmed();
    if (!parts.contains(QString()))
        return text.trimmed();
    parts.removeAll(QString());
    return parts.join(QStringLiteral(" ") + kSeparator + QStringLiteral(" "));
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
    const bool period = anyDiffers(before, after, PeriodFields::names());
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
    QString text = renderTemplate(m_template, withPeriod(state));
    for (QChar &c : text)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char('\t'))
            c = QLatin1Char(' ');
    return text.contains(kSeparator) ? withoutStraySeparators(text) : text.trimmed();
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
