#pragma once

#include "update/TarReader.h"

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <functional>

namespace corvane {

// Bounds on unpacking one package. The defaults are far above any real plugin package and
// stop an archive built to fill the disk.
struct UnpackLimits {
    qint64 maxBytes = qint64(1) << 30; // 1 GiB of file data
    int maxEntries = 100000;
    int timeoutMs = 120000; // the unpacking program is killed after 2 minutes
};

// How unpacking ended: ok, or a code: "unpack_unavailable" (no program), "unpack_failed",
// "package_link" (a link, or a name reaching outside the folder), "package_shape" (a
// device, pipe or other special member, or a name Windows cannot hold), "package_too_large".
struct UnpackResult {
    bool ok = false;
    QString code;
};

// The member name made relative and clean ("a/./b" to "a/b"), or "" when it must not be
// written: absolute, with a drive or backslash, or with a ".." part.
QString safeMemberPath(const QString &name);
// Whether every part of a clean member path can be a file name on Windows as well: not a
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension), and not
// ending in a dot or a space.
bool isPortableMemberPath(const QString &path);

// Unpacks a package into a folder: a child process turns the archive into a tar stream,
// and only this object writes files, each checked to stay inside the folder and within the
// limits. The callback runs exactly once, unless the unpacker is destroyed first.
class PackageUnpacker : public QObject, private TarReader::Sink {
    Q_OBJECT
public:
    using Callback = std::function<void(const UnpackResult &result)>;

    explicit PackageUnpacker(QObject *parent = nullptr);
    ~PackageUnpacker() override;

    void setLimits(const UnpackLimits &limits) { m_limits = limits; }

    // `destination` must exist and be empty.
    void start(const QString &packagePath, const QString &destination, Callback callback);

private:
    bool entryStarted(const TarEntry &entry) override;
    bool entryData(const char *bytes, qsizetype size) override;
    bool entryFinished() override;

    void onOutput();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onError(QProcess::ProcessError error);
    bool refuse(const char *code);
    void finish(bool ok, const QString &code);

    UnpackLimits m_limits;
    QProcess *m_process = nullptr;
    QTimer m_deadline;
    TarReader m_reader;
    QFile m_file;
    QString m_destination;
    Callback m_callback;
    QString m_refusal;
    qint64 m_written = 0;
    int m_entries = 0;
};

} // namespace corvane
