#include "device/lan/TlsFeed.h"

#include "base/Log.h"
#include "base/OrderedJson.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QSslCertificate>
#include <QSslSocket>
#include <QStringList>

#include <algorithm>

namespace corvane {

namespace {

const char kRejectedForGood[] = "The device rejected the connection. Re-run device setup to refresh its access.";
const char kRejected[] = "The device rejected the connection.";
const char kUnreachable[] = "Could not reach the device on your network (%1).";
const char kTooLong[] = "The device sent a line too long to be a live message.";
const char kCertificateChanged[] =
    "The device presented a different security certificate, so its access token was not sent. If the device was reset, "
    "run its setup again over USB or Bluetooth to trust its new certificate; otherwise someone on the network may be "
    "posing as it.";
constexpr qsizetype kSha256HexDigits = 64;

} // namespace

TlsFeed::TlsFeed(QObject *parent)
    : QObject(parent)
{
    m_reconnectTimer.setSingleShot(true);
    connect(&m_reconnectTimer, &QTimer::timeout, this, &TlsFeed::connectNow);
}

TlsFeed::~TlsFeed() { stop(); }

void TlsFeed::setTimingForTests(const Timing &timing)
{
    m_timing = timing;
    m_reconnectDelay = timing.firstDelayMs;
}

QString TlsFeed::certificateChangedText()
{
    return QString::fromLatin1(kCertificateChanged);
}

QString TlsFeed::fingerprintOf(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return QString();
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
}

QString TlsFeed::normalizedFingerprint(const QString &text)
{
    QString digits;
    for (const QChar c : text) {
        if (c == QLatin1Char(':') || c == QLatin1Char(' ') || c == QLatin1Char('-'))
            continue;
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return QString();
        digits += c.toLower();
    }
    return digits.size() == kSha256HexDigits ? digits : QString();
}

QString TlsFeed::displayedFingerprint(const QString &sha256)
{
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < sha256.size(); i += 2)
        pairs << sha256.mid(i, 2).toUpper();
    return pairs.join(QLatin1Char(':'));
}

void TlsFeed::start(const QString &host, const QString &token, const QString &pinnedSha256)
{
    stop();
    m_host = host;
    m_token = token;
    m_pin = normalizedFingerprint(pinnedSha256);
    m_active = true;
    m_reconnectDelay = m_timing.firstDelayMs;
    connectNow();
}

void TlsFeed::stop()
{
    m_active = false;
    m_reconnectTimer.stop();
    dropSocket();
    if (m_authenticated) {
        m_authenticated = false;
        Q_EMIT connectedChanged(false, QString());
    }
}

