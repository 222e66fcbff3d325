// The overlay server over real sockets on loopback, driven the way browsers and tools on
// this computer would use it: plain HTTP requests, WebSockets with and without an Origin,
// an oversized request and a WebSocket reader that never reads.
#include "live/LiveData.h"
#include "live/OverlayAccess.h"
#include "live/OverlayServer.h"
#include "support/StalledSocket.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>

#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using namespace corvane;

namespace {

struct Response {
    int status = 0;
    QByteArray headers;
    QByteArray body;
    bool closed = false;
};

// One request as a tool would send it; the server closes after answering it.
Response request(quint16 port, const QByteArray &text)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    Response response;
    if (!socket.waitForConnected(5000))
        return response;
    socket.write(text);
    // Until the answer is complete (by its Content-Length) or the server closes.
    QByteArray all;
    QDeadlineTimer deadline(5000);
    const auto complete = [&all] {
        const qsizetype end = all.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const QByteArray head = all.left(end).toLower();
        const qsizetype at = head.indexOf("content-length: ");
        const qint64 length = at < 0 ? 0 : head.mid(at + 16, head.indexOf('\r', at) - at - 16).toLongLong();
        return all.size() - end - 4 >= length;
    };
    while (socket.state() == QAbstractSocket::ConnectedState && !complete() && !deadline.hasExpired()) {
        if (socket.waitForReadyRead(100))
            all += socket.readAll();
    }
    all += socket.readAll();
    if (!complete())
        socket.waitForDisconnected(1000);
    response.closed = socket.state() != QAbstractSocket::ConnectedState;
    const qsizetype end = all.indexOf("\r\n\r\n");
    response.headers = all.left(end);
    response.body = end < 0 ? QByteArray() : all.mid(end + 4);
    if (all.startsWith("HTTP/1.1 "))
        response.status = all.mid(9, 3).toInt();
    return response;
}

QByteArray get(const QByteArray &path, quint16 port, const QByteArray &extra = {})
{
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\nConnection: close\r\n" + extra + "\r\n";
}

// A WebSocket client collecting the text messages it receives.
struct Page {
    explicit Page(quint16 port, const QString &origin = QString())
        : socket(origin)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket, [this](const QString &text) { messages << text.toUtf8(); });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
    }
    QWebSocket socket;
    QList<QByteArray> messages;
};

// A stalled reader (support/StalledSocket.h) that upgrades to a WebSocket and then never
// reads again.
int stalledPage(quint16 port)
{
    const int fd = test::stalledReader(port);
    if (fd < 0)
        return -1;
    const QByteArray upgrade = "GET /live HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
                               + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                 "Sec-WebSocket-Version: 13\r\n\r\n";
    if (::send(fd, upgrade.constData(), size_t(upgrade.size()), 0) != upgrade.size()) {
        ::close(fd);
        return -1;
    }
    return fd;
}


} // namespace

