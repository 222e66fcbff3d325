#include "update/UnpackCommand.h"

#include <QDir>
#include <QFileInfo>

namespace corvane {

// Windows ships libarchive's bsdtar as System32\tar.exe; it reads zip archives. -P passes
// member names through unchanged, so that names meant to escape reach the plugin's check.
UnpackCommand unpackCommand(const QString &packagePath)
{
    const QString systemRoot = qEnvironmentVariable("SystemRoot", QStringLiteral("C:\\Windows"));
    const QString tar = systemRoot + QStringLiteral("\\System32\\tar.exe");
    return {QFileInfo::exists(tar) ? tar : QString(),
            {QStringLiteral("-c"), QStringLiteral("-f"), QStringLiteral("-"), QStringLiteral("--format"),
             QStringLiteral("pax"), QStringLiteral("-P"), QLatin1Char('@') + QDir::toNativeSeparators(packagePath)}};
}

QString unpackerMissingText()
{
    if (!unpackCommand(QString()).program.isEmpty())
        return {};
    return QStringLiteral("The update could not be unpacked on this computer. Nothing was changed.");
}

} // namespace corvane