void TlsFeed::dropSocket()
{
    if (!m_socket)
        return;
    m_socket->disconnect(this);
    m_socket->abort();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void TlsFeed::connectNow()
{
    if (!m_active)
        return;
    dropSocket();
    m_buffer.clear();
    m_authenticated = false;
    m_reachedHost = false;
    m_certificateRefused = false;
    m_socket = new QSslSocket(this);
    QSslSocket *socket = m_socket;
    // The device's certificate is self-signed: the errors of the usual check are expected,
    // and the pin decides. Refused, the handshake fails and the error handler reports it.
    connect(socket, &QSslSocket::sslErrors, this, [this, socket] {
        if (certificateAllowed(fingerprintOf(socket->peerCertificate())))
            socket->ignoreSslErrors();
        else
            m_certificateRefused = true;
    });
    connect(socket, &QSslSocket::connected, this, [this] { m_reachedHost = true; });
    connect(socket, &QSslSocket::encrypted, this, &TlsFeed::onEncrypted);
    connect(socket, &QSslSocket::readyRead, this, &TlsFeed::onReadyRead);
    connect(socket, &QSslSocket::disconnected, this, &TlsFeed::onDisconnected);
    connect(socket, &QSslSocket::errorOccurred, this, &TlsFeed::onError);
    socket->connectToHostEncrypted(m_host, m_port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

bool TlsFeed::certificateAllowed(const QString &seen) const
{
    return !seen.isEmpty() && (m_pin.isEmpty() || seen == m_pin);
}

// For good: retrying would meet the same certificate, and the token must not reach it.
void TlsFeed::refuseCertificate()
{
    m_detail = certificateChangedText();
    m_active = false;
    m_reconnectTimer.stop();
    dropSocket();
    CORVANE_LOG_WARNING("live feed at %s:%u refused: its certificate is not the one pinned for it", qUtf8Printable(m_host),
                        unsigned(m_port));
    Q_EMIT connectedChanged(false, m_detail);
}

void TlsFeed::onEncrypted()
{
    // A certificate the usual check accepts raised no error above: the pin still decides.
    const QString seen = fingerprintOf(m_socket->peerCertificate());
    if (!certificateAllowed(seen)) {
        refuseCertificate();
        return;
    }
    if (m_pin.isEmpty()) {
        m_pin = seen;
        const QPointer<QSslSocket> socket = m_socket;
        Q_EMIT certificatePinned(seen);
        if (socket != m_socket || !socket)
            return;
    }
    // Exactly as the device documents it, "type" first: a device may read the line by its start.
    const OrderedJson auth =
        OrderedJson().add(QStringLiteral("type"), QStringLiteral("auth")).add(QStringLiteral("token"), m_token);
    m_socket->write(auth.toJson() + "\r\n");
}

QList<QJsonObject> TlsFeed::takeMessages(QByteArray &buffer)
{
    QList<QJsonObject> messages;
    qsizetype start = 0;
    qsizetype end;
    while ((end = buffer.indexOf('\n', start)) >= 0) {
        const QByteArray line = QByteArray::fromRawData(buffer.constData() + start, end - start).trimmed();
        start = end + 1;
        if (line.isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            messages.append(doc.object());
    }
    buffer.remove(0, start);
    return messages;
}

void TlsFeed::onReadyRead()
{
    const QPointer<QSslSocket> socket = m_socket;
    m_buffer += socket->readAll();
    const QList<QJsonObject> messages = takeMessages(m_buffer);
    for (const QJsonObject &message : messages) {
        const QString type = message.value(QLatin1String("type")).toString();
        if (!m_authenticated) {
            if (type != QLatin1String("auth_ok")) {
                refuse();
                return;
            }
            m_authenticated = true;
            m_reconnectDelay = m_timing.firstDelayMs;
            m_detail.clear();
            CORVANE_LOG_INFO("live feed connected to %s:%u", qUtf8Printable(m_host), unsigned(m_port));
            Q_EMIT connectedChanged(true, QString());
        } else if (type == QLatin1String("auth_fail")) {
            // The device closes the connection next; the disconnection reports it.
            m_detail = QString::fromLatin1(kRejected);
        } else {
            Q_EMIT envelope(message);
        }
        // A listener may have stopped or restarted the feed.
        if (socket != m_socket || !socket)
            return;
    }
    // An unfinished line beyond any live message would otherwise grow without end.
    if (m_buffer.size() > kMaxLine) {
        m_buffer.clear();
        m_detail = QString::fromLatin1(kTooLong);
        dropSocket();
        onDisconnected();
    }
}

void TlsFeed::refuse()
{
    m_detail = QString::fromLatin1(kRejectedForGood);
    m_active = false;
    m_reconnectTimer.stop();
    if (m_socket)
        m_socket->abort();
    CORVANE_LOG_INFO("live feed at %s:%u refused: %s", qUtf8Printable(m_host), unsigned(m_port), qUtf8Printable(m_detail));
    Q_EMIT connectedChanged(false, m_detail);
}

void TlsFeed::onDisconnected()
{
    if (m_certificateRefused) {
        refuseCertificate();
        return;
    }
    const bool wasAuthenticated = m_authenticated;
    m_authenticated = false;
    if (wasAuthenticated) {
        CORVANE_LOG_INFO("live feed from %s:%u dropped%s%s", qUtf8Printable(m_host), unsigned(m_port),
                         m_detail.isEmpty() ? "" : ": ", qUtf8Printable(m_detail));
        Q_EMIT connectedChanged(false, m_detail);
    }
    scheduleReconnect();
}

void TlsFeed::onError(QAbstractSocket::SocketError error)
{
    if (!m_socket)
        return;
    if (m_certificateRefused) {
        refuseCertificate();
        return;
    }
    // The device closes the connection right after "auth_fail"; that close must not
    // replace the reason the device gave.
    if (error != QAbstractSocket::RemoteHostClosedError || m_detail.isEmpty())
        m_detail = QString::fromLatin1(kUnreachable).arg(m_socket->errorString());
    // An attempt that never reached the device ends without a disconnection; retry it
    // too, or a device switched on after OBS would never be picked up.
    if (!m_reachedHost)
        scheduleReconnect();
}

void TlsFeed::scheduleReconnect()
{
    if (!m_active || m_reconnectTimer.isActive())
        return;
    m_reconnectTimer.start(m_reconnectDelay);
    m_reconnectDelay = std::min(m_reconnectDelay * 2, m_timing.maxDelayMs);
}

} // namespace corvane
