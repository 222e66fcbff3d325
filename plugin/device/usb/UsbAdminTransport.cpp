#include "device/usb/UsbAdminTransport.h"

#include "device/rpc/RpcCode.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/SerialPort.h"

namespace corvane {

UsbAdminTransport::UsbAdminTransport(SerialPort *port, QObject *parent)
    : RpcTransport(parent)
    , m_port(port)
{
}

bool UsbAdminTransport::isConnected() const
{
    return m_port && m_port->isOpen();
}

void UsbAdminTransport::send(const QByteArray &json)
{
    if (!isConnected()) {
        Q_EMIT sendFailed(RpcCode::Disconnected, QStringLiteral("The USB device is not connected"));
        return;
    }
    const QList<QByteArray> frames = fragmentRpc(json);
    if (frames.isEmpty()) {
        Q_EMIT sendFailed(QStringLiteral("request_too_large"), QStringLiteral("That request is too large for the device"));
        return;
    }
    for (const QByteArray &frame : frames) {
        if (!m_port->write(frame)) {
            Q_EMIT sendFailed(QStringLiteral("write_failed"), QStringLiteral("Could not write to the USB device"));
            return;
        }
    }
}

} // namespace corvane
