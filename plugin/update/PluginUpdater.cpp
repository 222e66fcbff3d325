#include "update/PluginUpdater.h"

#include "update/ExtractedTree.h"
#include "update/FileOperations.h"
#include "update/TreeInstaller.h"
#include "update/UnpackCommand.h"
#include "update/UpdateManifest.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QUrl>

namespace corvane {

namespace {

constexpr qint64 kMaxManifestBytes = 1048576;
constexpr qint64 kMaxPackageBytes = 209715200;
// Headroom over the announced size before a download counts as too large.
constexpr qint64 kSizeSlack = 4096;
// How much of a download may wait in memory before the socket is left to fill.
constexpr qint64 kDownloadBuffer = 1048576;

const char kCannotReach[] = "Could not reach the Corvane update service. Check your internet connection.";

// The sentences of the unpacking and tree-check failures, by code.
struct FailureText {
    const char *code;
    const char *text;
};
constexpr FailureText kFailureTexts[] = {
    {"unpack_unavailable", "The update could not be unpacked on this computer. Nothing was changed."},
    {"unpack_failed", "The update could not be unpacked. Nothing was changed."},
    {"package_too_large", "The update package unpacked to far more than its size, so it was discarded. Nothing was changed."},
    {"package_shape", "The update package was not in the expected shape. Nothing was changed."},
    {"package_link", "The update package contained an unexpected link, so it was rejected. Nothing was changed."},
    {"package_no_library", "The update package did not contain the plugin for this computer. Nothing was changed."},
};

QString textFor(const QString &code)
{
    for (const FailureText &entry : kFailureTexts) {
        if (code == QLatin1String(entry.code))
            return QString::fromUtf8(entry.text);
    }
    return QString::fromUtf8(kFailureTexts[1].text);
}

bool answered(const QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return reply->error() == QNetworkReply::NoError && status >= 200 && status <= 299;
}

// Redirects may not leave the allowed addresses, nor fall from https to http.
void guardRedirects(QNetworkReply *reply)
{
    // When Qt asks, it may already report the target as the reply's address: the scheme to
    // keep is the one the request started with.
    const auto isHttps = [](const QUrl &url) { return url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0; };
    const bool startedSecure = isHttps(reply->request().url());
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, startedSecure, isHttps](const QUrl &target) {
        const bool downgrade = startedSecure && !isHttps(target);
        if (!downgrade && isAllowedUpdateUrl(target.toString()))
            Q_EMIT reply->redirectAllowed();
        else
            reply->abort();
    });
}

} // namespace

PluginUpdater::PluginUpdater(QObject *parent)
    : QObject(parent)
    , m_operations(&FileOperations::system())
{
}

PluginUpdater::~PluginUpdater()
{
    // A running download must not call back into a half-destroyed updater.
    if (QNetworkReply *reply = m_reply.data()) {
        reply->disconnect(this);
        reply->abort();
    }
}

QString PluginUpdater::libraryPath() const
{
    return m_config.libraryPath.isEmpty() ? defaultLibraryPath() : m_config.libraryPath;
}

QNetworkRequest PluginUpdater::request(const QString &url, int timeoutMs) const
{
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("User-Agent",
                         QStringLiteral("Corvane-OBS/%1 (%2)").arg(m_config.currentVersion, m_config.platform).toUtf8());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    if (!m_extraCaCertificates.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(m_extraCaCertificates);
        request.setSslConfiguration(tls);
    }
    return request;
}

void PluginUpdater::setState(State state, const QString &message)
{
    m_state = state;
    m_message = message;
    Q_EMIT stateChanged();
}

void PluginUpdater::fail(const QString &message)
{
    m_busy = false;
    setState(Failed, message);
}

void PluginUpdater::failWith(const QString &code) { fail(textFor(code)); }

void PluginUpdater::setConfig(const UpdaterConfig &config)
{
    m_config = config;
    // A copy kept current by a package manager or Flatpak says so from the start.
    const SelfUpdateDecision decision = selfUpdate();
    if (decision.managedElsewhere() && !m_busy)
        setState(Idle, decision.reason);
}

void PluginUpdater::check(bool userInitiated)
{
    if (m_busy || m_state == Installed)
        return;
    // Nothing is fetched for a copy that is updated elsewhere, not even the manifest.
    const SelfUpdateDecision decision = selfUpdate();
    if (decision.managedElsewhere()) {
        setState(Idle, decision.reason);
        return;
    }
    if (!isAllowedUpdateUrl(m_config.manifestUrl)) {
        if (userInitiated)
            fail(QStringLiteral("The update address is not valid."));
        return;
    }
    m_busy = true;
    setState(Checking, QStringLiteral("Checking for updates…"));
    QNetworkRequest manifestRequest = request(m_config.manifestUrl, m_config.timeoutMs);
    manifestRequest.setRawHeader("Accept", "application/json");
    QNetworkReply *reply = m_network.get(manifestRequest);
    guardRedirects(reply);
    m_manifestBody.clear();
    m_manifestCut = false;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { readManifest(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, userInitiated] { onManifest(reply, userInitiated); });
}

