#include "update/UpdaterConfig.h"

namespace corvane {

QString defaultUpdatePlatform()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("windows-x64");
#else
    return QStringLiteral("linux-x64");
#endif
}

QString defaultLibraryPath()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("bin/64bit/corvane-obs.dll");
#else
    return QStringLiteral("bin/64bit/corvane-obs.so");
#endif
}

} // namespace corvane
