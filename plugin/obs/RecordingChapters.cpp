#include "obs/RecordingChapters.h"

#include "app/App.h"
#include "base/Log.h"
#include "ui/ObsFrontend.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>

namespace corvane {

namespace {

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
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
    connect(&app->shown(), &ShownScores::changed, this, &RecordingChapters::onShownChanged);
}

RecordingChapters::~RecordingChapters() = default;

void RecordingChapters::recordingStarted()
{
    const SettingsStore &settings = m_app->settings();
    m_recording = settings.chaptersEnabled();
    m_pending.reset();
    if (!m_recording)
        return;
    m_maker.setChanges(ChapterMaker::changesFromKey(settings.chapterChanges()));
    const QString templateText = settings.chapterTemplate();
    m_maker.setTemplate(templateText.trimmed().isEmpty() ? QString::fromUtf8(ChapterMaker::kDefaultTemplate) : templateText);
    m_log.start(m_clock());
    if (!m_addChapter && !m_toldNoMarkers) {
        m_toldNoMarkers = true;
        CORVANE_LOG_INFO("this OBS cannot add chapter markers to recordings (OBS 30.2 and later can); the game log "
                         "beside each recording still lists the chapters");
    }
    if (const std::optional<QString> first = m_maker.begin(m_app->shown().state()))
        mark(*first);
}

void RecordingChapters::recordingPaused()
{
    if (m_recording)
        m_log.pause(m_clock());
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

void RecordingChapters::recordingStopped(const QString &recordingPath)
{
    if (!m_recording)
        return;
    m_recording = false;
    m_pending.reset();
    if (m_log.entries().isEmpty() || recordingPath.isEmpty())
        return;
    const QString path = GameLog::pathBeside(recordingPath);
    // Beside a video the operator shares, so readable like the video itself.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_log.text().toUtf8()) < 0 || !file.commit()) {
        CORVANE_LOG_WARNING("could not write the game log %s: %s", qUtf8Printable(path), qUtf8Printable(file.errorString()));
        return;
    }
    CORVANE_LOG_INFO("game log written: %s (%lld chapters)", qUtf8Printable(path),
                     static_cast<long long>(m_log.entries().size()));
}

void RecordingChapters::addNow()
{
    if (!m_recording)
        return;
    const QString text = m_maker.textFor(m_app->shown().state());
    mark(text.isEmpty() ? QStringLiteral("Chapter %1").arg(m_log.entries().size() + 1) : text);
}

void RecordingChapters::onShownChanged()
{
    if (!m_recording)
        return;
    if (const std::optional<QString> text = m_maker.next(m_app->shown().state()))
        mark(*text);
}

void RecordingChapters::mark(const QString &text)
{
    m_log.add(m_clock(), text);
    if (m_log.isPaused())
        m_pending = text;
    else if (m_addChapter)
        m_addChapter(text);
}

} // namespace corvane
