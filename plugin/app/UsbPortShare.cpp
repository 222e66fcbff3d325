#include "app/UsbPortShare.h"

#include "device/usb/CloudRelay.h"
#include "device/usb/UsbLink.h"

#include <QTimer>

namespace corvane {

UsbPortShare::UsbPortShare(QObject *parent)
    : QObject(parent)
{
}

UsbPortShare::~UsbPortShare()
{
    for (Port &each : m_ports)
        closeOwn(each);
}

UsbLink *UsbPortShare::linkOn(const QString &port) const
{
    const auto it = m_ports.constFind(port);
    return it == m_ports.cend() ? nullptr : it->link.data();
}

void UsbPortShare::listen(const QString &port)
{
    Port &entry = m_ports[port];
    if (++entry.listeners == 1 && !entry.link)
        openOwn(port);
}

void UsbPortShare::stopListening(const QString &port)
{
    const auto it = m_ports.find(port);
    if (it == m_ports.end() || --it->listeners > 0)
        return;
    closeOwn(*it);
    delete it->reopen;
    m_ports.erase(it);
}

void UsbPortShare::attach(UsbLink *link)
{
    const QString port = link->portName();
    Port &entry = m_ports[port];
    closeOwn(entry);
    entry.link = link;
    connect(link, &QObject::destroyed, this, [this, port, link] { onLinkGone(port, link); });
    Q_EMIT linkChanged(port);
}

void UsbPortShare::openOwn(const QString &port)
{
    Port &entry = m_ports[port];
    auto *link = new UsbLink(port, this);
    // Following reads live messages only; relaying to the cloud stays the setup's choice.
    link->cloudRelay()->setEnabled(false);
    entry.link = link;
    entry.own = true;
    connect(link, &UsbLink::failed, this, [this, port] { scheduleReopen(port); });
    connect(link, &UsbLink::closed, this, [this, port] { scheduleReopen(port); });
    Q_EMIT linkChanged(port);
    link->open();
}

void UsbPortShare::closeOwn(Port &entry)
{
    if (entry.reopen)
        entry.reopen->stop();
    UsbLink *link = entry.link.data();
    if (!entry.own || link == nullptr)
        return;
    entry.link = nullptr;
    entry.own = false;
    link->disconnect(this);
    // Closed now, so that whoever takes the port next can open it.
    link->close();
    link->deleteLater();
}

void UsbPortShare::onLinkGone(const QString &port, UsbLink *link)
{
    const auto it = m_ports.find(port);
    if (it == m_ports.end() || (it->link && it->link != link))
        return;
    it->link = nullptr;
    Q_EMIT linkChanged(port);
    if (it->listeners > 0)
        scheduleReopen(port);
}

void UsbPortShare::scheduleReopen(const QString &port)
{
    Port &entry = m_ports[port];
    if (!entry.reopen) {
        entry.reopen = new QTimer(this);
        entry.reopen->setSingleShot(true);
        connect(entry.reopen, &QTimer::timeout, this, [this, port] {
            Port &current = m_ports[port];
            if (current.listeners <= 0)
                return;
            // Someone else's link has the port: nothing of ours to reopen.
            if (current.link && !current.own)
                return;
            closeOwn(current);
            openOwn(port);
        });
    }
    entry.reopen->start(m_reopenDelayMs);
}

} // namespace corvane
