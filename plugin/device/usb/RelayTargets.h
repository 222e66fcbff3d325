#pragma once

#include <QHostAddress>
#include <QString>

#include <functional>

class QObject;

namespace corvane {

// Where the USB relays may connect on a device's behalf. A device, or one behind a paired
// receiver, names its cloud hosts itself; this computer and its local link (obs-websocket,
// the hosted server, the Bluetooth helper's port) are not among the places it may reach.
class RelayTargets {
public:
    // The outcome of resolving one host: the address to dial, or why there is none.
    struct Target {
        QHostAddress address; // null when there is nothing to dial
        QString error;        // the reason, for the relay's lastError
        bool refused = false; // the host resolved only to refused addresses
    };
    using Resolved = std::function<void(const Target &target)>;

    // Loopback, link-local, unspecified and multicast addresses, IPv4-mapped IPv6 ones
    // included.
    static bool isRefused(const QHostAddress &address);
    // Resolves `host` and calls `done` with the first address that is not refused, unless
    // `context` has gone meanwhile. The relay connects to that address, never to the name
    // again, so a second lookup cannot answer differently.
    static void resolve(const QString &host, const QObject *context, Resolved done);
    static QString refusalText(const QString &host);

    // Test seam: the tests' stand-ins for cloud hosts all listen on loopback.
    static void setLoopbackAllowedForTesting(bool allowed);
};

} // namespace corvane
