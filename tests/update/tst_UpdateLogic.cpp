// The updater's pure pieces: versions, manifests, member names, the tar reader, and the
// file-by-file install with its rollback.
#include "update/FileOperations.h"
#include "update/PluginVersion.h"
#include "update/TarReader.h"
#include "update/TreeInstaller.h"
#include "update/UpdateManifest.h"
#include "update/PackageUnpacker.h"
#include "update/SelfUpdatePolicy.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;

Q_DECLARE_METATYPE(corvane::InstallOutcome::Left)

namespace {

const QString kSha = QString(64, QLatin1Char('a'));

QByteArray manifestWith(const QString &packageJson, const QString &extra = {})
{
    return QStringLiteral("{\"version\":\"1.0.2\"%1,\"packages\":{\"linux-x64\":%2}}").arg(extra, packageJson).toUtf8();
}

QByteArray package(const QString &url, const QString &sha = kSha, const QString &size = QStringLiteral("1000"))
{
    return QStringLiteral("{\"url\":\"%1\",\"sha256\":\"%2\",\"size\":%3}").arg(url, sha, size).toUtf8();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// Every file below `root` with its content.
QMap<QString, QByteArray> filesOf(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        files.insert(QDir(root).relativeFilePath(path), file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return files;
}

// Fails the renames and removals it is told to, as Windows does for a folder or a library
// in use.
class RefusingOperations : public FileOperations {
public:
    QStringList refusedSources;
    QStringList refusedRemovals;
    bool rename(const QString &from, const QString &to) override
    {
        for (const QString &refused : refusedSources) {
            if (from.endsWith(refused))
                return false;
        }
        return FileOperations::rename(from, to);
    }
    bool remove(const QString &path) override
    {
        for (const QString &refused : refusedRemovals) {
            if (path.endsWith(refused))
                return false;
        }
        return FileOperations::remove(path);
    }
};

// Installs temp/new over temp/plugin (previous folder temp/previous) with the renames of
// `refused` and the removals of `unremovable` failing.
InstallOutcome installRefusing(const QTemporaryDir &temp, const QStringList &refused, const QStringList &unremovable = {})
{
    RefusingOperations operations;
    operations.refusedSources = refused;
    operations.refusedRemovals = unremovable;
    return installTree(temp.filePath(QStringLiteral("new")), temp.filePath(QStringLiteral("plugin")),
                       temp.filePath(QStringLiteral("previous")), operations);
}

// An installed library and locale in `target`, and their new versions with a new font in
// `source`.
void writeOldAndNew(const QString &target, const QString &source)
{
    writeFile(target + QStringLiteral("/bin/64bit/corvane-obs.so"), "old library");
    writeFile(target + QStringLiteral("/data/locale/en-US.ini"), "old locale");
    writeFile(source + QStringLiteral("/bin/64bit/corvane-obs.so"), "new library");
    writeFile(source + QStringLiteral("/data/fonts/new.ttf"), "new font");
    writeFile(source + QStringLiteral("/data/locale/en-US.ini"), "new locale");
}

// Collects what a TarReader hands out.
class RecordingSink : public TarReader::Sink {
public:
    QStringList log;
    bool entryStarted(const TarEntry &entry) override
    {
        log.append(QStringLiteral("%1 %2 %3 %4|").arg(int(entry.type)).arg(entry.path, entry.linkTarget).arg(entry.size));
        return true;
    }
    bool entryData(const char *bytes, qsizetype size) override
    {
        log.last() += QString::fromLatin1(bytes, size);
        return true;
    }
    bool entryFinished() override { return true; }
};

QByteArray tarHeader(const QByteArray &name, char type, qint64 size, const QByteArray &link = {})
{
    QByteArray header(512, '\0');
    header.replace(0, name.size(), name);
    header.replace(124, 12, QByteArray::number(size, 8).rightJustified(11, '0') + '\0');
    header[156] = type;
    header.replace(157, link.size(), link);
    header.replace(257, 6, QByteArray("ustar\0", 6));
    header.replace(148, 8, QByteArray(8, ' '));
    int sum = 0;
    for (char c : header)
        sum += static_cast<uchar>(c);
    header.replace(148, 8, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
    return header;
}

QByteArray padded(const QByteArray &data) { return data + QByteArray((512 - data.size() % 512) % 512, '\0'); }

} // namespace

class tst_UpdateLogic : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void versions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("leading v") << "v1.0.2" << "1.0.2" << 0;
        QTest::newRow("leading V, spaces") << " V1.0.2 " << "1.0.2" << 0;
        QTest::newRow("pre-release below release") << "1.0.2-beta" << "1.0.2" << -1;
        QTest::newRow("release above pre-release") << "1.0.2" << "1.0.2-rc.1" << 1;
        QTest::newRow("two pre-releases equal") << "1.0.2-beta" << "1.0.2-rc" << 0;
        QTest::newRow("missing part is zero") << "1.2" << "1.2.0" << 0;
        QTest::newRow("numeric, not textual") << "1.0.10" << "1.0.9" << 1;
        QTest::newRow("fourth part decides") << "1.0.2.1" << "1.0.2" << 1;
        QTest::newRow("non-number part is zero") << "1.x.3" << "1.0.3" << 0;
        QTest::newRow("major first") << "2.0.0" << "1.99.99" << 1;
    }
    void versions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(compareVersions(a, b), expected);
        QCOMPARE(compareVersions(b, a), -expected);
    }

