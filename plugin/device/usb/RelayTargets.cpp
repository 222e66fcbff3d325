#include "device/usb/RelayTargets.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QPair>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace corvane {

namespace {

std::atomic<bool> g_loopbackAllowed{false};
std::mutex g_lookupLock;
RelayTargets::Lookup g_lookup; // guarded by g_lookupLock

// Ranges that do not lead to the internet. Loopback is judged apart, for the test seam.
constexpr const char *kRefusedRanges[] = {
    "0.0.0.0/8",          // "this network"
    "10.0.0.0/8",         // private
    "100.64.0.0/10",      // shared address space (carrier-grade NAT)
    "169.254.0.0/16",     // link-local
    "172.16.0.0/12",      // private
    "192.168.0.0/16",     // private
    "224.0.0.0/4",        // multicast
    "255.255.255.255/32", // broadcast
    "::/128",             // unspecified
    "64:ff9b::/96",       // NAT64: reaches IPv4 through a gateway on the local network
    "fc00::/7",           // unique-local
    "fe80::/10",          // link-local
    "fec0::/10",          // site-local
    "ff00::/8",           // multicast
};

const QList<QPair<QHostAddress, int>> &refusedRanges()
{
    static const QList<QPair<QHostAddress, int>> ranges = [] {
        QList<QPair<QHostAddress, int>> parsed;
        for (const char *range : kRefusedRanges)
            parsed.append(QHostAddress::parseSubnet(QString::fromLatin1(range)));
        return parsed;
    }();
    return ranges;
}

// IPv4 written as IPv6 (::ffff:a.b.c.d, or the older ::a.b.c.d) reaches the same IPv4
// host, so it is judged as that IPv4 address. "::" and "::1" are IPv6's own.
QHostAddress plain(const QHostAddress &address)
{
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    const bool zeros = std::all_of(bytes.c, bytes.c + 10, [](quint8 byte) { return byte == 0; });
    const quint32 v4 = (quint32(bytes[12]) << 24) | (quint32(bytes[13]) << 16) | (quint32(bytes[14]) << 8) | bytes[15];
    const bool mapped = zeros && bytes[10] == 0xff && bytes[11] == 0xff;
    const bool compatible = zeros && bytes[10] == 0 && bytes[11] == 0 && v4 > 1;
    if (mapped || compatible)
        return QHostAddress(v4);
    return address;
}

} // namespace

bool RelayTargets::isRefused(const QHostAddress &given, const QList<QHostAddress> &own)
{
    const QHostAddress address = plain(given);
    if (address.isLoopback())
        return !g_loopbackAllowed.load();
    for (const auto &[network, prefix] : refusedRanges()) {
        if (address.isInSubnet(network, prefix))
            return true;
    }
    for (const QHostAddress &mine : own) {
        const QHostAddress other = plain(mine);
        if (!other.isLoopback() && other.isEqual(address))
            return true;
    }
    return false;
}

bool RelayTargets::isRefused(const QHostAddress &address)
{
    return isRefused(address, QNetworkInterface::allAddresses());
}

QString RelayTargets::refusalText(const QString &host)
{
    return QStringLiteral("the device asked for %1, an address of this computer or its local network").arg(host);
}

namespace {

// The addresses that may be dialled, or why none may. This computer's addresses are taken
// now rather than cached: they change as networks come and go (Wi-Fi, VPN), and reading
// them costs far less than the dial that follows, which happens once per connection.
RelayTargets::Target pick(const QList<QHostAddress> &addresses, const QString &host)
{
    RelayTargets::Target target;
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (!RelayTargets::isRefused(address, own))
            target.addresses.append(address);
    }
    if (target.addresses.isEmpty()) {
        target.refused = true;
        target.error = RelayTargets::refusalText(host);
    }
    return target;
}

RelayTargets::Lookup lookupForTesting()
{
    std::lock_guard<std::mutex> guard(g_lookupLock);
    return g_lookup;
}

} // namespace

void RelayTargets::resolve(const QString &host, QObject *context, Resolved done)
{
    // An address needs no lookup, nor a lookup thread; it is answered later all the same.
    QList<QHostAddress> known;
    if (QHostAddress literal; literal.setAddress(host))
        known.append(literal);
    else if (const Lookup lookup = lookupForTesting())
        known = lookup(host);
    if (!known.isEmpty()) {
        QTimer::singleShot(0, context, [known, host, done = std::move(done)] { done(pick(known, host)); });
        return;
    }
    // Qt drops the answer when the context has gone.
    QHostInfo::lookupHost(host, context, [host, done = std::move(done)](const QHostInfo &info) {
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
            Target target;
            target.error = info.errorString();
            done(target);
            return;
        }
        done(pick(info.addresses(), host));
    });
}

void RelayTargets::setLoopbackAllowedForTesting(bool allowed)
{
    g_loopbackAllowed.store(allowed);
}

void RelayTargets::setLookupForTesting(Lookup lookup)
{
    std::lock_guard<std::mutex> guard(g_lookupLock);
    g_lookup = std::move(lookup);
}

} // namespace corvane
