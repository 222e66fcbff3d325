#include "live/OverlayAccess.h"
#include "live/OverlayFiles.h"
#include "live/OverlayRequest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
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

// The lines of a complete head, without their CRLF, the empty last one left out.
QList<QByteArray> headLines(const QByteArray &head)
{
    QList<QByteArray> lines = head.split('\n');
    lines.removeLast();
    lines.removeLast();
    for (QByteArray &line : lines)
        line.chop(1);
    return lines;
}

// A complete head is a GET of a plain path over HTTP/1.x, ended by the first empty line,
// every line ended by CRLF, with no folded line, no body and at most one Host; a refusal
// says a status the server answers; an incomplete head could still become one.
void checkRequest(const QByteArray &input)
{
    const OverlayRequest request = OverlayRequest::parse(input);
    const qsizetype end = input.indexOf("\r\n\r\n");
    switch (request.state()) {
    case OverlayRequest::State::Incomplete:
        if (end >= 0 || input.size() > OverlayRequest::kMaxHeadBytes)
            fail("a finished or oversized head taken for an unfinished one");
        return;
    case OverlayRequest::State::Refused: {
        static constexpr int kStatuses[] = {400, 405, 413, 431, 501, 505};
        if (std::find(std::begin(kStatuses), std::end(kStatuses), request.status()) == std::end(kStatuses))
            fail("a refusal with an unexpected status");
        return;
    }
    case OverlayRequest::State::Complete:
        break;
    }
    if (end < 0 || request.headSize() != end + 4 || request.headSize() > OverlayRequest::kMaxHeadBytes)
        fail("the head does not end at its first empty line");
    const QByteArray head = input.left(request.headSize());
    if (!head.startsWith("GET /") || head.count('\n') != head.count("\r\n") || head.count('\r') != head.count("\r\n"))
        fail("a head that is not a plain GET with CRLF lines");
    for (const char c : request.path() + request.query()) {
        if (uchar(c) <= 0x20 || uchar(c) >= 0x7f)
            fail("a target with a space, control or raw byte");
    }
    int hosts = 0;
    const QList<QByteArray> lines = headLines(head);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).toLower();
        if (line.startsWith(' ') || line.startsWith('\t'))
            fail("a folded line passed");
        if (line.startsWith("transfer-encoding:"))
            fail("a chunked body passed");
        if (line.startsWith("content-length:") && line.mid(15).trimmed() != QByteArray(line.mid(15).trimmed().size(), '0'))
            fail("a body passed");
        hosts += line.startsWith("host:") ? 1 : 0;
    }
    if (hosts > 1)
        fail("two Host lines passed");
    // More bytes behind a complete head change nothing in it.
    const OverlayRequest longer = OverlayRequest::parse(input + "GET /x HTTP/1.1\r\n\r\n");
    if (longer.state() != OverlayRequest::State::Complete || longer.headSize() != request.headSize() || longer.path() != request.path())
        fail("bytes after the head changed it");
}

} // namespace

// Request heads, paths and Origin headers as a browser or a probe sends them: a head is read
// only as the plain GET the server understands, a file is served only from inside the
// overlay folders, a redirect stays on this server, and only this server's own origin passes.
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
    checkRequest(input);
    if (OverlayAccess::isOriginAllowed(input, true, 9002)) {
        const QByteArray origin = input.trimmed().toLower();
        if (origin != "http://127.0.0.1:9002" && origin != "http://localhost:9002")
            fail("another origin passed");
    }
    return 0;
}
