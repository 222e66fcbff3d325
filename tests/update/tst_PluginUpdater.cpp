// PluginUpdater against corvane-update-sim over real HTTP, installing into a plugin folder
// in a temporary directory.
#include "update/FileOperations.h"
#include "update/PluginUpdater.h"

#include "support/TestNetwork.h"
#include "support/UpdateSimProcess.h"

#include <algorithm>

#include <QCryptographicHash>
#include <QDirIterator>
#include <QEventLoop>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace corvane;
using corvane::test::UpdateSimProcess;

namespace {

const char kOldLibrary[] = "old library 1.0.1";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

// A plugin installed for the current user, beside its configuration folder.
struct InstalledPlugin {
    QTemporaryDir temp;
    QString root = temp.filePath(QStringLiteral("plugins/corvane-obs"));
    QString workDir = temp.filePath(QStringLiteral("config/update"));

    InstalledPlugin()
    {
        writeFile(root + QStringLiteral("/bin/64bit/corvane-obs.so"), kOldLibrary);
        writeFile(root + QStringLiteral("/data/locale/en-US.ini"), "old locale");
        QDir().mkpath(QFileInfo(workDir).absolutePath());
    }

    UpdaterConfig config(const QString &manifestUrl) const
    {
        UpdaterConfig config;
        config.manifestUrl = manifestUrl;
        config.currentVersion = QStringLiteral("1.0.1");
        config.platform = QStringLiteral("linux-x64");
        config.obsVersion = QStringLiteral("30.2.3");
        config.installRoot = root;
        config.workDir = workDir;
        config.downloadPage = QStringLiteral("https://downloads.corvane.com/download");
        return config;
    }

    // Everything in the temporary directory outside the work folder: each path with its
    // kind and, for files, a hash of the content.
    QMap<QString, QByteArray> outsideWorkDir() const
    {
        QMap<QString, QByteArray> entries;
        const QDir base(temp.path());
        QDirIterator it(temp.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (path == workDir || path.startsWith(workDir + QLatin1Char('/')))
                continue;
            const QFileInfo info = it.fileInfo();
            entries.insert(base.relativeFilePath(path),
                           info.isSymLink() ? "link " + info.symLinkTarget().toUtf8()
                           : info.isDir()   ? QByteArray("folder")
                                            : QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex());
        }
        return entries;
    }
};

// Waits for the running check or install to end, in a plain event loop: QTest's waits sleep
// between event rounds, which would throttle the unpacking program's pipe.
bool settle(const PluginUpdater &updater)
{
    if (!updater.isBusy())
        return true;
    QEventLoop loop;
    QObject::connect(&updater, &PluginUpdater::stateChanged, &loop, [&] {
        if (!updater.isBusy())
            loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    loop.exec();
    return !updater.isBusy();
}

// Checks against the simulator; true when the update was found.
bool findUpdate(PluginUpdater &updater)
{
    updater.check(true);
    return settle(updater) && updater.state() == PluginUpdater::Available;
}

// A self-signed certificate for 127.0.0.1 and localhost, and its key, made with openssl in
// `dir` as cert.pem and key.pem.
bool makeCertificate(const QTemporaryDir &dir)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                   QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"), QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1"),
                   QStringLiteral("-keyout"), dir.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
                   dir.filePath(QStringLiteral("cert.pem"))});
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
}

// Refuses to write into one folder, as a folder installed for all users does; works even
// for a test that runs as root, whom no permission bit stops.
class ReadOnlyFolder : public FileOperations {
public:
    explicit ReadOnlyFolder(QString folder)
        : m_folder(std::move(folder))
    {
    }
    bool isWritable(const QString &path) override { return path != m_folder && FileOperations::isWritable(path); }

private:
    QString m_folder;
};

// Fails the renames whose source ends with one of `refused`, as Windows does for a folder
// or a library in use, the removals of paths ending with one of `unremovable`, and every
// save, as a full disk does, when `saves` is false.
class Refusing : public FileOperations {
public:
    explicit Refusing(QStringList refused, QStringList unremovable = {}, bool saves = true)
        : m_refused(std::move(refused))
        , m_unremovable(std::move(unremovable))
        , m_saves(saves)
    {
    }
    bool rename(const QString &from, const QString &to) override
    {
        return !endsWithAny(from, m_refused) && FileOperations::rename(from, to);
    }
    bool remove(const QString &path) override { return !endsWithAny(path, m_unremovable) && FileOperations::remove(path); }
    bool save(const QString &path, const QByteArray &content) override { return m_saves && FileOperations::save(path, content); }

private:
    static bool endsWithAny(const QString &path, const QStringList &ends)
    {
        return std::any_of(ends.cbegin(), ends.cend(), [&](const QString &end) { return path.endsWith(end); });
    }
    QStringList m_refused;
    QStringList m_unremovable;
    bool m_saves;
};

