#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace corvane {

// The carrier of admin RPC messages to one device (USB frames, HTTP requests, Bluetooth
// writes). It moves one request as JSON text and hands back replies as JSON text; failures
// to deliver come as sendFailed, never as a return value.
class RpcTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~RpcTransport() override;

    // Whether a request can be handed over now.
    virtual bool isConnected() const = 0;
    // Hands over one request. May emit sendFailed before returning.
    virtual void send(const QByteArray &json) = 0;

Q_SIGNALS:
    // One complete reply as JSON text.
    void message(const QByteArray &json);
    // The request just handed to send could not be delivered.
    void sendFailed(const QString &code, const QString &text);
};

} // namespace corvane
