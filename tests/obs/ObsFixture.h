#pragma once

// Starts the real libobs in a test: a throw-away configuration, audio and a small
// software-rendered canvas (so that OBS runs deferred source updates on its video thread as
// it does in the application, and obs_wait_for_destroy_queue, which returns at once without
// audio, really waits), OBS's own FreeType text source module, and then our plugin code
// through Module::load with a test environment.
#include "app/AppEnvironment.h"
#include "obs/Module.h"
#include "support/TestSettings.h"

#include <obs.h>

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace corvane::test {

class ObsFixture {
public:
    // Empty when everything started, else what failed. `pluginSettings` go into the
    // plugin's settings.json (the portal always points somewhere local).
    QString start(const QJsonObject &pluginSettings = {})
    {
        if (!m_config.isValid())
            return QStringLiteral("no temporary folder");
        if (!obs_startup("en-US", m_config.filePath(QStringLiteral("modules")).toUtf8().constData(), nullptr))
            return QStringLiteral("obs_startup failed");
#if LIBOBS_API_MAJOR_VER < 31
        // Newer libobs finds its own data (effects) beside its install; older needs telling.
        obs_add_data_path("/usr/share/obs/libobs/");
#endif

        // The application's order: audio, then video.
        obs_audio_info audio = {};
        audio.samples_per_sec = 48000;
        audio.speakers = SPEAKERS_STEREO;
        if (!obs_reset_audio(&audio))
            return QStringLiteral("obs_reset_audio failed");

        obs_video_info video = {};
        video.graphics_module = "libobs-opengl";
        video.fps_num = 30;
        video.fps_den = 1;
        video.base_width = video.output_width = 320;
        video.base_height = video.output_height = 180;
        video.output_format = VIDEO_FORMAT_NV12;
        video.gpu_conversion = true;
        video.colorspace = VIDEO_CS_709;
        video.range = VIDEO_RANGE_PARTIAL;
        video.scale_type = OBS_SCALE_BICUBIC;
        if (obs_reset_video(&video) != OBS_VIDEO_SUCCESS)
            return QStringLiteral("obs_reset_video failed");

        obs_module_t *freetype = nullptr;
        if (obs_open_module(&freetype, "/usr/lib/x86_64-linux-gnu/obs-plugins/text-freetype2.so",
                            "/usr/share/obs/obs-plugins/text-freetype2") != MODULE_SUCCESS)
            return QStringLiteral("cannot open the FreeType text module");
        if (!obs_init_module(freetype))
            return QStringLiteral("cannot initialise the FreeType text module");

        const QByteArray locale = qgetenv("CORVANE_SOURCE_DIR") + "/locale/en-US.ini";
        Module::loadLocaleFile(locale.constData());
        const QString settings = m_config.filePath(QStringLiteral("settings.json"));
        if (!QFile::exists(settings) && !corvane::test::writeTestSettings(settings, pluginSettings))
            return QStringLiteral("cannot write the test settings");
        const QString session = m_config.filePath(QStringLiteral("session.json"));
        Module::load([&] { return AppEnvironment{settings, session}; });
        return QString();
    }

    // In OBS's own order: sources and the video thread go before the module is unloaded.
    // obs_shutdown frees the FreeType module before the sources still left, so a text
    // source destroyed after that crashes in FreeType.
    void stop()
    {
        // OBS destroys released sources on its own threads, and a corvane_text source's
        // destruction releases its child in turn: wait, as the application does, until a
        // wait finds nothing more destroyed.
        while (obs_wait_for_destroy_queue()) {
        }
        obs_shutdown();
        Module::unload();
        Module::freeLocale();
    }

private:
    QTemporaryDir m_config;
};

} // namespace corvane::test
