#include "live/ShownScores.h"

#include "live/LiveData.h"

namespace corvane {

ShownScores::ShownScores(LiveData *live, QObject *parent)
    : QObject(parent)
    , m_live(live)
{
    // Direct: what is shown changes where the live data was applied (the user-interface
    // thread in the plugin), so the score texts refreshed from changed() are never a queued
    // event behind.
    connect(m_live, &LiveData::changed, this, &ShownScores::onLiveChanged, Qt::DirectConnection);
}

ScoreState ShownScores::state() const
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_held) {
            // A copy that shares no buffer with the held one (see LiveData::state).
            ScoreState copy;
            copy.sport = QString(m_frozen.sport.constData(), m_frozen.sport.size());
            for (auto it = m_frozen.fields.cbegin(); it != m_frozen.fields.cend(); ++it)
                copy.fields.insert(QString(it.key().constData(), it.key().size()),
                                   QString(it.value().constData(), it.value().size()));
            return copy;
        }
    }
    return m_live->state();
}

bool ShownScores::isHeld() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_held;
}

void ShownScores::hold()
{
    // Taken outside our lock: LiveData has its own.
    ScoreState now = m_live->state();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_held)
            return;
        m_held = true;
        m_frozen = std::move(now);
    }
    Q_EMIT heldChanged(true);
}

void ShownScores::resume()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_held)
            return;
        m_held = false;
        m_frozen = ScoreState();
    }
    Q_EMIT heldChanged(false);
    // The live state may have moved on during the hold: show it at once.
    Q_EMIT changed();
}

void ShownScores::onLiveChanged()
{
    if (!isHeld())
        Q_EMIT changed();
}

} // namespace corvane