// The body is kept to 1 MiB; a longer one is cut off there and then fails to parse.
void PluginUpdater::readManifest(QNetworkReply *reply)
{
    if (m_manifestCut)
        return;
    m_manifestBody += reply->read(kMaxManifestBytes - m_manifestBody.size());
    if (m_manifestBody.size() >= kMaxManifestBytes && reply->bytesAvailable() > 0) {
        m_manifestCut = true;
        reply->abort();
    }
}

void PluginUpdater::onManifest(QNetworkReply *reply, bool userInitiated)
{
    reply->deleteLater();
    m_busy = false;
    if (!m_manifestCut && !answered(reply)) {
        if (userInitiated)
            setState(Failed, QString::fromUtf8(kCannotReach));
        else
            setState(Idle, {});
        return;
    }
    readManifest(reply);
    const ManifestResult result = parseManifest(m_manifestBody, m_config.currentVersion, m_config.platform,
                                                m_config.obsVersion);
    m_manifestBody.clear();
    if (!result.ok) {
        if (userInitiated)
            setState(Failed, result.message);
        else
            setState(Idle, {});
        return;
    }
    const UpdateManifest &manifest = result.manifest;
    m_version = manifest.version;
    m_released = manifest.released;
    m_notes = manifest.notes;
    m_minObs = manifest.minObs;
    m_url = manifest.url;
    m_sha256 = manifest.sha256;
    m_size = manifest.size;
    if (manifest.updateApplies)
        setState(Available, QStringLiteral("Version %1 is available.").arg(m_version));
    else
        setState(UpToDate, QStringLiteral("Corvane %1 is up to date.").arg(m_config.currentVersion));
}

SelfUpdateDecision PluginUpdater::selfUpdate() const
{
    const QString root = m_config.installRoot;
    InstallFacts facts;
    facts.flatpak = !m_config.flatpakInfo.isEmpty() && QFileInfo::exists(m_config.flatpakInfo);
    facts.systemPackage = isSystemPackagePath(m_config.modulePath);
    facts.folderPresent = !root.isEmpty() && m_operations->isDirectory(root)
                          && QFileInfo(root + QLatin1Char('/') + libraryPath()).isFile();
    facts.folderWritable = facts.folderPresent && m_operations->isWritable(root)
                           && m_operations->isWritable(QFileInfo(root).absolutePath());
    return decideSelfUpdate(facts, m_config.downloadPage);
}

QString PluginUpdater::rollbackNotePath() const
{
    return m_config.workDir + QLatin1Char('/') + QLatin1String(kRollbackNote);
}

void PluginUpdater::install()
{
    if (m_busy || (m_state != Available && m_state != Failed) || m_url.isEmpty())
        return;
    // An earlier install left the previous version aside, in the work folder perhaps: the
    // user has to put it back before anything here may be replaced or deleted.
    const QString leftAside = leftAsideText();
    if (!leftAside.isEmpty()) {
        fail(leftAside);
        return;
    }
    const SelfUpdateDecision decision = selfUpdate();
    if (!decision.allowed()) {
        fail(decision.reason);
        return;
    }
    if (const QString missing = unpackerMissingText(); !missing.isEmpty()) {
        fail(missing);
        return;
    }
    m_busy = true;
    m_progress = 0;
    const QString removal = removeTree(m_config.workDir, *m_operations);
    if (!removal.isEmpty() || !m_operations->makePath(m_config.workDir)) {
        fail(QStringLiteral("Could not prepare a download folder (%1).").arg(removal.isEmpty() ? m_config.workDir : removal));
        return;
    }
    m_package.setFileName(m_config.workDir + QStringLiteral("/package.zip"));
    if (!m_package.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        fail(QStringLiteral("Could not write the update to disk."));
        return;
    }
    setState(Downloading, QStringLiteral("Downloading version %1…").arg(m_version));
    startDownload();
}

void PluginUpdater::startDownload()
{
    m_hash.reset();
    m_received = 0;
    m_tooLarge = false;
    m_limit = m_size > 0 ? qMin(m_size + kSizeSlack, kMaxPackageBytes) : kMaxPackageBytes;
    QNetworkReply *reply = m_network.get(request(m_url, 2 * m_config.timeoutMs));
    reply->setReadBufferSize(kDownloadBuffer);
    guardRedirects(reply);
    m_reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { onDownloadData(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onDownloadFinished(reply); });
}

