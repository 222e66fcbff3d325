#include "base/SettingsStore.h"

#include "base/AtomicFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane {

namespace {

constexpr char kSelectedDevice[] = "selected_device";
constexpr char kServerEnabled[] = "server_enabled";
constexpr char kServerPort[] = "server_port";
constexpr char kServerAllowNetwork[] = "server_allow_network";
constexpr char kOverlayServerEnabled[] = "overlay_server_enabled";
constexpr char kOverlayServerPort[] = "overlay_server_port";
constexpr char kShareConnection[] = "share_connection";
constexpr char kAutoCheckUpdates[] = "auto_check_updates";
constexpr char kLastUpdateCheck[] = "last_update_check";
constexpr char kLastUsbPort[] = "last_usb_port";
constexpr char kRoutes[] = "routes";
constexpr char kLan[] = "lan";
// A member of a "lan" entry that plugins before certificate pinning do not read.
constexpr char kLanCertificate[] = "tls_sha256";
// The feed's port of a device made main from a followed one; absent is the fixed one.
constexpr char kLanPort[] = "port";
// Plugins before followed devices ignore this key and keep it when they save.
constexpr char kFollowedDevices[] = "followed_devices";
constexpr char kPortalUrl[] = "portal_url";
constexpr char kDownloadsUrl[] = "downloads_url";
constexpr char kChaptersEnabled[] = "chapters_enabled";
constexpr char kChapterChanges[] = "chapter_changes";
constexpr char kChapterTemplate[] = "chapter_template";
constexpr char kChapterSpacing[] = "chapter_spacing_s";
constexpr char kChapterDevice[] = "chapter_device";
constexpr int kDefaultChapterSpacingSeconds = 10;
constexpr int kMaxChapterSpacingSeconds = 600;

QString key(const char *name) { return QString::fromLatin1(name); }

QString followedDeviceOf(const QJsonValue &entry) { return entry.toObject().value(QStringLiteral("device")).toString(); }

} // namespace

void SettingsStore::load(const QString &path)
{
    m_path = path;
    m_object = {};
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
    if (doc.isObject())
        m_object = doc.object();
}

QString SettingsStore::string(const char *name, const QString &fallback) const
{
    const QJsonValue v = m_object.value(key(name));
    return v.isString() ? v.toString() : fallback;
}

bool SettingsStore::boolean(const char *name, bool fallback) const
{
    const QJsonValue v = m_object.value(key(name));
    return v.isBool() ? v.toBool() : fallback;
}

QString SettingsStore::selectedDevice() const { return string(kSelectedDevice); }
bool SettingsStore::serverEnabled() const { return boolean(kServerEnabled, false); }
bool SettingsStore::serverAllowNetwork() const { return boolean(kServerAllowNetwork, false); }
bool SettingsStore::shareConnection() const { return boolean(kShareConnection, true); }
bool SettingsStore::autoCheckUpdates() const { return boolean(kAutoCheckUpdates, true); }
QString SettingsStore::lastUsbPort() const { return string(kLastUsbPort); }
bool SettingsStore::chaptersEnabled() const { return boolean(kChaptersEnabled, true); }
QString SettingsStore::chapterChanges() const { return string(kChapterChanges, QStringLiteral("both")); }
QString SettingsStore::chapterTemplate() const { return string(kChapterTemplate); }
int SettingsStore::chapterSpacingSeconds() const
{
    return qBound(0, integer(kChapterSpacing, kDefaultChapterSpacingSeconds), kMaxChapterSpacingSeconds);
}
QString SettingsStore::chapterDevice() const { return string(kChapterDevice); }
QString SettingsStore::portalUrl() const { return string(kPortalUrl); }
QString SettingsStore::downloadsUrl() const { return string(kDownloadsUrl); }

