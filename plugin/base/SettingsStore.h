#pragma once

#include "base/FollowedRoute.h"
#include "base/LanRoute.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace corvane {

// The operator's choices in settings.json. Reads fall back to the default whenever a key is
// missing or has another JSON type; every write saves the whole file at once. A save that
// fails keeps the value in memory until the next one succeeds.
class SettingsStore {
public:
    static constexpr int kDefaultServerPort = 9001;
    static constexpr int kDefaultOverlayPort = 9002;

    // Reads the file at `path` (empty: settings live in memory only). Anything but a JSON
    // object reads as empty settings.
    void load(const QString &path);

    QString path() const { return m_path; }
    QJsonObject object() const { return m_object; }

    QString selectedDevice() const;
    bool serverEnabled() const;
    int serverPort() const;
    bool serverAllowNetwork() const;
    bool overlayServerEnabled() const;
    int overlayServerPort() const;
    bool shareConnection() const;
    bool autoCheckUpdates() const;
    qint64 lastUpdateCheck() const;
    QString lastUsbPort() const;
    // Chapter markers and the game log of recordings: on or off, which changes make a
    // chapter ("score", "period", "both") and the chapter template ("" for the default).
    bool chaptersEnabled() const;
    QString chapterChanges() const;
    QString chapterTemplate() const;
    // Chapters closer than this many seconds merge into the later one (video sites want
    // about 10 s between chapters); 0 merges none.
    int chapterSpacingSeconds() const;
    // The device whose chapters and game log a recording gets: "" for the main device.
    QString chapterDevice() const;
    // Developer settings: local stand-ins for the portal and the download server; "" when
    // absent. Callers pass them through chooseOrigin().
    QString portalUrl() const;
    QString downloadsUrl() const;
    QString routeFor(const QString &deviceId) const;
    LanRoute lanRoute(const QString &deviceId) const;
    // The devices followed beside the main one, in stored order. An entry that cannot be
    // read (or a second one for the same device) is left out and its reason added to
    // `refused`; it stays in the file untouched, as entries of kinds a newer plugin knows.
    QList<FollowedRoute> followedRoutes(QStringList *refused = nullptr) const;

    void setSelectedDevice(const QString &id);
    void setServerEnabled(bool enabled);
    void setServerPort(int port);
    void setServerAllowNetwork(bool allow);
    void setOverlayServerEnabled(bool enabled);
    void setOverlayServerPort(int port);
    void setShareConnection(bool share);
    void setAutoCheckUpdates(bool enabled);
    void setLastUpdateCheck(qint64 secondsSinceEpoch);
    void setLastUsbPort(const QString &port);
    void setChaptersEnabled(bool enabled);
    void setChapterChanges(const QString &changes);
    void setChapterTemplate(const QString &templateText);
    void setChapterSpacingSeconds(int seconds);
    void setChapterDevice(const QString &deviceId);
    void setRoute(const QString &deviceId, const QString &route);
    void setLanRoute(const QString &deviceId, const LanRoute &route);
    // Keeps the certificate a route without a pin met first; false (and nothing written)
    // when the device has no route or its route is already pinned.
    bool pinLanCertificate(const QString &deviceId, const QString &sha256);
    // Replaces the stored entry of the route's device in place, or appends one.
    void setFollowedRoute(const FollowedRoute &route);
    void removeFollowedRoute(const QString &deviceId);

private:
    QString string(const char *key, const QString &fallback = QString()) const;
    bool boolean(const char *key, bool fallback) const;
    int integer(const char *key, int fallback) const;
    void write(const char *key, const QJsonValue &value);
    void setMember(const char *objectKey, const QString &member, const QJsonValue &value);
    void save() const;

    QString m_path;
    QJsonObject m_object;
};

} // namespace corvane
