#include "update/FileOperations.h"

#include "base/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace corvane {

bool FileOperations::rename(const QString &from, const QString &to) { return QFile::rename(from, to); }

bool FileOperations::remove(const QString &path) { return QFile::remove(path); }

bool FileOperations::copy(const QString &from, const QString &to) { return QFile::copy(from, to); }

bool FileOperations::makePath(const QString &dir) { return QDir().mkpath(dir); }

bool FileOperations::exists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

bool FileOperations::isDirectory(const QString &path) { return QFileInfo(path).isDir(); }

bool FileOperations::isWritable(const QString &path) { return QFileInfo(path).isWritable(); }

bool FileOperations::removeRecursively(const QString &path)
{
    const QFileInfo info(path);
    // A link is removed itself; QDir::removeRecursively would empty the folder it points to.
    if (info.isSymLink() || !info.isDir())
        return QFile::remove(path);
    return QDir(path).removeRecursively();
}

bool FileOperations::removeEmptyFolder(const QString &path) { return QDir().rmdir(path); }

bool FileOperations::save(const QString &path, const QByteArray &content) { return saveFileAtomically(path, content); }

FileOperations &FileOperations::system()
{
    static FileOperations operations;
    return operations;
}

} // namespace corvane
