#pragma once

#include <QByteArray>
#include <QString>

namespace corvane {

// The file-system steps of installing an update. The installer goes through this narrow
// interface so that a test can make one step fail (as a library held open by Windows
// does) even when it runs with rights that no real folder would refuse.
class FileOperations {
public:
    virtual ~FileOperations() = default;

    virtual bool rename(const QString &from, const QString &to);
    virtual bool remove(const QString &path);
    virtual bool copy(const QString &from, const QString &to);
    virtual bool makePath(const QString &dir);
    virtual bool exists(const QString &path);
    virtual bool isDirectory(const QString &path);
    // Writable as the current user: for a folder, new entries can be created in it.
    virtual bool isWritable(const QString &path);
    // Deletes a file or a whole folder, without following symbolic links.
    virtual bool removeRecursively(const QString &path);
    // Deletes a folder only when it is empty.
    virtual bool removeEmptyFolder(const QString &path);
    // Replaces a small file whole; on failure (a full disk) the old content stays.
    virtual bool save(const QString &path, const QByteArray &content);

    // The operations as the system performs them.
    static FileOperations &system();
};

} // namespace corvane
