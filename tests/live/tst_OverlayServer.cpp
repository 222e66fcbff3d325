// The overlay server over real sockets on loopback, driven the way browsers and tools on
// this computer would use it: plain HTTP requests, WebSockets with and without an Origin,
// oversized and idle requests, pages that come and go by the hundred, and readers that
// never read.
#include "live/DeviceLive.h"
#include "live/LiveData.h"
#include "live/OverlayAccess.h"
#include "live/OverlayConnection.h"
#include "live/OverlayHost.h"
#include "live/OverlayServer.h"
#include "live/ShownScores.h"
#include "support/StalledSocket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWebSocket>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>
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
        // A followed device's state comes from this thread, the server's user-interface one.
        QCoreApplication::processEvents();
        if (socket.waitForReadyRead(20))
            all += socket.readAll();
    }
    all += socket.readAll();
    if (!complete() || all.toLower().contains("\r\nconnection: close\r\n"))
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
    explicit Page(quint16 port, const QString &origin = QString(), const QString &query = QString())
        : socket(origin)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, &socket, [this](const QString &text) { messages << text.toUtf8(); });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live%2").arg(port).arg(query)));
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


// The deadlines the tests' server keeps, through its test seam.
constexpr std::chrono::milliseconds kShortTimeout{1500};

// Sockets this process has open, by inode: what a destroyed server leaves behind shows here.
QSet<QString> openSockets()
{
    QSet<QString> sockets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        const QString target = fd.symLinkTarget().isEmpty() ? QFile::symLinkTarget(fd.filePath()) : fd.symLinkTarget();
        if (target.contains(QLatin1String("socket:")))
            sockets.insert(target);
    }
    return sockets;
}

// A raw connection that has sent `text` (may be empty) and is left as it is.
std::unique_ptr<QTcpSocket> rawClient(quint16 port, const QByteArray &text = {})
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, port);
    if (!socket->waitForConnected(5000))
        return nullptr;
    if (!text.isEmpty()) {
        socket->write(text);
        socket->waitForBytesWritten(1000);
    }
    return socket;
}

QByteArray upgradeRequest(quint16 port, const QByteArray &extra = {})
{
    return "GET /live HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port)
           + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
             "Sec-WebSocket-Version: 13\r\n" + extra + "\r\n";
}

} // namespace

