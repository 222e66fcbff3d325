#pragma once

#include <QByteArray>
#include <QObject>

namespace corvane {

class LiveData;
class ShownScores;

// What a page shows of one device, serialised: its live snapshot, or while its shown scores
// are held, the snapshot taken as the hold began. User-interface thread.
class ShownSnapshot : public QObject {
    Q_OBJECT
public:
    // `shown` may be null: always the live snapshot.
    ShownSnapshot(LiveData *live, ShownScores *shown, QObject *parent = nullptr);

    QByteArray json() const;

private:
    void onHeldChanged(bool held);

    LiveData *m_live;
    ShownScores *m_shown;
    QByteArray m_heldSnapshot; // what the production showed when the hold began
};

} // namespace corvane
