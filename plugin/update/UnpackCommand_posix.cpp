#include "update/UnpackCommand.h"

#include <QStandardPaths>

namespace corvane {

// libarchive's bsdtar reads zip archives. -P passes member names through unchanged, so that
// names meant to escape reach the plugin's own check instead of being quietly rewritten.
UnpackCommand unpackCommand(const QString &packagePath)
{
    return {QStandardPaths::findExecutable(QStringLiteral("bsdtar")),
            {QStringLiteral("-c"), QStringLiteral("-f"), QStringLiteral("-"), QStringLiteral("--format"),
             QStringLiteral("pax"), QStringLiteral("-P"), QLatin1Char('@') + packagePath}};
}

QString unpackerMissingText()
{
    if (!unpackCommand(QString()).program.isEmpty())
        return {};
    return QStringLiteral("The update cannot be unpacked on this computer: the program bsdtar is missing. Install the "
                          "package libarchive-tools (Debian, Ubuntu) or libarchive (other systems), then try again. "
                          "Nothing was changed.");
}

} // namespace corvane
