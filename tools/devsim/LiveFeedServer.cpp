#include "LiveFeedServer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>

namespace corvane::devsim {

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

LiveFeedServer::LiveFeedServer(TokenSource token, QObject *parent)
    : QTcpServer(parent)
    , m_token(std::move(token))
{
}

bool LiveFeedServer::start(quint16 port, QString *error)
{
    if (!makeCertificate(error))
        return false;
    if (!listen(QHostAddress::LocalHost, port)) {
        *error = errorString();
        return false;
    }
    return true;
}

bool LiveFeedServer::renewCertificate(QString *error)
{
    if (!makeCertificate(error))
        return false;
    dropAll();
    return true;
}

QString LiveFeedServer::fingerprint() const
{
    if (m_certificate.isNull())
        return QString();
    const QByteArray digest = m_certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper();
    return QString::fromLatin1(digest);
}

bool LiveFeedServer::makeCertificate(QString *error)
{
    // Test material only: a fresh key pair in a folder that goes away with this call.
    QTemporaryDir dir;
    if (!dir.isValid()) {
        *error = QStringLiteral("no temporary folder for the feed certificate");
        return false;
    }
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    const QString certPath = dir.filePath(QStringLiteral("cert.pem"));
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certPath, QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=corvane-devsim")});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        *error = QStringLiteral("openssl could not make the feed certificate: %1")
                     .arg(QString::fromUtf8(openssl.readAll()).trimmed() + openssl.errorString());
        return false;
    }
    const QSslCertificate certificate(readAll(certPath), QSsl::Pem);
    const QSslKey key(readAll(keyPath), QSsl::Ec, QSsl::Pem);
    if (certificate.isNull() || key.isNull()) {
        *error = QStringLiteral("the feed certificate made by openssl could not be read");
        return false;
    }
    m_certificate = certificate;
    m_key = key;
    return true;
}

void LiveFeedServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    m_clients.append(Client{socket, {}, false});
    connect(socket, &QSslSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QSslSocket::disconnected, this, [this, socket] { forget(socket); });
    connect(socket, &QSslSocket::errorOccurred, this, [this, socket] { forget(socket); });
    socket->startServerEncryption();
}

void LiveFeedServer::onReadyRead(QSslSocket *socket)
{
    for (Client &client : m_clients) {
        if (client.socket != socket)
            continue;
        client.buffer.append(socket->readAll());
        qsizetype newline;
        while (!client.authenticated && (newline = client.buffer.indexOf('\n')) >= 0) {
            const QByteArray line = client.buffer.left(newline).trimmed();
            client.buffer.remove(0, newline + 1);
            if (line.isEmpty())
                continue;
            const QJsonObject auth = QJsonDocument::fromJson(line).object();
            const QString expected = m_token();
            const bool ok = auth.value(QStringLiteral("type")).toString() == QLatin1String("auth") && !expected.isEmpty()
                            && auth.value(QStringLiteral("token")).toString() == expected;
            if (ok) {
                client.authenticated = true;
                send(socket, {{QStringLiteral("type"), QStringLiteral("auth_ok")}});
            } else {
                send(socket, {{QStringLiteral("type"), QStringLiteral("auth_fail")}, {QStringLiteral("error"), QStringLiteral("invalid_token")}});
                socket->disconnectFromHost();
                return;
            }
        }
        // After the auth line the device does not listen.
        if (client.authenticated)
            client.buffer.clear();
        return;
    }
}

void LiveFeedServer::send(QSslSocket *socket, const QJsonObject &message)
{
    socket->write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
}

void LiveFeedServer::broadcast(const QJsonObject &message)
{
    for (const Client &client : std::as_const(m_clients)) {
        if (client.socket && client.authenticated)
            send(client.socket, message);
    }
}

void LiveFeedServer::failAuthenticated()
{
    const QList<Client> clients = m_clients;
    for (const Client &client : clients) {
        if (!client.socket || !client.authenticated)
            continue;
        send(client.socket, {{QStringLiteral("type"), QStringLiteral("auth_fail")}, {QStringLiteral("error"), QStringLiteral("token_revoked")}});
        client.socket->disconnectFromHost();
    }
}

void LiveFeedServer::dropAll()
{
    const QList<Client> clients = m_clients;
    m_clients.clear();
    for (const Client &client : clients) {
        if (!client.socket)
            continue;
        client.socket->disconnect(this);
        client.socket->abort();
        client.socket->deleteLater();
    }
}

int LiveFeedServer::authenticatedCount() const
{
    int count = 0;
    for (const Client &client : m_clients)
        count += client.socket && client.authenticated ? 1 : 0;
    return count;
}

void LiveFeedServer::forget(QSslSocket *socket)
{
    for (qsizetype i = 0; i < m_clients.size(); ++i) {
        if (m_clients.at(i).socket == socket) {
            m_clients.removeAt(i);
            socket->deleteLater();
            return;
        }
    }
}

} // namespace corvane::devsim
