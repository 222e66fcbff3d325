#pragma once

#include "device/rpc/RpcTransport.h"

#include <QPointer>

namespace corvane {

class SerialPort;

// The RPC transport of a USB link: requests go out at once as type-4 frames (fragmented
// above one frame), bypassing the relay pace so that the admin session stays responsive.
// Replies are joined by the link and handed in through deliver().
class UsbAdminTransport : public RpcTransport {
    Q_OBJECT
public:
    explicit UsbAdminTransport(SerialPort *port, QObject *parent = nullptr);

    bool isConnected() const override;
    void send(const QByteArray &json) override;

    // One whole reply joined from the line.
    void deliver(const QByteArray &json) { Q_EMIT message(json); }

private:
    QPointer<SerialPort> m_port;
};

} // namespace corvane
