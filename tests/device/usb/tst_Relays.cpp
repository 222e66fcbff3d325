#include "base/Log.h"
#include "device/usb/CloudRelay.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/RelayDial.h"
#include "device/usb/RelayTargets.h"
#include "device/usb/StreamRelay.h"
#include "support/TestNetwork.h"

#include <QJsonDocument>
#include <QNetworkInterface>
#include <QPointer>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace corvane;

namespace {

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + 7) & 0xFF);
    return bytes;
}

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

// A loopback server that keeps its accepted connections and what they sent.
struct Server {
    Server() { QVERIFY(server.listen(QHostAddress::LocalHost)); }
    quint16 port() const { return server.serverPort(); }
    QTcpSocket *accept()
    {
        if (!QTest::qWaitFor([this] { return server.hasPendingConnections(); }, 5000))
            return nullptr;
        QTcpSocket *socket = server.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { received += socket->readAll(); });
        return socket;
    }
    QTcpServer server;
    QByteArray received;
};

// The stream messages a relay sent to the device, parsed.
struct DeviceSide {
    explicit DeviceSide(StreamRelay &relay)
    {
        QObject::connect(&relay, &StreamRelay::toDevice, [this](const QByteArray &payload) {
            StreamMessage message;
            QVERIFY(parseStreamMessage(payload, message));
            messages << message;
        });
    }
    QList<StreamOp> ops() const
    {
        QList<StreamOp> list;
        for (const StreamMessage &m : messages)
            list << m.op;
        return list;
    }
    QList<qsizetype> dataSizes() const
    {
        QList<qsizetype> sizes;
        for (const StreamMessage &m : messages) {
            if (m.op == StreamOp::Data)
                sizes << m.data.size();
        }
        return sizes;
    }
    QByteArray data() const
    {
        QByteArray all;
        for (const StreamMessage &m : messages) {
            if (m.op == StreamOp::Data)
                all += m.data;
        }
        return all;
    }
    QList<StreamMessage> messages;
};

// The log lines written while it lives.
struct LogCapture {
    LogCapture()
    {
        s_current = this;
        setLogSink(&LogCapture::handle);
    }
    ~LogCapture()
    {
        setLogSink(nullptr);
        s_current = nullptr;
    }
    static void handle(LogLevel, const char *line) { s_current->lines << QString::fromUtf8(line); }
    static inline LogCapture *s_current = nullptr;
    QStringList lines;
};

// The relays as they run outside the tests, where loopback is refused too.
struct LoopbackRefused {
    LoopbackRefused() { RelayTargets::setLoopbackAllowedForTesting(false); }
    ~LoopbackRefused() { RelayTargets::setLoopbackAllowedForTesting(true); }
};

} // namespace

