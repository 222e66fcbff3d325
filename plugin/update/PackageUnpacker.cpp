#include "update/PackageUnpacker.h"

#include "update/UnpackCommand.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace corvane {

QString safeMemberPath(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name.contains(QLatin1Char(':')))
        return {};
    QStringList parts;
    for (const QString &part : name.split(QLatin1Char('/'))) {
        if (part == QLatin1String(".."))
            return {};
        if (!part.isEmpty() && part != QLatin1String("."))
            parts.append(part);
    }
    return parts.join(QLatin1Char('/'));
}

bool isPortableMemberPath(const QString &path)
{
    // Windows opens the device, not a file, for these names, whatever follows the first dot,
    // and drops a trailing dot or space from a name, so two members could name one file.
    static const QRegularExpression device(QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9]) *$"),
                                           QRegularExpression::CaseInsensitiveOption);
    for (const QString &part : path.split(QLatin1Char('/'))) {
        if (part.endsWith(QLatin1Char('.')) || part.endsWith(QLatin1Char(' ')))
            return false;
        if (device.match(part.section(QLatin1Char('.'), 0, 0)).hasMatch())
            return false;
    }
    return true;
}

PackageUnpacker::PackageUnpacker(QObject *parent)
    : QObject(parent)
    , m_reader(*this)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        m_refusal = QStringLiteral("unpack_failed");
        if (m_process)
            m_process->kill();
    });
}

PackageUnpacker::~PackageUnpacker()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(2000);
    }
}

void PackageUnpacker::start(const QString &packagePath, const QString &destination, Callback callback)
{
    m_callback = std::move(callback);
    m_destination = QDir(destination).absolutePath();
    const UnpackCommand command = unpackCommand(packagePath);
    if (command.program.isEmpty()) {
        finish(false, QStringLiteral("unpack_unavailable"));
        return;
    }
    m_process = new QProcess(this);
    m_process->setProgram(command.program);
    m_process->setArguments(command.arguments);
    m_process->setStandardErrorFile(QProcess::nullDevice());
    connect(m_process, &QProcess::readyReadStandardOutput, this, &PackageUnpacker::onOutput);
    connect(m_process, &QProcess::finished, this, &PackageUnpacker::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, &PackageUnpacker::onError);
    m_deadline.start(m_limits.timeoutMs);
    m_process->start(QIODevice::ReadOnly);
}

void PackageUnpacker::onOutput()
{
    // A refusal stops reading; the process is being killed and its output no longer matters.
    while (m_refusal.isEmpty() && m_process->bytesAvailable() > 0) {
        const QByteArray chunk = m_process->read(65536);
        if (!m_reader.feed(chunk) && m_refusal.isEmpty())
            m_refusal = QStringLiteral("unpack_failed");
    }
    if (!m_refusal.isEmpty())
        m_process->kill();
}

void PackageUnpacker::onFinished(int exitCode, QProcess::ExitStatus status)
{
    if (m_refusal.isEmpty())
        onOutput();
    m_deadline.stop();
    m_file.close();
    if (!m_refusal.isEmpty())
        finish(false, m_refusal);
    else if (status != QProcess::NormalExit || exitCode != 0 || !m_reader.atEnd())
        finish(false, QStringLiteral("unpack_failed"));
    else
        finish(true, {});
}

void PackageUnpacker::onError(QProcess::ProcessError error)
{
    // Other errors end in finished(); a program that never ran does not.
    if (error == QProcess::FailedToStart) {
        m_deadline.stop();
        finish(false, QStringLiteral("unpack_unavailable"));
    }
}

void PackageUnpacker::finish(bool ok, const QString &code)
{
    if (!m_callback)
        return;
    const Callback callback = std::move(m_callback);
    m_callback = nullptr;
    callback({ok, code});
}

bool PackageUnpacker::refuse(const char *code)
{
    m_refusal = QString::fromLatin1(code);
    m_file.close();
    return false;
}

bool PackageUnpacker::entryStarted(const TarEntry &entry)
{
    if (++m_entries > m_limits.maxEntries)
        return refuse("package_too_large");
    const QString relative = safeMemberPath(entry.path);
    if (relative.isEmpty() || entry.type == TarEntry::SymbolicLink || entry.type == TarEntry::HardLink)
        return refuse("package_link");
    if (!isPortableMemberPath(relative))
        return refuse("package_shape");
    const QString path = m_destination + QLatin1Char('/') + relative;
    switch (entry.type) {
    case TarEntry::Directory:
        return QDir().mkpath(path) || refuse("unpack_failed");
    case TarEntry::File:
        if (entry.size > m_limits.maxBytes - m_written)
            return refuse("package_too_large");
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return refuse("unpack_failed");
        m_file.setFileName(path);
        // NewOnly: a name given twice must not overwrite what the first one wrote.
        return m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || refuse("unpack_failed");
    default:
        return refuse("package_shape");
    }
}

bool PackageUnpacker::entryData(const char *bytes, qsizetype size)
{
    if (!m_file.isOpen())
        return size == 0 || refuse("unpack_failed");
    m_written += size;
    if (m_written > m_limits.maxBytes)
        return refuse("package_too_large");
    return m_file.write(bytes, size) == size || refuse("unpack_failed");
}

bool PackageUnpacker::entryFinished()
{
    if (m_file.isOpen())
        m_file.close();
    return true;
}

} // namespace corvane