// Forces the file-by-file install and keeps the note as it was on disk when the first file
// went aside: what a quit or crash at that moment leaves.
class NoteAtFirstFileAside : public Refusing {
public:
    explicit NoteAtFirstFileAside(QString note)
        : Refusing({QStringLiteral("/plugins/corvane-obs")})
        , m_note(std::move(note))
    {
    }
    bool rename(const QString &from, const QString &to) override
    {
        if (to.endsWith(QLatin1String(".old")) && seen.isNull())
            seen = readAll(m_note);
        return Refusing::rename(from, to);
    }
    QByteArray seen;

private:
    QString m_note;
};

} // namespace

class tst_PluginUpdater : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void installs_data()
    {
        QTest::addColumn<QStringList>("simArguments");
        QTest::newRow("plain package") << QStringList();
        QTest::newRow("checksum in upper case") << QStringList{QStringLiteral("--manifest"), QStringLiteral("upper-case-sha")};
        QTest::newRow("__MACOSX beside the folder") << QStringList{QStringLiteral("--package"), QStringLiteral("macosx")};
        QTest::newRow("slow delivery") << QStringList{QStringLiteral("--package"), QStringLiteral("slow")};
    }
    void installs()
    {
        QFETCH(QStringList, simArguments);
        UpdateSimProcess sim;
        QVERIFY(!sim.start(simArguments).isEmpty());
        InstalledPlugin plugin;
        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));

        QVERIFY(findUpdate(updater));
        QCOMPARE(updater.message(), QStringLiteral("Version 1.0.2 is available."));
        QCOMPARE(updater.version(), QStringLiteral("1.0.2"));
        QCOMPARE(updater.released(), QStringLiteral("2026-12-01"));
        QCOMPARE(updater.notes(), QStringLiteral("Faster updates.\nFixes."));
        QVERIFY(updater.canSelfUpdate());

        QList<int> progress;
        QStringList messages;
        connect(&updater, &PluginUpdater::stateChanged, this, [&] {
            messages.append(updater.message());
            if (updater.state() == PluginUpdater::Downloading)
                progress.append(updater.progress());
        });
        updater.install();
        QVERIFY(settle(updater));
        QCOMPARE(updater.message(), QStringLiteral("Version 1.0.2 is installed. Restart OBS to start using it."));
        QCOMPARE(updater.state(), PluginUpdater::Installed);
        QCOMPARE(messages.first(), QStringLiteral("Downloading version 1.0.2…"));
        QVERIFY(messages.contains(QStringLiteral("Installing version 1.0.2…")));
        QVERIFY(std::is_sorted(progress.cbegin(), progress.cend()));
        QCOMPARE(progress.last(), 100);
        if (QTest::currentDataTag() == QLatin1String("slow delivery")) {
            QVERIFY2(progress.size() >= 5, qPrintable(QStringLiteral("%1 progress steps").arg(progress.size())));
            QVERIFY(messages.contains(QStringLiteral("Downloading version 1.0.2… %1%").arg(progress.at(2))));
        }

        QCOMPARE(readAll(plugin.root + QStringLiteral("/bin/64bit/corvane-obs.so")), readAll(QStringLiteral(CORVANE_MODULE_PATH)));
        QCOMPARE(readAll(plugin.root + QStringLiteral("/data/locale/en-US.ini")),
                 readAll(QStringLiteral(CORVANE_SOURCE_DIR "/locale/en-US.ini")));
        QCOMPARE(readAll(plugin.workDir + QStringLiteral("/previous/bin/64bit/corvane-obs.so")), QByteArray(kOldLibrary));
        QVERIFY(!QFileInfo::exists(plugin.workDir + QStringLiteral("/package.zip")));
        QVERIFY(!QFileInfo::exists(plugin.workDir + QStringLiteral("/extracted")));

        const int requests = sim.requests().size();
        updater.check(true);
        updater.check(false);
        QCOMPARE(updater.state(), PluginUpdater::Installed);
        QCOMPARE(sim.requests().size(), requests);
    }

    // Each bad delivery or package fails with its sentence and leaves everything outside
    // the work folder, the plugin's own folder included, exactly as it was.
    void refusesBadPackages_data()
    {
        QTest::addColumn<QString>("packageCase");
        QTest::addColumn<QString>("message");
        const QString shape = QStringLiteral("The update package was not in the expected shape. Nothing was changed.");
        const QString link = QStringLiteral("The update package contained an unexpected link, so it was rejected. Nothing was changed.");
        const QString unfinished = QStringLiteral("The download did not finish. Check your internet connection and try again.");
        QTest::newRow("wrong checksum") << "wrong-sha"
                                        << "The download did not match its checksum, so it was discarded. Nothing was changed.";
        QTest::newRow("one byte more than size") << "one-byte-more"
                                                 << "The download was incomplete, so it was discarded. Try again.";
        QTest::newRow("far more than size") << "far-more" << "The download was larger than expected, so it was discarded.";
        QTest::newRow("cut off") << "cut" << unfinished;
        QTest::newRow("404") << "missing" << unfinished;
        QTest::newRow("two top-level folders") << "two-folders" << shape;
        QTest::newRow("file beside the folder") << "top-file" << shape;
        QTest::newRow("no plugin library") << "no-library"
                                           << "The update package did not contain the plugin for this computer. Nothing was changed.";
        QTest::newRow("symbolic link") << "symlink" << link;
        QTest::newRow("hard link") << "hardlink" << link;
        QTest::newRow("name with ../") << "dotdot" << link;
        QTest::newRow("absolute name") << "absolute" << link;
        QTest::newRow("a name Windows reserves") << "reserved-name" << shape;
        QTest::newRow("expands far beyond its weight") << "bomb"
                                                       << "The update package unpacked to far more than its size, so it was discarded. Nothing was changed.";
    }
    void refusesBadPackages()
    {
        QFETCH(QString, packageCase);
        QFETCH(QString, message);
        InstalledPlugin plugin;
        // The bound leaves room for every crafted package, which hold the plugin library up
        // to twice, and the bomb expands well past it; both follow the library's size.
        const qint64 library = QFileInfo(QStringLiteral(CORVANE_MODULE_PATH)).size();
        const qint64 bound = 3 * library + (qint64(8) << 20);
        UpdateSimProcess sim;
        QVERIFY(!sim.start({QStringLiteral("--package"), packageCase, QStringLiteral("--escape-dir"), plugin.temp.path(),
                            QStringLiteral("--bomb-mib"), QString::number((2 * bound >> 20) + 1)})
                     .isEmpty());
        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        UnpackLimits limits;
        limits.maxBytes = bound;
        updater.setUnpackLimitsForTesting(limits);
        QVERIFY(findUpdate(updater));
        const auto before = plugin.outsideWorkDir();

        updater.install();
        QVERIFY(settle(updater));
        QCOMPARE(updater.message(), message);
        QCOMPARE(updater.state(), PluginUpdater::Failed);
        QCOMPARE(plugin.outsideWorkDir(), before);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/corvane-escaped.txt")));
    }

    void manifestCases_data()
    {
        QTest::addColumn<QStringList>("simArguments");
        QTest::addColumn<PluginUpdater::State>("state");
        QTest::addColumn<QString>("message");
        const auto manifest = [](const char *name) { return QStringList{QStringLiteral("--manifest"), QString::fromLatin1(name)}; };
        QTest::newRow("same version, no packages")
            << (manifest("no-packages") << QStringLiteral("--version") << QStringLiteral("1.0.1")) << PluginUpdater::UpToDate
            << "Corvane 1.0.1 is up to date.";
        QTest::newRow("newer") << manifest("newer") << PluginUpdater::Available << "Version 1.0.2 is available.";
        QTest::newRow("schema 2") << manifest("schema-2") << PluginUpdater::Failed
                                  << "This update needs a newer Corvane plugin than the one installed. Download the installer from the Corvane website.";
        QTest::newRow("http to another host") << manifest("foreign-http") << PluginUpdater::Failed
                                              << "The update information is incomplete.";
        QTest::newRow("needs a newer OBS") << manifest("min-obs") << PluginUpdater::Failed
                                           << "Version 1.0.2 needs OBS 99.0.0 or newer (this is OBS 30.2.3).";
        QTest::newRow("not for this platform") << manifest("other-platform") << PluginUpdater::Failed
                                               << "Version 1.0.2 is out, but not available for this computer yet.";
        QTest::newRow("redirect to plain http elsewhere")
            << manifest("redirect-away") << PluginUpdater::Failed
            << "Could not reach the Corvane update service. Check your internet connection.";
    }
    // The user sees every outcome; a background check shows successes only.
    void manifestCases()
    {
        QFETCH(QStringList, simArguments);
        QFETCH(PluginUpdater::State, state);
        QFETCH(QString, message);
        UpdateSimProcess sim;
        QVERIFY(!sim.start(simArguments).isEmpty());
        InstalledPlugin plugin;
        PluginUpdater user;
        user.setConfig(plugin.config(sim.manifestUrl()));
        user.check(true);
        QCOMPARE(user.state(), PluginUpdater::Checking);
        QCOMPARE(user.message(), QStringLiteral("Checking for updates…"));
        QVERIFY(settle(user));
        QCOMPARE(user.state(), state);
        QCOMPARE(user.message(), message);

        PluginUpdater background;
        background.setConfig(plugin.config(sim.manifestUrl()));
        background.check(false);
        QVERIFY(settle(background));
        QCOMPARE(background.state(), state == PluginUpdater::Failed ? PluginUpdater::Idle : state);
        QCOMPARE(background.message(), state == PluginUpdater::Failed ? QString() : message);
    }

    // Over TLS, a redirect of the manifest or the package to plain http is refused before
    // anything comes over it, even to an address that is allowed in itself; one to another
    // https address is followed.
    void redirectsOverTls_data()
    {
        QTest::addColumn<QString>("manifestCase");
        QTest::addColumn<QString>("packageCase");
        QTest::addColumn<PluginUpdater::State>("checked");
        QTest::addColumn<PluginUpdater::State>("installed");
        QTest::addColumn<QString>("message");
        QTest::newRow("manifest to http") << "redirect-http" << "ok" << PluginUpdater::Failed << PluginUpdater::Failed
                                          << "Could not reach the Corvane update service. Check your internet connection.";
        QTest::newRow("package to http") << "newer" << "redirect-http" << PluginUpdater::Available << PluginUpdater::Failed
                                         << "The download did not finish. Check your internet connection and try again.";
        QTest::newRow("both to https") << "redirect-https" << "redirect-https" << PluginUpdater::Available << PluginUpdater::Installed
                                       << "Version 1.0.2 is installed. Restart OBS to start using it.";
    }
    void redirectsOverTls()
    {
        QFETCH(QString, manifestCase);
        QFETCH(QString, packageCase);
        QFETCH(PluginUpdater::State, checked);
        QFETCH(PluginUpdater::State, installed);
        QFETCH(QString, message);
        QTemporaryDir certificates;
        QVERIFY(makeCertificate(certificates));
        UpdateSimProcess sim;
        QVERIFY(!sim.start({QStringLiteral("--tls-cert"), certificates.filePath(QStringLiteral("cert.pem")), QStringLiteral("--tls-key"),
                            certificates.filePath(QStringLiteral("key.pem")), QStringLiteral("--manifest"), manifestCase,
                            QStringLiteral("--package"), packageCase})
                     .isEmpty());
        QVERIFY(sim.url().startsWith(QLatin1String("https://")));
        InstalledPlugin plugin;
        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        updater.setExtraCaCertificatesForTesting(QSslCertificate::fromPath(certificates.filePath(QStringLiteral("cert.pem"))));
        const auto before = plugin.outsideWorkDir();
        updater.check(true);
        QVERIFY(settle(updater));
        QCOMPARE(updater.state(), checked);
        if (checked == PluginUpdater::Available) {
            updater.install();
            QVERIFY(settle(updater));
        }
        QCOMPARE(updater.state(), installed);
        QCOMPARE(updater.message(), message);
        const QStringList requests = sim.requests();
        QVERIFY2(std::none_of(requests.cbegin(), requests.cend(), [](const QString &r) { return r.endsWith(QLatin1String("(plain http)")); }),
                 qPrintable(requests.join(QStringLiteral(", "))));
        if (installed == PluginUpdater::Failed) {
            QCOMPARE(plugin.outsideWorkDir(), before);
            QCOMPARE(QFileInfo(plugin.workDir + QStringLiteral("/package.zip")).size(), 0);
        }
    }

    // An install whose rollback cannot put the previous version back says so and what to do,
    // keeps that version where it is, and refuses to start again over it.
    void aRollbackThatCannotRestoreSaysWhatToDo_data()
    {
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("oldLibrary");
        QTest::newRow("the folder stays aside")
            << QStringList{"/update/extracted/corvane-obs", "/update/previous"}
            << "The update could not be installed (the new folder could not be put in place), and the previous version could not "
               "be put back. Close OBS, then move the folder %2 back to %1, or reinstall the plugin from "
               "https://downloads.corvane.com/download."
            << "%2/bin/64bit/corvane-obs.so";
        QTest::newRow("a file stays aside")
            << QStringList{"/plugins/corvane-obs", "/plugins/corvane-obs/data/locale/en-US.ini", "/bin/64bit/corvane-obs.so.old"}
            << "The update could not be installed (data/locale/en-US.ini is in use), and the previous version could not be fully "
               "put back. Close OBS, then in %1 rename each file ending in .old back to its name without .old, or reinstall the "
               "plugin from https://downloads.corvane.com/download."
            << "%1/bin/64bit/corvane-obs.so.old";
    }
    void aRollbackThatCannotRestoreSaysWhatToDo()
    {
        QFETCH(QStringList, refused);
        QFETCH(QString, message);
        QFETCH(QString, oldLibrary);
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        InstalledPlugin plugin;
        Refusing operations(refused);
        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        updater.setFileOperationsForTesting(&operations);
        QVERIFY(findUpdate(updater));
        updater.install();
        QVERIFY(settle(updater));
        const QString previous = plugin.workDir + QStringLiteral("/previous");
        // %1 the plugin's folder, %2 the previous version's, wherever each stands.
        const auto fill = [&](QString text, bool native) {
            return text.replace(QLatin1String("%1"), native ? QDir::toNativeSeparators(plugin.root) : plugin.root)
                .replace(QLatin1String("%2"), native ? QDir::toNativeSeparators(previous) : previous);
        };
        const QString told = fill(message, true);
        QCOMPARE(updater.state(), PluginUpdater::Failed);
        QCOMPARE(updater.message(), told);
        QCOMPARE(readAll(fill(oldLibrary, false)), QByteArray(kOldLibrary));
        QVERIFY(readAll(plugin.workDir + QLatin1Char('/') + QLatin1String(PluginUpdater::kRollbackNote)).startsWith(told.toUtf8() + '\n'));

        const QStringList requests = sim.requests();
        updater.install();
        QVERIFY(settle(updater));
        QCOMPARE(updater.state(), PluginUpdater::Failed);
        QCOMPARE(updater.message(), told);
        QCOMPARE(sim.requests(), requests);
        QCOMPARE(readAll(fill(oldLibrary, false)), QByteArray(kOldLibrary));
    }

    // A rollback that cannot take away a file the update added says so, and names it.
    void aFileTheUpdateAddedThatStaysIsNamed()
    {
        UpdateSimProcess sim;
        QVERIFY(!sim.start({QStringLiteral("--filler-bytes"), QStringLiteral("16")}).isEmpty());
        InstalledPlugin plugin;
        Refusing operations({QStringLiteral("/plugins/corvane-obs"), QStringLiteral("/plugins/corvane-obs/data/locale/en-US.ini")},
                            {QStringLiteral("/plugins/corvane-obs/data/filler.bin")});
        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        updater.setFileOperationsForTesting(&operations);
        QVERIFY(findUpdate(updater));
        updater.install();
        QVERIFY(settle(updater));
        QCOMPARE(updater.state(), PluginUpdater::Failed);
        QCOMPARE(updater.message(),
                 QStringLiteral("The update could not be installed (data/locale/en-US.ini is in use), and the files it added could "
                                "not all be removed (data/filler.bin). Close OBS, then delete them in %1; the current version is "
                                "otherwise as it was.")
                     .arg(QDir::toNativeSeparators(plugin.root)));
        QVERIFY(QFileInfo::exists(plugin.root + QStringLiteral("/data/filler.bin")));
        QCOMPARE(readAll(plugin.root + QStringLiteral("/bin/64bit/corvane-obs.so")), QByteArray(kOldLibrary));
        // The previous version is whole: nothing holds later installs back.
        QVERIFY(!QFileInfo::exists(plugin.workDir + QLatin1Char('/') + QLatin1String(PluginUpdater::kRollbackNote)));
    }

    // Whatever holds the previous version (the folder aside, a NAME.old) is deleted neither by
    // a new install nor at start while the installed files are not known whole: a note that
    // cannot be read, or files on disk that say so without any note (a full disk kept it from
    // being written).
    void whatIsLeftAsideIsKept_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("a note that cannot be read") << "unreadable note";
        QTest::newRow("a file aside without its name") << "orphan";
        QTest::newRow("the folder aside, no library in place") << "folder aside";
    }
    void whatIsLeftAsideIsKept()
    {
        QFETCH(QString, state);
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        InstalledPlugin plugin;
        const QString note = plugin.workDir + QLatin1Char('/') + QLatin1String(PluginUpdater::kRollbackNote);
        writeFile(plugin.workDir + QStringLiteral("/previous/bin/64bit/corvane-obs.so"), "previous library");
        writeFile(plugin.root + QStringLiteral("/data/keep.txt.old"), "previous keep");
        writeFile(plugin.root + QStringLiteral("/data/keep.txt"), "keep");
        if (state == QLatin1String("unreadable note"))
            QVERIFY(QDir().mkpath(note));
        if (state == QLatin1String("orphan")) {
            writeFile(plugin.root + QStringLiteral("/data/locale/en-US.ini.old"), "previous locale");
            QVERIFY(QFile::remove(plugin.root + QStringLiteral("/data/locale/en-US.ini")));
        }
        if (state == QLatin1String("folder aside"))
            QVERIFY(QFile::remove(plugin.root + QStringLiteral("/bin/64bit/corvane-obs.so")));
        const auto everything = [&] {
            QMap<QString, QByteArray> all = plugin.outsideWorkDir();
            all.insert(QStringLiteral("previous"), readAll(plugin.workDir + QStringLiteral("/previous/bin/64bit/corvane-obs.so")));
            return all;
        };
        const QMap<QString, QByteArray> before = everything();

        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        updater.removeLeftovers();
        QCOMPARE(everything(), before);
        QVERIFY(findUpdate(updater));
        updater.install();
        QVERIFY(settle(updater));
        QCOMPARE(updater.state(), PluginUpdater::Failed);
        QCOMPARE(updater.message(), QStringLiteral("An earlier update of the plugin did not finish, so its files may be mixed. Close "
                                                   "OBS, then reinstall the plugin from https://downloads.corvane.com/download and "
                                                   "delete the files ending in .old in %1.")
                                        .arg(QDir::toNativeSeparators(plugin.root)));
        QCOMPARE(sim.requests(), QStringList{QStringLiteral("/downloads/obs/latest.json")});
        QCOMPARE(everything(), before);
    }

    // A disk too full for the note stops the install before anything is replaced.
    void aNoteThatCannotBeWrittenChangesNothing()
    {
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        InstalledPlugin plugin;
        Refusing fullDisk({}, {}, false);
        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        updater.setFileOperationsForTesting(&fullDisk);
        const QMap<QString, QByteArray> before = plugin.outsideWorkDir();
        QVERIFY(findUpdate(updater));
        updater.install();
        QVERIFY(settle(updater));
        QCOMPARE(updater.state(), PluginUpdater::Failed);
        QCOMPARE(updater.message(), QStringLiteral("Could not write the update to disk."));
        QCOMPARE(plugin.outsideWorkDir(), before);
    }

    // Once the installed files are whole again (the user reinstalled, as told), the note goes
    // at the next start with what was left aside, and updates work again; not while a file
    // it names still has its old copy beside the new one.
    void aNoteGoesOnceTheFilesAreWholeAgain_data()
    {
        QTest::addColumn<QString>("leftover");
        QTest::addColumn<QString>("listed");
        QTest::addColumn<bool>("cleared");
        QTest::newRow("the folder aside") << "previous/bin/64bit/corvane-obs.so" << "" << true;
        QTest::newRow("files aside") << "root/bin/64bit/corvane-obs.so.old" << "" << true;
        QTest::newRow("a new copy that stayed beside its old one")
            << "root/data/locale/en-US.ini.old" << "data/locale/en-US.ini" << false;
        QTest::newRow("an install cut short, files aside") << "root/data/locale/en-US.ini.old" << "/" << false;
        QTest::newRow("an install cut short, the folder aside") << "previous/bin/64bit/corvane-obs.so" << "/" << true;
    }
    void aNoteGoesOnceTheFilesAreWholeAgain()
    {
        QFETCH(QString, leftover);
        QFETCH(QString, listed);
        QFETCH(bool, cleared);
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        InstalledPlugin plugin;
        const QString note = plugin.workDir + QLatin1Char('/') + QLatin1String(PluginUpdater::kRollbackNote);
        writeFile(note, "The update could not be installed (...). Reinstall the plugin.\n" + listed.toUtf8() + "\n");
        const QString left = QString(leftover).replace(QLatin1String("root/"), plugin.root + QLatin1Char('/'))
                                 .replace(QLatin1String("previous/"), plugin.workDir + QStringLiteral("/previous/"));
        writeFile(left, "previous copy");

        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        updater.removeLeftovers();
        QCOMPARE(!QFileInfo::exists(note), cleared);
        // The folder aside goes with the next install's work folder.
        if (left.endsWith(QLatin1String(".old")))
            QCOMPARE(QFileInfo::exists(left), !cleared);
        QVERIFY(findUpdate(updater));
        updater.install();
        QVERIFY(settle(updater));
        QCOMPARE(updater.state(), cleared ? PluginUpdater::Installed : PluginUpdater::Failed);
        if (!cleared)
            QCOMPARE(readAll(left), QByteArray("previous copy"));
    }

    // An install cut short after some files were replaced keeps every NAME.old at the next
    // start, even where its NAME is there: the files may be of two versions.
    void anInstallCutShortKeepsWhatIsAside()
    {
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        InstalledPlugin plugin;
        const QString note = plugin.workDir + QLatin1Char('/') + QLatin1String(PluginUpdater::kRollbackNote);
        NoteAtFirstFileAside operations(note);
        {
            PluginUpdater updater;
            updater.setConfig(plugin.config(sim.manifestUrl()));
            updater.setFileOperationsForTesting(&operations);
            QVERIFY(findUpdate(updater));
            updater.install();
            QVERIFY(settle(updater));
            QCOMPARE(updater.state(), PluginUpdater::Installed);
        }
        QVERIFY(!operations.seen.isEmpty());
        writeFile(note, operations.seen);
        writeFile(plugin.root + QStringLiteral("/data/locale/en-US.ini.old"), "old locale");

        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        updater.removeLeftovers();
        QCOMPARE(readAll(plugin.root + QStringLiteral("/data/locale/en-US.ini.old")), QByteArray("old locale"));
        QCOMPARE(readAll(note), operations.seen);
    }

    // The unpacking program is killed when it runs past its time (two minutes by default).
    void unpackingPastItsTimeIsStopped()
    {
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        InstalledPlugin plugin;
        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        UnpackLimits limits;
        limits.timeoutMs = 1;
        updater.setUnpackLimitsForTesting(limits);
        QVERIFY(findUpdate(updater));
        const auto before = plugin.outsideWorkDir();
        updater.install();
        QVERIFY(settle(updater));
        QCOMPARE(updater.message(), QStringLiteral("The update could not be unpacked. Nothing was changed."));
        QCOMPARE(plugin.outsideWorkDir(), before);
    }

    void unpackerMissing()
    {
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        InstalledPlugin plugin;
        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        QVERIFY(findUpdate(updater));
        const auto before = plugin.outsideWorkDir();
        const QStringList asked = sim.requests();
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", plugin.temp.path().toUtf8());
        updater.install();
        const bool settled = settle(updater);
        qputenv("PATH", path);
        QVERIFY(settled);
        // Found out before the download, and the user learns what to install.
        QCOMPARE(sim.requests(), asked);
        QVERIFY2(updater.message().contains(QStringLiteral("bsdtar")) && updater.message().contains(QStringLiteral("libarchive-tools")),
                 qPrintable(updater.message()));
        QCOMPARE(plugin.outsideWorkDir(), before);
    }

    void unreachableService()
    {
        InstalledPlugin plugin;
        const quint16 port = corvane::test::unusedLocalPort();
        QVERIFY(port != 0);
        PluginUpdater updater;
        updater.setConfig(plugin.config(QStringLiteral("http://127.0.0.1:%1/downloads/obs/latest.json").arg(port)));
        QSignalSpy changes(&updater, &PluginUpdater::stateChanged);
        updater.check(false);
        QVERIFY(settle(updater));
        QCOMPARE(changes.size(), 2);
        QCOMPARE(updater.state(), PluginUpdater::Idle);
        QCOMPARE(updater.message(), QString());

        updater.check(true);
        QVERIFY(settle(updater));
        QCOMPARE(updater.state(), PluginUpdater::Failed);
        QCOMPARE(updater.message(), QStringLiteral("Could not reach the Corvane update service. Check your internet connection."));

        updater.setConfig(plugin.config(QStringLiteral("http://downloads.example.com/downloads/obs/latest.json")));
        changes.clear();
        updater.check(false);
        QCOMPARE(changes.size(), 0);
        updater.check(true);
        QCOMPARE(updater.state(), PluginUpdater::Failed);
        QCOMPARE(updater.message(), QStringLiteral("The update address is not valid."));
    }

    void folderForAllUsersIsNotUpdated()
    {
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        InstalledPlugin plugin;
        ReadOnlyFolder readOnly(plugin.root);
        PluginUpdater updater;
        updater.setConfig(plugin.config(sim.manifestUrl()));
        updater.setFileOperationsForTesting(&readOnly);
        QVERIFY(findUpdate(updater));
        QVERIFY(!updater.canSelfUpdate());
        updater.install();
        QCOMPARE(updater.state(), PluginUpdater::Failed);
        QCOMPARE(updater.message(), QStringLiteral("This copy of the plugin is in a folder you cannot change, so it cannot "
                                                   "update itself. Download the new version from "
                                                   "https://downloads.corvane.com/download."));
        QCOMPARE(sim.requests(), QStringList{QStringLiteral("/downloads/obs/latest.json")});
        QVERIFY(!QFileInfo::exists(plugin.workDir));

        // The folder is swapped whole, so the folder above it must take new entries too.
        ReadOnlyFolder parentReadOnly(QFileInfo(plugin.root).absolutePath());
        updater.setFileOperationsForTesting(&parentReadOnly);
        QVERIFY(!updater.canSelfUpdate());

        UpdaterConfig missing = plugin.config(sim.manifestUrl());
        missing.libraryPath = QStringLiteral("bin/64bit/absent.so");
        updater.setConfig(missing);
        updater.setFileOperationsForTesting(&FileOperations::system());
        QVERIFY(!updater.canSelfUpdate());
    }

    // A copy that a package manager or Flatpak keeps current fetches nothing at all, not even
    // the manifest, and says from the start who updates it.
    void copyUpdatedElsewhereFetchesNothing_data()
    {
        QTest::addColumn<bool>("flatpak");
        QTest::addColumn<QString>("modulePath");
        QTest::addColumn<QString>("says");
        QTest::newRow("system package") << false << QStringLiteral("/usr/lib/x86_64-linux-gnu/obs-plugins/corvane-obs.so")
                                        << QStringLiteral("package manager");
        QTest::newRow("Flatpak") << true << QString() << QStringLiteral("Flatpak");
    }
    void copyUpdatedElsewhereFetchesNothing()
    {
        QFETCH(bool, flatpak);
        QFETCH(QString, modulePath);
        QFETCH(QString, says);
        UpdateSimProcess sim;
        QVERIFY(!sim.start().isEmpty());
        InstalledPlugin plugin;
        QTemporaryDir sandbox;
        UpdaterConfig config = plugin.config(sim.manifestUrl());
        config.modulePath = modulePath;
        config.flatpakInfo = sandbox.filePath(QStringLiteral(".flatpak-info"));
        if (flatpak)
            writeFile(config.flatpakInfo, "[Application]\nname=com.obsproject.Studio\n");
        PluginUpdater updater;
        updater.setConfig(config);
        QVERIFY(updater.message().contains(says));
        for (const bool userInitiated : {false, true}) {
            updater.check(userInitiated);
            QVERIFY(settle(updater));
            QCOMPARE(updater.state(), PluginUpdater::Idle);
            QVERIFY2(updater.message().contains(says), qPrintable(updater.message()));
        }
        updater.install();
        QCOMPARE(sim.requests(), QStringList());
        QVERIFY(!QFileInfo::exists(plugin.workDir));
        QCOMPARE(readAll(plugin.root + QStringLiteral("/bin/64bit/corvane-obs.so")), QByteArray(kOldLibrary));
    }
};

QTEST_GUILESS_MAIN(tst_PluginUpdater)
#include "tst_PluginUpdater.moc"