class TestRelays : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The stand-ins for cloud hosts below listen on loopback.
    void initTestCase() { RelayTargets::setLoopbackAllowedForTesting(true); }

    // A device may not reach this computer or its local network through either relay, by
    // address or by a name that resolves there: the relay answers as for a failed dial and
    // logs it once.
    void localTargetsAreRefused_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("loopback") << "127.0.0.1";
        QTest::newRow("loopback by name") << "localhost";
        QTest::newRow("IPv6 loopback") << "::1";
        QTest::newRow("IPv4-mapped loopback") << "::ffff:127.0.0.1";
        QTest::newRow("link-local") << "169.254.10.20";
        QTest::newRow("IPv6 link-local") << "fe80::1";
        QTest::newRow("unspecified") << "0.0.0.0";
        QTest::newRow("IPv6 unspecified") << "::";
        QTest::newRow("multicast") << "224.0.0.251";
        QTest::newRow("IPv6 multicast") << "ff02::1";
        QTest::newRow("private network") << "192.168.1.20";
        QTest::newRow("IPv4-compatible private") << "::10.0.0.1";
    }
    void localTargetsAreRefused()
    {
        QFETCH(QString, host);
        LoopbackRefused refused;
        LogCapture log;
        Server local;

        CloudRelay cloud;
        cloud.setTarget(host, local.port());
        cloud.fromDevice(QByteArrayLiteral("secret"));
        QTRY_COMPARE(cloud.lastError(), RelayTargets::refusalText(host));
        QVERIFY(!cloud.isConnected());
        cloud.fromDevice(QByteArrayLiteral("again"));

        StreamRelay streams;
        DeviceSide device(streams);
        streams.configure(QJsonObject{{QStringLiteral("ota"), QJsonObject{{QStringLiteral("host"), host}, {QStringLiteral("port"), local.port()}}}});
        streams.fromDevice(encodeStreamMessage(1, StreamOp::Open, "ota"));
        streams.fromDevice(encodeStreamMessage(2, StreamOp::Open, "ota"));
        QTRY_COMPARE(device.ops(), (QList<StreamOp>{StreamOp::Error, StreamOp::Error}));
        for (const StreamMessage &message : std::as_const(device.messages))
            QCOMPARE(message.data, QByteArrayLiteral("dial_failed"));
        QCOMPARE(streams.lastError(), RelayTargets::refusalText(host));
        QCOMPARE(streams.openCount(), 0);

        QTest::qWait(50);
        QCOMPARE(cloud.lastError(), RelayTargets::refusalText(host));
        QVERIFY(!local.server.hasPendingConnections());
        QCOMPARE(log.lines.filter(QStringLiteral("refused")).size(), 2);
    }

    // `own` stands for this computer's interface addresses.
    void addressesRefusedAndAllowed_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("own");
        QTest::addColumn<bool>("refused");
        const QStringList none;
        const QStringList mine{QStringLiteral("198.51.100.20"), QStringLiteral("2001:db8:1::20"), QStringLiteral("127.0.0.1")};
        QTest::newRow("loopback, anywhere in 127/8") << "127.8.9.10" << none << true;
        QTest::newRow("IPv4-mapped link-local") << "::ffff:169.254.1.1" << none << true;
        QTest::newRow("IPv4-mapped unspecified") << "::ffff:0.0.0.0" << none << true;
        QTest::newRow("this network, 0/8") << "0.1.2.3" << none << true;
        QTest::newRow("private 10/8") << "10.200.3.4" << none << true;
        QTest::newRow("private 172.16/12, first") << "172.16.0.1" << none << true;
        QTest::newRow("private 172.16/12, last") << "172.31.255.254" << none << true;
        QTest::newRow("just past 172.16/12") << "172.32.0.1" << none << false;
        QTest::newRow("private 192.168/16") << "192.168.1.20" << none << true;
        QTest::newRow("shared 100.64/10") << "100.127.255.1" << none << true;
        QTest::newRow("just past 100.64/10") << "100.128.0.1" << none << false;
        QTest::newRow("broadcast") << "255.255.255.255" << none << true;
        QTest::newRow("unique-local fc00::/7") << "fd12:3456::1" << none << true;
        QTest::newRow("site-local fec0::/10") << "fec0::1" << none << true;
        QTest::newRow("NAT64 64:ff9b::/96") << "64:ff9b::cb00:7107" << none << true;
        QTest::newRow("IPv4-mapped private") << "::ffff:10.1.2.3" << none << true;
        QTest::newRow("IPv4-compatible private") << "::192.168.0.9" << none << true;
        QTest::newRow("IPv4-compatible loopback") << "::127.0.0.1" << none << true;
        QTest::newRow("IPv4-compatible public") << "::203.0.113.7" << none << false;
        QTest::newRow("this computer's IPv4") << "198.51.100.20" << mine << true;
        QTest::newRow("this computer's IPv6") << "2001:db8:1::20" << mine << true;
        QTest::newRow("this computer's IPv4, IPv4-mapped") << "::ffff:198.51.100.20" << mine << true;
        QTest::newRow("beside this computer's address") << "198.51.100.21" << mine << false;
        QTest::newRow("public IPv4") << "203.0.113.7" << none << false;
        QTest::newRow("public IPv6") << "2001:db8::7" << none << false;
        QTest::newRow("IPv4-mapped public") << "::ffff:203.0.113.7" << none << false;
    }
    void addressesRefusedAndAllowed()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, own);
        LoopbackRefused refused;
        QList<QHostAddress> ownAddresses;
        for (const QString &text : std::as_const(own))
            ownAddresses.append(QHostAddress(text));
        QTEST(RelayTargets::isRefused(QHostAddress(address), ownAddresses), "refused");
    }

    // This computer's addresses, as its interfaces have them now, are refused.
    void interfaceAddressesAreRefused()
    {
        LoopbackRefused refused;
        for (const QHostAddress &address : QNetworkInterface::allAddresses())
            QVERIFY2(RelayTargets::isRefused(address), qPrintable(address.toString()));
    }

    // A name whose first addresses cannot be dialled, are refused or never answer reaches
    // the host on the next one, through both relays; when no address answers, both answer
    // the device as for any failed dial. 127.0.0.2 is the host, 127.0.0.3 has nothing
    // listening, 127.0.0.4 and ::1 never answer, 127.0.0.5 (written as IPv6) answers too: a
    // family that never answers yields to the other after one address, so it is not reached.
    void namesDialTheirAddressesInTurn_data()
    {
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("error"); // empty when the host is reached
        QTest::newRow("closed, refused, then the host") << QStringList{"127.0.0.3", "10.0.0.1", "127.0.0.2"} << QString();
        QTest::newRow("silent, then the host") << QStringList{"127.0.0.4", "127.0.0.2"} << QString();
        QTest::newRow("only a silent one") << QStringList{"127.0.0.4"} << QAbstractSocket::tr("Connection timed out");
        QTest::newRow("silent IPv6, the host before more IPv6")
            << QStringList{"::1", "::ffff:127.0.0.5", "127.0.0.2"} << QString();
    }
    void namesDialTheirAddressesInTurn()
    {
        QFETCH(QStringList, addresses);
        QFETCH(QString, error);
        QTcpServer cloud;
        QVERIFY(cloud.listen(QHostAddress(QStringLiteral("127.0.0.2"))));
        QSignalSpy accepted(&cloud, &QTcpServer::newConnection);
        const test::SilentPeer silent(QHostAddress(QStringLiteral("127.0.0.4")), cloud.serverPort());
        QVERIFY(silent.isReady());
        const test::SilentPeer silent6(QHostAddress::LocalHostIPv6, cloud.serverPort());
        if (addresses.contains(QStringLiteral("::1")) && !silent6.isReady())
            QSKIP("no IPv6 loopback here");
        QTcpServer later;
        QVERIFY(later.listen(QHostAddress(QStringLiteral("127.0.0.5")), cloud.serverPort()));
        RelayTargets::setLookupForTesting([&](const QString &host) {
            QList<QHostAddress> list;
            for (const QString &address : std::as_const(addresses))
                list.append(QHostAddress(address));
            return host == QLatin1String("cloud.example") ? list : QList<QHostAddress>();
        });
        RelayDial::setConnectDeadlineForTesting(std::chrono::milliseconds(1000));
        const auto restore = qScopeGuard([] {
            RelayTargets::setLookupForTesting(nullptr);
            RelayDial::setConnectDeadlineForTesting(RelayDial::DefaultConnectDeadline);
        });

        CloudRelay relay;
        relay.setTarget(QStringLiteral("cloud.example"), cloud.serverPort());
        relay.fromDevice(QByteArrayLiteral("up"));
        StreamRelay streams;
        DeviceSide device(streams);
        streams.configure(QJsonObject{{QStringLiteral("ota"), QJsonObject{{QStringLiteral("host"), QStringLiteral("cloud.example")},
                                                                           {QStringLiteral("port"), cloud.serverPort()}}}});
        streams.fromDevice(encodeStreamMessage(1, StreamOp::Open, "ota"));

        // Well within Qt's own 30 s connect timeout, which alone would end a silent dial.
        constexpr int kWait = 15000;
        if (error.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(relay.isConnected(), kWait);
            QVERIFY(relay.lastError().isEmpty());
            QTRY_COMPARE_WITH_TIMEOUT(device.ops(), QList<StreamOp>{StreamOp::Opened}, kWait);
            QCOMPARE(streams.openCount(), 1);
            // Both reached the host itself, not the silent address.
            QTRY_COMPARE(accepted.count(), 2);
            QVERIFY(!later.hasPendingConnections());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(relay.lastError(), error, kWait);
        QVERIFY(!relay.isConnected());
        QTRY_COMPARE_WITH_TIMEOUT(device.ops(), QList<StreamOp>{StreamOp::Error}, kWait);
        QCOMPARE(device.messages.at(0).data, QByteArrayLiteral("dial_failed"));
        QCOMPARE(streams.lastError(), error);
        QCOMPARE(streams.streamCount(), 0);
    }

    void cloudBytesWaitForTheConnectionInOrder()
    {
        Server cloud;
        CloudRelay relay;
        QByteArray toDevice;
        connect(&relay, &CloudRelay::toDevice, this, [&](const QByteArray &bytes) { toDevice += bytes; });
        relay.setTarget(QStringLiteral("127.0.0.1"), cloud.port());
        QVERIFY(relay.targetValid());
        relay.fromDevice(QByteArrayLiteral("first "));
        relay.fromDevice(QByteArrayLiteral("second"));
        QTcpSocket *peer = cloud.accept();
        QVERIFY(peer);
        QTRY_COMPARE(cloud.received, QByteArrayLiteral("first second"));
        QVERIFY(relay.isConnected());
        QCOMPARE(relay.pendingSize(), 0);
        peer->write("down");
        QTRY_COMPARE(toDevice, QByteArrayLiteral("down"));
        QCOMPARE(relay.bytesUp(), quint64(12));
        QCOMPARE(relay.bytesDown(), quint64(4));
    }

    void cloudIgnoresBytesWithoutTarget()
    {
        Server cloud;
        CloudRelay relay;
        relay.fromDevice(QByteArrayLiteral("lost"));
        relay.setTarget(QString(), cloud.port());
        QVERIFY(!relay.targetValid());
        relay.fromDevice(QByteArrayLiteral("lost"));
        relay.setTarget(QStringLiteral("127.0.0.1"), 0);
        QVERIFY(!relay.targetValid());
        relay.fromDevice(QByteArrayLiteral("lost"));
        QTest::qWait(100);
        QVERIFY(!cloud.server.hasPendingConnections());
        QCOMPARE(relay.bytesUp(), quint64(0));
    }

    void cloudPendingIsCapped()
    {
        CloudRelay relay;
        relay.setTarget(QStringLiteral("127.0.0.1"), test::unusedLocalPort());
        // No event loop between the calls: the connection cannot be up yet.
        relay.fromDevice(QByteArray(200000, 'a'));
        relay.fromDevice(QByteArray(100000, 'b')); // would exceed 262144: dropped
        relay.fromDevice(QByteArray(62144, 'c'));  // fits exactly
        QCOMPARE(relay.pendingSize(), 262144);
        QCOMPARE(relay.bytesUp(), quint64(362144));
    }

    void cloudNewTargetDropsAndRebuilds()
    {
        Server cloud;
        CloudRelay relay;
        relay.setTarget(QStringLiteral("127.0.0.1"), cloud.port());
        relay.fromDevice(QByteArrayLiteral("a"));
        QPointer<QTcpSocket> first = cloud.accept();
        QTRY_VERIFY(relay.isConnected());
        // The same target again still drops the connection.
        relay.setTarget(QStringLiteral("127.0.0.1"), cloud.port());
        QVERIFY(!relay.isConnected());
        QTRY_VERIFY(!first || first->state() != QAbstractSocket::ConnectedState);
        relay.fromDevice(QByteArrayLiteral("b"));
        QVERIFY(cloud.accept());
        QTRY_VERIFY(relay.isConnected());
    }

    void cloudSharingOffDropsEverything()
    {
        Server cloud;
        CloudRelay relay;
        QSignalSpy status(&relay, &CloudRelay::statusChanged);
        relay.setTarget(QStringLiteral("127.0.0.1"), cloud.port());
        relay.fromDevice(QByteArrayLiteral("a"));
        QPointer<QTcpSocket> peer = cloud.accept();
        QTRY_VERIFY(relay.isConnected());
        status.clear();
        relay.setEnabled(false);
        QCOMPARE(status.count(), 1);
        relay.setEnabled(false);
        QCOMPARE(status.count(), 1);
        QVERIFY(!relay.isConnected());
        QTRY_VERIFY(!peer || peer->state() != QAbstractSocket::ConnectedState);
        relay.fromDevice(QByteArrayLiteral("b"));
        QCOMPARE(relay.pendingSize(), 0);
        QTest::qWait(100);
        QVERIFY(!cloud.server.hasPendingConnections());
    }

    void cloudFailedDialIsRetriedByTheNextBytes()
    {
        const quint16 port = test::unusedLocalPort();
        CloudRelay relay;
        relay.setTarget(QStringLiteral("127.0.0.1"), port);
        relay.fromDevice(QByteArrayLiteral("early "));
        QTRY_VERIFY(!relay.lastError().isEmpty());
        QVERIFY(!relay.isConnected());

        QTcpServer late;
        if (!late.listen(QHostAddress::LocalHost, port))
            QSKIP("the probed port was taken meanwhile");
        relay.fromDevice(QByteArrayLiteral("late"));
        QTRY_VERIFY(late.hasPendingConnections());
        QTcpSocket *peer = late.nextPendingConnection();
        QTRY_VERIFY(relay.isConnected());
        QVERIFY(relay.lastError().isEmpty());
        // What waited for the failed dial went out with the next one.
        QTRY_COMPARE(peer->bytesAvailable(), qint64(10));
        QCOMPARE(peer->readAll(), QByteArrayLiteral("early late"));
    }

    void streamRoutesAreValidated()
    {
        StreamRelay relay;
        relay.configure(json(R"({"ota":{"host":"127.0.0.1","port":8080},
            "spaced":{"host":"bad host","port":1},"huge":{"host":"h","port":70000},
            "zero":{"host":"h"},"empty":{"host":"","port":5},"alpha":{"host":"a.example","port":1}})"));
        QCOMPARE(relay.routeNames(), (QStringList{QStringLiteral("alpha"), QStringLiteral("ota")}));
        QCOMPARE(relay.route(QStringLiteral("ota")).port, quint16(8080));

        DeviceSide device(relay);
        relay.fromDevice(encodeStreamMessage(4, StreamOp::Open, "huge"));
        relay.fromDevice(encodeStreamMessage(0, StreamOp::Open, "ota")); // id 0: ignored
        relay.fromDevice(encodeStreamMessage(5, StreamOp::Open, ""));    // no name: ignored
        relay.fromDevice(QByteArrayLiteral("\x01"));                     // too short: ignored
        QCOMPARE(device.messages.size(), 1);
        QCOMPARE(device.messages.at(0).op, StreamOp::Error);
        QCOMPARE(device.messages.at(0).data, QByteArrayLiteral("unknown_stream"));
        QCOMPARE(relay.lastError(), QStringLiteral("unknown_stream"));

        relay.setEnabled(false);
        relay.fromDevice(encodeStreamMessage(6, StreamOp::Open, "ota"));
        QCOMPARE(device.messages.last().data, QByteArrayLiteral("disabled"));
        QCOMPARE(relay.streamCount(), 0);
    }

    void streamDataFlowsWithinCredit()
    {
        Server server;
        StreamRelay relay;
        DeviceSide device(relay);
        relay.configure(QJsonObject{{QStringLiteral("fw"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), server.port()}}}});
        relay.fromDevice(encodeStreamMessage(7, StreamOp::Open, "fw"));
        // Bytes from the device before the connection wait for it.
        relay.fromDevice(encodeStreamMessage(7, StreamOp::Data, "request"));
        QTcpSocket *peer = server.accept();
        QVERIFY(peer);
        QTRY_COMPARE(device.ops(), QList<StreamOp>{StreamOp::Opened});
        QCOMPARE(relay.openCount(), 1);
        QTRY_COMPARE(server.received, QByteArrayLiteral("request"));

        const QByteArray file = pattern(70000);
        peer->write(file);
        peer->disconnectFromHost();
        QTest::qWait(200);
        QCOMPARE(device.dataSizes().size(), 0); // no credit yet

        relay.fromDevice(streamCreditMessage(7, 0x00010000));
        QTRY_COMPARE(device.dataSizes().size(), 128);
        QCOMPARE(device.dataSizes(), QList<qsizetype>(128, 512));
        QCOMPARE(relay.streamCount(), 1); // bytes remain, so no Close yet

        relay.fromDevice(QByteArrayLiteral("\x07\x06\x01\x02\x03")); // Credit of 3 bytes: ignored
        QTest::qWait(50);
        QCOMPARE(device.dataSizes().size(), 128);

        relay.fromDevice(streamCreditMessage(7, 100000));
        QTRY_COMPARE(device.ops().last(), StreamOp::Close);
        QCOMPARE(device.data(), file);
        QCOMPARE(device.dataSizes().last(), qsizetype(70000 - 136 * 512));
        QCOMPARE(relay.bytesToDevice(), quint64(70000));
        QCOMPARE(relay.bytesFromDevice(), quint64(7));
        QCOMPARE(relay.streamCount(), 0);
        QCOMPARE(relay.openCount(), 0);
    }

    void streamServerClosingAfter2000Bytes()
    {
        Server server;
        StreamRelay relay;
        DeviceSide device(relay);
        relay.configure(QJsonObject{{QStringLiteral("s"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), server.port()}}}});
        relay.fromDevice(encodeStreamMessage(1, StreamOp::Open, "s"));
        QTcpSocket *peer = server.accept();
        QVERIFY(peer);
        QTRY_COMPARE(relay.openCount(), 1);
        // The server sends and closes while the device has granted nothing yet.
        peer->write(pattern(2000));
        peer->disconnectFromHost();
        QTest::qWait(200);
        QCOMPARE(relay.streamCount(), 1);
        relay.fromDevice(streamCreditMessage(1, 4096));
        QTRY_COMPARE(device.ops().last(), StreamOp::Close);
        QCOMPARE(device.dataSizes(), (QList<qsizetype>{512, 512, 512, 464}));
        QCOMPARE(device.data(), pattern(2000));
    }

    // Before its connection is up a stream holds at most 65536 bytes from the device; what
    // would go past that is lost, and what fits after it still counts.
    void streamPendingIsCapped()
    {
        Server server;
        StreamRelay relay;
        relay.configure(QJsonObject{{QStringLiteral("p"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), server.port()}}}});
        relay.fromDevice(encodeStreamMessage(9, StreamOp::Open, "p"));
        // No event loop between the calls: the connection cannot be up yet.
        relay.fromDevice(encodeStreamMessage(9, StreamOp::Data, QByteArray(60000, 'a')));
        relay.fromDevice(encodeStreamMessage(9, StreamOp::Data, QByteArray(6000, 'b'))); // would exceed: dropped
        relay.fromDevice(encodeStreamMessage(9, StreamOp::Data, QByteArray(5536, 'c'))); // fits exactly
        QVERIFY(server.accept());
        QTRY_COMPARE(server.received.size(), qsizetype(65536));
        QTest::qWait(50);
        QCOMPARE(server.received, QByteArray(60000, 'a') + QByteArray(5536, 'c'));
        QCOMPARE(relay.bytesFromDevice(), quint64(71536));
    }

    // Credit adds up to 16777216 and stays there, however large the grants.
    void streamCreditIsCappedWithoutWrapping()
    {
        Server server;
        StreamRelay relay;
        DeviceSide device(relay);
        relay.configure(QJsonObject{{QStringLiteral("c"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), server.port()}}}});
        relay.fromDevice(encodeStreamMessage(4, StreamOp::Open, "c"));
        QTcpSocket *peer = server.accept();
        QVERIFY(peer);
        QTRY_COMPARE(relay.openCount(), 1);
        relay.fromDevice(streamCreditMessage(4, 16777000));
        QCOMPARE(relay.credit(4), quint32(16777000));
        relay.fromDevice(streamCreditMessage(4, 0xFFFFFFFF));
        QCOMPARE(relay.credit(4), quint32(16777216));
        relay.fromDevice(streamCreditMessage(4, 0xFFFFFFFF));
        QCOMPARE(relay.credit(4), quint32(16777216));
        peer->write(pattern(1000));
        QTRY_COMPARE(device.data().size(), qsizetype(1000));
        QCOMPARE(relay.credit(4), quint32(16777216 - 1000));
        QCOMPARE(relay.credit(5), quint32(0)); // no such stream
    }

    // A stream the device closes goes quietly: the server's connection ends and the device
    // gets no Close back.
    void streamClosedByTheDeviceIsNotAnswered()
    {
        Server server;
        StreamRelay relay;
        DeviceSide device(relay);
        relay.configure(QJsonObject{{QStringLiteral("s"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), server.port()}}}});
        relay.fromDevice(encodeStreamMessage(5, StreamOp::Open, "s"));
        QPointer<QTcpSocket> peer = server.accept();
        QVERIFY(peer);
        QTRY_COMPARE(device.ops(), QList<StreamOp>{StreamOp::Opened});
        relay.fromDevice(encodeStreamMessage(5, StreamOp::Close));
        QCOMPARE(relay.streamCount(), 0);
        QCOMPARE(relay.openCount(), 0);
        QTRY_VERIFY(!peer || peer->state() != QAbstractSocket::ConnectedState);
        QTest::qWait(50);
        QCOMPARE(device.ops(), QList<StreamOp>{StreamOp::Opened});
    }

    void streamReopenAndDialFailure()
    {
        Server server;
        StreamRelay relay;
        DeviceSide device(relay);
        const quint16 dead = test::unusedLocalPort();
        relay.configure(QJsonObject{
            {QStringLiteral("live"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), server.port()}}},
            {QStringLiteral("dead"), QJsonObject{{QStringLiteral("host"), QStringLiteral("127.0.0.1")}, {QStringLiteral("port"), dead}}},
        });
        relay.fromDevice(encodeStreamMessage(2, StreamOp::Open, "live"));
        QPointer<QTcpSocket> first = server.accept();
        QTRY_COMPARE(device.ops(), QList<StreamOp>{StreamOp::Opened});
        // The same id again: the old stream goes silently, a new one starts.
        relay.fromDevice(encodeStreamMessage(2, StreamOp::Open, "live"));
        QVERIFY(server.accept());
        QTRY_COMPARE(device.ops(), (QList<StreamOp>{StreamOp::Opened, StreamOp::Opened}));
        QTRY_VERIFY(!first || first->state() != QAbstractSocket::ConnectedState);
        QCOMPARE(relay.streamCount(), 1);

        relay.fromDevice(encodeStreamMessage(3, StreamOp::Open, "dead"));
        QTRY_COMPARE(device.messages.size(), 3);
        QCOMPARE(device.messages.last().id, quint8(3));
        QCOMPARE(device.messages.last().op, StreamOp::Error);
        QCOMPARE(device.messages.last().data, QByteArrayLiteral("dial_failed"));
        QVERIFY(!relay.lastError().isEmpty());
        QCOMPARE(relay.streamCount(), 1);

        // reset tells the device nothing.
        relay.reset();
        QCOMPARE(relay.streamCount(), 0);
        QCOMPARE(device.messages.size(), 3);
        QVERIFY(relay.lastError().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRelays)
#include "tst_Relays.moc"
