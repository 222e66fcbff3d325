#pragma once

#include <QList>
#include <QString>

namespace corvane {

// A dotted version such as "1.0.2" or "v1.0.2-beta": numeric parts, and whether a
// pre-release suffix followed them.
struct PluginVersion {
    QList<qint64> parts;
    bool preRelease = false;
};

// Lenient by design: a part that is not a number counts as 0, and at least three parts
// come back, so that "1.2" and "1.2.0" compare equal.
PluginVersion parseVersion(const QString &text);

// -1, 0 or 1; a pre-release is below the release with the same numbers.
int compareVersions(const QString &a, const QString &b);

} // namespace corvane