void PluginUpdater::onDownloadData(QNetworkReply *reply)
{
    while (!m_tooLarge && reply->bytesAvailable() > 0) {
        const QByteArray chunk = reply->read(65536);
        m_received += chunk.size();
        if (m_received > m_limit) {
            m_tooLarge = true;
            reply->abort();
            return;
        }
        m_hash.addData(chunk);
        m_package.write(chunk);
    }
    const qint64 announced = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    const qint64 total = announced > 0 ? announced : m_size;
    const int percent = total > 0 ? int(qBound(qint64(0), m_received * 100 / total, qint64(100))) : 0;
    if (percent != m_progress) {
        m_progress = percent;
        setState(Downloading, QStringLiteral("Downloading version %1… %2%").arg(m_version).arg(percent));
    }
}

void PluginUpdater::onDownloadFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (!m_tooLarge && reply->error() == QNetworkReply::NoError)
        onDownloadData(reply);
    // A write that failed (disk full) shows as a short file: the size or hash check fails.
    const bool written = m_package.flush() && m_package.size() == m_received;
    m_package.close();
    if (m_tooLarge)
        fail(QStringLiteral("The download was larger than expected, so it was discarded."));
    else if (!answered(reply))
        fail(QStringLiteral("The download did not finish. Check your internet connection and try again."));
    else if (m_size > 0 && m_received != m_size)
        fail(QStringLiteral("The download was incomplete, so it was discarded. Try again."));
    else if (!written || QString::fromLatin1(m_hash.result().toHex()) != m_sha256)
        fail(QStringLiteral("The download did not match its checksum, so it was discarded. Nothing was changed."));
    else
        unpack();
}

void PluginUpdater::unpack()
{
    setState(Installing, QStringLiteral("Installing version %1…").arg(m_version));
    const QString extracted = m_config.workDir + QStringLiteral("/extracted");
    if (!m_operations->makePath(extracted)) {
        failWith(QStringLiteral("unpack_failed"));
        return;
    }
    auto *unpacker = new PackageUnpacker(this);
    unpacker->setLimits(m_unpackLimits);
    m_unpacker = unpacker;
    unpacker->start(m_package.fileName(), extracted, [this, unpacker](const UnpackResult &result) {
        unpacker->deleteLater();
        onUnpacked(result);
    });
}

void PluginUpdater::onUnpacked(const UnpackResult &result)
{
    if (!result.ok) {
        failWith(result.code);
        return;
    }
    const QString extracted = m_config.workDir + QStringLiteral("/extracted");
    const TreeCheck tree = checkExtractedTree(extracted, libraryPath());
    if (!tree.ok) {
        failWith(tree.code);
        return;
    }
    // Written before anything is replaced, so that a failure that cannot write it (a full
    // disk) has changed nothing, and one that cannot rewrite it still leaves a note.
    if (!writeRollbackNote(pendingText(), {QString::fromLatin1(kEveryFile)})) {
        fail(QStringLiteral("Could not write the update to disk."));
        return;
    }
    const InstallOutcome outcome = installTree(tree.pluginFolder, m_config.installRoot,
                                               m_config.workDir + QStringLiteral("/previous"), *m_operations);
    if (!outcome.ok && outcome.previousVersion != InstallOutcome::Left::InPlace) {
        failLeftAside(outcome);
        return;
    }
    m_operations->remove(rollbackNotePath());
    if (!outcome.ok && outcome.addedLeft.isEmpty()) {
        fail(QStringLiteral("The update could not be installed (%1). The current version was left in place.").arg(outcome.reason));
        return;
    }
    if (!outcome.ok) {
        fail(QStringLiteral("The update could not be installed (%1), and the files it added could not all be removed (%2). "
                            "Close OBS, then delete them in %3; the current version is otherwise as it was.")
                 .arg(outcome.reason, outcome.addedLeft.join(QStringLiteral(", ")), QDir::toNativeSeparators(m_config.installRoot)));
        return;
    }
    m_operations->remove(m_package.fileName());
    removeTree(extracted, *m_operations);
    m_busy = false;
    setState(Installed, QStringLiteral("Version %1 is installed. Restart OBS to start using it.").arg(m_version));
}

// The previous version could not be put back: the user is told where it is and what to do,
// and a note of it keeps the start-up clean-up and later installs away from it.
void PluginUpdater::failLeftAside(const InstallOutcome &outcome)
{
    const QString root = QDir::toNativeSeparators(m_config.installRoot);
    const QString text =
        outcome.previousVersion == InstallOutcome::Left::InPreviousFolder
            ? QStringLiteral("The update could not be installed (%1), and the previous version could not be put back. Close OBS, then "
                             "move the folder %2 back to %3, or reinstall the plugin from %4.")
                  .arg(outcome.reason, QDir::toNativeSeparators(m_config.workDir + QStringLiteral("/previous")), root, downloadPlace(m_config.downloadPage))
            : QStringLiteral("The update could not be installed (%1), and the previous version could not be fully put back. Close "
                             "OBS, then in %2 rename each file ending in .old back to its name without .old, or reinstall the plugin "
                             "from %3.")
                  .arg(outcome.reason, root, downloadPlace(m_config.downloadPage));
    // When it cannot be rewritten, the note written before the install stays.
    writeRollbackNote(text + addedLeftText(outcome), outcome.newLeft);
    fail(text + addedLeftText(outcome));
}

