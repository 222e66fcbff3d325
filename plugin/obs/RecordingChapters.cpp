#include "obs/RecordingChapters.h"

#include "app/App.h"
#include "app/FollowedDevices.h"
#include "base/Log.h"
#include "ui/ObsFrontend.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>

namespace corvane {

namespace {

// A file's time stamp may trail the moment OBS reported the start by a little.
constexpr qint64 kFileTimeSlackMs = 2000;
// OBS 30's Hybrid MP4 output reports the new file before it times packets from that
// file's start: a chapter asked for at once is timed from the ended file's.
constexpr int kOpeningChapterDelayMs = 1000;

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

QString saveText(const QString &path, const QByteArray &text)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
        return {};
    return file.errorString();
}

} // namespace

RecordingChapters::AddChapter RecordingChapters::frontendAddChapter()
{
    const ObsFrontend::AddRecordingChapter call = ObsFrontend::recordingChapterCall();
    if (!call)
        return {};
    return [call](const QString &name) { return call(name.toUtf8().constData()); };
}

RecordingChapters::RecordingChapters(App *app, QObject *parent)
    : QObject(parent)
    , m_app(app)
    , m_addChapter(frontendAddChapter())
    , m_clock(monotonicMs)
{
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, &RecordingChapters::onSpacingDue);
    m_opening.setSingleShot(true);
    m_opening.setInterval(kOpeningChapterDelayMs);
    connect(&m_opening, &QTimer::timeout, this, &RecordingChapters::addOpeningChapter);
    connect(app->followed(), &FollowedDevices::unfollowed, this, &RecordingChapters::onDeviceUnfollowed);
}

RecordingChapters::~RecordingChapters() = default;

void RecordingChapters::recordingStarted(const QString &filePath, qint64 recordedMs)
{
    const SettingsStore &settings = m_app->settings();
    m_obsRecording = true;
    m_recording = settings.chaptersEnabled();
    m_stopping = false;
    m_pending.reset();
    m_due.stop();
    m_opening.stop();
    m_spacing.reset();
    if (!m_recording)
        return;
    if (!bindDevice()) {
        m_recording = false;
        return;
    }
    m_spacing.setMinimumMs(settings.chapterSpacingSeconds() * 1000LL);
    m_maker.setChanges(ChapterMaker::changesFromKey(settings.chapterChanges()));
    const QString templateText = settings.chapterTemplate();
    m_maker.setTemplate(templateText.trimmed().isEmpty() ? QString::fromUtf8(ChapterMaker::kDefaultTemplate) : templateText);
    m_filePath = filePath;
    m_fileStarted = QDateTime::currentDateTime().addMSecs(-recordedMs);
    m_log.start(m_clock() - recordedMs);
    if (!m_addChapter && !m_toldNoMarkers) {
        m_toldNoMarkers = true;
        CORVANE_LOG_INFO("this OBS cannot add chapter markers to recordings (OBS 30.2 and later can); the game log "
                         "beside each recording still lists the chapters");
    }
    if (const std::optional<QString> first = m_maker.begin(m_shown->state()))
        offer(*first);
}

void RecordingChapters::recordingPaused()
{
    if (!m_recording)
        return;
    // A new file's opening chapter not yet handed to OBS would be refused now: it waits for
    // the resume like a chapter asked for during the pause.
    const bool openingWaits = m_opening.isActive();
    m_opening.stop();
    if (openingWaits)
        m_pending = m_openingText;
    m_log.pause(m_clock(), openingWaits);
}

void RecordingChapters::recordingUnpaused()
{
    if (!m_recording)
        return;
    m_log.unpause(m_clock());
    if (m_pending && m_addChapter)
        m_addChapter(*m_pending);
    m_pending.reset();
}

void RecordingChapters::recordingStopping()
{
    // Chapters asked for now would be in the log but not in the file, and so would the one
    // waiting for the end of a pause.
    m_stopping = true;
    m_due.stop();
    m_opening.stop();
    dropPending();
}

void RecordingChapters::dropPending()
{
    if (m_pending)
        m_log.dropAddedInPause();
    m_pending.reset();
}

