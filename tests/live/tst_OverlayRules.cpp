// The overlay server's pure rules: which request paths reach which files, the content types
// they go out with, how a request head is read, and whose requests are served at all.
#include "live/OverlayAccess.h"
#include "live/OverlayFiles.h"
#include "live/OverlayRequest.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class TestOverlayRules : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_builtIn;
    QString m_user;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_builtIn = m_dir.filePath(QStringLiteral("builtin"));
        m_user = m_dir.filePath(QStringLiteral("config/overlays"));
        writeFile(m_builtIn + QStringLiteral("/scorebug/index.html"), "built-in bug");
        writeFile(m_builtIn + QStringLiteral("/scorebug/live.js"), "js");
        writeFile(m_user + QStringLiteral("/mine/index.html"), "mine");
        writeFile(m_user + QStringLiteral("/mine/css/look.css"), "css");
        writeFile(m_user + QStringLiteral("/mine/.env"), "hidden");
        writeFile(m_user + QStringLiteral("/mine/shared.css"), "inside link target");
        writeFile(m_user + QStringLiteral("/scorebug/index.html"), "user bug");
        writeFile(m_dir.filePath(QStringLiteral("config/settings.json")), "{\"secret\":1}");
        writeFile(m_dir.filePath(QStringLiteral("outside/page.html")), "outside");
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("config/settings.json")), m_user + QStringLiteral("/mine/settings.json")));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("outside")), m_user + QStringLiteral("/elsewhere")));
        QVERIFY(QFile::link(m_user + QStringLiteral("/mine/missing.html"), m_user + QStringLiteral("/mine/dangling.html")));
        QVERIFY(QFile::link(m_user + QStringLiteral("/mine/shared.css"), m_user + QStringLiteral("/mine/alias.css")));
    }

    void resolve_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("file"); // under the temporary folder, for 200
        QTest::addColumn<QByteArray>("location");

        QTest::newRow("built-in page") << QByteArray("/overlays/scorebug/index.html") << 200 << "builtin/scorebug/index.html" << QByteArray();
        QTest::newRow("folder address gives its index") << QByteArray("/overlays/scorebug/") << 200 << "builtin/scorebug/index.html" << QByteArray();
        QTest::newRow("name without slash redirects") << QByteArray("/overlays/mine") << 301 << "" << QByteArray("/overlays/mine/");
        QTest::newRow("built-in name wins over a user folder") << QByteArray("/overlays/scorebug/") << 200 << "builtin/scorebug/index.html" << QByteArray();
        QTest::newRow("user page") << QByteArray("/overlays/mine/index.html") << 200 << "config/overlays/mine/index.html" << QByteArray();
        QTest::newRow("user subfolder") << QByteArray("/overlays/mine/css/look.css") << 200 << "config/overlays/mine/css/look.css" << QByteArray();
        QTest::newRow("encoded plain name") << QByteArray("/overlays/mine/css/l%6fok.css") << 200 << "config/overlays/mine/css/look.css" << QByteArray();
        QTest::newRow("link that stays inside") << QByteArray("/overlays/mine/alias.css") << 200 << "config/overlays/mine/shared.css" << QByteArray();
        QTest::newRow("absent file") << QByteArray("/overlays/mine/nothing.html") << 404 << "" << QByteArray();
        QTest::newRow("absent overlay") << QByteArray("/overlays/nobody/") << 404 << "" << QByteArray();
        QTest::newRow("folder, not file") << QByteArray("/overlays/mine/css") << 404 << "" << QByteArray();
        QTest::newRow("traversal") << QByteArray("/overlays/mine/../../settings.json") << 404 << "" << QByteArray();
        QTest::newRow("traversal as name") << QByteArray("/overlays/../settings.json") << 404 << "" << QByteArray();
        QTest::newRow("encoded traversal") << QByteArray("/overlays/mine/%2e%2e/%2E%2E/settings.json") << 404 << "" << QByteArray();
        QTest::newRow("encoded slash") << QByteArray("/overlays/mine/..%2f..%2fsettings.json") << 404 << "" << QByteArray();
        QTest::newRow("backslash") << QByteArray("/overlays/mine/..%5c..%5csettings.json") << 404 << "" << QByteArray();
        QTest::newRow("absolute path") << QByteArray("/overlays//etc/passwd") << 404 << "" << QByteArray();
        QTest::newRow("absolute path encoded") << QByteArray("/overlays/mine/%2fetc%2fpasswd") << 404 << "" << QByteArray();
        QTest::newRow("empty segment") << QByteArray("/overlays/mine//index.html") << 404 << "" << QByteArray();
        QTest::newRow("dot segment") << QByteArray("/overlays/mine/./index.html") << 404 << "" << QByteArray();
        QTest::newRow("hidden file") << QByteArray("/overlays/mine/.env") << 404 << "" << QByteArray();
        QTest::newRow("nul byte") << QByteArray("/overlays/mine/index.html%00.png") << 404 << "" << QByteArray();
        QTest::newRow("link to a file out") << QByteArray("/overlays/mine/settings.json") << 404 << "" << QByteArray();
        QTest::newRow("overlay folder linked out") << QByteArray("/overlays/elsewhere/page.html") << 404 << "" << QByteArray();
        QTest::newRow("dangling link") << QByteArray("/overlays/mine/dangling.html") << 404 << "" << QByteArray();
        QTest::newRow("outside the prefix") << QByteArray("/overlay/mine/index.html") << 404 << "" << QByteArray();
        QTest::newRow("bare prefix") << QByteArray("/overlays/") << 404 << "" << QByteArray();
    }
    void resolve()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, status);
        QFETCH(QString, file);
        QFETCH(QByteArray, location);
        const OverlayFiles files(m_builtIn, m_user);
        const OverlayFile result = files.resolve(path);
        QCOMPARE(result.status, status);
        QCOMPARE(result.location, location);
        if (status == 200)
            QCOMPARE(QFileInfo(result.path).canonicalFilePath(), QFileInfo(m_dir.filePath(file)).canonicalFilePath());
        else
            QVERIFY(result.path.isEmpty());
    }

    void names()
    {
        const OverlayFiles files(m_builtIn, m_user);
        QCOMPARE(files.builtInNames(), QStringList{QStringLiteral("scorebug")});
        // The user's folder named like the built-in one is not listed twice, and a folder
        // linked out of the overlays folder is not listed at all.
        QCOMPARE(files.userNames(), QStringList{QStringLiteral("mine")});
        QCOMPARE(OverlayFiles(m_builtIn, QString()).userNames(), QStringList());
    }

    void contentTypes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("type");
        QTest::newRow("page") << "index.html" << QByteArray("text/html; charset=utf-8");
        QTest::newRow("upper-case extension") << "INDEX.HTM" << QByteArray("text/html; charset=utf-8");
        QTest::newRow("script") << "live.js" << QByteArray("text/javascript; charset=utf-8");
        QTest::newRow("module") << "app.mjs" << QByteArray("text/javascript; charset=utf-8");
        QTest::newRow("style") << "look.css" << QByteArray("text/css; charset=utf-8");
        QTest::newRow("data") << "teams.json" << QByteArray("application/json");
        QTest::newRow("vector image") << "logo.svg" << QByteArray("image/svg+xml");
        QTest::newRow("image") << "logo.png" << QByteArray("image/png");
        QTest::newRow("font") << "face.woff2" << QByteArray("font/woff2");
        QTest::newRow("video") << "intro.webm" << QByteArray("video/webm");
        QTest::newRow("unknown") << "notes.xyz" << QByteArray("application/octet-stream");
        QTest::newRow("no extension") << "README" << QByteArray("application/octet-stream");
    }
    void contentTypes()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, type);
        QCOMPARE(OverlayFiles::contentType(file), type);
    }

    void origins_data()
    {
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<int>("port");
        QTest::newRow("none (tools, same-origin loads)") << QByteArray() << false << true << 9002;
        QTest::newRow("same, by address") << QByteArray("http://127.0.0.1:9002") << true << true << 9002;
        QTest::newRow("same, by name") << QByteArray("http://localhost:9002") << true << true << 9002;
        QTest::newRow("same, upper case") << QByteArray("HTTP://LOCALHOST:9002") << true << true << 9002;
        QTest::newRow("null (file pages, sandboxed frames)") << QByteArray("null") << true << false << 9002;
        QTest::newRow("other site") << QByteArray("https://scores.example.com") << true << false << 9002;
        QTest::newRow("other port here") << QByteArray("http://127.0.0.1:8080") << true << false << 9002;
        QTest::newRow("same host and port, https") << QByteArray("https://127.0.0.1:9002") << true << false << 9002;
        QTest::newRow("port missing") << QByteArray("http://127.0.0.1") << true << false << 9002;
        QTest::newRow("look-alike host") << QByteArray("http://127.0.0.1:9002.example.com") << true << false << 9002;
        QTest::newRow("empty but present") << QByteArray("") << true << false << 9002;
        QTest::newRow("space inside") << QByteArray("http://\f127.0.0.1:9002") << true << false << 9002;
        // Browsers leave out the default port; written out it names the same server.
        QTest::newRow("port 80, left out") << QByteArray("http://localhost") << true << true << 80;
        QTest::newRow("port 80, written") << QByteArray("http://127.0.0.1:80") << true << true << 80;
        QTest::newRow("port 80, other port written") << QByteArray("http://127.0.0.1:8080") << true << false << 80;
    }
    void origins()
    {
        QFETCH(QByteArray, origin);
        QFETCH(bool, present);
        QFETCH(bool, allowed);
        QFETCH(int, port);
        QCOMPARE(OverlayAccess::isOriginAllowed(origin, present, quint16(port)), allowed);
    }

    void hosts_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("allowed");
        QTest::addColumn<int>("port");
        QTest::newRow("none (HTTP/1.0 tools)") << QByteArray() << false << true << 9002;
        QTest::newRow("address") << QByteArray("127.0.0.1:9002") << true << true << 9002;
        QTest::newRow("name") << QByteArray("localhost:9002") << true << true << 9002;
        QTest::newRow("rebound site name") << QByteArray("scores.example.com:9002") << true << false << 9002;
        QTest::newRow("other port") << QByteArray("127.0.0.1:9001") << true << false << 9002;
        QTest::newRow("port 80, left out") << QByteArray("127.0.0.1") << true << true << 80;
        QTest::newRow("port 80, written") << QByteArray("localhost:80") << true << true << 80;
        QTest::newRow("port left out, not 80") << QByteArray("localhost") << true << false << 9002;
    }
    void hosts()
    {
        QFETCH(QByteArray, host);
        QFETCH(bool, present);
        QFETCH(bool, allowed);
        QFETCH(int, port);
        QCOMPARE(OverlayAccess::isHostAllowed(host, present, quint16(port)), allowed);
    }

    // Each row a request head as a browser, a tool or a probe sends it; "-" for the status of
    // one that is complete, 0 for one still incomplete.
    void requestHeads_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<bool>("webSocket");
        QTest::addColumn<bool>("keepAlive");
        const QByteArray host = "Host: 127.0.0.1:9002\r\n";
        const QByteArray upgrade = "Upgrade: websocket\r\nConnection: Upgrade\r\n";
        QTest::newRow("page") << QByteArray("GET /overlays/scorebug/ HTTP/1.1\r\n" + host + "\r\n") << 200 << QByteArray("/overlays/scorebug/") << QByteArray() << false << true;
        QTest::newRow("query kept apart") << QByteArray("GET /overlays/scorebug?home_name=EAGLES HTTP/1.1\r\n" + host + "\r\n") << 200 << QByteArray("/overlays/scorebug") << QByteArray("home_name=EAGLES") << false << true;
        QTest::newRow("websocket") << QByteArray("GET /live HTTP/1.1\r\n" + host + upgrade + "\r\n") << 200 << QByteArray("/live") << QByteArray() << true << true;
        QTest::newRow("websocket, listed tokens") << QByteArray("GET /live HTTP/1.1\r\n" + host + "Upgrade: WebSocket\r\nConnection: keep-alive, Upgrade\r\n\r\n") << 200 << QByteArray("/live") << QByteArray() << true << true;
        QTest::newRow("close asked") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n") << 200 << QByteArray("/live.json") << QByteArray() << false << false;
        QTest::newRow("HTTP/1.0 without host") << QByteArray("GET /live.json HTTP/1.0\r\n\r\n") << 200 << QByteArray("/live.json") << QByteArray() << false << false;
        QTest::newRow("zero length body") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "Content-Length: 0\r\n\r\n") << 200 << QByteArray("/live.json") << QByteArray() << false << true;
        QTest::newRow("incomplete") << QByteArray("GET /live.json HTTP/1.1\r\n" + host) << 0 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("incomplete, ends in CR") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "\r") << 0 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("other method") << QByteArray("POST /live.json HTTP/1.1\r\n" + host + "\r\n") << 405 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("HEAD") << QByteArray("HEAD /live.json HTTP/1.1\r\n" + host + "\r\n") << 405 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("HTTP/2 preface") << QByteArray("PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n") << 505 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("HTTP/0.9 line") << QByteArray("GET /live.json\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("body announced") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "Content-Length: 5\r\n\r\nhello") << 413 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("length not a number") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "Content-Length: 1x\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("chunked body") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n") << 501 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("folded header") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "X-A: 1\r\n Origin: https://evil.example\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        // Another reader may end a line at a bare CR, and the head with it.
        QTest::newRow("bare CR before a line end") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "X-A: 1\r\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("bare CR inside a value") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "X-A: 1\rOrigin: x\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("bare LF") << QByteArray("GET /live.json HTTP/1.1\n" + host + "\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("space before colon") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "Origin : https://evil.example\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("two hosts") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "Host: evil.example\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("two origins") << QByteArray("GET /live HTTP/1.1\r\n" + host + "Origin: http://127.0.0.1:9002\r\nOrigin: https://evil.example\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("HTTP/1.1 without host") << QByteArray("GET /live.json HTTP/1.1\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("control in a value") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "X-A: a\x01" "b\r\n\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("absolute target") << QByteArray("GET http://127.0.0.1:9002/live.json HTTP/1.1\r\n" + host + "\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("two spaces") << QByteArray("GET  /live.json HTTP/1.1\r\n" + host + "\r\n") << 400 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("head too long") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "X-Filler: " + QByteArray(OverlayRequest::kMaxHeadBytes, 'x') + "\r\n\r\n") << 431 << QByteArray() << QByteArray() << false << false;
        QTest::newRow("head too long, unfinished") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "X-Filler: " + QByteArray(OverlayRequest::kMaxHeadBytes, 'x')) << 431 << QByteArray() << QByteArray() << false << false;
    }
    void requestHeads()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, query);
        QFETCH(bool, webSocket);
        QFETCH(bool, keepAlive);
        const OverlayRequest request = OverlayRequest::parse(bytes);
        if (status == 0) {
            QCOMPARE(request.state(), OverlayRequest::State::Incomplete);
            return;
        }
        if (status != 200) {
            QCOMPARE(request.state(), OverlayRequest::State::Refused);
            QCOMPARE(request.status(), status);
            return;
        }
        QCOMPARE(request.state(), OverlayRequest::State::Complete);
        QCOMPARE(request.path(), path);
        QCOMPARE(request.query(), query);
        QCOMPARE(request.wantsWebSocket(), webSocket);
        QCOMPARE(request.keepAlive(), keepAlive);
        // Nothing after the head is taken for it: what follows stays for the next reader.
        QCOMPARE(request.headSize(), bytes.indexOf("\r\n\r\n") + 4);
    }

    void fetchSites_data()
    {
        QTest::addColumn<QByteArray>("site");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("not sent") << QByteArray() << true;
        QTest::newRow("same origin") << QByteArray("same-origin") << true;
        QTest::newRow("typed address") << QByteArray("none") << true;
        QTest::newRow("another site's page") << QByteArray("cross-site") << false;
        QTest::newRow("a sibling host's page") << QByteArray("same-site") << false;
    }
    void fetchSites()
    {
        QFETCH(QByteArray, site);
        QFETCH(bool, allowed);
        QCOMPARE(OverlayAccess::isFetchSiteAllowed(site), allowed);
    }
};

QTEST_GUILESS_MAIN(TestOverlayRules)
#include "tst_OverlayRules.moc"