int SettingsStore::integer(const char *name, int fallback) const
{
    // Only a whole number in the int range is an integer; 9001.5 or "9001" are not.
    const QJsonValue v = m_object.value(key(name));
    if (!v.isDouble())
        return fallback;
    const double d = v.toDouble();
    if (d != std::floor(d) || d < std::numeric_limits<int>::min() || d > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(d);
}

int SettingsStore::serverPort() const { return integer(kServerPort, kDefaultServerPort); }
bool SettingsStore::overlayServerEnabled() const { return boolean(kOverlayServerEnabled, false); }
int SettingsStore::overlayServerPort() const { return integer(kOverlayServerPort, kDefaultOverlayPort); }

qint64 SettingsStore::lastUpdateCheck() const
{
    const QJsonValue v = m_object.value(key(kLastUpdateCheck));
    return v.isDouble() ? static_cast<qint64>(v.toDouble()) : 0;
}

QString SettingsStore::routeFor(const QString &deviceId) const
{
    const QJsonValue v = m_object.value(key(kRoutes)).toObject().value(deviceId);
    return v.isString() ? v.toString() : QStringLiteral("cloud");
}

LanRoute SettingsStore::lanRoute(const QString &deviceId) const
{
    const QJsonObject entry = m_object.value(key(kLan)).toObject().value(deviceId).toObject();
    const auto member = [&entry](const char *name) {
        const QJsonValue v = entry.value(key(name));
        return v.isString() ? v.toString() : QString();
    };
    const double port = entry.value(key(kLanPort)).toDouble(0);
    const bool ownPort = port >= 1 && port <= 65535 && port == std::floor(port);
    return {member("host"), member("token"), member("name"), member(kLanCertificate), ownPort ? quint16(port) : quint16(0)};
}

void SettingsStore::setSelectedDevice(const QString &id) { write(kSelectedDevice, id); }
void SettingsStore::setServerEnabled(bool enabled) { write(kServerEnabled, enabled); }
void SettingsStore::setServerPort(int port) { write(kServerPort, port); }
void SettingsStore::setServerAllowNetwork(bool allow) { write(kServerAllowNetwork, allow); }
void SettingsStore::setOverlayServerEnabled(bool enabled) { write(kOverlayServerEnabled, enabled); }
void SettingsStore::setOverlayServerPort(int port) { write(kOverlayServerPort, port); }
void SettingsStore::setShareConnection(bool share) { write(kShareConnection, share); }
void SettingsStore::setAutoCheckUpdates(bool enabled) { write(kAutoCheckUpdates, enabled); }
void SettingsStore::setLastUsbPort(const QString &port) { write(kLastUsbPort, port); }
void SettingsStore::setChaptersEnabled(bool enabled) { write(kChaptersEnabled, enabled); }
void SettingsStore::setChapterChanges(const QString &changes) { write(kChapterChanges, changes); }
void SettingsStore::setChapterTemplate(const QString &templateText) { write(kChapterTemplate, templateText); }
void SettingsStore::setChapterSpacingSeconds(int seconds)
{
    write(kChapterSpacing, qBound(0, seconds, kMaxChapterSpacingSeconds));
}
void SettingsStore::setChapterDevice(const QString &deviceId) { write(kChapterDevice, deviceId); }

void SettingsStore::setLastUpdateCheck(qint64 secondsSinceEpoch)
{
    write(kLastUpdateCheck, static_cast<double>(secondsSinceEpoch));
}

void SettingsStore::setRoute(const QString &deviceId, const QString &route)
{
    setMember(kRoutes, deviceId, route);
}

void SettingsStore::setLanRoute(const QString &deviceId, const LanRoute &route)
{
    QJsonObject entry{{QStringLiteral("host"), route.host}, {QStringLiteral("token"), route.token}, {QStringLiteral("name"), route.name}};
    if (!route.certificateSha256.isEmpty())
        entry.insert(key(kLanCertificate), route.certificateSha256);
    if (route.port != 0)
        entry.insert(key(kLanPort), int(route.port));
    setMember(kLan, deviceId, entry);
}

bool SettingsStore::pinLanCertificate(const QString &deviceId, const QString &sha256)
{
    const QJsonValue stored = m_object.value(key(kLan)).toObject().value(deviceId);
    if (!stored.isObject() || sha256.isEmpty())
        return false;
    QJsonObject entry = stored.toObject();
    // A pin is never replaced from here: only device setup, which asks the device itself.
    if (!entry.value(key(kLanCertificate)).toString().isEmpty())
        return false;
    entry.insert(key(kLanCertificate), sha256);
    setMember(kLan, deviceId, entry);
    return true;
}

QList<FollowedRoute> SettingsStore::followedRoutes(QStringList *refused) const
{
    QList<FollowedRoute> routes;
    const QJsonValue stored = m_object.value(key(kFollowedDevices));
    if (!stored.isUndefined() && !stored.isArray() && refused)
        refused->append(QStringLiteral("\"%1\" is not a list").arg(key(kFollowedDevices)));
    const QJsonArray entries = stored.toArray();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        QString why = QStringLiteral("not an object");
        std::optional<FollowedRoute> route;
        if (entries.at(i).isObject())
            route = FollowedRoute::fromJson(entries.at(i).toObject(), &why);
        const bool twice = route && std::any_of(routes.cbegin(), routes.cend(), [&route](const FollowedRoute &r) {
            return r.deviceId == route->deviceId;
        });
        if (route && !twice)
            routes.append(*route);
        else if (refused)
            refused->append(QStringLiteral("entry %1: %2").arg(i + 1).arg(twice ? QStringLiteral("device already followed") : why));
    }
    return routes;
}

void SettingsStore::setFollowedRoute(const FollowedRoute &route)
{
    QJsonArray entries = m_object.value(key(kFollowedDevices)).toArray();
    qsizetype i = 0;
    while (i < entries.size() && followedDeviceOf(entries.at(i)) != route.deviceId)
        ++i;
    if (i < entries.size())
        entries.replace(i, route.toJson());
    else
        entries.append(route.toJson());
    write(kFollowedDevices, entries);
}

void SettingsStore::removeFollowedRoute(const QString &deviceId)
{
    QJsonArray entries = m_object.value(key(kFollowedDevices)).toArray();
    for (qsizetype i = entries.size() - 1; i >= 0; --i) {
        if (followedDeviceOf(entries.at(i)) == deviceId)
            entries.removeAt(i);
    }
    write(kFollowedDevices, entries);
}

void SettingsStore::write(const char *name, const QJsonValue &value)
{
    m_object.insert(key(name), value);
    save();
}

void SettingsStore::setMember(const char *objectKey, const QString &member, const QJsonValue &value)
{
    // A stored non-object under this key is replaced; it could never have been read anyway.
    QJsonObject inner = m_object.value(key(objectKey)).toObject();
    inner.insert(member, value);
    write(objectKey, inner);
}

void SettingsStore::save() const
{
    if (!m_path.isEmpty())
        saveFileAtomically(m_path, QJsonDocument(m_object).toJson(QJsonDocument::Indented));
}

} // namespace corvane
