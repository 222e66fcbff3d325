#include "update/ExtractedTree.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace corvane {

namespace {

constexpr QDir::Filters kEverything = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

TreeCheck refused(const char *code)
{
    TreeCheck check;
    check.code = QString::fromLatin1(code);
    return check;
}

// A symbolic link, a Windows junction or shortcut, or a macOS alias.
bool isLink(const QFileInfo &info)
{
    return info.isSymLink() || info.isJunction() || info.isShortcut() || info.isAlias();
}

bool isInside(const QFileInfo &info, const QString &canonicalRoot)
{
    const QString path = info.canonicalFilePath();
    return !path.isEmpty() && (path == canonicalRoot || path.startsWith(canonicalRoot + QLatin1Char('/')));
}

} // namespace

TreeCheck checkExtractedTree(const QString &extracted, const QString &libraryPath)
{
    QFileInfoList top = QDir(extracted).entryInfoList(kEverything);
    top.erase(std::remove_if(top.begin(), top.end(),
                             [](const QFileInfo &info) { return info.fileName() == QLatin1String("__MACOSX"); }),
              top.end());
    if (top.size() != 1 || isLink(top.first()) || !top.first().isDir())
        return refused("package_shape");

    const QString folder = top.first().absoluteFilePath();
    const QString canonicalRoot = QFileInfo(extracted).canonicalFilePath();
    QDirIterator it(folder, kEverything, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (isLink(info) || !isInside(info, canonicalRoot))
            return refused("package_link");
    }
    if (!QFileInfo(folder + QLatin1Char('/') + libraryPath).isFile())
        return refused("package_no_library");

    TreeCheck check;
    check.ok = true;
    check.pluginFolder = folder;
    return check;
}

} // namespace corvane
