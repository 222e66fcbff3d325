#pragma once

#include <QString>

namespace corvane {

// What App learns from OBS at construction. The module entry fills it from libobs; tests
// fill it with paths of their own.
struct AppEnvironment {
    QString settingsPath; // settings.json in the module configuration folder, or empty
    QString sessionPath;  // session.json there, or empty
};

} // namespace corvane
