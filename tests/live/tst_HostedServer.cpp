// The hosted live-data server over real TCP on loopback, driven the way other programs on
// this computer would use it.
#include "live/DeviceLive.h"
#include "live/HostedServer.h"
#include "live/LiveData.h"
#include "support/LineClient.h"
#include "support/StalledSocket.h"
#include "support/TestNetwork.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace corvane;
using corvane::test::LineClient;

namespace {

QByteArray compact(const QJsonObject &object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QJsonObject parse(const QByteArray &line)
{
    const QJsonDocument doc = QJsonDocument::fromJson(line);
    return doc.object();
}

// The listening socket of this process on `port`; accepted sockets inherit its options.
int listeningSocketOn(quint16 port)
{
    for (int fd = 3; fd < 4096; ++fd) {
        int listening = 0;
        socklen_t size = sizeof listening;
        sockaddr_in address{};
        socklen_t addressSize = sizeof address;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening
            && getsockname(fd, reinterpret_cast<sockaddr *>(&address), &addressSize) == 0 && ntohs(address.sin_port) == port)
            return fd;
    }
    return -1;
}

int numberField(const QByteArray &line) { return parse(line).value(QStringLiteral("fields")).toObject().value(QStringLiteral("n")).toString().toInt(); }

QByteArray named(const QString &deviceId, const LiveData &data)
{
    QJsonObject snapshot = data.snapshot();
    snapshot.insert(QStringLiteral("device"), deviceId);
    return compact(snapshot);
}

} // namespace

class TestHostedServer : public QObject {
    Q_OBJECT
private:
    LiveData live;
    std::unique_ptr<HostedServer> server;
    QStringList handledOps;
    // The devices followed beside the main one, as App would list them.
    QMap<QString, std::shared_ptr<DeviceLive>> followed;
    QString mainId; // the main device's own id

    LiveData &liveOf(const QString &id) { return id.isEmpty() ? live : followed.value(id)->live(); }
    // Stands for a line in the tables: "MAIN" or a device id for its snapshot, "@" before
    // either for the same naming its device; anything else as it is.
    QByteArray expand(const QByteArray &token)
    {
        const bool isNamed = token.startsWith('@');
        const QString id = QString::fromUtf8(isNamed ? token.mid(1) : token);
        if (id != QLatin1String("MAIN") && !followed.contains(id))
            return token;
        const QString device = id == QLatin1String("MAIN") ? QString() : id;
        return isNamed ? named(device, liveOf(device)) : compact(liveOf(device).snapshot());
    }
    void follow(const QString &id, int score)
    {
        followed.insert(id, DeviceLive::create());
        followed.value(id)->live().apply({{QStringLiteral("sport"), QStringLiteral("basketball")}, {QStringLiteral("home_score"), score}});
        server->deviceFollowed(id);
    }

