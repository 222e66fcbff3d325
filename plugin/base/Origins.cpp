#include "base/Origins.h"

#include <QUrl>

namespace corvane {

bool isAllowedAddress(const QString &address)
{
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    const QString host = url.host().toLower();
    return scheme == QLatin1String("http")
        && (host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost"));
}

QString chooseOrigin(const QString &configured, const QString &fallback)
{
    const QString trimmed = configured.trimmed();
    if (trimmed.isEmpty() || !isAllowedAddress(trimmed))
        return fallback;
    QString origin = trimmed;
    while (origin.endsWith(QLatin1Char('/')))
        origin.chop(1);
    return origin;
}

} // namespace corvane
