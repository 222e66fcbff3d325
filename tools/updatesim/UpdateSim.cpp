#include "UpdateSim.h"

#include "ArchiveWriter.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace corvane::sim {

namespace {

const char kTop[] = "corvane-obs/";

QByteArray readFile(const QString &path, bool *ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    return *ok ? file.readAll() : QByteArray();
}

ArchiveMember file(const QByteArray &name, const QByteArray &data, bool compressed = false)
{
    return {ArchiveMember::File, name, data, compressed};
}

QByteArray head(int status, const char *reason, qint64 length, const char *type)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + type
        + "\r\nContent-Length: " + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n";
}

} // namespace

QStringList UpdateSim::manifestCases()
{
    return {QStringLiteral("newer"), QStringLiteral("no-packages"), QStringLiteral("schema-2"),
            QStringLiteral("upper-case-sha"), QStringLiteral("foreign-http"), QStringLiteral("min-obs"),
            QStringLiteral("other-platform"), QStringLiteral("redirect-away"), QStringLiteral("redirect-http"),
            QStringLiteral("redirect-https")};
}

QStringList UpdateSim::packageCases()
{
    return {QStringLiteral("ok"), QStringLiteral("wrong-sha"), QStringLiteral("one-byte-more"),
            QStringLiteral("far-more"), QStringLiteral("slow"), QStringLiteral("cut"), QStringLiteral("missing"),
            QStringLiteral("two-folders"), QStringLiteral("top-file"), QStringLiteral("macosx"),
            QStringLiteral("no-library"), QStringLiteral("symlink"), QStringLiteral("hardlink"),
            QStringLiteral("dotdot"), QStringLiteral("absolute"), QStringLiteral("bomb"), QStringLiteral("reserved-name"),
            QStringLiteral("redirect-http"), QStringLiteral("redirect-https")};
}

UpdateSim::UpdateSim(const SimOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] { onConnection(m_server); });
    // A TLS connection is pending only once its handshake is done, after newConnection.
    connect(&m_tlsServer, &QTcpServer::pendingConnectionAvailable, this, [this] { onConnection(m_tlsServer); });
    connect(&m_elsewhere, &QTcpServer::newConnection, this, [this] { onConnection(m_elsewhere); });
    connect(&m_plain, &QTcpServer::newConnection, this, [this] { onConnection(m_plain); });
}

bool UpdateSim::prepare(QString *error)
{
    bool ok = false;
    m_plugin = readFile(m_options.pluginFile, &ok);
    if (!ok) {
        *error = QStringLiteral("cannot read the plugin %1").arg(m_options.pluginFile);
        return false;
    }
    m_package = buildArchive();
    if (!tls())
        return true;
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(m_options.tlsCertificate);
    QFile keyFile(m_options.tlsKey);
    const QSslKey key = keyFile.open(QIODevice::ReadOnly) ? QSslKey(keyFile.readAll(), QSsl::Rsa) : QSslKey();
    if (chain.isEmpty() || key.isNull()) {
        *error = QStringLiteral("cannot read the TLS certificate %1 or key %2").arg(m_options.tlsCertificate, m_options.tlsKey);
        return false;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_tlsServer.setSslConfiguration(configuration);
    return true;
}

// The plugin folder as an install has it, then what the case adds or takes away. Members
// meant to escape come first, so that an unpacker writing as it reads would write them.
QByteArray UpdateSim::buildArchive() const
{
    const QString c = m_options.packageCase;
    const QByteArray top(kTop);
    QList<ArchiveMember> members;
    if (c == QLatin1String("dotdot"))
        members.append(file(top + "../../../corvane-escaped.txt", "escaped\n"));
    if (c == QLatin1String("absolute"))
        members.append(file(m_options.escapeDir.toUtf8() + "/corvane-escaped.txt", "escaped\n"));

    members.append({ArchiveMember::Directory, top, {}, false});
    if (c != QLatin1String("no-library"))
        members.append(file(top + m_options.libraryPath.toUtf8(), m_plugin));
    bool ok = false;
    const QByteArray locale = m_options.localeFile.isEmpty() ? QByteArray() : readFile(m_options.localeFile, &ok);
    members.append(file(top + "data/locale/en-US.ini", ok ? locale : QByteArray("TextTemplate=\"Template\"\n")));
    if (m_options.fillerBytes > 0) {
        QByteArray filler(m_options.fillerBytes, '\0');
        QRandomGenerator generator(20261208);
        for (char &byte : filler)
            byte = static_cast<char>(generator.generate() & 0xFF);
        members.append(file(top + "data/filler.bin", filler));
    }

    if (c == QLatin1String("two-folders"))
        members.append(file("other-plugin/readme.txt", "another folder\n"));
    else if (c == QLatin1String("top-file"))
        members.append(file("README.txt", "a file beside the folder\n"));
    else if (c == QLatin1String("macosx"))
        members.append(file("__MACOSX/corvane-obs/._en-US.ini", "resource fork\n"));
    else if (c == QLatin1String("symlink"))
        members.append({ArchiveMember::SymbolicLink, top + "data/escape", "../../../..", false});
    else if (c == QLatin1String("reserved-name"))
        members.append(file(top + "data/NUL.txt", "a device name on Windows\n"));
    else if (c == QLatin1String("bomb"))
        members.append(file(top + "data/huge.bin", QByteArray(qint64(m_options.bombMiB) << 20, '\0'), true));
    else if (c == QLatin1String("hardlink")) {
        members.append({ArchiveMember::HardLink, top + "data/same.so", top + m_options.libraryPath.toUtf8(), false});
        return writeTar(members);
    }
    return writeZip(members);
}

QString UpdateSim::url() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(tls() ? QStringLiteral("https") : QStringLiteral("http")).arg(front().serverPort());
}

