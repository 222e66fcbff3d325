#pragma once

#include <QString>

namespace corvane {

// What App learns from OBS at construction. The module entry fills it from libobs; tests
// fill it with paths of their own.
struct AppEnvironment {
    QString settingsPath; // settings.json in the module configuration folder, or empty
    QString sessionPath;  // session.json there, or empty
    QString overlaysDir = {}; // the folder "overlays" there, whose subfolders are the user's overlays; or empty
    // For the self-updater; left out (as by tests of other parts), updates have nowhere to go.
    QString obsVersion = {};    // the running OBS version, or empty
    QString installRoot = {};   // the plugin's own install folder, or empty when OBS names none
    QString modulePath = {};    // the module file OBS loaded, or empty
    QString updateWorkDir = {}; // the configuration folder "update", where updates are unpacked
    // How long before App's creation OBS loaded the module: the first background update
    // check is due 20 s after the load, not after App's creation.
    qint64 loadedMsAgo = 0;
};

} // namespace corvane
