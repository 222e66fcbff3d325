#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QTcpSocket;

namespace corvane {

// The raw cloud tunnel of a USB device without a network of its own: the device names a
// host and port in its hello answer and then exchanges opaque bytes in type-2 frames; the
// relay holds one TCP connection there and copies bytes both ways. There is no reconnect
// timer: the next bytes from the device dial again. A target on this computer or its local
// link is refused (RelayTargets): the relay answers as for a failed dial and drops the
// device's bytes until the device names another target.
class CloudRelay : public QObject {
    Q_OBJECT
public:
    using SocketFactory = std::function<QTcpSocket *()>;

    explicit CloudRelay(QObject *parent = nullptr);
    ~CloudRelay() override;

    // Turning sharing off drops the connection and what waited for it.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // Always drops the current connection, even for the same host and port.
    void setTarget(const QString &host, int port);
    // Drops the connection and pending bytes; the counters keep their values.
    void reset();
    // Tunnel bytes from a type-2 frame.
    void fromDevice(const QByteArray &bytes);

    bool targetValid() const { return m_targetValid; }
    bool isConnected() const { return m_connected; }
    QString host() const { return m_host; }
    int port() const { return m_port; }
    quint64 bytesUp() const { return m_bytesUp; }
    quint64 bytesDown() const { return m_bytesDown; }
    QString lastError() const { return m_lastError; }
    qsizetype pendingSize() const { return m_pending.size(); }

    // Supplies the sockets (tests); unset, the relay makes plain TCP sockets.
    void setSocketFactory(SocketFactory factory) { m_socketFactory = std::move(factory); }

    static constexpr qsizetype MaxPending = 262144;

Q_SIGNALS:
    // Cloud bytes for the device.
    void toDevice(const QByteArray &bytes);
    void statusChanged();

private:
    void ensureConnected();
    // No connection: the target was refused, did not resolve, or no address answered.
    void failDial(const QString &error, bool refused);
    void dropSocket();
    void onConnected();
    void onReadyRead();
    void onError();
    void onDisconnected();

    bool m_enabled = true;
    bool m_targetValid = false;
    bool m_connected = false;
    bool m_targetRefused = false;
    QString m_refusalLogged; // the last refused target, logged once
    QString m_host;
    int m_port = 0;
    quint64 m_bytesUp = 0;
    quint64 m_bytesDown = 0;
    QString m_lastError;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_pending;
    SocketFactory m_socketFactory;
};

} // namespace corvane
