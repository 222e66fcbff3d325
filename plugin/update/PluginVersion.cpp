#include "update/PluginVersion.h"

namespace corvane {

PluginVersion parseVersion(const QString &text)
{
    PluginVersion version;
    QString rest = text.trimmed();
    if (rest.startsWith(QLatin1Char('v'), Qt::CaseInsensitive))
        rest.remove(0, 1);
    const qsizetype dash = rest.indexOf(QLatin1Char('-'));
    if (dash >= 0) {
        version.preRelease = true;
        rest.truncate(dash);
    }
    for (const QString &part : rest.split(QLatin1Char('.'))) {
        bool ok = false;
        const qint64 number = part.toLongLong(&ok, 10);
        version.parts.append(ok && number >= 0 ? number : 0);
    }
    while (version.parts.size() < 3)
        version.parts.append(0);
    return version;
}

int compareVersions(const QString &a, const QString &b)
{
    const PluginVersion left = parseVersion(a);
    const PluginVersion right = parseVersion(b);
    const qsizetype count = qMax(left.parts.size(), right.parts.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 l = left.parts.value(i, 0);
        const qint64 r = right.parts.value(i, 0);
        if (l != r)
            return l < r ? -1 : 1;
    }
    if (left.preRelease != right.preRelease)
        return left.preRelease ? -1 : 1;
    return 0;
}

} // namespace corvane
