#include "base/FollowedRoute.h"

#include <QJsonValue>

#include <cmath>

namespace corvane {

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

// The members of one kind that name where the device is: each must be a non-empty text.
struct KindRow {
    FollowedRoute::Kind kind;
    const char *name;
    const char *required[2];
};

const KindRow kKinds[] = {
    {FollowedRoute::Cloud, "cloud", {nullptr, nullptr}},
    {FollowedRoute::Lan, "lan", {"host", "token"}},
    {FollowedRoute::Usb, "usb", {"port_name", nullptr}},
    {FollowedRoute::Ble, "ble", {"address", nullptr}},
};

// Optional text members: absent is empty, another type is refused rather than guessed.
const char *const kOptionalTexts[] = {"name", "tls_sha256"};

const KindRow *rowNamed(const QString &name)
{
    for (const KindRow &row : kKinds) {
        if (name == QLatin1String(row.name))
            return &row;
    }
    return nullptr;
}

bool refuse(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return false;
}

bool checkTexts(const QJsonObject &entry, const KindRow &row, QString *why)
{
    for (const char *member : row.required) {
        if (member && entry.value(key(member)).toString().isEmpty())
            return refuse(why, QStringLiteral("\"%1\" is missing or empty").arg(key(member)));
    }
    for (const char *member : kOptionalTexts) {
        const QJsonValue v = entry.value(key(member));
        if (!v.isUndefined() && !v.isString())
            return refuse(why, QStringLiteral("\"%1\" is not a text").arg(key(member)));
    }
    return true;
}

// The feed's port: absent is the device's fixed one; anything but a whole 1..65535 is refused.
bool readPort(const QJsonObject &entry, quint16 *port, QString *why)
{
    const QJsonValue v = entry.value(QStringLiteral("port"));
    if (v.isUndefined())
        return true;
    const double d = v.toDouble(-1);
    if (!v.isDouble() || d != std::floor(d) || d < 1 || d > 65535)
        return refuse(why, QStringLiteral("\"port\" is not a port number"));
    *port = static_cast<quint16>(d);
    return true;
}

} // namespace

QString FollowedRoute::kindName(Kind kind)
{
    for (const KindRow &row : kKinds) {
        if (row.kind == kind)
            return key(row.name);
    }
    return {};
}

std::optional<FollowedRoute> FollowedRoute::fromJson(const QJsonObject &entry, QString *why)
{
    FollowedRoute route;
    route.deviceId = entry.value(QStringLiteral("device")).toString();
    if (route.deviceId.isEmpty()) {
        refuse(why, QStringLiteral("\"device\" is missing or empty"));
        return std::nullopt;
    }
    const QString kind = entry.value(QStringLiteral("route")).toString();
    const KindRow *row = rowNamed(kind);
    if (!row) {
        refuse(why, QStringLiteral("unknown route \"%1\"").arg(kind));
        return std::nullopt;
    }
    if (!checkTexts(entry, *row, why) || !readPort(entry, &route.lan.port, why))
        return std::nullopt;
    const auto text = [&entry](const char *name) { return entry.value(key(name)).toString(); };
    route.kind = row->kind;
    route.name = text("name");
    if (route.kind == Lan) {
        route.lan.host = text("host");
        route.lan.token = text("token");
        route.lan.name = route.name;
        route.lan.certificateSha256 = text("tls_sha256");
    } else {
        route.lan.port = 0;
    }
    if (route.kind == Usb)
        route.usbPort = text("port_name");
    if (route.kind == Ble)
        route.bleAddress = text("address");
    return route;
}

QJsonObject FollowedRoute::toJson() const
{
    QJsonObject entry{{QStringLiteral("device"), deviceId}, {QStringLiteral("route"), kindName(kind)}};
    const auto put = [&entry](const char *member, const QString &value) {
        if (!value.isEmpty())
            entry.insert(key(member), value);
    };
    put("name", name);
    switch (kind) {
    case Lan:
        put("host", lan.host);
        put("token", lan.token);
        put("tls_sha256", lan.certificateSha256);
        if (lan.port != 0)
            entry.insert(QStringLiteral("port"), int(lan.port));
        break;
    case Usb:
        put("port_name", usbPort);
        break;
    case Ble:
        put("address", bleAddress);
        break;
    case Cloud:
        break;
    }
    return entry;
}

} // namespace corvane
