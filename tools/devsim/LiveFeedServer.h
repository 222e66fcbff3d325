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
// start-up. A client sends {"type":"auth","token":...} CR LF; a token equal to the device's
// API token gets "auth_ok" and every live message after it, any other gets "auth_fail" and
// is closed.
class LiveFeedServer : public QTcpServer {
    Q_OBJECT
public:
    using TokenSource = std::function<QString()>;

    LiveFeedServer(TokenSource token, QObject *parent = nullptr);

    // Makes the certificate (with the openssl program) and listens; 0 picks a free port.
    bool start(quint16 port, QString *error);

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
    void onReadyRead(QSslSocket *socket);
    void send(QSslSocket *socket, const QJsonObject &message);
    void forget(QSslSocket *socket);

    TokenSource m_token;
    QSslCertificate m_certificate;
    QSslKey m_key;
    QList<Client> m_clients;
};

} // namespace corvane::devsim
