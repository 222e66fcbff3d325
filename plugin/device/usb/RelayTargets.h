#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

class QObject;

namespace corvane {

// Where the USB relays may connect on a device's behalf. The relays exist to give a device
// its cloud hosts on the internet; this computer (obs-websocket, the hosted server, the
// Bluetooth helper's port, on any of its addresses) and the networks it sits on are not
// among the places a device may reach through it.
class RelayTargets {
public:
    // The outcome of resolving one host: the addresses to dial in turn, or why there are none.
    struct Target {
        QList<QHostAddress> addresses; // allowed, in the resolver's order; empty when none
        QString error;                 // the reason, for the relay's lastError
        bool refused = false;          // the host resolved only to refused addresses
    };
    using Resolved = std::function<void(const Target &target)>;
    using Lookup = std::function<QList<QHostAddress>(const QString &host)>;

    // Every address that is not global (loopback, link-local, unspecified, multicast,
    // broadcast, private, shared, site-local, unique-local, the NAT64 prefix), IPv4 written
    // as IPv4-mapped or IPv4-compatible IPv6 included, and every address in `own`.
    static bool isRefused(const QHostAddress &address, const QList<QHostAddress> &own);
    // The same against this computer's interface addresses as they are now.
    static bool isRefused(const QHostAddress &address);
    // Resolves `host` and calls `done` with the addresses that are not refused, unless
    // `context` has gone meanwhile. The relay dials those addresses, never the name again,
    // so a second lookup cannot answer differently.
    static void resolve(const QString &host, QObject *context, Resolved done);
    static QString refusalText(const QString &host);

    // Test seams: the tests' stand-ins for cloud hosts all listen on loopback, and a name
    // that resolves to several addresses needs a resolver the test controls.
    static void setLoopbackAllowedForTesting(bool allowed);
    static void setLookupForTesting(Lookup lookup);
};

} // namespace corvane
