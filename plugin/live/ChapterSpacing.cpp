#include "live/ChapterSpacing.h"

namespace corvane {

void ChapterSpacing::reset()
{
    m_lastAtMs = -1;
    m_lastText.clear();
    m_waiting.reset();
}

std::optional<QString> ChapterSpacing::offer(qint64 nowMs, const QString &text)
{
    if (m_lastAtMs >= 0 && nowMs - m_lastAtMs < m_minimumMs) {
        m_waiting = text;
        return std::nullopt;
    }
    force(nowMs, text);
    return text;
}

void ChapterSpacing::force(qint64 nowMs, const QString &text)
{
    m_lastAtMs = nowMs;
    m_lastText = text;
    m_waiting.reset();
}

std::optional<QString> ChapterSpacing::takeDue(qint64 nowMs)
{
    if (!m_waiting || nowMs < dueAtMs())
        return std::nullopt;
    const QString text = *m_waiting;
    m_waiting.reset();
    // Changes that came back to the name already in (a score corrected) make no chapter.
    if (text == m_lastText)
        return std::nullopt;
    force(nowMs, text);
    return text;
}

qint64 ChapterSpacing::dueAtMs() const
{
    return m_waiting ? m_lastAtMs + m_minimumMs : -1;
}

} // namespace corvane
