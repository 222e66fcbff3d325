#pragma once

#include <QDateTime>
#include <QNetworkCookieJar>
#include <QString>

namespace corvane {

// The cloud portal's cookie jar, backed by session.json so that a sign-in survives an OBS
// restart. The file is one JSON array of cookies in their full Set-Cookie form.
class PortalClientJar : public QNetworkCookieJar {
    Q_OBJECT
public:
    explicit PortalClientJar(QObject *parent = nullptr);

    void setPath(const QString &path) { m_path = path; }
    QString path() const { return m_path; }

    // Replaces the jar's content with the file's cookies; a missing or malformed file
    // leaves the jar as it was.
    void load();
    // Writes the cookies that are still valid at `now` (session cookies always are).
    void save(const QDateTime &now = QDateTime::currentDateTimeUtc());
    // Forgets every cookie and deletes the file.
    void clear();

    using QNetworkCookieJar::allCookies;

private:
    QString m_path;
};

} // namespace corvane
