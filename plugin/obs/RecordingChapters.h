#pragma once

#include "live/ChapterMaker.h"
#include "live/ChapterSpacing.h"
#include "live/GameLog.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace corvane {

class App;
class ShownScores;

// While OBS records, each change of the shown score or period becomes a chapter of the
// recording, through OBS's recording-chapter call where the running OBS and the output
// format have one (OBS 30.2 and later, Hybrid MP4 and MOV), and a line of the game log
// of the file being written. Each file of a split recording gets its own log beside it,
// timed from that file's start; the file and its log hold the same chapters. A recording
// follows one device, the one the settings name when it starts (the main device by
// default), until it stops: a later choice waits for the next recording, and a device
// unfollowed meanwhile makes no more chapters while those it made stay in the file and log.
class RecordingChapters : public QObject {
public:
    // Asks OBS to mark a chapter now; false when it cannot (no such call, a format without
    // chapters, paused).
    using AddChapter = std::function<bool(const QString &name)>;

    explicit RecordingChapters(App *app, QObject *parent = nullptr);
    ~RecordingChapters() override;

    // OBS's recording-chapter call when the running front end has it, else empty: looked
    // up at run time, so that the module loads into an OBS older than 30.2.
    static AddChapter frontendAddChapter();

    // What OBS reports, on the user-interface thread. `filePath` is the file the output
    // writes first (empty or a URL when it writes none); `recordedMs` how long it has
    // recorded already (a recording that ran before the plugin started).
    void recordingStarted(const QString &filePath, qint64 recordedMs = 0);
    void recordingPaused();
    void recordingUnpaused();
    // The output finishes the file from here on and takes no more chapters.
    void recordingStopping();
    // The output closed its file and writes `nextPath` now: the ended file's log is
    // written, and the new file starts with the state shown as its first chapter.
    void fileChanged(const QString &nextPath);
    // Writes the log of the last file; `frontendPath` is OBS's last recording, used when
    // the output named no file.
    void recordingStopped(const QString &frontendPath = QString());
    // OBS quits: it stops the recording only after its front end has gone, so the log is
    // written now.
    void finish();
    // The "Add a chapter marker now" hotkey: a chapter with the shown state's text, or a
    // notice saying why there is none.
    void addNow();

    bool isRecording() const { return m_recording; }
    const GameLog &log() const { return m_log; }
    QString filePath() const { return m_filePath; }
    // Where a log goes when it cannot go beside its recording; empty: the folder of the
    // plugin's settings, "game-logs".
    QString fallbackFolder() const;

    // Test seams: the chapter call, the millisecond clock and the fallback folder.
    void setAddChapterForTesting(AddChapter addChapter) { m_addChapter = std::move(addChapter); }
    void setClockForTesting(std::function<qint64()> clock) { m_clock = std::move(clock); }
    void setFallbackFolderForTesting(const QString &folder) { m_fallbackFolder = folder; }
    void setOpeningDelayForTesting(int ms) { m_opening.setInterval(ms); }
    // Runs a chapter that waits for the spacing if it is due by the clock.
    void runDueForTesting() { onSpacingDue(); }

private:
    // Follows the device the settings name; false (and a notice) when it is not followed.
    bool bindDevice();
    void releaseDevice();
    void onDeviceUnfollowed(const QString &deviceId);
    void onShownChanged();
    void offer(const QString &text);
    // In the log; true when the file gets it too (now, or on resuming from a pause).
    bool mark(const QString &text);
    void onSpacingDue();
    void addOpeningChapter();
    void scheduleDue();
    // Forgets the chapter waiting for the pause to end, in the log as well.
    void dropPending();
    void writeLog(const QString &recordingPath);
    bool madeByThisRecording(const QString &path) const;
    void tell(const QString &text);

    App *m_app;
    AddChapter m_addChapter;
    std::function<qint64()> m_clock;
    // What this recording's device shows, kept whole even when it is unfollowed meanwhile.
    std::shared_ptr<ShownScores> m_shown;
    QString m_deviceId;
    QMetaObject::Connection m_shownConnection;
    ChapterMaker m_maker;
    ChapterSpacing m_spacing;
    GameLog m_log;
    QTimer m_due;
    // The chapter a new file opens on, handed to OBS once the output writes that file.
    QTimer m_opening;
    QString m_openingText;
    QString m_filePath;
    QString m_fallbackFolder;
    QDateTime m_fileStarted;
    bool m_obsRecording = false; // OBS records, with chapters or not
    bool m_recording = false;    // and this recording gets chapters
    bool m_stopping = false;
    bool m_toldNoMarkers = false; // the log says once that this OBS has no chapter call
    // The last chapter asked for while paused: OBS takes none then, so it goes in on resume.
    std::optional<QString> m_pending;
};

} // namespace corvane