class TestOverlayServer : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    LiveData live;
    std::unique_ptr<OverlayServer> server;

    quint16 port() const { return server->port(); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QDir().mkpath(m_dir.filePath(QStringLiteral("overlays/mine")));
        QFile page(m_dir.filePath(QStringLiteral("overlays/mine/index.html")));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("<p>mine</p>");
        page.close();
        QFile secret(m_dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(secret.open(QIODevice::WriteOnly));
        secret.write("{\"secret\":true}");
    }

    void init()
    {
        live.clear();
        live.apply({{QStringLiteral("sport"), QStringLiteral("hockey")}, {QStringLiteral("home_score"), 2}, {QStringLiteral("away_score"), 1}});
        server = std::make_unique<OverlayServer>(&live, m_dir.filePath(QStringLiteral("overlays")));
        connect(&live, &LiveData::changed, server.get(), &OverlayServer::broadcast);
        QString error;
        QVERIFY2(server->start(0, &error), qPrintable(error));
        QVERIFY(server->isListening());
    }
    void cleanup() { server.reset(); }

    void http_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("extra"); // more header lines; PORT stands for the port
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("bodyHas"); // "SNAPSHOT": exactly the snapshot JSON

        QTest::newRow("snapshot, no origin") << QByteArray("/live.json") << QByteArray() << 200 << QByteArray("application/json") << QByteArray("SNAPSHOT");
        QTest::newRow("snapshot, own origin") << QByteArray("/live.json") << QByteArray("Origin: http://127.0.0.1:PORT\r\n") << 200 << QByteArray("application/json") << QByteArray("SNAPSHOT");
        QTest::newRow("snapshot, other site") << QByteArray("/live.json") << QByteArray("Origin: https://evil.example\r\n") << 403 << QByteArray() << QByteArray();
        QTest::newRow("snapshot, null origin") << QByteArray("/live.json") << QByteArray("Origin: null\r\n") << 403 << QByteArray() << QByteArray();
        QTest::newRow("built-in page") << QByteArray("/overlays/scorebug/") << QByteArray() << 200 << QByteArray("text/html; charset=utf-8") << QByteArray("live.js");
        QTest::newRow("built-in script") << QByteArray("/overlays/scoreboard/live.js") << QByteArray() << 200 << QByteArray("text/javascript; charset=utf-8") << QByteArray("/live");
        // Built with the plugin's one list of period fields filled in.
        QTest::newRow("built-in script, period fields") << QByteArray("/overlays/scorebug/live.js") << QByteArray() << 200 << QByteArray("text/javascript; charset=utf-8") << QByteArray("['set', 'SET ']");
        QTest::newRow("built-in style") << QByteArray("/overlays/lower-third/overlay.css") << QByteArray() << 200 << QByteArray("text/css; charset=utf-8") << QByteArray("transparent");
        QTest::newRow("user page") << QByteArray("/overlays/mine/") << QByteArray() << 200 << QByteArray("text/html; charset=utf-8") << QByteArray("<p>mine</p>");
        QTest::newRow("traversal") << QByteArray("/overlays/mine/../../settings.json") << QByteArray() << 404 << QByteArray() << QByteArray();
        QTest::newRow("encoded traversal") << QByteArray("/overlays/mine/%2e%2e/%2e%2e/settings.json") << QByteArray() << 404 << QByteArray() << QByteArray();
        QTest::newRow("resources outside the overlays") << QByteArray("/overlays/..%2f..%2fqt-project.org/") << QByteArray() << 404 << QByteArray() << QByteArray();
        QTest::newRow("unknown address") << QByteArray("/") << QByteArray() << 404 << QByteArray() << QByteArray();
        QTest::newRow("feed without upgrade") << QByteArray("/live") << QByteArray() << 426 << QByteArray() << QByteArray();
        // A site whose name resolves to 127.0.0.1 sends no Origin for its own requests.
        QTest::newRow("rebound host name") << QByteArray("/live.json") << QByteArray("Host: scores.example.com:PORT\r\n") << 403 << QByteArray() << QByteArray();
    }
    void http()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, extra);
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, bodyHas);
        extra.replace("PORT", QByteArray::number(port()));
        QByteArray text = get(path, port(), extra);
        if (extra.startsWith("Host:"))
            text.replace("Host: 127.0.0.1:" + QByteArray::number(port()) + "\r\n", QByteArray());
        const Response response = request(port(), text);
        QCOMPARE(response.status, status);
        if (!contentType.isEmpty())
            QVERIFY2(response.headers.toLower().contains("content-type: " + contentType), response.headers.constData());
        if (bodyHas == "SNAPSHOT")
            QCOMPARE(response.body, live.snapshotJson());
        else if (!bodyHas.isEmpty())
            QVERIFY2(response.body.contains(bodyHas), response.body.constData());
        QVERIFY(!response.body.contains("secret"));
    }

    void otherMethodsRefused()
    {
        const Response response = request(port(), "POST /live.json HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port())
                                                      + "\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}");
        QCOMPARE(response.status, 405);
    }

    void websocketOrigins_data()
    {
        QTest::addColumn<QString>("origin");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("none") << QString() << true;
        QTest::newRow("own, by address") << QStringLiteral("http://127.0.0.1:PORT") << true;
        QTest::newRow("own, by name") << QStringLiteral("http://localhost:PORT") << true;
        QTest::newRow("other site") << QStringLiteral("https://evil.example") << false;
        QTest::newRow("null") << QStringLiteral("null") << false;
    }
    void websocketOrigins()
    {
        QFETCH(QString, origin);
        QFETCH(bool, allowed);
        origin.replace(QStringLiteral("PORT"), QString::number(port()));
        Page page(port(), origin);
        if (allowed) {
            QTRY_COMPARE(page.messages.size(), 1);
            QCOMPARE(page.messages.first(), live.snapshotJson());
            QCOMPARE(server->clientCount(), 1);
        } else {
            QSignalSpy failed(&page.socket, &QWebSocket::errorOccurred);
            QTRY_VERIFY(!failed.isEmpty() || page.socket.state() == QAbstractSocket::UnconnectedState);
            QTest::qWait(100);
            QVERIFY(page.messages.isEmpty());
            QCOMPARE(server->clientCount(), 0);
        }
    }

    void everyPageGetsEveryUpdateFromOneSerialisation()
    {
        Page a(port()), b(port()), c(port());
        QTRY_COMPARE(server->clientCount(), 3);
        QTRY_VERIFY(a.messages.size() == 1 && b.messages.size() == 1 && c.messages.size() == 1);
        QList<QByteArray> sent;
        const qint64 before = server->bytesSerialised();
        qint64 expected = 0;
        for (int n = 3; n < 8; ++n) {
            live.apply({{QStringLiteral("home_score"), n}});
            sent << live.snapshotJson();
            expected += live.snapshotJson().size();
        }
        QTRY_VERIFY(a.messages.size() == 6 && b.messages.size() == 6 && c.messages.size() == 6);
        for (const Page *page : {&a, &b, &c})
            QCOMPARE(page->messages.mid(1), sent);
        // Three pages, yet each update was serialised and handed over once.
        QCOMPARE(server->bytesSerialised() - before, expected);
        // What a page says is never read: the feed stays read-only and the page connected.
        a.socket.sendTextMessage(QStringLiteral("{\"op\":\"use\",\"device\":\"CV-1\"}"));
        live.apply({{QStringLiteral("home_score"), 9}});
        QTRY_COMPARE(a.messages.size(), 7);
        QCOMPARE(a.messages.last(), live.snapshotJson());
    }

    void oversizedRequestsAreCut_data()
    {
        QTest::addColumn<QByteArray>("text");
        const QByteArray filler(OverlayAccess::kMaxRequestBytes + 1024, 'x');
        QTest::newRow("huge header") << QByteArray("GET /live.json HTTP/1.1\r\nX-Filler: " + filler + "\r\n\r\n");
        QTest::newRow("huge address") << QByteArray("GET /overlays/" + filler + " HTTP/1.1\r\n\r\n");
        QTest::newRow("huge body") << QByteArray("POST /live.json HTTP/1.1\r\nContent-Length: " + QByteArray::number(filler.size()) + "\r\n\r\n" + filler);
    }
    void oversizedRequestsAreCut()
    {
        QFETCH(QByteArray, text);
        const Response response = request(port(), text);
        QVERIFY(response.closed);
        QVERIFY(response.status != 200 && response.status != 404 && response.status != 405);
        // The server is still there for everyone else.
        QCOMPARE(request(port(), get("/live.json", port())).status, 200);
    }

    void chattyPageIsDropped()
    {
        Page page(port());
        QTRY_COMPARE(server->clientCount(), 1);
        page.socket.sendTextMessage(QString(int(OverlayAccess::kMaxRequestBytes) * 2, QLatin1Char('x')));
        QTRY_COMPARE(server->clientCount(), 0);
    }

    void stalledPageIsDropped()
    {
        const int fd = stalledPage(port());
        QVERIFY(fd >= 0);
        Page reader(port());
        QTRY_COMPARE(server->clientCount(), 2);

        // 100 KiB snapshots: the kernel buffers take a few MiB, after which the server must
        // give up on the stalled page rather than queue without end.
        QJsonObject message;
        for (int i = 0; i < 25; ++i)
            message.insert(QStringLiteral("filler%1").arg(i), QString(LiveData::MaxValueLength, QLatin1Char('x')));
        int updates = 0;
        for (; updates < 400 && server->clientCount() == 2; ++updates) {
            message.insert(QStringLiteral("n"), updates);
            live.apply(message);
            QTest::qWait(5);
        }
        QCOMPARE(server->clientCount(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(test::tcpState(fd) != TCP_ESTABLISHED, 10000);
        // The page that reads had every update.
        QTRY_COMPARE_WITH_TIMEOUT(reader.messages.size(), 1 + updates, 20000);
        QCOMPARE(reader.messages.last(), live.snapshotJson());
        ::close(fd);
    }

    void stopClosesPagesAndRestartServesAgain()
    {
        Page page(port());
        QTRY_COMPARE(server->clientCount(), 1);
        const quint16 was = port();
        server->stop();
        QVERIFY(!server->isListening());
        QTRY_COMPARE(page.socket.state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(request(was, get("/live.json", was)).status, 0);
        QString error;
        QVERIFY2(server->start(was, &error), qPrintable(error));
        QCOMPARE(request(was, get("/live.json", was)).body, live.snapshotJson());
    }

    void portInUseIsReported()
    {
        OverlayServer second(&live, QString());
        QString error;
        QVERIFY(!second.start(port(), &error));
        QVERIFY2(error.startsWith(QStringLiteral("Could not listen on port %1: ").arg(port())), qPrintable(error));
        QVERIFY(!second.isListening());
    }
};

QTEST_GUILESS_MAIN(TestOverlayServer)
#include "tst_OverlayServer.moc"
