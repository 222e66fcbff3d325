#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>

namespace corvane {

class RpcTransport;

// One connection attempt to one device, whatever carries it (USB, local network,
// Bluetooth). A link emits nothing before open(); the attempt ends with opened or failed,
// envelope may come any time while connected, closed reports the loss of an open
// connection, and close() is silent. The link owns its transport.
class DeviceLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~DeviceLink() override;

    // "usb", "lan" or "ble"; stable for the link's life.
    virtual QString kind() const = 0;
    // Starts an attempt; abandons any earlier one.
    virtual void open() = 0;
    // Ends the connection or attempt without emitting anything.
    virtual void close() = 0;
    // The same object for the whole life of the link, owned by it.
    virtual RpcTransport *rpcTransport() const = 0;
    // Whether a signed-in session must poll the device for its status.
    virtual bool needsPolling() const = 0;

Q_SIGNALS:
    // The device answered; info is its self-description as this link obtains it.
    void opened(const QJsonObject &info);
    // An open connection ended; reason is a user-facing sentence.
    void closed(const QString &reason);
    // One live message pushed by the device.
    void envelope(const QJsonObject &env);
    // The link could not be established or the device did not answer.
    void failed(const QString &code, const QString &message);
};

} // namespace corvane
