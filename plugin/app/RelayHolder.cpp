#include "app/RelayHolder.h"

#include "base/SettingsStore.h"
#include "device/DeviceSession.h"
#include "device/usb/CloudRelay.h"
#include "device/usb/UsbLink.h"

namespace corvane {

namespace {

// Null for a session on another kind of link.
UsbLink *usbLinkOf(const DeviceSession *session)
{
    return qobject_cast<UsbLink *>(session->link());
}

bool isConnected(DeviceSession::State state)
{
    switch (state) {
    case DeviceSession::Idle:
    case DeviceSession::Lost:
    case DeviceSession::Error:
    case DeviceSession::Restarting:
        return false;
    default:
        return true;
    }
}

QString relayState(const CloudRelay *relay)
{
    if (relay->isConnected())
        return QStringLiteral("connected to the cloud through this computer");
    if (!relay->lastError().isEmpty())
        return QStringLiteral("cannot reach the cloud (%1)").arg(relay->lastError());
    if (relay->targetValid())
        return QStringLiteral("ready, waiting for the device");
    return QStringLiteral("waiting for the paired device");
}

} // namespace

RelayHolder::RelayHolder(const SettingsStore *settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
}

bool RelayHolder::adopt(DeviceSession *session)
{
    UsbLink *link = session ? usbLinkOf(session) : nullptr;
    if (!link || !m_settings->shareConnection() || !isConnected(session->state()))
        return false;
    if (!session->receiverOnly() && !link->cloudRelay()->targetValid())
        return false;
    closeOnPort(link->portName());
    session->setParent(this);
    m_sessions.append(session);
    connect(link->cloudRelay(), &CloudRelay::statusChanged, this, &RelayHolder::changed);
    connect(session, &DeviceSession::stateChanged, this, [this, session] { onStateChanged(session); });
    Q_EMIT changed();
    return true;
}

void RelayHolder::release(const QString &portName)
{
    closeOnPort(portName);
    Q_EMIT changed();
}

void RelayHolder::closeOnPort(const QString &portName)
{
    const QList<QPointer<DeviceSession>> sessions = m_sessions;
    for (const QPointer<DeviceSession> &kept : sessions) {
        DeviceSession *session = kept.data();
        const UsbLink *link = session ? usbLinkOf(session) : nullptr;
        if (link && link->portName() == portName)
            drop(session);
    }
    m_sessions.removeAll(QPointer<DeviceSession>());
}

void RelayHolder::releaseAll()
{
    const QList<QPointer<DeviceSession>> sessions = m_sessions;
    for (const QPointer<DeviceSession> &session : sessions) {
        if (session)
            drop(session.data());
    }
    m_sessions.clear();
    Q_EMIT changed();
}

QStringList RelayHolder::statusLines() const
{
    QStringList lines;
    for (const QPointer<DeviceSession> &kept : m_sessions) {
        const DeviceSession *session = kept.data();
        const UsbLink *link = session ? usbLinkOf(session) : nullptr;
        if (!link)
            continue;
        QString who = session->receiverOnly() ? QStringLiteral("wireless receiver") : session->deviceId();
        if (who.isEmpty())
            who = QStringLiteral("USB device");
        lines << QStringLiteral("%1: %2").arg(who, relayState(link->cloudRelay()));
    }
    return lines;
}

void RelayHolder::onStateChanged(DeviceSession *session)
{
    if (isConnected(session->state()) || !m_sessions.contains(session))
        return;
    drop(session);
    Q_EMIT changed();
}

void RelayHolder::drop(DeviceSession *session)
{
    m_sessions.removeAll(session);
    session->disconnect(this);
    if (UsbLink *link = usbLinkOf(session))
        link->cloudRelay()->disconnect(this);
    session->close();
    session->deleteLater();
}

} // namespace corvane
