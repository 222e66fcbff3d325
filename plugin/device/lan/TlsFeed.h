#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QSslCertificate;
class QSslSocket;

namespace corvane {

// The client of a device's secure live feed: TLS on port 1010, one auth line with the
// device's access token, then one JSON live message per line. Reconnects by itself, with a
// growing delay, while the feed is wanted.
//
// The device's certificate is self-signed, so no authority vouches for it: the feed pins
// its SHA-256 fingerprint instead. Started with a pin, it sends the token only to that
// certificate; started without one, it takes the first certificate it sees, pins it and
// says so (certificatePinned), so that its user can keep the pin.
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

    void start(const QString &host, const QString &token, const QString &pinnedSha256 = QString());
    void stop();

    QString detail() const { return m_detail; }
    bool isActive() const { return m_active; }
    bool isAuthenticated() const { return m_authenticated; }
    // The delay the next reconnection will wait.
    int reconnectDelay() const { return m_reconnectDelay; }
    // The fingerprint the token goes to: the one given to start, or the first one seen.
    QString pinnedSha256() const { return m_pin; }

    // The device's fixed port unless told otherwise (the simulator listens elsewhere).
    void setPort(quint16 port) { m_port = port; }
    // Test seam: shorter delays.
    void setTimingForTests(const Timing &timing);

    // Takes every complete line off the front of `buffer` and returns those that are JSON
    // objects, in order; blank and malformed lines are skipped, an unfinished line stays.
    static QList<QJsonObject> takeMessages(QByteArray &buffer);
    // A certificate's SHA-256 fingerprint as the feed keeps it: 64 lower-case hexadecimal
    // digits.
    static QString fingerprintOf(const QSslCertificate &certificate);
    // A fingerprint as a device or a person writes it (any case, pairs split by colons or
    // spaces) in the feed's form; empty unless it is a whole SHA-256 fingerprint.
    static QString normalizedFingerprint(const QString &text);
    // For people: upper-case pairs joined by colons.
    static QString displayedFingerprint(const QString &sha256);
    static QString certificateChangedText();

Q_SIGNALS:
    void connectedChanged(bool connected, const QString &detail);
    // A feed started without a pin took this certificate (before sending the token).
    void certificatePinned(const QString &sha256);
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
    bool certificateAllowed(const QString &seen) const;
    void refuseCertificate();

    QPointer<QSslSocket> m_socket;
    QString m_host;
    quint16 m_port = kPort;
    QString m_token;
    QString m_pin;
    QByteArray m_buffer;
    bool m_authenticated = false;
    bool m_active = false;
    bool m_reachedHost = false;
    bool m_certificateRefused = false; // the handshake failed on the pin
    QString m_detail;
    QTimer m_reconnectTimer;
    Timing m_timing;
    int m_reconnectDelay = m_timing.firstDelayMs;
};

} // namespace corvane
