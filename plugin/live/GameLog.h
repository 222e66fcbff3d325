#pragma once

#include <QList>
#include <QString>

namespace corvane {

// The game log of one recording: one line per chapter, "H:MM:SS text", timed from the
// recording's start with its pauses left out, as a video site reads chapters from a
// description. Times are taken from the caller's monotonic clock in milliseconds.
class GameLog {
public:
    struct Entry {
        qint64 ms;
        QString text;
    };

    void start(qint64 nowMs);
    // `lastWaits`: the last chapter has not reached the file yet and goes in on resuming,
    // as one asked for during the pause.
    void pause(qint64 nowMs, bool lastWaits = false);
    void unpause(qint64 nowMs);
    bool isPaused() const { return m_pausedAt >= 0; }
    // Recording time at `nowMs`: while paused, the time at which the pause began.
    qint64 elapsed(qint64 nowMs) const;

    // During a pause a recording takes one chapter, where it resumes: a later one asked for
    // in the same pause replaces the earlier, so the log holds what the file holds.
    void add(qint64 nowMs, const QString &text);
    // The recording ends during the pause: the chapter it would have taken on resuming never
    // reaches the file, so it leaves the log too.
    void dropAddedInPause();
    const QList<Entry> &entries() const { return m_entries; }
    // Every line, each ending in a newline.
    QString text() const;

    static QString line(qint64 ms, const QString &text);
    // Beside the recording, same name: "game.mp4" gives "game.scores.txt".
    static QString pathBeside(const QString &recordingPath);

private:
    qint64 m_startMs = 0;
    qint64 m_pausedMs = 0;  // total time of the pauses that ended
    qint64 m_pausedAt = -1; // when the pause under way began
    bool m_addedInPause = false;
    QList<Entry> m_entries;
};

} // namespace corvane
