#pragma once

#include <QString>

namespace corvane {

// What the updater needs to know about this copy of the plugin; App fills it at load.
struct UpdaterConfig {
    QString manifestUrl;    // the downloads origin followed by "/downloads/obs/latest.json"
    QString currentVersion; // this plugin's version
    QString platform;       // the manifest's package key for this build
    QString obsVersion;     // the running OBS version; empty when unknown
    QString installRoot;    // the plugin's own install folder
    QString workDir;        // the module configuration folder "update"
    QString downloadPage;   // where the user gets the installer
    QString libraryPath;    // the plugin library inside installRoot; empty for this build's
    QString modulePath;     // the running module file, as OBS loaded it; empty when unknown
    QString flatpakInfo = QStringLiteral("/.flatpak-info"); // present only inside a Flatpak sandbox
    int timeoutMs = 15000;
};

// This build's package key and plugin library path inside the install folder.
QString defaultUpdatePlatform();
QString defaultLibraryPath();

} // namespace corvane
