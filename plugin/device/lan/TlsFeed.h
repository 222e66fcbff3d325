#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QSslSocket;

namespace corvane {

// The client of a device's secure live feed: TLS on port 1010, one auth line with the
// device's access token, then one JSON live message per line. Reconnects by itself, with a
// growing delay, while the feed is wanted.
class TlsFeed : public QObject {
    Q_OBJECT
public:
    static constexpr quint16 kPort = 1010;
    // The longest unfinished line kept; a device that sends more is disconnected.
    static constexpr qsizetype kMaxLine = 1024 * 1024;

    struct Timing {
        int firstDelayMs = 1000;
        int maxDelayMs = 15000;
    };

    explicit TlsFeed(QObject *parent = nullptr);
    ~TlsFeed() override;

    void start(const QString &host, const QString &token);
    void stop();

    QString detail() const { return m_detail; }
    bool isActive() const { return m_active; }
    bool isAuthenticated() const { return m_authenticated; }
    // The delay the next reconnection will wait.
    int reconnectDelay() const { return m_reconnectDelay; }

    // The device's fixed port unless told otherwise (the simulator listens elsewhere).
    void setPort(quint16 port) { m_port = port; }
    // Test seam: shorter delays.
    void setTimingForTests(const Timing &timing);

    // Takes every complete line off the front of `buffer` and returns those that are JSON
    // objects, in order; blank and malformed lines are skipped, an unfinished line stays.
    static QList<QJsonObject> takeMessages(QByteArray &buffer);

Q_SIGNALS:
    void connectedChanged(bool connected, const QString &detail);
    void envelope(const QJsonObject &env);

private:
    void connectNow();
    void dropSocket();
    void onEncrypted();
    void onReadyRead();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);
    void scheduleReconnect();
    void refuse();

    QPointer<QSslSocket> m_socket;
    QString m_host;
    quint16 m_port = kPort;
    QString m_token;
    QByteArray m_buffer;
    bool m_authenticated = false;
    bool m_active = false;
    bool m_reachedHost = false;
    QString m_detail;
    QTimer m_reconnectTimer;
    Timing m_timing;
    int m_reconnectDelay = m_timing.firstDelayMs;
};

} // namespace corvane