class TestOverlayServer : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    LiveData live;
    ShownScores shown{&live};
    std::unique_ptr<OverlayServer> server;
    // The devices followed beside the main one, as App would list them.
    QMap<QString, std::shared_ptr<DeviceLive>> followed;
    QString mainId; // the main device's own id

    quint16 port() const { return server->port(); }
    LiveData &liveOf(const QString &id) { return id.isEmpty() ? live : followed.value(id)->live(); }
    void follow(const QString &id, int score)
    {
        followed.insert(id, DeviceLive::create());
        followed.value(id)->live().apply({{QStringLiteral("sport"), QStringLiteral("hockey")}, {QStringLiteral("home_score"), score}});
        if (server)
            server->deviceFollowed(id);
    }

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
        shown.resume();
        live.clear();
        live.apply({{QStringLiteral("sport"), QStringLiteral("hockey")}, {QStringLiteral("home_score"), 2}, {QStringLiteral("away_score"), 1}});
        followed.clear();
        mainId = QStringLiteral("M");
        follow(QStringLiteral("B"), 20);
        follow(QStringLiteral("C"), 30);
        server = std::make_unique<OverlayServer>(&live, &shown, m_dir.filePath(QStringLiteral("overlays")));
        server->setFeeds({[this] { return QStringList(followed.keys()); },
                          [this](const QString &id) { return followed.value(id); },
                          [](const QString &id) { return id; },
                          [this] { return mainId; }});
        server->setTimeoutsForTesting(kShortTimeout, kShortTimeout);
        connect(&shown, &ShownScores::changed, server.get(), &OverlayServer::broadcast);
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
        QTest::addColumn<QByteArray>("headerHas"); // a header line, lower case

        QTest::newRow("snapshot, no origin") << QByteArray("/live.json") << QByteArray() << 200 << QByteArray("application/json") << QByteArray("SNAPSHOT") << QByteArray();
        QTest::newRow("snapshot, own origin") << QByteArray("/live.json") << QByteArray("Origin: http://127.0.0.1:PORT\r\n") << 200 << QByteArray("application/json") << QByteArray("SNAPSHOT") << QByteArray();
        QTest::newRow("snapshot, other site") << QByteArray("/live.json") << QByteArray("Origin: https://evil.example\r\n") << 403 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("snapshot, null origin") << QByteArray("/live.json") << QByteArray("Origin: null\r\n") << 403 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("built-in page") << QByteArray("/overlays/scorebug/") << QByteArray() << 200 << QByteArray("text/html; charset=utf-8") << QByteArray("live.js") << QByteArray();
        QTest::newRow("built-in script") << QByteArray("/overlays/scoreboard/live.js") << QByteArray() << 200 << QByteArray("text/javascript; charset=utf-8") << QByteArray("/live") << QByteArray();
        // Built with the plugin's one list of period fields filled in.
        QTest::newRow("built-in script, period fields") << QByteArray("/overlays/scorebug/live.js") << QByteArray() << 200 << QByteArray("text/javascript; charset=utf-8") << QByteArray("['set', 'SET ']") << QByteArray();
        QTest::newRow("built-in style") << QByteArray("/overlays/lower-third/overlay.css") << QByteArray() << 200 << QByteArray("text/css; charset=utf-8") << QByteArray("transparent") << QByteArray();
        QTest::newRow("user page") << QByteArray("/overlays/mine/") << QByteArray() << 200 << QByteArray("text/html; charset=utf-8") << QByteArray("<p>mine</p>") << QByteArray();
        QTest::newRow("traversal") << QByteArray("/overlays/mine/../../settings.json") << QByteArray() << 404 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("encoded traversal") << QByteArray("/overlays/mine/%2e%2e/%2e%2e/settings.json") << QByteArray() << 404 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("resources outside the overlays") << QByteArray("/overlays/..%2f..%2fqt-project.org/") << QByteArray() << 404 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("unknown address") << QByteArray("/") << QByteArray() << 404 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("feed without upgrade") << QByteArray("/live") << QByteArray() << 426 << QByteArray() << QByteArray() << QByteArray();
        // A site whose name resolves to 127.0.0.1 sends no Origin for its own requests.
        // A page of another site loading a file as a script or image sends no Origin.
        QTest::newRow("script for another site") << QByteArray("/overlays/scorebug/live.js") << QByteArray("Sec-Fetch-Site: cross-site\r\n") << 403 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("script for a sibling site") << QByteArray("/overlays/scorebug/live.js") << QByteArray("Sec-Fetch-Site: same-site\r\n") << 403 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("script for its own page") << QByteArray("/overlays/scorebug/live.js") << QByteArray("Sec-Fetch-Site: same-origin\r\n") << 200 << QByteArray() << QByteArray("/live") << QByteArray();
        QTest::newRow("redirect keeps the look") << QByteArray("/overlays/scorebug?home_name=EAGLES&size=48") << QByteArray() << 301 << QByteArray() << QByteArray() << QByteArray("location: /overlays/scorebug/?home_name=eagles&size=48");
        QTest::newRow("redirect without a query") << QByteArray("/overlays/scorebug") << QByteArray() << 301 << QByteArray() << QByteArray() << QByteArray("location: /overlays/scorebug/\r");
        // ?device= names a followed device; any other gets 404, whatever it asks for.
        QTest::newRow("followed device's snapshot") << QByteArray("/live.json?device=B") << QByteArray() << 200 << QByteArray("application/json") << QByteArray("SNAPSHOT B") << QByteArray();
        QTest::newRow("another followed device's snapshot") << QByteArray("/live.json?size=4&device=C") << QByteArray() << 200 << QByteArray("application/json") << QByteArray("SNAPSHOT C") << QByteArray();
        QTest::newRow("main device by its own id") << QByteArray("/live.json?device=M") << QByteArray() << 200 << QByteArray("application/json") << QByteArray("SNAPSHOT") << QByteArray();
        QTest::newRow("main device by its own id, page") << QByteArray("/overlays/scorebug/?device=M") << QByteArray() << 200 << QByteArray("text/html; charset=utf-8") << QByteArray("live.js") << QByteArray();
        QTest::newRow("main device by an empty id") << QByteArray("/live.json?device=") << QByteArray() << 200 << QByteArray("application/json") << QByteArray("SNAPSHOT") << QByteArray();
        QTest::newRow("device named as a form does") << QByteArray("/live.json?dev%69ce=%42") << QByteArray() << 200 << QByteArray("application/json") << QByteArray("SNAPSHOT B") << QByteArray();
        QTest::newRow("device not followed, snapshot") << QByteArray("/live.json?device=Z") << QByteArray() << 404 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("device named twice") << QByteArray("/live.json?device=B&device=Z") << QByteArray() << 400 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("device not followed, feed") << QByteArray("/live?device=Z") << QByteArray() << 404 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("followed device, feed without upgrade") << QByteArray("/live?device=B") << QByteArray() << 426 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("followed device, built-in page") << QByteArray("/overlays/scorebug/?device=B") << QByteArray() << 200 << QByteArray("text/html; charset=utf-8") << QByteArray("live.js") << QByteArray();
        QTest::newRow("device not followed, built-in page") << QByteArray("/overlays/scorebug/?device=Z") << QByteArray() << 404 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("device not followed, before the redirect") << QByteArray("/overlays/scorebug?device=Z") << QByteArray() << 404 << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("redirect keeps the device") << QByteArray("/overlays/scorebug?device=B") << QByteArray() << 301 << QByteArray() << QByteArray() << QByteArray("location: /overlays/scorebug/?device=b\r");
        QTest::newRow("rebound host name") << QByteArray("/live.json") << QByteArray("Host: scores.example.com:PORT\r\n") << 403 << QByteArray() << QByteArray() << QByteArray();
    }
    void http()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, extra);
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, bodyHas);
        QFETCH(QByteArray, headerHas);
        extra.replace("PORT", QByteArray::number(port()));
        QByteArray text = get(path, port(), extra);
        if (extra.startsWith("Host:"))
            text.replace("Host: 127.0.0.1:" + QByteArray::number(port()) + "\r\n", QByteArray());
        const Response response = request(port(), text);
        QCOMPARE(response.status, status);
        if (!contentType.isEmpty())
            QVERIFY2(response.headers.toLower().contains("content-type: " + contentType), response.headers.constData());
        if (bodyHas.startsWith("SNAPSHOT"))
            QCOMPARE(response.body, liveOf(QString::fromLatin1(bodyHas.mid(9))).snapshotJson());
        else if (!bodyHas.isEmpty())
            QVERIFY2(response.body.contains(bodyHas), response.body.constData());
        QVERIFY(!response.body.contains("secret"));
        const QByteArray headers = response.headers.toLower() + "\r";
        // No other site may embed any answer, a refusal included.
        QVERIFY2(headers.contains("cross-origin-resource-policy: same-origin\r"), response.headers.constData());
        if (!headerHas.isEmpty())
            QVERIFY2(headers.contains(headerHas), response.headers.constData());
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
            QTRY_COMPARE(page.socket.state(), QAbstractSocket::UnconnectedState);
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

    // Each page reads its own device: its state first, then its updates only; a followed
    // device's pages hold with its score texts.
    void pagesReadTheirOwnDevice()
    {
        // Held before any page reads it: its first page still gets what the hold keeps.
        const QByteArray heldC = liveOf(QStringLiteral("C")).snapshotJson();
        followed.value(QStringLiteral("C"))->shown().hold();
        liveOf(QStringLiteral("C")).apply({{QStringLiteral("home_score"), 31}});
        Page main(port()), b(port(), QString(), QStringLiteral("?device=B")), c(port(), QString(), QStringLiteral("?device=C"));
        Page unknown(port(), QString(), QStringLiteral("?device=Z"));
        QTRY_COMPARE(server->clientCount(), 3);
        QTRY_VERIFY(main.messages.size() == 1 && b.messages.size() == 1 && c.messages.size() == 1);
        QCOMPARE(main.messages.takeFirst(), live.snapshotJson());
        QCOMPARE(b.messages.takeFirst(), liveOf(QStringLiteral("B")).snapshotJson());
        QCOMPARE(c.messages.takeFirst(), heldC);
        QTRY_COMPARE(unknown.socket.state(), QAbstractSocket::UnconnectedState);
        followed.value(QStringLiteral("C"))->shown().resume();
        QTRY_COMPARE(c.messages.size(), 1);
        QCOMPARE(c.messages.takeFirst(), liveOf(QStringLiteral("C")).snapshotJson());

        for (const QString &id : {QStringLiteral("B"), QString(), QStringLiteral("C")})
            liveOf(id).apply({{QStringLiteral("away_score"), 5}});
        QTRY_VERIFY(main.messages.size() == 1 && b.messages.size() == 1 && c.messages.size() == 1);
        QCOMPARE(main.messages.takeFirst(), live.snapshotJson());
        QCOMPARE(b.messages.takeFirst(), liveOf(QStringLiteral("B")).snapshotJson());
        QCOMPARE(c.messages.takeFirst(), liveOf(QStringLiteral("C")).snapshotJson());

        const QByteArray before = liveOf(QStringLiteral("B")).snapshotJson();
        followed.value(QStringLiteral("B"))->shown().hold();
        liveOf(QStringLiteral("B")).apply({{QStringLiteral("away_score"), 6}});
        Page late(port(), QString(), QStringLiteral("?device=B"));
        QTRY_COMPARE(late.messages.size(), 1);
        QCOMPARE(late.messages.first(), before);
        QCOMPARE(request(port(), get("/live.json?device=B", port())).body, before);
        followed.value(QStringLiteral("B"))->shown().resume();
        QTRY_VERIFY(b.messages.size() == 1 && late.messages.size() == 2);
        QCOMPARE(b.messages.first(), liveOf(QStringLiteral("B")).snapshotJson());
        QVERIFY(main.messages.isEmpty() && c.messages.isEmpty() && unknown.messages.isEmpty());
    }

    // A page naming the main device by its id reads the main device while it is the main one,
    // and is closed when another becomes main; a device made main is served under its id.
    void pagesNamingTheMainDevice()
    {
        Page m(port(), QString(), QStringLiteral("?device=M"));
        QTRY_COMPARE(m.messages.size(), 1);
        QCOMPARE(m.messages.takeFirst(), live.snapshotJson());
        live.apply({{QStringLiteral("home_score"), 3}});
        QTRY_COMPARE(m.messages.size(), 1);
        QCOMPARE(m.messages.takeFirst(), live.snapshotJson());

        // As App makes B the main device: B unfollowed, then the main route is B's.
        followed.remove(QStringLiteral("B"));
        server->deviceUnfollowed(QStringLiteral("B"));
        mainId = QStringLiteral("B");
        server->mainDeviceChanged();
        QTRY_COMPARE(m.socket.state(), QAbstractSocket::UnconnectedState);
        Page b(port(), QString(), QStringLiteral("?device=B"));
        QTRY_COMPARE(b.messages.size(), 1);
        QCOMPARE(b.messages.first(), live.snapshotJson());
        QCOMPARE(request(port(), get("/live.json?device=B", port())).body, live.snapshotJson());
        QCOMPARE(request(port(), get("/live.json?device=M", port())).status, 404);
    }

    // A followed device is serialised only while a page reads it, once per update however
    // many do; its last page gone, it is no longer.
    void devicesSerialisedOnlyWhileRead()
    {
        const auto serialisedBy = [this](const QString &id) {
            const qint64 before = server->bytesSerialised();
            liveOf(id).apply({{QStringLiteral("n"), int(before % 1000)}});
            return server->bytesSerialised() - before;
        };
        QCOMPARE(serialisedBy(QStringLiteral("B")), 0);
        {
            Page one(port(), QString(), QStringLiteral("?device=B")), two(port(), QString(), QStringLiteral("?device=B"));
            QTRY_VERIFY(one.messages.size() == 1 && two.messages.size() == 1);
            QCOMPARE(serialisedBy(QStringLiteral("B")), liveOf(QStringLiteral("B")).snapshotJson().size());
            QCOMPARE(serialisedBy(QStringLiteral("C")), 0);
            QTRY_VERIFY(one.messages.size() == 2 && two.messages.size() == 2);
        }
        QTRY_COMPARE(serialisedBy(QStringLiteral("B")), 0);
    }

    // Unfollowed while pages read it: they are closed, its requests get 404, even one that
    // waited for its state, and the server lets go of it; followed again, it is served again.
    void unfollowWhileRead()
    {
        Page main(port()), b(port(), QString(), QStringLiteral("?device=B"));
        QTRY_COMPARE(server->clientCount(), 2);
        QTRY_COMPARE(b.messages.size(), 1);
        // A request that waits for the device's state: this thread, which gives it, is busy.
        auto waiting = rawClient(port(), get("/live.json?device=C", port()));
        QVERIFY(waiting);
        QThread::msleep(200);

        const std::weak_ptr<DeviceLive> gone = followed.take(QStringLiteral("B"));
        server->deviceUnfollowed(QStringLiteral("B"));
        followed.remove(QStringLiteral("C"));
        server->deviceUnfollowed(QStringLiteral("C"));
        QTRY_COMPARE(b.socket.state(), QAbstractSocket::UnconnectedState);
        QTRY_COMPARE(server->clientCount(), 1);
        QVERIFY(gone.expired());
        QTRY_VERIFY(waiting->bytesAvailable() > 0 || waiting->waitForReadyRead(10));
        QVERIFY2(waiting->readAll().startsWith("HTTP/1.1 404 "), "a request waiting for an unfollowed device");
        QCOMPARE(request(port(), get("/live.json?device=B", port())).status, 404);
        live.apply({{QStringLiteral("home_score"), 12}});
        QTRY_COMPARE(main.messages.size(), 2);

        follow(QStringLiteral("B"), 21);
        QCOMPARE(request(port(), get("/live.json?device=B", port())).body, liveOf(QStringLiteral("B")).snapshotJson());
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
        QVERIFY(response.status != 200 && response.status != 404);
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
            // Paced by the page that reads, so that only the stalled one falls behind however
            // slow this build runs.
            QTRY_VERIFY_WITH_TIMEOUT(reader.messages.size() >= 2 + updates, 10000);
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
        OverlayServer second(&live, nullptr, QString());
        QString error;
        QVERIFY(!second.start(port(), &error));
        QVERIFY2(error.startsWith(QStringLiteral("Could not listen on port %1: ").arg(port())), qPrintable(error));
        QVERIFY(!second.isListening());
    }
    // Refused requests close their connection, even when the client asked to keep it.
    void refusalsClose_data()
    {
        QTest::addColumn<QByteArray>("text"); // PORT stands for the port
        QTest::addColumn<int>("status");
        const QByteArray host = "Host: 127.0.0.1:PORT\r\n";
        QTest::newRow("other site") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "Origin: https://evil.example\r\n\r\n") << 403;
        QTest::newRow("absent file") << QByteArray("GET /overlays/mine/absent.html HTTP/1.1\r\n" + host + "\r\n") << 404;
        QTest::newRow("other method") << QByteArray("DELETE /live.json HTTP/1.1\r\n" + host + "\r\n") << 405;
        QTest::newRow("feed without upgrade") << QByteArray("GET /live HTTP/1.1\r\n" + host + "\r\n") << 426;
        QTest::newRow("malformed") << QByteArray("GET /live.json HTTP/1.1\r\n" + host + "X-A: 1\r\n folded\r\n\r\n") << 400;
    }
    void refusalsClose()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, status);
        text.replace("PORT", QByteArray::number(port()));
        auto socket = rawClient(port(), text);
        QVERIFY(socket);
        // Well before the deadlines would close it.
        QVERIFY(socket->waitForDisconnected(int(kShortTimeout.count()) / 2));
        const QByteArray answer = socket->readAll();
        QVERIFY2(answer.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '), answer.constData());
        QVERIFY(answer.contains("Connection: close\r\n"));
        if (status == 405)
            QVERIFY(answer.contains("Allow: GET\r\n"));
    }

    // Connections that never finish a request, or sit idle after one, are closed at the
    // deadline, so that they cannot hold every place while a page waits.
    void idleConnectionsDoNotLockOut()
    {
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 300; ++i) {
            QByteArray text;
            if (i % 3 == 1)
                text = "GET /live.json HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port()) + "\r\n"; // unfinished
            else if (i % 3 == 2)
                text = get("/live.json", port()).replace("Connection: close\r\n", ""); // answered, kept alive
            idle.push_back(rawClient(port(), text));
            QVERIFY(idle.back());
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(idle.begin(), idle.end(), [](const auto &socket) {
            return socket->state() != QAbstractSocket::ConnectedState;
        }), int(kShortTimeout.count()) * 4);
        Page page(port());
        QTRY_COMPARE(page.messages.size(), 1);
    }

    // Sessions that came and went, cleanly or refused by Qt's handshake, leave no place
    // taken behind them.
    void manySessionsDoNotLockOut()
    {
        for (int i = 0; i < 150; ++i) {
            Page page(port());
            QTRY_COMPARE(page.messages.size(), 1);
            page.socket.abort();
            // An upgrade that names this server but is no WebSocket handshake.
            auto broken = rawClient(port(), upgradeRequest(port(), "Sec-WebSocket-Version: 99\r\n").replace("Sec-WebSocket-Version: 13\r\n", ""));
            QVERIFY(broken);
            broken->waitForDisconnected(2000);
        }
        QTRY_COMPARE(server->clientCount(), 0);
        std::vector<std::unique_ptr<Page>> pages;
        for (int i = 0; i < 10; ++i)
            pages.push_back(std::make_unique<Page>(port()));
        QTRY_COMPARE(server->clientCount(), 10);
    }

    // A page that dropped its WebSocket, then the server stopped and started again, as the
    // switch and the port box do.
    void stopAfterPagesLeft()
    {
        for (int i = 0; i < 3; ++i) {
            Page page(port());
            QTRY_COMPARE(server->clientCount(), 1);
            page.socket.close();
            QTRY_COMPARE(server->clientCount(), 0);
            const quint16 was = port();
            server->stop();
            QString error;
            QVERIFY2(server->start(was, &error), qPrintable(error));
        }
        QCOMPARE(request(port(), get("/live.json", port())).body, live.snapshotJson());
    }

    // Two pages on the same port number, from two addresses of this computer, are two
    // connections: what one sends never counts against the other.
    void connectionsOnOnePortNumberAreApart()
    {
        QTcpSocket first;
        QTcpSocket second;
        bool bound = false;
        for (int attempt = 0; attempt < 20 && !bound; ++attempt) {
            first.abort();
            second.abort();
            bound = first.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0)
                    && second.bind(QHostAddress::LocalHost, first.localPort());
        }
        QVERIFY(bound);
        QByteArray answers[2];
        QTcpSocket *sockets[2] = {&first, &second};
        for (int i = 0; i < 2; ++i) {
            sockets[i]->connectToHost(QHostAddress::LocalHost, port());
            QVERIFY(sockets[i]->waitForConnected(5000));
            sockets[i]->write(upgradeRequest(port()));
        }
        QTRY_COMPARE(server->clientCount(), 2);
        // 40 KiB each in one masked frame (a zero mask leaves the payload as it is): within
        // a page's 64 KiB, but not both together.
        const QByteArray payload(40 * 1024, 'x');
        const QByteArray frame = QByteArray("\x82\xFE", 2) + char(payload.size() >> 8) + char(payload.size() & 0xff)
                                 + QByteArray(4, '\0') + payload;
        for (QTcpSocket *socket : sockets)
            socket->write(frame);
        QTest::qWait(300);
        live.apply({{QStringLiteral("home_score"), 77}});
        for (int i = 0; i < 2; ++i)
            QTRY_VERIFY((answers[i] += sockets[i]->readAll()).contains(live.snapshotJson()));
        QCOMPARE(server->clientCount(), 2);
    }

    // A page may send only so much in all, however small each frame; the others go on.
    void chattyPageIsDroppedInAll_data()
    {
        QTest::addColumn<bool>("pings");
        QTest::newRow("small messages") << false;
        QTest::newRow("pings") << true;
    }
    void chattyPageIsDroppedInAll()
    {
        QFETCH(bool, pings);
        Page chatty(port());
        Page quiet(port());
        QTRY_COMPARE(server->clientCount(), 2);
        for (int i = 0; i < 2000 && chatty.socket.state() == QAbstractSocket::ConnectedState; ++i) {
            const QByteArray payload(40, 'x');
            if (pings)
                chatty.socket.ping(payload);
            else
                chatty.socket.sendTextMessage(QString::fromLatin1(payload));
            if (i % 100 == 0)
                QTest::qWait(1);
        }
        QTRY_COMPARE(server->clientCount(), 1);
        live.apply({{QStringLiteral("home_score"), 40}});
        QTRY_COMPARE(quiet.messages.size(), 2);
        QCOMPARE(quiet.messages.last(), live.snapshotJson());
    }

    // Pages show what the production shows: a start during a hold sends the held score.
    void holdOutlivesARestart()
    {
        const QByteArray before = live.snapshotJson();
        shown.hold();
        live.apply({{QStringLiteral("home_score"), 30}});
        const quint16 was = port();
        server->stop();
        QString error;
        QVERIFY2(server->start(was, &error), qPrintable(error));
        Page page(port());
        QTRY_COMPARE(page.messages.size(), 1);
        QCOMPARE(page.messages.first(), before);
        QCOMPARE(request(port(), get("/live.json", port())).body, before);
        shown.resume();
        QTRY_COMPARE(page.messages.size(), 2);
        QCOMPARE(page.messages.last(), live.snapshotJson());
    }

    // Once the server object is gone, so is every socket it had: listening, connected and
    // upgraded.
    void nothingLeftOpenAfterDestruction()
    {
        server.reset();
        const QSet<QString> before = openSockets();
        server = std::make_unique<OverlayServer>(&live, &shown, QString());
        QString error;
        QVERIFY2(server->start(0, &error), qPrintable(error));
        Page page(port());
        QTRY_COMPARE(server->clientCount(), 1);
        auto idle = rawClient(port(), "GET /live.json HTTP/1.1\r\n");
        QVERIFY(idle);
        QTRY_COMPARE(server->clientCount(), 1);
        QTRY_VERIFY((openSockets() - before).size() >= 5); // listening, two clients, two accepted
        server.reset();
        // The test's own two client sockets, nothing of the server.
        QSet<QString> left = openSockets() - before;
        QVERIFY2(left.size() <= 2, qPrintable(QStringList(left.values()).join(QLatin1Char(' '))));
        QTRY_COMPARE(page.socket.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(idle->waitForDisconnected(2000) || idle->state() == QAbstractSocket::UnconnectedState);
    }
};

