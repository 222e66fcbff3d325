#include "live/OverlayAccess.h"
#include "live/OverlayFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "overlay request: %s\n", what);
    std::abort();
}

void writeFile(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        fail("cannot write a fixture file");
    file.write("x");
}

// Built-in and user overlay folders beside a secret file, with links that lead out.
struct World {
    QTemporaryDir dir;
    QString builtIn = dir.filePath(QStringLiteral("builtin"));
    QString user = dir.filePath(QStringLiteral("config/overlays"));
    OverlayFiles files{builtIn, user};

    World()
    {
        writeFile(builtIn + QStringLiteral("/scorebug/index.html"));
        writeFile(user + QStringLiteral("/mine/index.html"));
        writeFile(user + QStringLiteral("/mine/css/look.css"));
        writeFile(dir.filePath(QStringLiteral("config/settings.json")));
        QFile::link(dir.filePath(QStringLiteral("config/settings.json")), user + QStringLiteral("/mine/settings.json"));
        QFile::link(dir.filePath(QStringLiteral("config")), user + QStringLiteral("/up"));
    }

    bool inside(const QString &path, const QString &root) const
    {
        return path.startsWith(QFileInfo(root).canonicalFilePath() + QLatin1Char('/'));
    }
};

} // namespace

// Request paths and Origin headers as a browser or a probe sends them: a file is served only
// from inside the overlay folders, a redirect stays on this server, and only this server's
// own origin passes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static World w;
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const OverlayFile file = w.files.resolve(QByteArray(OverlayFiles::kPrefix) + input);
    if (file.status == 200) {
        const QString real = QFileInfo(file.path).canonicalFilePath();
        if (!w.inside(real, w.builtIn) && !w.inside(real, w.user))
            fail("a file outside the overlay folders was served");
        if (real.endsWith(QLatin1String("settings.json")))
            fail("the linked secret was served");
    } else if (file.status == 301) {
        // A name may hold dots ("a..b" is a folder like any other); a segment that is only
        // dots would be walked by the browser.
        const QList<QByteArray> segments = file.location.split('/');
        if (!file.location.startsWith(OverlayFiles::kPrefix) || segments.contains("..") || segments.contains("."))
            fail("a redirect leaves the overlays");
    } else if (file.status != 404 || !file.path.isEmpty()) {
        fail("an unexpected outcome");
    }
    if (OverlayAccess::isOriginAllowed(input, true, 9002)) {
        const QByteArray origin = input.trimmed().toLower();
        if (origin != "http://127.0.0.1:9002" && origin != "http://localhost:9002")
            fail("another origin passed");
    }
    return 0;
}
