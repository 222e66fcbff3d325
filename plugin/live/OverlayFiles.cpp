#include "live/OverlayFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace corvane {

namespace {

struct ContentType {
    const char *extension;
    const char *type;
};

// What overlay pages are made of; the types browsers expect, so that nothing needs sniffing.
constexpr ContentType kContentTypes[] = {
    {"html", "text/html; charset=utf-8"},
    {"htm", "text/html; charset=utf-8"},
    {"css", "text/css; charset=utf-8"},
    {"js", "text/javascript; charset=utf-8"},
    {"mjs", "text/javascript; charset=utf-8"},
    {"json", "application/json"},
    {"txt", "text/plain; charset=utf-8"},
    {"svg", "image/svg+xml"},
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"gif", "image/gif"},
    {"webp", "image/webp"},
    {"ico", "image/x-icon"},
    {"woff", "font/woff"},
    {"woff2", "font/woff2"},
    {"ttf", "font/ttf"},
    {"otf", "font/otf"},
    {"mp4", "video/mp4"},
    {"webm", "video/webm"},
    {"mp3", "audio/mpeg"},
    {"ogg", "audio/ogg"},
    {"wav", "audio/wav"},
};

constexpr char kIndex[] = "index.html";

// One decoded path segment that names a file or folder and nothing else.
bool isPlainSegment(const QString &segment)
{
    if (segment.isEmpty() || segment.startsWith(QLatin1Char('.')))
        return false;
    for (const QChar c : segment) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

bool isInside(const QString &path, const QString &folder)
{
    return !folder.isEmpty() && path.startsWith(folder + QLatin1Char('/'));
}

QStringList subfolders(const QString &root)
{
    if (root.isEmpty())
        return {};
    return QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

OverlayFiles::OverlayFiles(const QString &builtInRoot, const QString &userRoot)
    : m_builtInRoot(builtInRoot)
    , m_userRoot(userRoot)
{
}

bool OverlayFiles::isOverlayName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$"));
    return pattern.match(name).hasMatch();
}

QByteArray OverlayFiles::contentType(const QString &fileName)
{
    const QString extension = QFileInfo(fileName).suffix().toLower();
    for (const ContentType &entry : kContentTypes) {
        if (extension == QLatin1String(entry.extension))
            return entry.type;
    }
    return "application/octet-stream";
}

QStringList OverlayFiles::builtInNames() const { return subfolders(m_builtInRoot); }

QStringList OverlayFiles::userNames() const
{
    const QStringList builtIn = builtInNames();
    QStringList names;
    for (const QString &name : subfolders(m_userRoot)) {
        if (isOverlayName(name) && !builtIn.contains(name) && !userFolder(name).isEmpty())
            names << name;
    }
    return names;
}

OverlayFile OverlayFiles::resolve(const QByteArray &encodedPath) const
{
    OverlayFile refused;
    if (!encodedPath.startsWith(kPrefix))
        return refused;
    const QList<QByteArray> raw = encodedPath.mid(qsizetype(sizeof kPrefix) - 1).split('/');
    QStringList segments;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QString segment = QString::fromUtf8(QByteArray::fromPercentEncoding(raw.at(i)));
        // Only the last segment may be empty: a folder's address ending in "/".
        if (segment.isEmpty() && i == raw.size() - 1 && i > 0) {
            segments << QString::fromLatin1(kIndex);
            continue;
        }
        if (!isPlainSegment(segment))
            return refused;
        segments << segment;
    }
    const QString name = segments.takeFirst();
    if (!isOverlayName(name))
        return refused;
    if (segments.isEmpty()) {
        // Relative links of the page resolve against its folder only with the slash.
        return OverlayFile{301, QString(), QByteArray(), QByteArray(kPrefix) + name.toUtf8() + '/'};
    }
    if (builtInNames().contains(name)) {
        const QFileInfo file(m_builtInRoot + QLatin1Char('/') + name + QLatin1Char('/') + segments.join(QLatin1Char('/')));
        if (!file.isFile())
            return refused;
        return OverlayFile{200, file.filePath(), contentType(file.fileName()), QByteArray()};
    }
    return resolveUser(name, segments);
}

QString OverlayFiles::userFolder(const QString &name) const
{
    if (m_userRoot.isEmpty())
        return {};
    // canonicalFilePath() is empty for anything absent, including a dangling link.
    const QString root = QFileInfo(m_userRoot).canonicalFilePath();
    const QString folder = QFileInfo(m_userRoot + QLatin1Char('/') + name).canonicalFilePath();
    return isInside(folder, root) ? folder : QString();
}

OverlayFile OverlayFiles::resolveUser(const QString &name, const QStringList &rest) const
{
    OverlayFile refused;
    const QString folder = userFolder(name);
    const QFileInfo file(QFileInfo(m_userRoot + QLatin1Char('/') + name + QLatin1Char('/') + rest.join(QLatin1Char('/'))).canonicalFilePath());
    if (!isInside(file.filePath(), folder) || !file.isFile() || !file.isReadable())
        return refused;
    return OverlayFile{200, file.filePath(), contentType(file.fileName()), QByteArray()};
}

} // namespace corvane
