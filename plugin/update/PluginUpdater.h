#pragma once

#include "update/PackageUnpacker.h"
#include "update/SelfUpdatePolicy.h"
#include "update/TreeInstaller.h"
#include "update/UpdaterConfig.h"

#include <QCryptographicHash>
#include <QFile>
#include <QNetworkAccessManager>
#include <QObject>
#include <QList>
#include <QPointer>
#include <QSslCertificate>
#include <QString>

class QNetworkReply;
class QNetworkRequest;

namespace corvane {

class FileOperations;

// Keeps the plugin current without an installer: checks the maker's manifest, downloads
// the package while hashing it, unpacks and checks it, and puts it in place of the plugin's
// own files. The new version takes effect at the next OBS start.
class PluginUpdater : public QObject {
    Q_OBJECT
public:
    enum State { Idle, Checking, UpToDate, Available, Downloading, Installing, Installed, Failed };
    Q_ENUM(State)

    // In the work folder from the start of an install until its files are in place or put
    // back, and after a rollback that left the previous version aside: what the user was told
    // to do.
    static constexpr const char *kRollbackNote = "rollback-failed.txt";
    // A line of the note that names every file: the install did not finish, so any of them
    // may be mixed.
    static constexpr const char *kEveryFile = "/";

    explicit PluginUpdater(QObject *parent = nullptr);
    ~PluginUpdater() override;

    void setConfig(const UpdaterConfig &config);
    const UpdaterConfig &config() const { return m_config; }

    // A background check (userInitiated false) never shows a failure; it returns to Idle.
    void check(bool userInitiated);
    void install();
    // Whether this copy may replace its own files, and if not, who updates it and why.
    SelfUpdateDecision selfUpdate() const;
    bool canSelfUpdate() const { return selfUpdate().allowed(); }
    // At start: deletes the NAME.old files an earlier install moved aside once the installed
    // files are whole (the library there, no NAME.old without its NAME, no rollback note, or
    // one whose files the user has put right, which then goes too); else none.
    void removeLeftovers();

    State state() const { return m_state; }
    QString message() const { return m_message; }
    QString version() const { return m_version; }
    QString released() const { return m_released; }
    QString notes() const { return m_notes; }
    int progress() const { return m_progress; }
    bool isBusy() const { return m_busy; }
    // Whether a check found a package to download (a failed install can be tried again).
    bool hasPackage() const { return !m_url.isEmpty(); }

    // Test seams: a file-operations double, smaller unpacking bounds, and certificate
    // authorities trusted besides the system's (a test server's own certificate).
    void setFileOperationsForTesting(FileOperations *operations) { m_operations = operations; }
    void setUnpackLimitsForTesting(const UnpackLimits &limits) { m_unpackLimits = limits; }
    void setExtraCaCertificatesForTesting(const QList<QSslCertificate> &certificates) { m_extraCaCertificates = certificates; }

Q_SIGNALS:
    void stateChanged();

private:
    QNetworkRequest request(const QString &url, int timeoutMs) const;
    QString libraryPath() const;
    void readManifest(QNetworkReply *reply);
    void onManifest(QNetworkReply *reply, bool userInitiated);
    void startDownload();
    void onDownloadData(QNetworkReply *reply);
    void onDownloadFinished(QNetworkReply *reply);
    void unpack();
    void onUnpacked(const UnpackResult &result);
    void setState(State state, const QString &message);
    void fail(const QString &message);
    void failWith(const QString &code);
    void failLeftAside(const InstallOutcome &outcome);
    QString addedLeftText(const InstallOutcome &outcome) const;
    QString pendingText() const;
    QString rollbackNotePath() const;
    bool writeRollbackNote(const QString &text, const QStringList &newLeft) const;
    bool notePresent() const;
    QString leftAsideText() const;
    static QStringList orphansAside(const QString &root);

    QNetworkAccessManager m_network;
    UpdaterConfig m_config;
    State m_state = Idle;
    QString m_message;
    QString m_version;
    QString m_released;
    QString m_notes;
    QString m_minObs;
    QString m_url;
    QString m_sha256;
    qint64 m_size = 0;
    int m_progress = 0;
    bool m_busy = false;
    QPointer<QNetworkReply> m_reply;
    QList<QSslCertificate> m_extraCaCertificates;

    QByteArray m_manifestBody;
    bool m_manifestCut = false;
    FileOperations *m_operations;
    UnpackLimits m_unpackLimits;
    QPointer<PackageUnpacker> m_unpacker;
    QFile m_package;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_received = 0;
    qint64 m_limit = 0;
    bool m_tooLarge = false;
};

} // namespace corvane