void RecordingChapters::fileChanged(const QString &nextPath)
{
    if (!m_recording || nextPath.isEmpty())
        return;
    writeLog(m_filePath);
    m_filePath = nextPath;
    m_fileStarted = QDateTime::currentDateTime();
    m_log.start(m_clock());
    m_spacing.reset();
    m_due.stop();
    m_pending.reset();
    // The output drops chapters queued for the file that ended: the new file starts with
    // the state it opens on, at 0:00:00 in its log.
    const std::optional<QString> opening = m_maker.begin(m_shown->state());
    if (!opening)
        return;
    m_spacing.force(m_clock(), *opening);
    m_log.add(m_clock(), *opening);
    m_openingText = *opening;
    m_opening.start();
}

void RecordingChapters::addOpeningChapter()
{
    m_opening.stop();
    if (m_recording && !m_stopping && !m_log.isPaused() && m_addChapter)
        m_addChapter(m_openingText);
}

void RecordingChapters::recordingStopped(const QString &frontendPath)
{
    m_obsRecording = false;
    if (!m_recording)
        return;
    m_recording = false;
    m_stopping = false;
    m_due.stop();
    m_opening.stop();
    dropPending();
    writeLog(m_filePath.isEmpty() ? frontendPath : m_filePath);
    m_log.start(m_clock());
    releaseDevice();
}

void RecordingChapters::finish()
{
    recordingStopped();
}

void RecordingChapters::addNow()
{
    if (!m_obsRecording)
        return tell(QStringLiteral("No chapter added: nothing is recording."));
    if (!m_recording)
        return tell(QStringLiteral("No chapter added: chapters are off for this recording (see Recordings)."));
    if (m_stopping)
        return tell(QStringLiteral("No chapter added: the recording is stopping."));
    const QString text = m_maker.textFor(m_shown->state());
    const QString name = text.isEmpty() ? QStringLiteral("Chapter %1").arg(m_log.entries().size() + 1) : text;
    m_due.stop();
    m_spacing.force(m_clock(), name);
    if (mark(name)) {
        // Paused, OBS takes it on resuming; a pause that lasts until the end drops it.
        return tell((m_log.isPaused() ? QStringLiteral("Chapter added where the recording resumes: %1")
                                      : QStringLiteral("Chapter added: %1"))
                        .arg(name));
    }
    // OBS refuses chapters in formats without them (MKV, plain MP4): only the log has it.
    tell(QStringLiteral("Chapter added to the game log only: %1 (%2).")
             .arg(name, m_addChapter ? QStringLiteral("this recording's format takes no chapter markers; Hybrid MP4 and MOV do")
                                     : QStringLiteral("this OBS cannot add chapter markers; OBS 30.2 and later can")));
}

QString RecordingChapters::fallbackFolder() const
{
    if (!m_fallbackFolder.isEmpty())
        return m_fallbackFolder;
    const QString settingsPath = m_app->settings().path();
    if (settingsPath.isEmpty())
        return {};
    return QFileInfo(settingsPath).dir().filePath(QStringLiteral("game-logs"));
}

bool RecordingChapters::bindDevice()
{
    releaseDevice();
    const QString deviceId = m_app->settings().chapterDevice();
    m_shown = m_app->shownScoresOf(deviceId);
    if (!m_shown) {
        tell(QStringLiteral("No chapters for this recording: %1 is not followed (see Recordings).").arg(deviceId));
        return false;
    }
    m_deviceId = deviceId;
    m_shownConnection = connect(m_shown.get(), &ShownScores::changed, this, &RecordingChapters::onShownChanged);
    return true;
}

void RecordingChapters::releaseDevice()
{
    QObject::disconnect(m_shownConnection);
    m_shown.reset();
    m_deviceId.clear();
}

