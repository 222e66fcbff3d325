#include "device/usb/RelayTargets.h"

#include <QHostInfo>

#include <atomic>

namespace corvane {

namespace {

std::atomic<bool> g_loopbackAllowed{false};

} // namespace

bool RelayTargets::isRefused(const QHostAddress &given)
{
    QHostAddress address = given;
    bool mapped = false;
    const quint32 v4 = given.toIPv4Address(&mapped);
    if (mapped)
        address = QHostAddress(v4);
    if (address.isLoopback())
        return !g_loopbackAllowed.load();
    const bool unspecified = address == QHostAddress(QHostAddress::AnyIPv4) || address == QHostAddress(QHostAddress::AnyIPv6);
    return unspecified || address.isLinkLocal() || address.isMulticast();
}

QString RelayTargets::refusalText(const QString &host)
{
    return QStringLiteral("the device asked for %1, an address of this computer or its local link").arg(host);
}

void RelayTargets::resolve(const QString &host, const QObject *context, Resolved done)
{
    // Qt drops the answer when the context has gone.
    QHostInfo::lookupHost(host, context, [host, done = std::move(done)](const QHostInfo &info) {
        Target target;
        if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
            target.error = info.errorString();
            done(target);
            return;
        }
        for (const QHostAddress &address : info.addresses()) {
            if (!isRefused(address)) {
                target.address = address;
                done(target);
                return;
            }
        }
        target.refused = true;
        target.error = refusalText(host);
        done(target);
    });
}

void RelayTargets::setLoopbackAllowedForTesting(bool allowed)
{
    g_loopbackAllowed.store(allowed);
}

} // namespace corvane
