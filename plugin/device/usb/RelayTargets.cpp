#include "device/usb/RelayTargets.h"

#include <QHostInfo>
#include <QTimer>

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

namespace {

// The first address that may be dialled, or why none may.
RelayTargets::Target pick(const QList<QHostAddress> &addresses, const QString &host)
{
    RelayTargets::Target target;
    for (const QHostAddress &address : addresses) {
        if (!RelayTargets::isRefused(address)) {
            target.address = address;
            return target;
        }
    }
    target.refused = true;
    target.error = RelayTargets::refusalText(host);
    return target;
}

} // namespace

void RelayTargets::resolve(const QString &host, const QObject *context, Resolved done)
{
    // An address needs no lookup, nor a lookup thread; it is answered later all the same.
    if (QHostAddress literal; literal.setAddress(host)) {
        QTimer::singleShot(0, context, [literal, host, done = std::move(done)] { done(pick({literal}, host)); });
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

} // namespace corvane