// The host on the test's own thread, so that what waits in its sockets can be read.
class TestOverlayHost : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A client that never reads a large file holds a chunk or so, not the file; the
    // length sent is the file's when it was opened, though it grows meanwhile.
    void filesAreStreamed()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("overlays/big/clip.mp4"));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const qint64 size = 16 * 1024 * 1024;
        file.write(QByteArray(size, 'v'));
        file.flush();
        OverlayHost host(OverlayFiles(QString(), dir.filePath(QStringLiteral("overlays"))), {std::chrono::seconds(30), std::chrono::seconds(30)});
        QString error;
        QVERIFY2(host.listen(0, "{}", 0, &error), qPrintable(error));
        const int fd = test::stalledReader(host.port());
        QVERIFY(fd >= 0);
        const QByteArray text = "GET /overlays/big/clip.mp4 HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(host.port()) + "\r\nConnection: close\r\n\r\n";
        QCOMPARE(::send(fd, text.constData(), size_t(text.size()), 0), text.size());
        QTRY_VERIFY(host.pendingOutput() > 0);
        QTest::qWait(300);
        QVERIFY2(host.pendingOutput() <= 2 * OverlayConnection::kChunkBytes, QByteArray::number(host.pendingOutput()).constData());

        file.write(QByteArray(1024 * 1024, 'g'));
        file.close();
        QByteArray received;
        char buffer[65536];
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents();
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                received.append(buffer, n);
            else if (n == 0)
                break;
        }
        ::close(fd);
        const qsizetype end = received.indexOf("\r\n\r\n");
        QVERIFY(received.contains("Content-Length: " + QByteArray::number(size) + "\r\n"));
        QCOMPARE(received.size() - end - 4, size);
        QVERIFY(!received.mid(end + 4).contains('g'));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestOverlayServer server;
    TestOverlayHost host;
    return QTest::qExec(&server, argc, argv) | QTest::qExec(&host, argc, argv);
}
#include "tst_OverlayServer.moc"
