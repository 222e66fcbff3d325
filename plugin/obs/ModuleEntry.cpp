// The C entry points OBS looks up in the module file.
#include "obs/Module.h"

#include <obs-module.h>

#include <QDir>
#include <QFileInfo>
#include <QString>

namespace {

obs_module_t *g_module = nullptr;

QString configPath(const char *file)
{
    char *path = obs_module_get_config_path(g_module, file);
    const QString result = path ? QString::fromUtf8(path) : QString();
    bfree(path);
    return result;
}

// The plugin's own folder: the one above its data folder, as OBS lays plugins out.
QString installRoot()
{
    char *data = obs_find_module_file(g_module, "");
    const QString dataDir = data ? QString::fromUtf8(data) : QString();
    bfree(data);
    return dataDir.isEmpty() ? QString() : QDir::cleanPath(QDir(dataDir).absolutePath() + QStringLiteral("/.."));
}

corvane::AppEnvironment environmentFromObs()
{
    corvane::AppEnvironment env;
    env.settingsPath = configPath("settings.json");
    env.sessionPath = configPath("session.json");
    env.overlaysDir = configPath("overlays");
    env.obsVersion = QString::fromUtf8(obs_get_version_string());
    env.installRoot = installRoot();
    if (const char *binary = obs_get_module_binary_path(g_module))
        env.modulePath = QString::fromUtf8(binary);
    env.updateWorkDir = configPath("update");
    return env;
}

// `cmake --install` puts the helper beside the module library; a package may instead ship
// it among the module's data files, or (a distribution package) in its libexec folder.
QString bleHelperPath()
{
#ifdef _WIN32
    const char *name = "corvane-ble-helper.exe";
#else
    const char *name = "corvane-ble-helper";
#endif
    if (const char *binary = obs_get_module_binary_path(g_module)) {
        const QString beside = QFileInfo(QString::fromUtf8(binary)).absoluteDir().filePath(QString::fromLatin1(name));
        if (QFileInfo(beside).isExecutable())
            return beside;
    }
    char *data = obs_find_module_file(g_module, name);
    const QString found = data ? QString::fromUtf8(data) : QString();
    bfree(data);
    if (!found.isEmpty())
        return found;
    const QString installed = QString::fromUtf8(CORVANE_HELPER_INSTALLED_PATH);
    return !installed.isEmpty() && QFileInfo(installed).isExecutable() ? installed : QString();
}

} // namespace

extern "C" {

MODULE_EXPORT void obs_module_set_pointer(obs_module_t *module) { g_module = module; }

MODULE_EXPORT obs_module_t *obs_current_module(void) { return g_module; }

// The API version of the headers we were built against: claiming a newer libobs than the
// running OBS would make it refuse or warn about the module.
MODULE_EXPORT uint32_t obs_module_ver(void) { return LIBOBS_API_VER; }

MODULE_EXPORT void obs_module_set_locale(const char *locale) { corvane::Module::setLocale(g_module, locale); }

MODULE_EXPORT void obs_module_free_locale(void) { corvane::Module::freeLocale(); }

MODULE_EXPORT bool obs_module_get_string(const char *key, const char **out)
{
    return corvane::Module::getString(key, out);
}

MODULE_EXPORT const char *obs_module_name(void) { return "Corvane"; }

MODULE_EXPORT const char *obs_module_description(void)
{
    return "Live Corvane scoreboard data, graphics and device setup inside OBS.";
}

MODULE_EXPORT bool obs_module_load(void)
{
    return corvane::Module::load(environmentFromObs, bleHelperPath);
}

MODULE_EXPORT void obs_module_post_load(void) { corvane::Module::postLoad(); }

MODULE_EXPORT void obs_module_unload(void) { corvane::Module::unload(); }

} // extern "C"