QString UpdateSim::packagePath() const
{
    return QStringLiteral("/downloads/obs/corvane-obs-%1-%2.zip").arg(m_options.version, m_options.platform);
}

QJsonObject UpdateSim::manifest() const
{
    const QString c = m_options.manifestCase;
    QString sha = QString::fromLatin1(QCryptographicHash::hash(m_package, QCryptographicHash::Sha256).toHex());
    if (m_options.packageCase == QLatin1String("wrong-sha"))
        sha = QString::fromLatin1(QCryptographicHash::hash("something else", QCryptographicHash::Sha256).toHex());
    if (c == QLatin1String("upper-case-sha"))
        sha = sha.toUpper();
    QString packageUrl = url() + packagePath();
    if (c == QLatin1String("foreign-http"))
        packageUrl = QStringLiteral("http://downloads.example.com") + packagePath();

    QJsonObject root{{QStringLiteral("schema"), c == QLatin1String("schema-2") ? 2 : 1},
                     {QStringLiteral("version"), m_options.version},
                     {QStringLiteral("released"), QStringLiteral("2026-12-01")},
                     {QStringLiteral("notes"), QJsonArray{QStringLiteral("Faster updates."), QStringLiteral("Fixes.")}}};
    if (c == QLatin1String("min-obs"))
        root.insert(QStringLiteral("min_obs"), QStringLiteral("99.0.0"));
    if (c == QLatin1String("no-packages"))
        return root;
    const QJsonObject entry{{QStringLiteral("url"), packageUrl},
                            {QStringLiteral("sha256"), sha},
                            {QStringLiteral("size"), double(m_package.size())}};
    const QString platform = c == QLatin1String("other-platform") ? QStringLiteral("other-x64") : m_options.platform;
    root.insert(QStringLiteral("packages"), QJsonObject{{platform, entry}});
    return root;
}

bool UpdateSim::listen(quint16 port)
{
    if (!front().listen(QHostAddress::LocalHost, port))
        return false;
    if (tls() && !m_plain.listen(QHostAddress::LocalHost, 0))
        return false;
    return m_options.manifestCase != QLatin1String("redirect-away")
        || m_elsewhere.listen(QHostAddress(QStringLiteral("127.0.0.2")), front().serverPort());
}

void UpdateSim::onConnection(QTcpServer &server)
{
    while (QTcpSocket *socket = server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        const auto read = [this, socket, &server] {
            if (socket->property("answered").toBool())
                return;
            QByteArray request = socket->property("request").toByteArray() + socket->readAll();
            socket->setProperty("request", request);
            if (!request.contains("\r\n\r\n"))
                return;
            socket->setProperty("answered", true);
            const QList<QByteArray> line = request.left(request.indexOf("\r\n")).split(' ');
            const QByteArray path = line.value(1);
            std::printf("request %s %s%s\n", line.value(0).constData(), path.constData(),
                        &server == &m_plain ? " (plain http)" : "");
            std::fflush(stdout);
            answer(socket, line.value(0) == "GET" ? path : QByteArray());
        };
        connect(socket, &QTcpSocket::readyRead, this, read);
        // A TLS connection is handed over after its handshake, perhaps with the request in.
        if (socket->bytesAvailable() > 0)
            read();
    }
}