    void manifests_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("obs");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("applies");
        QTest::addColumn<QString>("message");
        const QString local = QStringLiteral("http://127.0.0.1:8080/p.zip");
        const QString incomplete = QStringLiteral("The update information is incomplete.");
        QTest::newRow("not json") << QByteArray("<html>") << "30.2.3" << false << false
                                  << "The update information was not readable.";
        QTest::newRow("json array") << QByteArray("[]") << "30.2.3" << false << false
                                    << "The update information was not readable.";
        QTest::newRow("schema 2") << QByteArray("{\"schema\":2,\"version\":\"9.0.0\"}") << "30.2.3" << false << false
                                  << "This update needs a newer Corvane plugin than the one installed. Download the installer from the Corvane website.";
        QTest::newRow("schema as text") << QByteArray("{\"schema\":\"1\",\"version\":\"1.0.1\"}") << "30.2.3" << false
                                        << false
                                        << "This update needs a newer Corvane plugin than the one installed. Download the installer from the Corvane website.";
        QTest::newRow("bad version") << QByteArray("{\"version\":\"1.0\"}") << "30.2.3" << false << false
                                     << "The update information has no valid version.";
        QTest::newRow("same version, no packages") << QByteArray("{\"version\":\"1.0.1\"}") << "30.2.3" << true
                                                   << false << "";
        QTest::newRow("older version") << QByteArray("{\"schema\":1,\"version\":\"1.0.0\"}") << "30.2.3" << true << false
                                       << "";
        QTest::newRow("newer, no package here") << QByteArray("{\"version\":\"1.0.2\",\"packages\":{\"windows-x64\":{\"url\":\"https://a/b\"}}}")
                                                << "30.2.3" << false << false
                                                << "Version 1.0.2 is out, but not available for this computer yet.";
        QTest::newRow("newer, empty package") << manifestWith(QStringLiteral("{}")) << "30.2.3" << false << false
                                              << "Version 1.0.2 is out, but not available for this computer yet.";
        QTest::newRow("newer, https") << manifestWith(package(QStringLiteral("https://downloads.corvane.com/p.zip")))
                                      << "30.2.3" << true << true << "";
        QTest::newRow("http to localhost, any port") << manifestWith(package(QStringLiteral("http://LOCALHOST:1/p.zip")))
                                                     << "30.2.3" << true << true << "";
        QTest::newRow("upper-case sha accepted") << manifestWith(package(local, kSha.toUpper())) << "30.2.3" << true
                                                 << true << "";
        QTest::newRow("http to another host") << manifestWith(package(QStringLiteral("http://example.com/p.zip")))
                                              << "30.2.3" << false << false << incomplete;
        QTest::newRow("ftp") << manifestWith(package(QStringLiteral("ftp://127.0.0.1/p.zip"))) << "30.2.3" << false
                             << false << incomplete;
        QTest::newRow("short sha") << manifestWith(package(local, kSha.left(63))) << "30.2.3" << false << false
                                   << incomplete;
        QTest::newRow("non-hex sha") << manifestWith(package(local, QString(64, QLatin1Char('g')))) << "30.2.3"
                                     << false << false << incomplete;
        QTest::newRow("obs too old") << manifestWith(package(local), QStringLiteral(",\"min_obs\":\"31.0\""))
                                     << "30.2.3" << false << false
                                     << "Version 1.0.2 needs OBS 31.0 or newer (this is OBS 30.2.3).";
        QTest::newRow("obs new enough") << manifestWith(package(local), QStringLiteral(",\"min_obs\":\"30.2.3\""))
                                        << "30.2.3" << true << true << "";
        QTest::newRow("obs unknown") << manifestWith(package(local), QStringLiteral(",\"min_obs\":\"31.0\"")) << ""
                                     << true << true << "";
    }
    void manifests()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, obs);
        QFETCH(bool, ok);
        QFETCH(bool, applies);
        QFETCH(QString, message);
        const ManifestResult result = parseManifest(body, QStringLiteral("1.0.1"), QStringLiteral("linux-x64"), obs);
        QCOMPARE(result.ok, ok);
        QCOMPARE(result.manifest.updateApplies, applies);
        QCOMPARE(result.message, message);
        QCOMPARE(result.code.isEmpty(), ok);
        if (applies) {
            QCOMPARE(result.manifest.sha256, kSha);
            QCOMPARE(result.manifest.size, 1000);
        }
    }

    void manifestFields()
    {
        const ManifestResult result = parseManifest(
            "{\"version\":\"1.0.2\",\"released\":\"2026-12-01\",\"notes\":[\"One.\",\"Two.\"],\"min_obs\":\"30.0\","
            "\"packages\":{\"linux-x64\":{\"url\":\"https://d/p.zip\",\"sha256\":\"" + kSha.toLatin1() + "\",\"size\":12.9}}}",
            QStringLiteral("1.0.1"), QStringLiteral("linux-x64"), QStringLiteral("30.2.3"));
        QVERIFY(result.ok);
        QCOMPARE(result.manifest.released, QStringLiteral("2026-12-01"));
        QCOMPARE(result.manifest.notes, QStringLiteral("One.\nTwo."));
        QCOMPARE(result.manifest.minObs, QStringLiteral("30.0"));
        QCOMPARE(result.manifest.size, 12);
        const ManifestResult text = parseManifest("{\"version\":\"1.0.1\",\"notes\":\"Just one.\"}", QStringLiteral("1.0.1"),
                                                  QStringLiteral("linux-x64"), {});
        QCOMPARE(text.manifest.notes, QStringLiteral("Just one."));
    }

    void memberPaths_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("portable"); // a name every platform's file system can hold
        QTest::newRow("plain") << "corvane-obs/bin/x.so" << "corvane-obs/bin/x.so" << true;
        QTest::newRow("dot parts dropped") << "./corvane-obs//data/./a" << "corvane-obs/data/a" << true;
        QTest::newRow("folder") << "corvane-obs/" << "corvane-obs" << true;
        QTest::newRow("dot-dot") << "corvane-obs/../../x" << "" << true;
        QTest::newRow("dot-dot alone") << ".." << "" << true;
        QTest::newRow("absolute") << "/tmp/x" << "" << true;
        QTest::newRow("backslash") << "corvane-obs\\..\\x" << "" << true;
        QTest::newRow("drive") << "C:/Windows/x" << "" << true;
        QTest::newRow("only dots") << "./." << "" << true;
        QTest::newRow("dots inside a name are fine") << "a/..b/c..d" << "a/..b/c..d" << true;
        QTest::newRow("device name") << "corvane-obs/data/CON" << "corvane-obs/data/CON" << false;
        QTest::newRow("device name, any case, any extension") << "corvane-obs/nul.txt" << "corvane-obs/nul.txt" << false;
        QTest::newRow("numbered port") << "corvane-obs/bin/Com1.dll" << "corvane-obs/bin/Com1.dll" << false;
        QTest::newRow("printer port as a folder") << "corvane-obs/LPT9/x" << "corvane-obs/LPT9/x" << false;
        QTest::newRow("device name before spaces") << "corvane-obs/AUX .txt" << "corvane-obs/AUX .txt" << false;
        QTest::newRow("ends in a dot") << "a/..b/c.." << "a/..b/c.." << false;
        QTest::newRow("ends in a space") << "corvane-obs/data/x " << "corvane-obs/data/x " << false;
        QTest::newRow("longer than a device name") << "corvane-obs/CONSOLE.txt" << "corvane-obs/CONSOLE.txt" << true;
        QTest::newRow("port beyond 9") << "corvane-obs/COM10" << "corvane-obs/COM10" << true;
    }
    void memberPaths()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(safeMemberPath(name), expected);
        if (!expected.isEmpty())
            QTEST(isPortableMemberPath(expected), "portable");
    }

    // Pax records override the header's name; data arrives whole across any split.
    void tarStream()
    {
        const QByteArray longName = "corvane-obs/" + QByteArray(150, 'n');
        const QByteArray record = " path=" + longName + "\n";
        const QByteArray pax = QByteArray::number(record.size() + 3) + record;
        const QByteArray stream = tarHeader("corvane-obs/", '5', 0) + tarHeader("PaxHeader", 'x', pax.size())
            + padded(pax) + tarHeader("short", '0', 5) + padded("hello") + tarHeader("l", '2', 0, "../target")
            + QByteArray(1024, '\0') + QByteArray(512, 'z');
        for (int split : {1, 7, 512, 100000}) {
            RecordingSink sink;
            TarReader reader(sink);
            for (qsizetype pos = 0; pos < stream.size(); pos += split)
                QVERIFY(reader.feed(stream.mid(pos, split)));
            QVERIFY(reader.atEnd());
            QCOMPARE(sink.log, QStringList({QStringLiteral("1 corvane-obs/  0|"),
                                            QStringLiteral("0 %1  5|hello").arg(QString::fromLatin1(longName)),
                                            QStringLiteral("2 l ../target 0|")}));
        }
    }

    void tarStreamDamage()
    {
        RecordingSink sink;
        TarReader reader(sink);
        QByteArray header = tarHeader("a", '0', 3);
        header[0] = 'b'; // the checksum no longer matches
        QVERIFY(!reader.feed(header));
        QCOMPARE(reader.error(), QStringLiteral("malformed"));
        QVERIFY(sink.log.isEmpty());

        RecordingSink cut;
        TarReader truncated(cut);
        QVERIFY(truncated.feed(tarHeader("a", '0', 600) + QByteArray(100, 'x')));
        QVERIFY(!truncated.atEnd());
    }

    // Whole-folder swap refused (a folder in use), then a file that cannot be moved aside:
    // what was already placed is undone, folders made for new files go again, and the install
    // folder is as it was.
    void fileByFileRollsBack()
    {
        QTemporaryDir temp;
        const QString target = temp.filePath(QStringLiteral("plugin"));
        const QString source = temp.filePath(QStringLiteral("new"));
        writeOldAndNew(target, source);
        writeFile(source + QStringLiteral("/bin/64bit/extra.so"), "new extra");
        const auto before = filesOf(target);

        const InstallOutcome outcome = installRefusing(temp, {QStringLiteral("/plugin"), QStringLiteral("/plugin/data/locale/en-US.ini")});
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.reason, QStringLiteral("data/locale/en-US.ini is in use"));
        QCOMPARE(outcome.previousVersion, InstallOutcome::Left::InPlace);
        QCOMPARE(filesOf(target), before);
        QVERIFY(!QFileInfo::exists(target + QStringLiteral("/data/fonts")));
    }

    // The folder could be moved aside but the new one not put in its place: the old folder
    // comes back, and the files go in one by one.
    void halfDoneSwapIsUndone()
    {
        QTemporaryDir temp;
        const QString target = temp.filePath(QStringLiteral("plugin"));
        const QString source = temp.filePath(QStringLiteral("new"));
        writeFile(target + QStringLiteral("/bin/64bit/corvane-obs.so"), "old library");
        writeFile(target + QStringLiteral("/data/keep.txt"), "kept");
        writeFile(source + QStringLiteral("/bin/64bit/corvane-obs.so"), "new library");

        const InstallOutcome outcome = installRefusing(temp, {QStringLiteral("/new")});
        QVERIFY(outcome.ok);
        QVERIFY(!outcome.swapped);
        const QMap<QString, QByteArray> expected{{QStringLiteral("bin/64bit/corvane-obs.so"), "new library"},
                                                 {QStringLiteral("bin/64bit/corvane-obs.so.old"), "old library"},
                                                 {QStringLiteral("data/keep.txt"), "kept"}};
        QCOMPARE(filesOf(target), expected);
        QVERIFY(!QFileInfo::exists(temp.filePath(QStringLiteral("previous"))));
    }

    // A rollback step that fails leaves the old version where it still is and says so, with
    // every new file it could not take away.
    void rollbackThatCannotRestore_data()
    {
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QStringList>("unremovable");
        QTest::addColumn<InstallOutcome::Left>("left");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("oldFiles"); // where the old library and locale are afterwards
        QTest::addColumn<QStringList>("addedLeft");
        QTest::addColumn<QStringList>("newLeft");
        const QStringList none;
        QTest::newRow("the folder cannot move back")
            << QStringList{"/new", "/previous"} << none << InstallOutcome::Left::InPreviousFolder
            << "the new folder could not be put in place"
            << QStringList{"previous/bin/64bit/corvane-obs.so", "previous/data/locale/en-US.ini"} << none << none;
        QTest::newRow("a file cannot move back")
            << QStringList{"/plugin", "/plugin/data/locale/en-US.ini", "/plugin/bin/64bit/corvane-obs.so.old"} << none
            << InstallOutcome::Left::AsOldFiles << "data/locale/en-US.ini is in use"
            << QStringList{"plugin/bin/64bit/corvane-obs.so.old", "plugin/data/locale/en-US.ini"} << none << none;
        QTest::newRow("a file the update added cannot be removed")
            << QStringList{"/plugin", "/plugin/data/locale/en-US.ini"} << QStringList{"/plugin/data/fonts/new.ttf"}
            << InstallOutcome::Left::InPlace << "data/locale/en-US.ini is in use"
            << QStringList{"plugin/bin/64bit/corvane-obs.so", "plugin/data/locale/en-US.ini"} << QStringList{"data/fonts/new.ttf"}
            << none;
        QTest::newRow("a replacing file cannot be removed")
            << QStringList{"/plugin", "/plugin/data/locale/en-US.ini"} << QStringList{"/plugin/bin/64bit/corvane-obs.so"}
            << InstallOutcome::Left::AsOldFiles << "data/locale/en-US.ini is in use"
            << QStringList{"plugin/bin/64bit/corvane-obs.so.old", "plugin/data/locale/en-US.ini"} << none
            << QStringList{"bin/64bit/corvane-obs.so"};
    }
    void rollbackThatCannotRestore()
    {
        QFETCH(QStringList, refused);
        QFETCH(QStringList, unremovable);
        QFETCH(QStringList, oldFiles);
        QFETCH(QStringList, addedLeft);
        QTemporaryDir temp;
        const QString target = temp.filePath(QStringLiteral("plugin"));
        const QString source = temp.filePath(QStringLiteral("new"));
        writeOldAndNew(target, source);

        const InstallOutcome outcome = installRefusing(temp, refused, unremovable);
        QVERIFY(!outcome.ok);
        QTEST(outcome.previousVersion, "left");
        QTEST(outcome.reason, "reason");
        QTEST(outcome.addedLeft, "addedLeft");
        QTEST(outcome.newLeft, "newLeft");
        const QMap<QString, QByteArray> all = filesOf(temp.path());
        QMap<QString, QByteArray> found;
        for (const QString &file : oldFiles)
            found.insert(file, all.value(file));
        QCOMPARE(found, (QMap<QString, QByteArray>{{oldFiles.at(0), "old library"}, {oldFiles.at(1), "old locale"}}));
        QCOMPARE(QFileInfo::exists(target + QStringLiteral("/data/fonts")), !addedLeft.isEmpty());
    }

    void fileByFileMovesOldAside()
    {
        QTemporaryDir temp;
        const QString target = temp.filePath(QStringLiteral("plugin"));
        const QString source = temp.filePath(QStringLiteral("new"));
        writeFile(target + QStringLiteral("/bin/64bit/corvane-obs.so"), "old library");
        writeFile(target + QStringLiteral("/bin/64bit/corvane-obs.so.old"), "older leftover");
        writeFile(target + QStringLiteral("/data/keep.txt"), "kept");
        writeFile(source + QStringLiteral("/bin/64bit/corvane-obs.so"), "new library");
        writeFile(source + QStringLiteral("/data/.hidden"), "new hidden");

        const InstallOutcome outcome = installRefusing(temp, {QStringLiteral("/plugin")});
        QVERIFY(outcome.ok);
        QVERIFY(!outcome.swapped);
        const QMap<QString, QByteArray> expected{{QStringLiteral("bin/64bit/corvane-obs.so"), "new library"},
                                                 {QStringLiteral("bin/64bit/corvane-obs.so.old"), "old library"},
                                                 {QStringLiteral("data/keep.txt"), "kept"},
                                                 {QStringLiteral("data/.hidden"), "new hidden"}};
        QCOMPARE(filesOf(target), expected);

        QCOMPARE(installTree(temp.filePath(QStringLiteral("none")), target, {}, FileOperations::system()).reason,
                 QStringLiteral("nothing to install"));
        QDir().mkpath(temp.filePath(QStringLiteral("empty/sub")));
        QCOMPARE(installTree(temp.filePath(QStringLiteral("empty")), target, {}, FileOperations::system()).reason,
                 QStringLiteral("the package is empty"));
    }

    // Who updates a copy: the plugin only where it was put by hand and may write; a system
    // package or Flatpak is never overwritten, whatever the folder's permissions say.
    void selfUpdateDecision_data()
    {
        QTest::addColumn<QString>("modulePath");
        QTest::addColumn<bool>("flatpak");
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<QString>("reason");
        const QString perUser = QStringLiteral("/home/ana/.config/obs-studio/plugins/corvane-obs/bin/64bit/corvane-obs.so");
        const QString system = QStringLiteral("/usr/lib/x86_64-linux-gnu/obs-plugins/corvane-obs.so");
        const QString packaged = QStringLiteral("This copy of the plugin was installed with the system's package manager, "
                                                "so it cannot update itself. Update it with the package manager (for "
                                                "example, sudo apt upgrade).");
        const QString flatpak = QStringLiteral("This copy of the plugin runs inside Flatpak, so it cannot update itself. "
                                               "Update it with Flatpak (flatpak update).");
        const QString readOnly = QStringLiteral("This copy of the plugin is in a folder you cannot change, so it cannot "
                                                "update itself. Download the new version from https://d.example/download.");
        QTest::newRow("per-user folder") << perUser << false << true << true << true << QString();
        QTest::newRow("system folder, even if writable") << system << false << true << true << false << packaged;
        QTest::newRow("administrator's /usr/local") << QStringLiteral("/usr/local/lib/obs-plugins/corvane-obs.so") << false
                                                    << true << true << true << QString();
        QTest::newRow("Flatpak") << QStringLiteral("/app/plugins/lib/obs-plugins/corvane-obs.so") << true << true << true
                                 << false << flatpak;
        QTest::newRow("Flatpak over a system path") << system << true << false << false << false << flatpak;
        QTest::newRow("read-only folder") << perUser << false << true << false << false << readOnly;
        QTest::newRow("library missing") << perUser << false << false << true << false << readOnly;
    }
    void selfUpdateDecision()
    {
        QFETCH(QString, modulePath);
        QFETCH(bool, flatpak);
        QFETCH(bool, present);
        QFETCH(bool, writable);
        InstallFacts facts;
        facts.flatpak = flatpak;
        facts.systemPackage = isSystemPackagePath(modulePath);
        facts.folderPresent = present;
        facts.folderWritable = writable;
        const SelfUpdateDecision decision = decideSelfUpdate(facts, QStringLiteral("https://d.example/download"));
        QTEST(decision.allowed(), "allowed");
        QTEST(decision.reason, "reason");
    }

    void removeTreeLeavesLinkTargets()
    {
        QTemporaryDir temp;
        writeFile(temp.filePath(QStringLiteral("outside/precious")), "keep me");
        writeFile(temp.filePath(QStringLiteral("tree/a/b")), "x");
        QVERIFY(QFile::link(temp.filePath(QStringLiteral("outside")), temp.filePath(QStringLiteral("tree/link"))));
        QVERIFY(QFile::link(temp.filePath(QStringLiteral("gone")), temp.filePath(QStringLiteral("dangling"))));
        QCOMPARE(removeTree(temp.filePath(QStringLiteral("tree")), FileOperations::system()), QString());
        QCOMPARE(removeTree(temp.filePath(QStringLiteral("dangling")), FileOperations::system()), QString());
        QCOMPARE(removeTree(temp.filePath(QStringLiteral("never")), FileOperations::system()), QString());
        QVERIFY(!QFileInfo(temp.filePath(QStringLiteral("dangling"))).isSymLink());
        QVERIFY(!QFileInfo::exists(temp.filePath(QStringLiteral("tree"))));
        QVERIFY(QFileInfo::exists(temp.filePath(QStringLiteral("outside/precious"))));
    }
};

QTEST_GUILESS_MAIN(tst_UpdateLogic)
#include "tst_UpdateLogic.moc"
