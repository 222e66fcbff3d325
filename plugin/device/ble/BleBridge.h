#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QProcess;
class QTcpServer;
class QTcpSocket;
class QTimer;

namespace corvane {

// One answer of the Bluetooth helper (or of the bridge on its behalf).
struct BleReply {
    bool ok = false;
    QJsonObject result;
    QString code;
    QString message;
};

// One device heard by a scan.
struct BleDeviceInfo {
    QString id; // 12 upper-case hexadecimal digits
    QString name;
    int rssi = 0;
};

// The plugin's side of corvane-ble-helper: starts the helper on demand, accepts its one
// loopback connection, checks its hello token, sends requests as JSON lines, matches the
// replies by reqId, times requests out and turns the helper's event lines into signals.
// The plugin uses one bridge (instance()); it lives on the main thread.
//
// Any local program can connect to the loopback port, so the token is one-time: it reaches
// the helper in its environment (a command line is readable by every user), a hello is
// accepted only while a launch waits for it and only once, and connections that have not
// said it are held apart, at most kMaxCandidates of them, and closed when the launch ends.
// Neither kind of connection can make the bridge buffer more than its line bound.
class BleBridge : public QObject {
    Q_OBJECT
public:
    using ReplyCallback = std::function<void(const BleReply &reply)>;
    using ScanCallback = std::function<void(bool ok, const QList<BleDeviceInfo> &devices, int seen, const QString &code,
                                            const QString &message)>;

    static constexpr int kStartTimeoutMs = 20000;
    static constexpr int kStartRequestTimeoutMs = 30000;
    static constexpr int kScanExtraMs = 15000;
    // What a connection may send before its hello, and the longest line after it.
    static constexpr qsizetype kMaxHelloBytes = 4096;
    static constexpr qsizetype kMaxLineBytes = 1 << 20;
    // Connections held waiting for their hello at once; more are closed when they come.
    static constexpr int kMaxCandidates = 4;
    // How long stop() lets a helper that was asked to quit finish what it does (a scan can
    // hold it for half a minute) before ending it.
    static constexpr int kQuitWaitMs = 1000;
    // The environment variable that hands the helper its token.
    static constexpr const char *kTokenVariable = "CORVANE_BLE_TOKEN";

    static BleBridge *instance();
    explicit BleBridge(QObject *parent = nullptr);
    ~BleBridge() override;

    void setHelperPath(const QString &path) { m_helperPath = path; }
    QString helperPath() const { return m_helperPath; }

    // The helper's adapter check, asked once per helper connection.
    void start(ReplyCallback callback);
    void scan(int ms, ScanCallback callback);
    // One request; the callback (may be empty) runs exactly once.
    void request(const QString &op, const QJsonObject &args, ReplyCallback callback, int timeoutMs);
    // Unload: forgets every caller, asks a running helper to quit and ends it when it has not
    // within kQuitWaitMs (ends one still starting at once) and closes the port. Requests made
    // afterwards fail at once: nothing listens or launches again.
    void stop();
    // As stop(), without waiting for the helper: its process moves to `keeper` (which must
    // outlive the bridge), ended when it has not quit within kQuitWaitMs (one still starting
    // at once) and deleted when it has ended.
    void stopWithoutWaiting(QObject *keeper);
    // Ends at once the helpers still quitting under `keeper`: none outlives the plugin.
    static void endQuitting(QObject *keeper);

    // The running helper's process id, 0 when none runs.
    qint64 helperProcessId() const;
    // How long a launched helper may take to say hello; the default is kStartTimeoutMs.
    void setStartTimeoutForTesting(int ms);

    static QString missingText();
    static QString noPortText();
    static QString didNotStartText();
    static QString stoppedText();
    static QString timeoutText();

Q_SIGNALS:
    void dataReceived(const QByteArray &bytes);
    void disconnected(const QString &reason);
    void helperStopped(const QString &reason);

private:
    using ReadyCallback = std::function<void(bool ok, const QString &error)>;
    struct Pending {
        ReplyCallback callback;
        QTimer *timer = nullptr;
    };

    // A connection that has not said its hello yet.
    struct Candidate {
        QTcpSocket *socket = nullptr;
        QByteArray buffer;
        qsizetype received = 0;
    };

    void ensureHelper(ReadyCallback callback);
    void launchHelper();
    bool launchPending() const;
    void onNewConnection();
    void onCandidateReadable(QTcpSocket *socket);
    void acceptHelper(QTcpSocket *socket, const QByteArray &rest);
    void dropCandidate(QTcpSocket *socket);
    void dropCandidates();
    void onReadyRead(QTcpSocket *socket);
    bool takeLines(QTcpSocket *socket);
    void endHelperProcess(bool askedToQuit);
    bool quitTalking();
    void handleLine(const QJsonObject &object);
    void onSocketLost(QTcpSocket *socket);
    void onRequestTimeout(int reqId);
    void onHelperExited(QProcess *process);
    void failStart(const QString &error);
    void failAll(const QString &code, const QString &message);
    static void settle(Pending &pending);
    static void closeLater(QTcpSocket *socket, QObject *owner);

    QString m_helperPath;
    QTcpServer *m_server;
    QPointer<QTcpSocket> m_socket; // the helper, once its hello was accepted
    QPointer<QProcess> m_process;
    QString m_token;               // empty unless a launch waits for its hello
    QByteArray m_buffer;
    QList<Candidate> m_candidates;
    QTimer *m_startTimer;
    QList<ReadyCallback> m_startWaiters;
    QHash<int, Pending> m_pending;
    int m_nextReqId = 1;
    bool m_started = false;
    bool m_stopped = false;
};

} // namespace corvane
