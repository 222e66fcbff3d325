#include "live/GameLog.h"

#include <QDir>
#include <QFileInfo>

namespace corvane {

void GameLog::start(qint64 nowMs)
{
    m_startMs = nowMs;
    m_pausedMs = 0;
    m_pausedAt = -1;
    m_addedInPause = false;
    m_entries.clear();
}

void GameLog::pause(qint64 nowMs, bool lastWaits)
{
    if (m_pausedAt < 0)
        m_pausedAt = nowMs;
    m_addedInPause = lastWaits && !m_entries.isEmpty();
}

void GameLog::unpause(qint64 nowMs)
{
    if (m_pausedAt < 0)
        return;
    m_pausedMs += nowMs - m_pausedAt;
    m_pausedAt = -1;
}

qint64 GameLog::elapsed(qint64 nowMs) const
{
    const qint64 end = m_pausedAt >= 0 ? m_pausedAt : nowMs;
    return qMax<qint64>(0, end - m_startMs - m_pausedMs);
}

void GameLog::add(qint64 nowMs, const QString &text)
{
    if (isPaused() && m_addedInPause && !m_entries.isEmpty()) {
        m_entries.last().text = text;
        return;
    }
    m_addedInPause = isPaused();
    m_entries.append({elapsed(nowMs), text});
}

void GameLog::dropAddedInPause()
{
    if (isPaused() && m_addedInPause && !m_entries.isEmpty())
        m_entries.removeLast();
    m_addedInPause = false;
}

QString GameLog::text() const
{
    QString out;
    for (const Entry &entry : m_entries)
        out += line(entry.ms, entry.text) + QLatin1Char('\n');
    return out;
}

QString GameLog::line(qint64 ms, const QString &text)
{
    const qint64 seconds = qMax<qint64>(0, ms) / 1000;
    return QStringLiteral("%1:%2:%3 %4")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'))
        .arg(text);
}

QString GameLog::pathBeside(const QString &recordingPath)
{
    const QFileInfo info(recordingPath);
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(base + QStringLiteral(".scores.txt"));
}

} // namespace corvane
