#pragma once

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace corvane::test {

// A portal address on this machine where nothing listens: App restores the sign-in at
// construction, and a test must never reach out to the real portal.
inline const QString kOfflinePortal = QStringLiteral("http://127.0.0.1:9");

// Writes settings.json for an App under test; it always points the portal somewhere local.
inline bool writeTestSettings(const QString &path, QJsonObject settings = {})
{
    if (!settings.contains(QStringLiteral("portal_url")))
        settings.insert(QStringLiteral("portal_url"), kOfflinePortal);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(settings).toJson()) > 0;
}

} // namespace corvane::test
