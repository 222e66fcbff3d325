#pragma once

#include "device/DeviceLink.h"

#include <QString>

namespace corvane {

class BleBridge;
class BleTransport;
struct BleReply;

// A device reached over Bluetooth LE through the helper program. Opening starts the helper
// (if need be) and connects to the device's address; admin RPC then travels on its
// BleTransport. The link carries no live data, so a signed-in session polls.
class BleLink : public DeviceLink {
    Q_OBJECT
public:
    static constexpr int kConnectTimeoutMs = 150000;
    static constexpr int kDisconnectTimeoutMs = 8000;

    // `address`: the device id from a scan. Uses the plugin's bridge.
    BleLink(const QString &address, const QString &label, QObject *parent = nullptr);
    BleLink(const QString &address, const QString &label, BleBridge *bridge, QObject *parent = nullptr);
    ~BleLink() override;

    QString kind() const override { return QStringLiteral("ble"); }
    void open() override;
    void close() override;
    RpcTransport *rpcTransport() const override;
    bool needsPolling() const override { return true; }

    QString address() const { return m_address; }
    QString label() const { return m_label; }
    BleTransport *bleTransport() const { return m_transport; }

    static QString linkLostText();
    static QString helperStoppedText();

private:
    void onStarted(const BleReply &started, quint32 attempt);
    void onConnected(const BleReply &reply);
    void onData(const QByteArray &bytes);
    void onDisconnected(const QString &reason);
    void onHelperStopped();
    void loseLink(const QString &reason);

    QString m_address;
    QString m_label;
    BleBridge *m_bridge;
    BleTransport *m_transport;
    bool m_linkOpen = false;
    quint32 m_attempt = 0; // every open and close; answers of older attempts are void
};

} // namespace corvane
