#include "update/TreeInstaller.h"

#include "update/FileOperations.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QList>
#include <QStringList>

#include <algorithm>

namespace corvane {

namespace {

InstallOutcome failed(const QString &reason)
{
    InstallOutcome outcome;
    outcome.reason = reason;
    return outcome;
}

enum class Swap {
    Done,
    Refused,  // the target is as it was
    Stranded, // the target is at the previous path and could not be moved back
};

Swap swapWholeFolder(const QString &source, const QString &target, const QString &previous, FileOperations &operations)
{
    if (!removeTree(previous, operations).isEmpty())
        return Swap::Refused;
    operations.makePath(QFileInfo(previous).absolutePath());
    if (!operations.rename(target, previous))
        return Swap::Refused;
    if (operations.rename(source, target))
        return Swap::Done;
    return operations.rename(previous, target) ? Swap::Refused : Swap::Stranded;
}

// Every file below `root`, hidden ones included, as sorted relative paths.
QStringList filesBelow(const QString &root)
{
    QStringList files;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(base.relativeFilePath(it.next()));
    std::sort(files.begin(), files.end());
    return files;
}

struct PlacedFile {
    QString relative;
    QString target;
    bool movedAside = false;
};

// What one file-by-file install has done so far, so that it can be undone.
struct Progress {
    QList<PlacedFile> placed;
    QStringList createdFolders; // outermost first
};

// Makes `dir` and remembers which of its folders did not exist before.
void makeFolder(const QString &dir, Progress &progress, FileOperations &operations)
{
    QStringList missing;
    for (QString folder = dir; !operations.exists(folder); folder = QFileInfo(folder).absolutePath())
        missing.prepend(folder);
    operations.makePath(dir);
    progress.createdFolders += missing;
}

// Undoes the placed files, newest first, then removes the folders made for them. What could
// not be undone is written into `outcome`: a replaced file that could not be put back keeps
// its old copy as NAME.old.
void rollBack(const Progress &progress, InstallOutcome &outcome, FileOperations &operations)
{
    for (auto it = progress.placed.crbegin(); it != progress.placed.crend(); ++it) {
        const bool removed = !operations.exists(it->target) || operations.remove(it->target);
        if (!removed)
            (it->movedAside ? outcome.newLeft : outcome.addedLeft).prepend(it->relative);
        if (it->movedAside && !(removed && operations.rename(it->target + QStringLiteral(".old"), it->target)))
            outcome.previousVersion = InstallOutcome::Left::AsOldFiles;
    }
    for (auto it = progress.createdFolders.crbegin(); it != progress.createdFolders.crend(); ++it)
        operations.removeEmptyFolder(*it);
}

InstallOutcome undone(const QString &reason, const Progress &progress, FileOperations &operations)
{
    InstallOutcome outcome = failed(reason);
    rollBack(progress, outcome, operations);
    return outcome;
}

InstallOutcome copyFileByFile(const QString &source, const QString &target, FileOperations &operations)
{
    const QStringList files = filesBelow(source);
    if (files.isEmpty())
        return failed(QStringLiteral("the package is empty"));
    Progress progress;
    for (const QString &relative : files) {
        const QString from = source + QLatin1Char('/') + relative;
        PlacedFile file{relative, target + QLatin1Char('/') + relative, false};
        makeFolder(QFileInfo(file.target).absolutePath(), progress, operations);
        if (operations.exists(file.target)) {
            const QString aside = file.target + QStringLiteral(".old");
            if (operations.exists(aside))
                operations.remove(aside);
            if (!operations.rename(file.target, aside))
                return undone(QStringLiteral("%1 is in use").arg(relative), progress, operations);
            file.movedAside = true;
        }
        progress.placed.append(file);
        if (!operations.rename(from, file.target) && !operations.copy(from, file.target))
            return undone(QStringLiteral("could not write %1").arg(relative), progress, operations);
    }
    InstallOutcome outcome;
    outcome.ok = true;
    return outcome;
}

} // namespace

InstallOutcome installTree(const QString &source, const QString &target, const QString &previous,
                           FileOperations &operations)
{
    if (!operations.isDirectory(source))
        return failed(QStringLiteral("nothing to install"));
    if (operations.isDirectory(target)) {
        switch (swapWholeFolder(source, target, previous, operations)) {
        case Swap::Done: {
            InstallOutcome outcome;
            outcome.ok = outcome.swapped = true;
            return outcome;
        }
        case Swap::Stranded: {
            InstallOutcome outcome = failed(QStringLiteral("the new folder could not be put in place"));
            outcome.previousVersion = InstallOutcome::Left::InPreviousFolder;
            return outcome;
        }
        case Swap::Refused:
            break;
        }
    }
    return copyFileByFile(source, target, operations);
}

QString removeTree(const QString &path, FileOperations &operations)
{
    if (!operations.exists(path))
        return {};
    if (!operations.removeRecursively(path))
        return QStringLiteral("could not remove %1").arg(path);
    return {};
}

} // namespace corvane
