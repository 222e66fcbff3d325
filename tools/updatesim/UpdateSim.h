#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QSslServer>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

namespace corvane::sim {

struct SimOptions {
    QString pluginFile;  // the freshly built plugin library
    QString localeFile;  // its locale file, when given
    QString version = QStringLiteral("1.0.2");
    QString platform = QStringLiteral("linux-x64");
    QString libraryPath = QStringLiteral("bin/64bit/corvane-obs.so");
    QString manifestCase = QStringLiteral("newer");
    QString packageCase = QStringLiteral("ok");
    QString escapeDir = QStringLiteral("/tmp");
    qint64 fillerBytes = 0; // incompressible data added to the package
    int bombMiB = 64;
    int slowPieces = 20;
    int slowDelayMs = 50;
    QString tlsCertificate; // PEM files: serve over TLS when both are given
    QString tlsKey;
};

// Stands in for the maker's download service: "/downloads/obs/latest.json" and one package,
// built at start from the plugin given, shaped by the manifest and package cases.
class UpdateSim : public QObject {
    Q_OBJECT
public:
    static QStringList manifestCases();
    static QStringList packageCases();

    explicit UpdateSim(const SimOptions &options, QObject *parent = nullptr);

    // Builds the package and loads the TLS identity; false with a reason when a file cannot
    // be read.
    bool prepare(QString *error);
    bool listen(quint16 port);
    QString url() const;
    QString errorString() const { return front().errorString(); }

private:
    bool tls() const { return !m_options.tlsCertificate.isEmpty(); }
    QTcpServer &front() { return tls() ? static_cast<QTcpServer &>(m_tlsServer) : m_server; }
    const QTcpServer &front() const { return tls() ? static_cast<const QTcpServer &>(m_tlsServer) : m_server; }
    bool redirects(const QString &itsCase, const QByteArray &query) const;
    void redirect(QTcpSocket *socket, const QString &to);
    QByteArray buildArchive() const;
    QJsonObject manifest() const;
    QString packagePath() const;
    void onConnection(QTcpServer &server);
    void answer(QTcpSocket *socket, const QByteArray &path);
    void sendPackage(QTcpSocket *socket);
    void sendSlowly(QTcpSocket *socket, qsizetype offset);

    SimOptions m_options;
    QByteArray m_package; // what the manifest describes
    QByteArray m_plugin;
    QTcpServer m_server;
    QSslServer m_tlsServer;
    QTcpServer m_elsewhere; // another loopback host, for the redirect case
    QTcpServer m_plain;     // plain HTTP beside the TLS server, for the downgrade cases
};

} // namespace corvane::sim
