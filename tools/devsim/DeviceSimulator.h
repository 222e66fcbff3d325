#pragma once

#include "RpcMethods.h"
#include "device/usb/RpcAssembler.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QRandomGenerator>
#include <QString>

class QTimer;

namespace corvane::devsim {

class DeviceState;
class EchoServer;
class FileServer;
class LiveFeedServer;
class PtyEndpoint;

// A Corvane device, or a wireless receiver, on the far end of a pseudo-terminal. It speaks
// the USB frame protocol: answers hello (with a tunnel target and stream routes) or
// rx_status, serves RPC whole and fragmented, pushes live messages of a simulated game,
// originates tunnel bytes and relay streams, and grants stream credit. Every frame it
// receives is reported as one line on stdout; commands() lists what stdin can ask. A restart
// of the device drops the line (the pty goes away) and brings up a new one, printed again;
// with a pty link the same name points at it, as a re-enumerated USB device keeps its name.
class DeviceSimulator : public QObject {
    Q_OBJECT
public:
    struct Route {
        QString host;
        int port = 0;
    };
    struct Options {
        bool receiver = false;
        bool silent = false;
        bool noise = false;
        int liveMs = 1000;
        bool liveStamp = false; // adds "sim_sent_us" (monotonic clock) to each live message
        QString ptyLink; // kept pointing at the current pty, as a stable device name
        bool cloudEcho = false;
        Route tunnel;
        qsizetype otaSize = -1; // -1: no file server
        QByteArray otaContent;  // used when not empty
        bool echoStream = false;
        QMap<QString, Route> streams;
        quint32 streamCredit = 8192; // granted on Opened and renewed as data arrives; 0: manual
        int feedPort = 1010;         // the TLS live feed; 0 picks a free port
    };

    // The state is shared with any other front end and must outlive the simulator.
    DeviceSimulator(const Options &options, DeviceState *state, QObject *parent = nullptr);

    // Creates the pty and the local servers; prints their addresses.
    bool start(QString *error);
    // One command line from the control channel; false for an unknown command.
    bool command(const QString &line);

    static QString commands();

Q_SIGNALS:
    void quitRequested();

private:
    void report(const QString &line);
    void noteFeedCertificate();
    void sendFrame(quint8 type, const QByteArray &payload);
    void sendControl(const QJsonObject &message);
    void sendHelloAnswer();
    void sendReceiverStatus();
    void sendLive();
    void sendTunnel(qsizetype size);
    void onBytes(const QByteArray &bytes);
    void onControl(const QJsonObject &message);
    void onRpc(const QByteArray &payload);
    void onStream(const QByteArray &payload);
    void onReceiverSet(const QJsonObject &message);
    void onWentDown();
    void onCameUp();
    bool openLine(QString *error);
    QByteArray noiseBytes();

    Options m_options;
    PtyEndpoint *m_pty = nullptr;
    EchoServer *m_echo = nullptr;
    FileServer *m_files = nullptr;
    LiveFeedServer *m_feed = nullptr;
    QTimer *m_liveTimer = nullptr;
    QByteArray m_receiveBuffer;
    RpcAssembler m_assembler;
    DeviceState *m_state;
    RpcMethods m_methods;
    AdminSession m_admin; // the line's sign-in
    int m_dropRequests = 0; // RPC requests still to ignore
    QHash<QString, int> m_failures; // method -> requests of it still to answer with an error
    QRandomGenerator m_random;
    QString m_receiverKey;
    int m_receiverChannel = 6;
    struct StreamState {
        qint64 received = 0;
        QByteArray digestInput;
    };
    QHash<int, StreamState> m_streams;
};

} // namespace corvane::devsim