QString PluginUpdater::addedLeftText(const InstallOutcome &outcome) const
{
    if (outcome.addedLeft.isEmpty())
        return QString();
    return QStringLiteral(" The files it added could not all be removed either (%1); delete them too.")
        .arg(outcome.addedLeft.join(QStringLiteral(", ")));
}

QString PluginUpdater::pendingText() const
{
    return QStringLiteral("An earlier update of the plugin did not finish, so its files may be mixed. Close OBS, then reinstall the "
                          "plugin from %1 and delete the files ending in .old in %2.")
        .arg(downloadPlace(m_config.downloadPage), QDir::toNativeSeparators(m_config.installRoot));
}

// The note is the message on its first line, then the relative paths whose old copy waits
// as NAME.old beside a new copy that could not be removed: only the user can tell those
// apart from the leftovers of an install that succeeded.
bool PluginUpdater::writeRollbackNote(const QString &text, const QStringList &newLeft) const
{
    QByteArray content = text.toUtf8() + '\n';
    for (const QString &relative : newLeft)
        content += relative.toUtf8() + '\n';
    return m_operations->save(rollbackNotePath(), content);
}

// Present even when it cannot be read: what it says is then unknown, not absent.
bool PluginUpdater::notePresent() const
{
    return m_operations->exists(rollbackNotePath());
}

// What was left aside, as a sentence for the user, or "" when the installed files are
// whole. Derived from the install folder as much as from the note, which a full disk may
// have kept from being written: a folder without its library, or a NAME.old without its
// NAME, is a previous version left aside. A note that cannot be read still counts.
QString PluginUpdater::leftAsideText() const
{
    if (notePresent()) {
        QFile note(rollbackNotePath());
        const QString text = note.open(QIODevice::ReadOnly) ? QString::fromUtf8(note.readLine()).trimmed() : QString();
        return text.isEmpty() ? pendingText() : text;
    }
    const QString root = m_config.installRoot;
    if (root.isEmpty())
        return QString();
    if (!QFileInfo(root + QLatin1Char('/') + libraryPath()).isFile())
        return m_operations->exists(m_config.workDir + QStringLiteral("/previous")) ? pendingText() : QString();
    return orphansAside(root).isEmpty() ? QString() : pendingText();
}

// The NAME.old files below `root` whose NAME is missing: the only copy left of that file.
QStringList PluginUpdater::orphansAside(const QString &root)
{
    QStringList orphans;
    QDirIterator it(root, {QStringLiteral("*.old")}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString old = it.next();
        if (!QFileInfo::exists(old.chopped(4)))
            orphans.append(old);
    }
    return orphans;
}

void PluginUpdater::removeLeftovers()
{
    // Only a folder that holds our library is ours to clean: installed for all users, the
    // folder above the data folder is shared by plugins.
    const QString root = m_config.installRoot;
    if (root.isEmpty() || !QFileInfo(root + QLatin1Char('/') + libraryPath()).isFile() || !orphansAside(root).isEmpty())
        return;
    if (notePresent()) {
        // Whole again (the user put the files back, or reinstalled): the note goes, unless a
        // file it names still has its old copy beside a new one, or it cannot be read.
        QFile note(rollbackNotePath());
        if (!note.open(QIODevice::ReadOnly))
            return;
        note.readLine();
        while (!note.atEnd()) {
            const QString relative = QString::fromUtf8(note.readLine()).trimmed();
            // An install cut short (OBS quit or crashed mid-way) may have replaced any file:
            // each NAME.old may be the only copy of the version beside it.
            if (relative == QLatin1String(kEveryFile) && QDirIterator(root, {QStringLiteral("*.old")}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories).hasNext())
                return;
            if (!relative.isEmpty() && relative != QLatin1String(kEveryFile) && QFileInfo::exists(root + QLatin1Char('/') + relative + QStringLiteral(".old")))
                return;
        }
        note.close();
        if (!m_operations->remove(rollbackNotePath()))
            return;
    }
    // By now nothing holds the files moved aside, and the installed files are whole.
    QDirIterator it(root, {QStringLiteral("*.old")}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        m_operations->remove(it.next());
}

} // namespace corvane
