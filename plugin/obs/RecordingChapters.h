#pragma once

#include "live/ChapterMaker.h"
#include "live/GameLog.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace corvane {

class App;

// While OBS records, each change of the shown score or period becomes a chapter of the
// recording, through OBS's recording-chapter call where the running OBS and the output
// format have one (OBS 30.2 and later, Hybrid MP4 and MOV), and a line of the game log
// that is written beside the file when the recording stops, whatever the format.
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

    // What OBS's front end reports, on the user-interface thread.
    void recordingStarted();
    void recordingPaused();
    void recordingUnpaused();
    // Writes the game log beside `recordingPath`; nothing when it holds no line.
    void recordingStopped(const QString &recordingPath);
    // The "Add a chapter marker now" hotkey: a chapter with the shown state's text.
    void addNow();

    bool isRecording() const { return m_recording; }
    const GameLog &log() const { return m_log; }

    // Test seams: the chapter call and the millisecond clock.
    void setAddChapterForTesting(AddChapter addChapter) { m_addChapter = std::move(addChapter); }
    void setClockForTesting(std::function<qint64()> clock) { m_clock = std::move(clock); }

private:
    void onShownChanged();
    void mark(const QString &text);

    App *m_app;
    AddChapter m_addChapter;
    std::function<qint64()> m_clock;
    ChapterMaker m_maker;
    GameLog m_log;
    bool m_recording = false;
    bool m_toldNoMarkers = false; // the log says once that this OBS has no chapter call
    // The last chapter asked for while paused: OBS takes none then, so it goes in on resume.
    std::optional<QString> m_pending;
};

} // namespace corvane
