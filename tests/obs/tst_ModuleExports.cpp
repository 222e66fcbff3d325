// The built module file as libobs sees it: its exports, its locale data, load and unload.
#include <obs.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>

namespace {

QStringList g_logLines;

void captureLog(int, const char *format, va_list args, void *)
{
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    g_logLines << QString::fromUtf8(line);
}

} // namespace

class TestModuleExports : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_config;
    obs_module_t *m_module = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        // The sign-in restore at load goes to a closed local port, not the real portal.
        QVERIFY(QDir().mkpath(m_config.filePath(QStringLiteral("corvane-obs"))));
        QFile settings(m_config.filePath(QStringLiteral("corvane-obs/settings.json")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QJsonDocument(QJsonObject{{QStringLiteral("portal_url"), QStringLiteral("http://127.0.0.1:9")}}).toJson());
        settings.close();
        QVERIFY(obs_startup("en-US", QFile::encodeName(m_config.path()).constData(), nullptr));
        const int opened = obs_open_module(&m_module, CORVANE_MODULE_PATH, CORVANE_SOURCE_DIR);
        QCOMPARE(opened, MODULE_SUCCESS);
        QVERIFY(m_module);
    }

    void exportsDescribeThePlugin()
    {
        QCOMPARE(QByteArray(obs_get_module_name(m_module)), QByteArray("Corvane"));
        QCOMPARE(QByteArray(obs_get_module_description(m_module)),
                 QByteArray("Live Corvane scoreboard data, graphics and device setup inside OBS."));
        using VersionFn = uint32_t (*)();
        auto version = reinterpret_cast<VersionFn>(dlsym(obs_get_module_lib(m_module), "obs_module_ver"));
        QVERIFY(version);
        QCOMPARE(version(), uint32_t(LIBOBS_API_VER));
        QVERIFY2(version() <= obs_get_version(), "the module must not claim a newer libobs than the running one");
    }

    void loadsAndUnloadsUnderLibobs()
    {
        QVERIFY(obs_init_module(m_module));
    }

    void postLoadWithoutObsWebSocketLogsOnce()
    {
        // No obs-websocket in this libobs: the vendor is skipped with one line, nothing else.
        base_set_log_handler(captureLog, nullptr);
        obs_post_load_modules();
        base_set_log_handler(nullptr, nullptr);
        QCOMPARE(g_logLines.filter(QStringLiteral("[corvane]")),
                 QStringList(QStringLiteral("[corvane] obs-websocket is not available; scores are not offered to its clients")));
    }

    void localeComesFromTheDataFolder()
    {
        obs_set_locale("en-US");
        const char *text = nullptr;
        QVERIFY(obs_module_get_locale_string(m_module, "CorvaneText", &text));
        QCOMPARE(QByteArray(text), QByteArray("Corvane Score Text"));
        QVERIFY(obs_module_get_locale_string(m_module, "TextTemplateHint", &text));
        QVERIFY(QByteArray(text).contains("%1"));
        QVERIFY(!obs_module_get_locale_string(m_module, "NoSuchKey", &text));
        // An unknown locale falls back to en-US.
        obs_set_locale("xx-XX");
        QVERIFY(obs_module_get_locale_string(m_module, "GraphicsFound", &text));
        QVERIFY(QByteArray(text).contains("%1"));
    }

    void unloadsThroughItsExport()
    {
        // obs_shutdown() needs video, which this test does not start; call the export the
        // way shutdown would.
        using UnloadFn = void (*)();
        auto unload = reinterpret_cast<UnloadFn>(dlsym(obs_get_module_lib(m_module), "obs_module_unload"));
        QVERIFY(unload);
        unload();
    }
};

QTEST_GUILESS_MAIN(TestModuleExports)
#include "tst_ModuleExports.moc"
