#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>
#include <functional>

class QSslSocket;

namespace corvane::devsim {

// The device's secure live feed: TLS on 127.0.0.1 with a self-signed certificate made at
// start-up, and made anew on request (as a device reset does). A client sends {"type":"auth","token":...} CR LF; a token equal to the device's
// API token gets "auth_ok" and every live message after it, any other gets "auth_fail" and
// is closed.
class LiveFeedServer : public QTcpServer {
    Q_OBJECT
public:
    using TokenSource = std::function<QString()>;

    LiveFeedServer(TokenSource token, QObject *parent = nullptr);

    // Makes the certificate (with the openssl program) and listens; 0 picks a free port.
    bool start(quint16 port, QString *error);
    // A new key pair and certificate for the connections to come; every current one is
    // dropped.
    bool renewCertificate(QString *error);
    // The certificate's SHA-256 fingerprint as the device reports it: upper-case pairs
    // joined by colons; empty before one was made.
    QString fingerprint() const;

    void broadcast(const QJsonObject &message);
    // Sends "auth_fail" to every authenticated client and closes it, as a device does when
    // its token is replaced.
    void failAuthenticated();
    // Drops every connection without a word.
    void dropAll();
    int authenticatedCount() const;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    struct Client {
        QPointer<QSslSocket> socket;
        QByteArray buffer;
        bool authenticated = false;
    };
    bool makeCertificate(QString *error);
    void onReadyRead(QSslSocket *socket);
    void send(QSslSocket *socket, const QJsonObject &message);
    void forget(QSslSocket *socket);

    TokenSource m_token;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QList<Client> m_clients;
};

} // namespace corvane::devsim