    quint16 port() const { return server->port(); }

private Q_SLOTS:
    void init()
    {
        live.clear();
        handledOps.clear();
        server = std::make_unique<HostedServer>(&live);
        connect(&live, &LiveData::changed, server.get(), &HostedServer::broadcast);
        server->setHandler([this](const QString &op, const QJsonObject &request) {
            handledOps << op;
            if (op == QLatin1String("echo"))
                return request;
            if (op == QLatin1String("refuse"))
                return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), QStringLiteral("nope")}};
            return QJsonObject{{QStringLiteral("seen"), op}};
        });
        followed.clear();
        mainId = QStringLiteral("M");
        server->setFeeds({[this] { return QStringList(followed.keys()); },
                          [this](const QString &id) { return followed.value(id); },
                          [](const QString &id) { return id.isEmpty() ? QStringLiteral("Main") : QStringLiteral("Court ") + id; },
                          [this] { return mainId; }});
        QString error;
        QVERIFY2(server->start(0, false, &error), qPrintable(error));
    }

    void cleanup() { server.reset(); }

    // A client reads the main device until it asks for another, or for all of them; after
    // its requests are answered, one device's update reaches it as the last column says.
    void watch_data()
    {
        QTest::addColumn<QByteArray>("requests");
        QTest::addColumn<QList<QByteArray>>("answers");
        QTest::addColumn<QString>("updated"); // the device that changes next, "" the main one
        QTest::addColumn<QByteArray>("delivered"); // what the client reads of it; empty: nothing

        const QByteArray watchB = R"({"op":"watch","device":"B"})";
        const QByteArray watchingB = R"({"device":"B","ok":true,"op":"watch"})";
        const QByteArray unknown = R"({"error":"unknown_device","ok":false,"op":"watch"})";
        const QByteArray all = R"({"devices":[{"id":"","name":"Main"},{"id":"B","name":"Court B"},{"id":"C","name":"Court C"}],"ok":true,"op":"watch"})";
        using Lines = QList<QByteArray>;
        QTest::newRow("old client, main update") << QByteArray() << Lines() << QString() << QByteArray("MAIN");
        QTest::newRow("old client, other device's update") << QByteArray() << Lines() << QStringLiteral("B") << QByteArray();
        QTest::newRow("one device") << watchB << Lines{watchingB, "B"} << QStringLiteral("B") << QByteArray("B");
        QTest::newRow("one device, main update") << watchB << Lines{watchingB, "B"} << QString() << QByteArray();
        QTest::newRow("one device, get") << watchB + "\nget" << Lines{watchingB, "B", "B"} << QStringLiteral("B") << QByteArray("B");
        QTest::newRow("back to the main device") << watchB + "\nwatch" << Lines{watchingB, "B", R"({"device":"","ok":true,"op":"watch"})", "MAIN"} << QString() << QByteArray("MAIN");
        QTest::newRow("main device by its own id") << QByteArray(R"({"op":"watch","device":"M"})") << Lines{R"({"device":"M","ok":true,"op":"watch"})", "MAIN"} << QString() << QByteArray("MAIN");
        QTest::newRow("main device by its empty id") << QByteArray(R"({"op":"watch","device":""})") << Lines{R"({"device":"","ok":true,"op":"watch"})", "MAIN"} << QStringLiteral("B") << QByteArray();
        QTest::newRow("unknown device") << QByteArray(R"({"op":"watch","device":"Z"})") << Lines{unknown} << QString() << QByteArray("MAIN");
        QTest::newRow("unknown device keeps the one read") << watchB + "\n{\"op\":\"watch\",\"device\":\"Z\"}" << Lines{watchingB, "B", unknown} << QStringLiteral("B") << QByteArray("B");
        QTest::newRow("device id not a string") << QByteArray(R"({"op":"watch","device":5})") << Lines{unknown} << QString() << QByteArray("MAIN");
        QTest::newRow("all, main update") << QByteArray(R"({"op":"watch","all":true})") << Lines{all, "@MAIN", "@B", "@C"} << QString() << QByteArray("@MAIN");
        QTest::newRow("all, other device's update") << QByteArray(R"({"op":"watch","all":true})") << Lines{all, "@MAIN", "@B", "@C"} << QStringLiteral("C") << QByteArray("@C");
        QTest::newRow("all, get") << QByteArray(R"({"op":"watch","all":true})" "\nget") << Lines{all, "@MAIN", "@B", "@C", "@MAIN", "@B", "@C"} << QStringLiteral("B") << QByteArray("@B");
        QTest::newRow("all, then one device") << QByteArray(R"({"op":"watch","all":true})" "\n") + watchB << Lines{all, "@MAIN", "@B", "@C", watchingB, "B"} << QStringLiteral("C") << QByteArray();
    }
    void watch()
    {
        QFETCH(QByteArray, requests);
        QFETCH(QList<QByteArray>, answers);
        QFETCH(QString, updated);
        QFETCH(QByteArray, delivered);
        follow(QStringLiteral("B"), 20);
        follow(QStringLiteral("C"), 30);
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        QCOMPARE(client.take(), compact(live.snapshot()));
        if (!requests.isEmpty())
            client.send(requests + '\n');
        QTRY_COMPARE(client.lines.size(), answers.size());
        for (const QByteArray &answer : std::as_const(answers))
            QCOMPARE(client.take(), expand(answer));

        liveOf(updated).apply({{QStringLiteral("clock"), QStringLiteral("1:00")}});
        // A line from another device, or one sent to everyone, would arrive before this one.
        client.send("{\"op\":\"echo\",\"end\":1}\n");
        QTRY_COMPARE(client.lines.size(), delivered.isEmpty() ? 1 : 2);
        if (!delivered.isEmpty())
            QCOMPARE(client.take(), expand(delivered));
        QCOMPARE(client.take(), QByteArray(R"({"end":1,"ok":true,"op":"echo"})"));
    }

    // Unfollowing a device its clients read: they are told, and read nothing more of it
    // (another device's score in its place would be another game's); the server lets go.
    void unfollowWhileRead()
    {
        follow(QStringLiteral("B"), 20);
        LineClient alone(port()), everything(port()), old(port());
        QTRY_VERIFY(alone.lines.size() == 1 && everything.lines.size() == 1 && old.lines.size() == 1);
        alone.lines.clear();
        everything.lines.clear();
        old.lines.clear();
        alone.send(R"({"op":"watch","device":"B"})" "\n");
        everything.send(R"({"op":"watch","all":true})" "\n");
        QTRY_VERIFY(alone.lines.size() == 2 && everything.lines.size() == 3);
        alone.lines.clear();
        everything.lines.clear();

        const std::weak_ptr<DeviceLive> gone = followed.take(QStringLiteral("B"));
        server->deviceUnfollowed(QStringLiteral("B"));
        const QByteArray told = R"({"device":"B","error":"device_unfollowed","ok":false})";
        QTRY_VERIFY(alone.lines.size() == 1 && everything.lines.size() == 1);
        QCOMPARE(alone.take(), told);
        QCOMPARE(everything.take(), told);
        // Its last reader let go, so it is gone with the route.
        QVERIFY(gone.expired());

        alone.send("get\n");
        live.apply({{QStringLiteral("home_score"), 7}});
        QTRY_VERIFY(alone.lines.size() == 1 && everything.lines.size() == 1 && old.lines.size() == 1);
        QCOMPARE(alone.take(), QByteArray(R"({"error":"unknown_device","ok":false,"op":"get"})"));
        QCOMPARE(everything.take(), named(QString(), live));
        QCOMPARE(old.take(), compact(live.snapshot()));
        alone.send(R"({"op":"watch","device":"B"})" "\n");
        QTRY_COMPARE(alone.lines.size(), 1);
        QCOMPARE(alone.take(), QByteArray(R"({"error":"unknown_device","ok":false,"op":"watch"})"));

        // Followed again, it is read by those reading every device, not by its old reader.
        follow(QStringLiteral("B"), 21);
        QTRY_COMPARE(everything.lines.size(), 1);
        QCOMPARE(everything.take(), named(QStringLiteral("B"), liveOf(QStringLiteral("B"))));
        liveOf(QStringLiteral("B")).apply({{QStringLiteral("home_score"), 22}});
        alone.send("{\"op\":\"echo\"}\n");
        QTRY_VERIFY(alone.lines.size() == 1 && everything.lines.size() == 1);
        QCOMPARE(alone.take(), QByteArray(R"({"ok":true,"op":"echo"})"));
    }

    // Made the main device, a followed device is read on by its readers, now as the main one;
    // the former main device's readers by id read on where it is followed in its stead. One
    // that is then neither followed nor main is gone for its readers.
    void mainDeviceTradesPlaces_data()
    {
        QTest::addColumn<bool>("readingAll");
        QTest::newRow("a client reads every device") << true;
        QTest::newRow("none reads every device") << false;
    }
    void mainDeviceTradesPlaces()
    {
        QFETCH(bool, readingAll);
        follow(QStringLiteral("B"), 20);
        LineClient b(port()), formerMain(port()), everything(port());
        QTRY_VERIFY(b.lines.size() == 1 && formerMain.lines.size() == 1 && everything.lines.size() == 1);
        b.lines.clear();
        formerMain.lines.clear();
        everything.lines.clear();
        b.send(R"({"op":"watch","device":"B"})" "\n");
        formerMain.send(R"({"op":"watch","device":"M"})" "\n");
        if (readingAll)
            everything.send(R"({"op":"watch","all":true})" "\n");
        QTRY_VERIFY(b.lines.size() == 2 && formerMain.lines.size() == 2 && everything.lines.size() == (readingAll ? 3 : 0));
        b.lines.clear();
        formerMain.lines.clear();
        everything.lines.clear();

        // As App makes B the main device: B unfollowed, the main route B's, M followed.
        followed.take(QStringLiteral("B"));
        server->deviceUnfollowed(QStringLiteral("B"));
        mainId = QStringLiteral("B");
        server->mainDeviceChanged();
        follow(QStringLiteral("M"), 1);
        const QByteArray told = R"({"device":"B","error":"device_unfollowed","ok":false})";
        QTRY_VERIFY(b.lines.size() == 1 && formerMain.lines.size() == 1 && everything.lines.size() == (readingAll ? 2 : 0));
        QCOMPARE(b.take(), compact(live.snapshot()));
        QCOMPARE(formerMain.take(), expand("M"));
        if (readingAll) {
            QCOMPARE(everything.take(), expand("@M"));
            QCOMPARE(everything.take(), told);
        }
        live.apply({{QStringLiteral("home_score"), 21}});
        liveOf(QStringLiteral("M")).apply({{QStringLiteral("home_score"), 2}});
        QTRY_VERIFY(b.lines.size() == 1 && formerMain.lines.size() == 1 && everything.lines.size() == (readingAll ? 2 : 1));
        QCOMPARE(b.take(), compact(live.snapshot()));
        QCOMPARE(formerMain.take(), expand("M"));

        // Another device made main, B not followed in its stead.
        mainId = QStringLiteral("Q");
        server->mainDeviceChanged();
        QTRY_COMPARE(b.lines.size(), 1);
        QCOMPARE(b.take(), told);
        live.apply({{QStringLiteral("home_score"), 22}});
        b.send("{\"op\":\"echo\"}\n");
        QTRY_COMPARE(b.lines.size(), 1);
        QCOMPARE(b.take(), QByteArray(R"({"ok":true,"op":"echo"})"));
    }

    // A device followed while a client reads every device joins what that client reads.
    void followedLaterReachesThoseReadingAll()
    {
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        client.take();
        client.send(R"({"op":"watch","all":true})" "\n");
        QTRY_COMPARE(client.lines.size(), 2);
        client.lines.clear();
        follow(QStringLiteral("D"), 40);
        QTRY_COMPARE(client.lines.size(), 1);
        QCOMPARE(client.take(), named(QStringLiteral("D"), liveOf(QStringLiteral("D"))));
        liveOf(QStringLiteral("D")).apply({{QStringLiteral("home_score"), 41}});
        QTRY_COMPARE(client.lines.size(), 1);
        QCOMPARE(client.take(), named(QStringLiteral("D"), liveOf(QStringLiteral("D"))));
    }

    // A device's update is serialised only while some client reads it; the main device's
    // too, once its only client reads another.
    void serialisesOnlyWhatIsRead()
    {
        follow(QStringLiteral("B"), 20);
        auto client = std::make_unique<LineClient>(port());
        QTRY_COMPARE(client->lines.size(), 1);
        const auto serialisedBy = [this](LiveData &data) {
            const qint64 before = server->bytesSerialised();
            data.apply({{QStringLiteral("n"), int(before % 1000)}});
            return server->bytesSerialised() - before;
        };
        QCOMPARE(serialisedBy(liveOf(QStringLiteral("B"))), 0);
        client->send(R"({"op":"watch","device":"B"})" "\n");
        QTRY_COMPARE(client->lines.size(), 3);
        QVERIFY(serialisedBy(liveOf(QStringLiteral("B"))) > 0);
        QCOMPARE(serialisedBy(live), 0);
        client.reset();
        QTRY_COMPARE(server->clientCount(), 0);
        QCOMPARE(serialisedBy(liveOf(QStringLiteral("B"))), 0);
    }

    void snapshotOnConnect()
    {
        QSignalSpy counts(server.get(), &HostedServer::clientsChanged);
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        QCOMPARE(client.take(), QByteArray(R"({"fields":{},"source":"","sport":"","updated_at":""})"));
        QCOMPARE(counts.size(), 1);
        QCOMPARE(counts.first().first().toInt(), 1);

        live.setSource(QStringLiteral("Gym"));
        live.apply({{QStringLiteral("sport"), QStringLiteral("soccer")}, {QStringLiteral("home_score"), 2}});
        QTRY_COMPARE(client.lines.size(), 1);
        const QJsonObject snapshot = parse(client.take());
        QCOMPARE(snapshot, live.snapshot());
        QCOMPARE(snapshot.value(QStringLiteral("source")).toString(), QStringLiteral("Gym"));
        QCOMPARE(snapshot.value(QStringLiteral("fields")).toObject().value(QStringLiteral("home_score")).toString(), QStringLiteral("2"));
        QVERIFY(snapshot.value(QStringLiteral("updated_at")).toString().endsWith(QLatin1Char('Z')));
        QVERIFY(client.pending.isEmpty());
    }

    void getBothWays()
    {
        live.apply({{QStringLiteral("clock"), QStringLiteral("12:00")}});
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        const QByteArray expected = compact(live.snapshot());
        QCOMPARE(client.take(), expected);

        client.send("get\n{\"op\":\"get\"}\n  {\"op\": \"get\", \"extra\": [1]}  \n");
        QTRY_COMPARE(client.lines.size(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(client.take(), expected);
        QVERIFY(handledOps.isEmpty());
    }

    void operationNamesAndAnswers()
    {
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        client.take();

        client.send("  status  \n\n \t \r\n{\"op\":\"echo\",\"device\":\"abc\"}\nrefuse\r\n{\"op\":5}\n");
        QTRY_COMPARE(client.lines.size(), 4);
        QCOMPARE(handledOps, QStringList({QStringLiteral("status"), QStringLiteral("echo"), QStringLiteral("refuse"), QString()}));
        QCOMPARE(client.take(), QByteArray(R"({"ok":true,"op":"status","seen":"status"})"));
        QCOMPARE(client.take(), QByteArray(R"({"device":"abc","ok":true,"op":"echo"})"));
        QCOMPARE(client.take(), QByteArray(R"({"error":"nope","ok":false,"op":"refuse"})"));
        QCOMPARE(client.take(), QByteArray(R"({"ok":true,"op":"","seen":""})"));
    }

    void invalidJsonKeepsTheConnection()
    {
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        client.take();

        client.send("{not json\n{\"op\":\"get\"} trailing\n{\"op\":\"x\"\nget\n");
        QTRY_COMPARE(client.lines.size(), 4);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(client.take(), QByteArray(R"({"error":"invalid_json","ok":false})"));
        QCOMPARE(client.take(), compact(live.snapshot()));
        QVERIFY(handledOps.isEmpty());
        QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
    }

    void unknownOperationWithoutHandler()
    {
        server->setHandler(nullptr);
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        client.take();
        client.send("status\n");
        QTRY_COMPARE(client.lines.size(), 1);
        QCOMPARE(client.take(), QByteArray(R"({"error":"unavailable","ok":false})"));
    }

    void requestsAcrossSegments()
    {
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        client.take();

        client.send("first\nsecond\n");
        QTRY_COMPARE(client.lines.size(), 2);
        QCOMPARE(parse(client.take()).value(QStringLiteral("op")).toString(), QStringLiteral("first"));
        QCOMPARE(parse(client.take()).value(QStringLiteral("op")).toString(), QStringLiteral("second"));

        client.send("{\"op\":\"ec");
        // Give the server every chance to answer a line that is not complete yet.
        QTest::qWait(100);
        QVERIFY(client.lines.isEmpty());
        client.send("ho\",\"n\":1}\nthi");
        QTRY_COMPARE(client.lines.size(), 1);
        QCOMPARE(client.take(), QByteArray(R"({"n":1,"ok":true,"op":"echo"})"));
        client.send("rd\n");
        QTRY_COMPARE(client.lines.size(), 1);
        QCOMPARE(parse(client.take()).value(QStringLiteral("op")).toString(), QStringLiteral("third"));
    }

    void unfinishedLineOverflowDisconnects()
    {
        LineClient fits(port());
        LineClient floods(port());
        QTRY_COMPARE(server->clientCount(), 2);

        // 60000 bytes end in a line feed in time and are handled as one operation name.
        fits.send(QByteArray(60000, 'a') + '\n');
        QTRY_COMPARE(fits.lines.size(), 2);
        QCOMPARE(handledOps, QStringList(QString(60000, QLatin1Char('a'))));

        QSignalSpy gone(&floods.socket, &QTcpSocket::disconnected);
        floods.send(QByteArray(40000, 'b'));
        QTest::qWait(100);
        floods.send(QByteArray(30000, 'b') + "\nget\n");
        QVERIFY(gone.wait(5000));
        QTRY_COMPARE(server->clientCount(), 1);
        QCOMPARE(handledOps.size(), 1);
        // The snapshot sent on connect is all it ever got.
        QCOMPARE(floods.lines.size(), 1);
        QCOMPARE(fits.socket.state(), QAbstractSocket::ConnectedState);
    }

    void finishedRequestsDoNotCountAgainstTheLimit()
    {
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        client.take();

        // 100 requests padded to 1000 bytes each reach the server as one 100 KB burst;
        // each is finished, so none is an overlong line.
        QByteArray burst;
        for (int i = 0; i < 100; ++i)
            burst += QByteArray(998, ' ') + "x\n";
        client.send(burst);
        QTRY_COMPARE(client.lines.size(), 100);
        QCOMPARE(handledOps.size(), 100);
        QCOMPARE(client.take(), QByteArray(R"({"ok":true,"op":"x","seen":"x"})"));
        QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(server->clientCount(), 1);
    }

    void leavingClientsAreCounted()
    {
        QSignalSpy counts(server.get(), &HostedServer::clientsChanged);
        auto first = std::make_unique<LineClient>(port());
        LineClient second(port());
        QTRY_COMPARE(server->clientCount(), 2);
        first.reset();
        QTRY_COMPARE(server->clientCount(), 1);
        QTRY_COMPARE(counts.size(), 3);
        QCOMPARE(counts.at(2).first().toInt(), 1);
        second.socket.disconnectFromHost();
        QTRY_COMPARE(counts.size(), 4);
        QCOMPARE(counts.at(3).first().toInt(), 0);
        QCOMPARE(server->clientCount(), 0);
    }

    void clientsJoiningDuringUpdatesMissNothing()
    {
        // Clients connect while updates stream in: each must get a snapshot and then every
        // later update, none skipped and none older than what it already has.
        std::vector<std::unique_ptr<LineClient>> clients;
        const int updates = 300;
        for (int n = 0; n < updates; ++n) {
            live.apply({{QStringLiteral("n"), n}});
            if (n % 10 == 0)
                clients.push_back(std::make_unique<LineClient>(port()));
            QCoreApplication::processEvents();
        }
        for (const auto &client : clients) {
            QTRY_VERIFY(!client->lines.isEmpty() && numberField(client->lines.last()) == updates - 1);
            int expected = numberField(client->lines.first());
            for (const QByteArray &line : std::as_const(client->lines))
                QCOMPARE(numberField(line), expected++);
        }
    }

    void answersAndUpdatesKeepTheirOrder()
    {
        LineClient client(port());
        QTRY_COMPARE(client.lines.size(), 1);
        client.take();
        // Each "get" is answered with the state at the time it is handled, so the n of
        // the lines a client reads never goes down.
        for (int n = 0; n < 200; ++n) {
            live.apply({{QStringLiteral("n"), n}});
            client.send("get\n");
            QCoreApplication::processEvents();
        }
        QTRY_COMPARE(client.lines.size(), 400);
        int last = -1;
        for (const QByteArray &line : std::as_const(client.lines)) {
            QVERIFY(numberField(line) >= last);
            last = numberField(line);
        }
        QCOMPARE(last, 199);
    }

    void stopResetsReadersThatStalled()
    {
        // Small kernel buffers on the server side too, so that the output a stalled reader
        // leaves behind stays in the server, well below the cap.
        const int listener = listeningSocketOn(port());
        QVERIFY(listener >= 0);
        int small = 4096;
        QCOMPARE(setsockopt(listener, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
        const int fd = test::stalledReader(port());
        QVERIFY(fd >= 0);
        LineClient reader(port());
        QTRY_COMPARE(server->clientCount(), 2);

        const QString filler(100 * 1024, QLatin1Char('x'));
        for (int n = 0; n < 5; ++n)
            live.apply({{QStringLiteral("filler"), filler}, {QStringLiteral("n"), n}});
        QTRY_COMPARE(reader.lines.size(), 6);
        QCOMPARE(server->clientCount(), 2);

        server->stop();
        // A reader that does not read would otherwise keep its connection, and the server
        // its unsent output, for as long as the plugin runs.
        QTRY_VERIFY(test::tcpState(fd) != TCP_ESTABLISHED);
        QTRY_COMPARE(reader.socket.state(), QAbstractSocket::UnconnectedState);
        ::close(fd);
    }

    void stalledReaderIsDisconnected()
    {
        const int fd = test::stalledReader(port());
        QVERIFY(fd >= 0);

        LineClient reader(port());
        QTRY_COMPARE(server->clientCount(), 2);
        QTRY_COMPARE(reader.lines.size(), 1);

        // 100 KiB snapshots (25 fields at their longest): the kernel buffers take a few MiB,
        // after which the server must give up on the stalled socket rather than queue without
        // end.
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

        // The reader got every update in order, and the stalled socket sees the end.
        QTRY_COMPARE_WITH_TIMEOUT(reader.lines.size(), 1 + updates, 20000);
        for (int i = 0; i <= updates; ++i) {
            const QJsonObject fields = parse(reader.lines.at(i)).value(QStringLiteral("fields")).toObject();
            if (i > 0)
                QCOMPARE(fields.value(QStringLiteral("n")).toString(), QString::number(i - 1));
        }
        char sink[65536];
        ssize_t got = 0;
        do {
            got = ::recv(fd, sink, sizeof sink, 0);
        } while (got > 0);
        QVERIFY(got <= 0);
        ::close(fd);
    }

    // A reader that stops reading keeps its connection while less than 1 MiB waits for it in
    // the server, and loses it past that. With small kernel buffers on both sides, what the
    // server was given and the kernel did not take is what waits there.
    void unreadOutputIsBoundedAtOneMebibyte()
    {
        constexpr qint64 kBound = 1024 * 1024;
        constexpr qint64 kKernelHolds = 64 * 1024; // far more than both small buffers take
        const int listener = listeningSocketOn(port());
        QVERIFY(listener >= 0);
        int small = 4096;
        QCOMPARE(setsockopt(listener, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
        const int fd = test::stalledReader(port());
        QVERIFY(fd >= 0);
        LineClient reader(port());
        QTRY_COMPARE(server->clientCount(), 2);
        QTRY_COMPARE(reader.lines.size(), 1);

        QJsonObject message;
        for (int i = 0; i < 25; ++i)
            message.insert(QStringLiteral("filler%1").arg(i), QString(LiveData::MaxValueLength, QLatin1Char('x')));
        // The stalled reader is sent what the reader reads, greeting included.
        qint64 sent = reader.lines.first().size() + 1;
        for (int n = 0; sent <= kBound + kKernelHolds; ++n) {
            message.insert(QStringLiteral("n"), n);
            live.apply(message);
            QTRY_COMPARE(reader.lines.size(), n + 2);
            sent += reader.lines.last().size() + 1;
            if (sent < kBound)
                QCOMPARE(server->clientCount(), 2);
        }
        QTRY_COMPARE(server->clientCount(), 1);
        ::close(fd);
    }

    void manyClientsReceiveEveryBroadcastInOrder()
    {
        std::vector<std::unique_ptr<LineClient>> clients;
        // In batches, so that the listen backlog never overflows.
        for (int batch = 0; batch < 5; ++batch) {
            for (int i = 0; i < 40; ++i)
                clients.push_back(std::make_unique<LineClient>(port()));
            QTRY_COMPARE(server->clientCount(), int(clients.size()));
        }

        const qint64 before = server->bytesSerialised();
        const int updates = 25;
        qint64 lineBytes = 0;
        for (int n = 0; n < updates; ++n) {
            live.apply({{QStringLiteral("sport"), QStringLiteral("hockey")}, {QStringLiteral("n"), n}, {QStringLiteral("clock"), 600 - n}});
            lineBytes += compact(live.snapshot()).size() + 1;
        }
        // Each update was serialised once, whatever the number of clients.
        QCOMPARE(server->bytesSerialised() - before, lineBytes);

        for (const auto &client : clients) {
            QTRY_COMPARE(client->lines.size(), 1 + updates);
            for (int n = 0; n < updates; ++n) {
                const QJsonObject fields = parse(client->lines.at(1 + n)).value(QStringLiteral("fields")).toObject();
                QCOMPARE(fields.value(QStringLiteral("n")).toString(), QString::number(n));
            }
        }
    }

    void stopAndStart()
    {
        LineClient client(port());
        QTRY_COMPARE(server->clientCount(), 1);
        QSignalSpy counts(server.get(), &HostedServer::clientsChanged);
        QSignalSpy gone(&client.socket, &QTcpSocket::disconnected);
        const quint16 oldPort = port();
        server->stop();
        QCOMPARE(server->clientCount(), 0);
        QVERIFY(!server->isListening());
        QCOMPARE(counts.size(), 1);
        QCOMPARE(counts.first().first().toInt(), 0);
        QVERIFY(gone.wait(5000));
        // A broadcast after stop reaches nobody and does not crash.
        live.apply({{QStringLiteral("n"), 1}});

        // Busy port: the error names the port and the system's reason.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        QString error;
        QVERIFY(!server->start(squatter.serverPort(), false, &error));
        QVERIFY2(error.startsWith(QStringLiteral("Could not listen on port %1: ").arg(squatter.serverPort())), qPrintable(error));
        QVERIFY(error.size() > QStringLiteral("Could not listen on port %1: ").arg(squatter.serverPort()).size());

        QVERIFY(server->start(oldPort, false, &error));
        QCOMPARE(server->port(), oldPort);
        LineClient again(oldPort);
        QTRY_COMPARE(again.lines.size(), 1);
    }

    void listensOnLoopbackUnlessNetworkAllowed()
    {
        QString error;
        QVERIFY(server->start(0, false, &error));
        LineClient local(port());
        QTRY_COMPARE(local.lines.size(), 1);
        QCOMPARE(local.socket.peerAddress(), QHostAddress(QHostAddress::LocalHost));

        // Allowed: IPv6 loopback reaches it too, which a 127.0.0.1-only server refuses.
        QVERIFY(server->start(0, true, &error));
        QTcpSocket v6;
        v6.connectToHost(QHostAddress::LocalHostIPv6, port());
        QVERIFY(v6.waitForConnected(5000));
        QTRY_COMPARE(server->clientCount(), 1);

        QVERIFY(server->start(0, false, &error));
        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHostIPv6, port());
        QVERIFY(!refused.waitForConnected(5000));
    }
};

QTEST_GUILESS_MAIN(TestHostedServer)
#include "tst_HostedServer.moc"