void RecordingChapters::onDeviceUnfollowed(const QString &deviceId)
{
    if (!m_recording || m_deviceId.isEmpty() || deviceId != m_deviceId)
        return;
    disconnect(m_shownConnection);
    // Made the main device, it goes on there.
    if (std::shared_ptr<ShownScores> main = m_app->shownScoresOf(deviceId)) {
        m_shown = std::move(main);
        m_shownConnection = connect(m_shown.get(), &ShownScores::changed, this, &RecordingChapters::onShownChanged);
        return;
    }
    // What it made stays in the file and goes into the log when the recording stops, a
    // chapter waiting for the spacing included; its last state stays for a chapter asked
    // for by hand or a new file's opening one.
    tell(QStringLiteral("Chapters of this recording have stopped: %1 is no longer followed. The game log keeps those made so far.")
             .arg(deviceId));
}

void RecordingChapters::onShownChanged()
{
    if (!m_recording)
        return;
    if (const std::optional<QString> text = m_maker.next(m_shown->state()))
        offer(*text);
}

void RecordingChapters::offer(const QString &text)
{
    if (m_stopping)
        return;
    if (const std::optional<QString> now = m_spacing.offer(m_clock(), text))
        mark(*now);
    else
        scheduleDue();
}

bool RecordingChapters::mark(const QString &text)
{
    // In the file's order: the opening chapter first.
    if (m_opening.isActive())
        addOpeningChapter();
    m_log.add(m_clock(), text);
    if (!m_log.isPaused())
        return m_addChapter && m_addChapter(text);
    m_pending = text;
    return bool(m_addChapter);
}

void RecordingChapters::onSpacingDue()
{
    if (!m_recording || m_stopping)
        return;
    if (const std::optional<QString> text = m_spacing.takeDue(m_clock()))
        mark(*text);
    scheduleDue();
}

void RecordingChapters::scheduleDue()
{
    const qint64 due = m_spacing.dueAtMs();
    if (due < 0)
        return m_due.stop();
    m_due.start(int(qBound<qint64>(0, due - m_clock(), 24 * 3600 * 1000LL)));
}

bool RecordingChapters::madeByThisRecording(const QString &path) const
{
    // OBS's last recording may still name an earlier file (a recording to a URL makes
    // none); a log beside it would overwrite that file's log.
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || !m_fileStarted.isValid())
        return false;
    return info.lastModified() >= m_fileStarted.addMSecs(-kFileTimeSlackMs);
}

void RecordingChapters::writeLog(const QString &recordingPath)
{
    if (m_log.entries().isEmpty())
        return;
    const QByteArray text = m_log.text().toUtf8();
    const qint64 chapters = m_log.entries().size();
    QString problem = QStringLiteral("the recording has no file of its own");
    if (madeByThisRecording(recordingPath)) {
        // Beside a video the operator shares, so readable like the video itself.
        const QString path = GameLog::pathBeside(recordingPath);
        problem = saveText(path, text);
        if (problem.isEmpty()) {
            CORVANE_LOG_INFO("game log written: %s (%lld chapters)", qUtf8Printable(path), static_cast<long long>(chapters));
            return;
        }
        CORVANE_LOG_WARNING("could not write the game log %s: %s", qUtf8Printable(path), qUtf8Printable(problem));
    }
    const QString folder = fallbackFolder();
    const QString base = madeByThisRecording(recordingPath)
                             ? QFileInfo(recordingPath).fileName()
                             : QStringLiteral("recording %1").arg(m_fileStarted.toString(QStringLiteral("yyyy-MM-dd hh-mm-ss")));
    const QString path = folder.isEmpty() ? QString() : GameLog::pathBeside(QDir(folder).filePath(base));
    const QString fallbackProblem = path.isEmpty() ? QStringLiteral("no folder for it")
                                    : !QDir().mkpath(folder) ? QStringLiteral("cannot create %1").arg(folder)
                                                             : saveText(path, text);
    if (fallbackProblem.isEmpty())
        return tell(QStringLiteral("The game log could not go beside the recording (%1); it is in %2").arg(problem, path));
    CORVANE_LOG_WARNING("could not keep the game log in %s: %s", qUtf8Printable(folder), qUtf8Printable(fallbackProblem));
    tell(QStringLiteral("The game log could not be written (%1; %2).").arg(problem, fallbackProblem));
}

void RecordingChapters::tell(const QString &text)
{
    CORVANE_LOG_INFO("%s", qUtf8Printable(text));
    Q_EMIT m_app->recordingNotice(text);
}

} // namespace corvane
