#include "cloud/PortalClientJar.h"

#include "base/AtomicFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkCookie>

namespace corvane {

PortalClientJar::PortalClientJar(QObject *parent)
    : QNetworkCookieJar(parent)
{
}

void PortalClientJar::load()
{
    if (m_path.isEmpty())
        return;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonArray entries = QJsonDocument::fromJson(file.readAll()).array();
    QList<QNetworkCookie> cookies;
    for (const QJsonValue &entry : entries)
        cookies += QNetworkCookie::parseCookies(entry.toString().toUtf8());
    setAllCookies(cookies);
}

void PortalClientJar::save(const QDateTime &now)
{
    if (m_path.isEmpty())
        return;
    QJsonArray kept;
    for (const QNetworkCookie &cookie : allCookies()) {
        if (cookie.isSessionCookie() || cookie.expirationDate() > now)
            kept.append(QString::fromUtf8(cookie.toRawForm(QNetworkCookie::Full)));
    }
    saveFileAtomically(m_path, QJsonDocument(kept).toJson(QJsonDocument::Compact));
}

void PortalClientJar::clear()
{
    setAllCookies({});
    if (!m_path.isEmpty())
        QFile::remove(m_path);
}

} // namespace corvane
