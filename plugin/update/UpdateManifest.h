#pragma once

#include <QByteArray>
#include <QString>

namespace corvane {

// The newest version a manifest announces, with this platform's package when one applies.
struct UpdateManifest {
    QString version;
    QString released;
    QString notes; // lines joined with line feeds
    QString minObs;
    QString url;
    QString sha256; // 64 lower-case hexadecimal digits
    qint64 size = 0; // 0 when unknown
    bool updateApplies = false;
};

// Outcome of reading a manifest: failure as a code and the sentence shown to the user.
struct ManifestResult {
    bool ok = false;
    QString code;
    QString message;
    UpdateManifest manifest;
};

// Reads latest.json against this copy of the plugin. Stops at the first problem.
ManifestResult parseManifest(const QByteArray &body, const QString &currentVersion, const QString &platform,
                             const QString &obsVersion);

// True when `url` may serve update manifests or packages: https, or http to this computer.
bool isAllowedUpdateUrl(const QString &url);

} // namespace corvane
