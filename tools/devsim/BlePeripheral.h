#pragma once

#include "RpcMethods.h"

#include "device/ble/BleAssembler.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace corvane::devsim {

class DeviceState;

// The device's Bluetooth LE side, and the air around it, for corvane-ble-helper's simulated
// radio. Each TCP connection is one computer's radio. It sends numbered requests
// ("<n> ADAPTER", "SCAN START|STOP", "OPEN <address>", "SERVICE <uuid>", "CHAR <uuid>",
// "SUBSCRIBE", "PDU", "WRITE <base64>", "CLOSE") and gets "<n> OK ..." or "<n> ERR <text>";
// while it scans it hears "ADV <address> <rssi> <uuids|-> <name>" lines, and once subscribed
// "NOTIFY <base64>" lines and "LOST" when the link drops. Writes to the write
// characteristic carry RPC in Bluetooth chunks to the same DeviceState the other front ends
// serve; replies come back as notifications cut to the link's payload size.
//
// By default the air holds the device at several addresses among other devices, for the
// scan's cases. Given an address of its own, it holds that one device alone, so that several
// simulators, each a device of its own, can share one computer's radio (see the helper's
// CORVANE_BLE_SIM list) without answering for one another.
class BlePeripheral : public QObject {
    Q_OBJECT
public:
    // pduSize 0: the link's PDU size cannot be read. address 0: the default air.
    BlePeripheral(DeviceState *state, int pduSize, quint64 address = 0, QObject *parent = nullptr);
    ~BlePeripheral() override;

    bool listen(quint16 port, QString *error);
    quint16 serverPort() const;

    // One line from the control channel; lines starting with "ble-" are this side's
    // (answered "OK ..." or "ERR ..."); false for any other line.
    bool command(const QString &line);
    static QString commands();

private:
    struct Radio;

    void onNewConnection();
    void onReadyRead(Radio *radio);
    void handle(Radio *radio, quint64 number, const QString &verb, const QString &argument);
    void newLink(Radio *radio);
    void onWrite(Radio *radio, const QByteArray &chunk);
    void notify(Radio *radio, const QByteArray &message);
    void advertise(Radio *radio);
    void dropLinks(const QString &why);
    int payloadSize() const;
    bool reachable(quint64 address, bool *corvane) const;

    DeviceState *m_state;
    RpcMethods m_methods;
    QTcpServer *m_server;
    QTimer *m_advertTimer;
    QList<Radio *> m_radios;
    int m_pduSize;
    quint64 m_address;
    QString m_deny; // "service", "subscribe", "write" or empty
    bool m_away = false;
    bool m_names = true;
    quint8 m_sequence = 0;
};

} // namespace corvane::devsim
