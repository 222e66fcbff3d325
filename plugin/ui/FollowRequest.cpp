#include "ui/FollowRequest.h"

#include "device/lan/DeviceWebApi.h"

#include <QRegularExpression>

namespace corvane {

namespace {

enum class Problem { NoDevice, Main, Followed, BadAddress, BadPort, NoToken, NoUsbPort, UsbPortTaken, BadBluetooth };

struct ProblemText {
    Problem problem;
    const char *text; // %1: the device, or the device already on the USB port
};

const ProblemText kProblems[] = {
    {Problem::NoDevice, "Choose or type the device to follow."},
    {Problem::Main, "%1 is the main device (the one the dock picks), so it cannot be followed beside itself."},
    {Problem::Followed, "%1 is followed already."},
    {Problem::BadAddress, "Type the device's network address, e.g. 192.168.1.20, or its number, e.g. 0029."},
    {Problem::BadPort, "The feed port after the address must be a number from 1 to 65535."},
    {Problem::NoToken, "This computer has no access token for %1 yet. Set the device up once with \"Set up or manage a "
                       "device\u2026\" over USB or Bluetooth, then follow it here."},
    {Problem::NoUsbPort, "Choose the USB port the device is plugged into."},
    {Problem::UsbPortTaken, "%1 is followed on that USB port already."},
    {Problem::BadBluetooth, "Type the device's Bluetooth address, e.g. C0:FF:EE:00:00:29."},
};

FollowCheck refuse(Problem problem, const QString &device = QString())
{
    for (const ProblemText &row : kProblems) {
        if (row.problem != problem)
            continue;
        // Only sentences that name a device take one: arg() warns about a missing place.
        const QString text = QString::fromUtf8(row.text);
        return {std::nullopt, text.contains(QLatin1String("%1")) ? text.arg(device) : text};
    }
    return {};
}

// A host with an optional feed port after it; false when a port is there but not a port.
bool splitFeedAddress(const QString &typed, QString *host, quint16 *port)
{
    const QString resolved = resolveHost(typed);
    const HostAndPort split = splitHostAndPort(resolved);
    static const QRegularExpression trailingNumber(QStringLiteral("^[^:]+:[0-9]*$|^\\[.*\\]:[0-9]*$"));
    // A device name drops a bad port when it becomes a host name: what was typed tells.
    if (split.port == 0 && (trailingNumber.match(resolved).hasMatch() || trailingNumber.match(typed.trimmed()).hasMatch()))
        return false;
    *host = split.host;
    *port = quint16(split.port);
    return true;
}

bool isBluetoothAddress(const QString &address)
{
    // Six bytes, with or without separators, as the helper lists them; or a system's UUID.
    static const QRegularExpression mac(QStringLiteral("^[0-9A-Fa-f]{2}([:-]?[0-9A-Fa-f]{2}){5}$"));
    static const QRegularExpression uuid(QStringLiteral("^\\{?[0-9A-Fa-f]{8}(-[0-9A-Fa-f]{4}){3}-[0-9A-Fa-f]{12}\\}?$"));
    return mac.match(address).hasMatch() || uuid.match(address).hasMatch();
}

FollowCheck checkLan(FollowedRoute route, const QString &address, const FollowContext &context)
{
    const LanRoute stored = context.lanRouteOf ? context.lanRouteOf(route.deviceId) : LanRoute{};
    QString host;
    quint16 port = 0;
    if (!splitFeedAddress(address.trimmed().isEmpty() ? stored.host : address, &host, &port))
        return refuse(Problem::BadPort);
    if (host.isEmpty())
        return refuse(Problem::BadAddress);
    if (stored.token.isEmpty())
        return refuse(Problem::NoToken, route.deviceId);
    // The pin belongs to the device, wherever it is now.
    route.lan = LanRoute{host, stored.token, route.name, stored.certificateSha256, port};
    return {route, QString()};
}

} // namespace

FollowCheck checkFollowRequest(const FollowRequest &request, const FollowContext &context)
{
    FollowedRoute route{request.deviceId.trimmed(), request.kind, request.name.trimmed()};
    if (route.deviceId.isEmpty())
        return refuse(Problem::NoDevice);
    if (route.deviceId == context.mainDevice)
        return refuse(Problem::Main, route.deviceId);
    for (const FollowedRoute &followed : context.followed) {
        if (followed.deviceId == route.deviceId)
            return refuse(Problem::Followed, route.deviceId);
    }
    switch (route.kind) {
    case FollowedRoute::Lan:
        return checkLan(route, request.address, context);
    case FollowedRoute::Usb:
        route.usbPort = request.usbPort.trimmed();
        if (route.usbPort.isEmpty())
            return refuse(Problem::NoUsbPort);
        for (const FollowedRoute &followed : context.followed) {
            if (followed.kind == FollowedRoute::Usb && followed.usbPort == route.usbPort)
                return refuse(Problem::UsbPortTaken, followed.label());
        }
        break;
    case FollowedRoute::Ble:
        route.bleAddress = request.address.trimmed();
        if (!isBluetoothAddress(route.bleAddress))
            return refuse(Problem::BadBluetooth);
        break;
    case FollowedRoute::Cloud:
        break;
    }
    return {route, QString()};
}

} // namespace corvane
