#pragma once

#include <QString>

namespace corvane {

// What decides whether this copy of the plugin may replace its own files.
struct InstallFacts {
    bool flatpak = false;        // OBS runs inside a Flatpak sandbox
    bool systemPackage = false;  // the module lies where the system's package manager installs
    bool folderPresent = false;  // the install folder exists and holds the plugin library
    bool folderWritable = false; // that folder and the one above it can be written
};

// Who keeps this copy current.
enum class UpdateOwner { Plugin, PackageManager, Flatpak, Nobody };

struct SelfUpdateDecision {
    UpdateOwner owner = UpdateOwner::Nobody;
    QString reason; // for the user; empty when the plugin updates itself

    bool allowed() const { return owner == UpdateOwner::Plugin; }
    // Updates come from elsewhere, so the plugin does not even look for them: a copy that a
    // package manager or Flatpak put in place would be overwritten at their next upgrade.
    bool managedElsewhere() const { return owner == UpdateOwner::PackageManager || owner == UpdateOwner::Flatpak; }
};

SelfUpdateDecision decideSelfUpdate(const InstallFacts &facts, const QString &downloadPage);
// Where the user is sent to download a version by hand: the page, or the website by name
// when no page is known.
QString downloadPlace(const QString &downloadPage);

// Whether a module at this path was installed by the system's package manager: anywhere
// under /usr except /usr/local, which is the administrator's own.
bool isSystemPackagePath(const QString &modulePath);

} // namespace corvane