// The redirect cases send the first request for the manifest or the package elsewhere:
// "redirect-http" to the plain HTTP server beside the TLS one, "redirect-https" to the same
// server under the name localhost. The redirected request carries the query "moved".
bool UpdateSim::redirects(const QString &itsCase, const QByteArray &query) const
{
    return tls() && query != "moved" && (itsCase == QLatin1String("redirect-http") || itsCase == QLatin1String("redirect-https"));
}

void UpdateSim::redirect(QTcpSocket *socket, const QString &to)
{
    socket->write("HTTP/1.1 302 Found\r\nLocation: " + to.toUtf8() + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}

void UpdateSim::answer(QTcpSocket *socket, const QByteArray &target)
{
    const qsizetype mark = target.indexOf('?');
    const QByteArray path = mark < 0 ? target : target.left(mark);
    const QByteArray query = mark < 0 ? QByteArray() : target.mid(mark + 1);
    const bool manifestPath = path == "/downloads/obs/latest.json";
    const QString itsCase = manifestPath ? m_options.manifestCase : m_options.packageCase;
    if ((manifestPath || path == packagePath().toUtf8()) && redirects(itsCase, query)) {
        const QString origin = itsCase == QLatin1String("redirect-http") ? QStringLiteral("http://127.0.0.1:%1").arg(m_plain.serverPort())
                                                                          : QStringLiteral("https://localhost:%1").arg(front().serverPort());
        redirect(socket, origin + QString::fromUtf8(path) + QStringLiteral("?moved"));
    } else if (path == "/downloads/obs/latest.json" && m_options.manifestCase == QLatin1String("redirect-away")
        && socket->localAddress() == QHostAddress::LocalHost) {
        // A hijacked service sends the plugin to a host of its choosing, in clear: here
        // 127.0.0.2, which answers with a manifest as if nothing were wrong.
        redirect(socket, QStringLiteral("http://127.0.0.2:%1/downloads/obs/latest.json").arg(front().serverPort()));
    } else if (path == "/downloads/obs/latest.json") {
        const QByteArray body = QJsonDocument(manifest()).toJson(QJsonDocument::Compact);
        socket->write(head(200, "OK", body.size(), "application/json") + body);
        socket->disconnectFromHost();
    } else if (path == packagePath().toUtf8() && m_options.packageCase != QLatin1String("missing")) {
        sendPackage(socket);
    } else {
        const QByteArray body = "not found\n";
        socket->write(head(404, "Not Found", body.size(), "text/plain") + body);
        socket->disconnectFromHost();
    }
}

void UpdateSim::sendPackage(QTcpSocket *socket)
{
    const QString c = m_options.packageCase;
    QByteArray body = m_package;
    if (c == QLatin1String("one-byte-more"))
        body += 'x';
    else if (c == QLatin1String("far-more"))
        body += QByteArray(1 << 20, 'x');
    if (c == QLatin1String("slow")) {
        socket->write(head(200, "OK", body.size(), "application/zip"));
        sendSlowly(socket, 0);
        return;
    }
    if (c == QLatin1String("cut")) {
        // The full length is announced, half is sent, then the connection drops.
        socket->write(head(200, "OK", body.size(), "application/zip") + body.left(body.size() / 2));
        connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
            if (socket->bytesToWrite() == 0)
                socket->abort();
        });
        return;
    }
    socket->write(head(200, "OK", body.size(), "application/zip") + body);
    socket->disconnectFromHost();
}

void UpdateSim::sendSlowly(QTcpSocket *socket, qsizetype offset)
{
    const qsizetype piece = m_package.size() / m_options.slowPieces + 1;
    socket->write(m_package.mid(offset, piece));
    if (offset + piece >= m_package.size()) {
        socket->disconnectFromHost();
        return;
    }
    QPointer<QTcpSocket> guard(socket);
    QTimer::singleShot(m_options.slowDelayMs, this, [this, guard, offset, piece] {
        if (guard)
            sendSlowly(guard, offset + piece);
    });
}

} // namespace corvane::sim
