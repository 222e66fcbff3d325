#include "live/ShownSnapshot.h"

#include "live/LiveData.h"
#include "live/ShownScores.h"

namespace corvane {

ShownSnapshot::ShownSnapshot(LiveData *live, ShownScores *shown, QObject *parent)
    : QObject(parent)
    , m_live(live)
    , m_shown(shown)
{
    if (m_shown) {
        connect(m_shown, &ShownScores::heldChanged, this, &ShownSnapshot::onHeldChanged);
        onHeldChanged(m_shown->isHeld());
    }
}

void ShownSnapshot::onHeldChanged(bool held)
{
    // Taken as the hold begins, when the live state is still the one the hold keeps.
    m_heldSnapshot = held && m_live ? m_live->snapshotJson() : QByteArray();
}

QByteArray ShownSnapshot::json() const
{
    if (m_shown && m_shown->isHeld() && !m_heldSnapshot.isEmpty())
        return m_heldSnapshot;
    return m_live ? m_live->snapshotJson() : QByteArrayLiteral("{}");
}

} // namespace corvane
