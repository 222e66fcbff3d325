#pragma once

#include "device/ble/BleAssembler.h"
#include "device/rpc/RpcTransport.h"

#include <QByteArray>
#include <QList>

namespace corvane {

class BleBridge;
struct BleReply;

// Admin RPC over a Bluetooth link: each message is cut into chunks that fit one write and
// written one at a time through the helper, in order; notification chunks are joined back
// into messages. The owning BleLink says when the link is up and feeds it the bytes.
class BleTransport : public RpcTransport {
    Q_OBJECT
public:
    static constexpr int kWriteTimeoutMs = 15000;

    BleTransport(BleBridge *bridge, QObject *parent = nullptr);
    ~BleTransport() override;

    bool isConnected() const override { return m_connected; }
    void send(const QByteArray &json) override;

    // The link came up with this write size: a fresh queue and assembler.
    void connectLink(int writeSize);
    // Back to not connected; the sequence counter goes on.
    void resetTransport();
    // Notification bytes; emits message for every message they complete.
    void feed(const QByteArray &bytes);

    int writeSize() const { return m_writeSize; }
    int lastSequence() const { return m_lastSequence; }

    static QString notPairedText();

private:
    void pumpWrites();
    void onWritten(const BleReply &reply);

    BleBridge *m_bridge;
    bool m_connected = false;
    int m_writeSize = 20;
    int m_lastSequence = 0;
    BleAssembler m_assembler;
    QList<QByteArray> m_writeQueue;
    bool m_writeInFlight = false;
};

} // namespace corvane
