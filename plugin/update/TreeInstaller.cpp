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

bool swapWholeFolder(const QString &source, const QString &target, const QString &previous,
                     FileOperations &operations)
{
    if (!removeTree(previous, operations).isEmpty())
        return false;
    operations.makePath(QFileInfo(previous).absolutePath());
    if (!operations.rename(target, previous))
        return false;
    if (operations.rename(source, target))
        return true;
    operations.rename(previous, target);
    return false;
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
    QString target;
    bool movedAside = false;
};

void rollBack(const QList<PlacedFile> &placed, FileOperations &operations)
{
    for (auto it = placed.crbegin(); it != placed.crend(); ++it) {
        operations.remove(it->target);
        if (it->movedAside)
            operations.rename(it->target + QStringLiteral(".old"), it->target);
    }
}

InstallOutcome copyFileByFile(const QString &source, const QString &target, FileOperations &operations)
{
    const QStringList files = filesBelow(source);
    if (files.isEmpty())
        return failed(QStringLiteral("the package is empty"));
    QList<PlacedFile> placed;
    for (const QString &relative : files) {
        const QString from = source + QLatin1Char('/') + relative;
        PlacedFile file{target + QLatin1Char('/') + relative, false};
        operations.makePath(QFileInfo(file.target).absolutePath());
        if (operations.exists(file.target)) {
            const QString aside = file.target + QStringLiteral(".old");
            if (operations.exists(aside))
                operations.remove(aside);
            if (!operations.rename(file.target, aside)) {
                rollBack(placed, operations);
                return failed(QStringLiteral("%1 is in use").arg(relative));
            }
            file.movedAside = true;
        }
        if (!operations.rename(from, file.target) && !operations.copy(from, file.target)) {
            placed.append(file);
            rollBack(placed, operations);
            return failed(QStringLiteral("could not write %1").arg(relative));
        }
        placed.append(file);
    }
    return {true, false, {}};
}

} // namespace

InstallOutcome installTree(const QString &source, const QString &target, const QString &previous,
                           FileOperations &operations)
{
    if (!operations.isDirectory(source))
        return failed(QStringLiteral("nothing to install"));
    if (operations.isDirectory(target) && swapWholeFolder(source, target, previous, operations))
        return {true, true, {}};
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
