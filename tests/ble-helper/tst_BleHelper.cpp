// corvane-ble-helper as a process, driven by a test that plays the plugin: its exit
// statuses, the hello and the framing of the protocol, and the Bluetooth operations against
// corvane-devsim's simulated peripheral (or the real platform, which has no adapter here).

#include "HelperPeer.h"

#include "support/TestNetwork.h"
#include "support/DevSimProcess.h"

#include <algorithm>
#include <memory>

namespace {

const QByteArray NotConnected = "{\"reqId\":9,\"ok\":false,\"error\":{\"code\":\"disconnected\",\"message\":\"Not connected\"}}";
const QByteArray Refused = "The device refused the request.";
const QByteArray NoService = "The device did not expose the Corvane service. Pair it in Windows Bluetooth settings first.";

// The simulated peripheral and one helper on it.
struct Air {
    Air()
        : sim({QStringLiteral("--ble-port"), QStringLiteral("0"), QStringLiteral("--live-ms"), QStringLiteral("0"),
               QStringLiteral("--feed-port"), QStringLiteral("0")})
    {
        address = sim.waitFor(QStringLiteral("BLE ")).mid(4);
        helper = std::make_unique<HelperPeer>(address);
        hello = helper->line();
    }
    QByteArray connect(const QByteArray &id = "00A1B2C3D4E5")
    {
        return helper->request("{\"op\":\"connect\",\"reqId\":5,\"id\":\"" + id + "\"}");
    }
    QByteArray write(const QByteArray &bytes)
    {
        return helper->request("{\"op\":\"write\",\"reqId\":9,\"b64\":\"" + bytes.toBase64() + "\"}");
    }

    DevSimProcess sim;
    QString address;
    std::unique_ptr<HelperPeer> helper;
    QByteArray hello;
};

QByteArray errorReply(int reqId, const QByteArray &code, const QByteArray &message)
{
    return "{\"reqId\":" + QByteArray::number(reqId) + ",\"ok\":false,\"error\":{\"code\":\"" + code + "\",\"message\":\"" + message + "\"}}";
}

} // namespace

class TestBleHelper : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        const QString closed = QString::number(corvane::test::unusedLocalPort());
        QTest::newRow("no arguments") << QStringList{} << 64;
        QTest::newRow("port without value") << QStringList{"--port"} << 64;
        QTest::newRow("port 0") << QStringList{"--port", "0", "--token", "x"} << 64;
        QTest::newRow("nothing listens") << QStringList{"--port", closed, "--token", "x"} << 2;
    }
    void exitStatuses()
    {
        QFETCH(QStringList, args);
        QProcess helper;
        helper.start(QStringLiteral(CORVANE_BLE_HELPER), args);
        QVERIFY(helper.waitForFinished(10000));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QTEST(helper.exitCode(), "status");
        QVERIFY(helper.readAll().isEmpty()); // the socket is its only channel
    }

    void helloFramingAndQuit()
    {
        Air air;
        QCOMPARE(air.hello, QByteArray("{\"hello\":\"t0k3n\"}"));

        // An empty line is a request without op or reqId.
        air.helper->send("\n");
        QCOMPARE(air.helper->line(), errorReply(-1, "unknown_op", "unknown request"));
        // Two requests in one segment, answered in order.
        air.helper->send("{\"op\":\"disconnect\",\"reqId\":1}\n{\"op\":\"Start\",\"reqId\":2}\n");
        QCOMPARE(air.helper->line(), QByteArray("{\"reqId\":1,\"ok\":true,\"result\":{}}"));
        QCOMPARE(air.helper->line(), errorReply(2, "unknown_op", "unknown request"));
        // A request split over two segments is answered once its line feed is in.
        air.helper->send("{\"op\":\"disconn");
        QTest::qWait(100);
        air.helper->send("ect\",\"reqId\":3}\n");
        QCOMPARE(air.helper->line(), QByteArray("{\"reqId\":3,\"ok\":true,\"result\":{}}"));

        air.helper->send("{\"op\":\"quit\",\"reqId\":0}\n");
        QCOMPARE(air.helper->exitCode(), 0);
        QVERIFY(!air.helper->socket->canReadLine());
    }

    // The token comes from the environment, which other users cannot read, never from the
    // command line, which they can.
    void helloCarriesTheEnvironmentToken_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QByteArray>("hello");
        QTest::newRow("none") << QByteArray() << QStringList{} << QByteArray("{\"hello\":\"\"}");
        QTest::newRow("a --token beside it") << QByteArray("env-t0k3n") << QStringList{"--token", "argv-t0k3n"}
                                             << QByteArray("{\"hello\":\"env-t0k3n\"}");
    }
    void helloCarriesTheEnvironmentToken()
    {
        QFETCH(QByteArray, token);
        QFETCH(QStringList, extra);
        HelperPeer helper(QString{}, token, extra);
        QVERIFY(helper.socket);
        QTEST(helper.line(), "hello");
        // The plugin closing the connection ends the helper.
        helper.socket->close();
        QCOMPARE(helper.exitCode(), 0);
    }

    void connectReadsAnyKeyOrderAndSpacing()
    {
        Air air;
        const QByteArray expected = "{\"reqId\":5,\"ok\":true,\"result\":{\"writePayload\":244,\"pipe\":false}}";
        QCOMPARE(air.helper->request("{\"op\":\"connect\",\"reqId\":5,\"id\":\"00A1B2C3D4E5\"}"), expected);
        QCOMPARE(air.helper->request("{ \"id\": \"00A1B2C3D4E5\", \"reqId\": 5,   \"op\": \"connect\" }"), expected);
    }

    void writeDuringScanIsAnsweredAfterIt()
    {
        Air air;
        air.helper->send("{\"op\":\"scan\",\"reqId\":1,\"ms\":800}" "\n");
        QVERIFY(!air.sim.waitFor(QStringLiteral("BLE-SCAN start")).isEmpty());
        air.helper->send("{\"op\":\"write\",\"reqId\":9,\"b64\":\"e30=\"}" "\n");
        QVERIFY(air.helper->line().startsWith("{\"reqId\":1,\"ok\":true,\"result\":{\"devices\":["));
        QCOMPARE(air.helper->line(), NotConnected);
    }

    void scanMatchesAndNames()
    {
        Air air;
        QCOMPARE(air.helper->request("{\"op\":\"scan\",\"reqId\":1,\"ms\":100}"),
                 QByteArray("{\"reqId\":1,\"ok\":true,\"result\":{\"devices\":["
                            "{\"id\":\"00A1B2C3D4E5\",\"name\":\"\",\"rssi\":-55},"
                            "{\"id\":\"0E0E0E0E0E0E\",\"name\":\"Rink 2\",\"rssi\":-68},"
                            "{\"id\":\"C0FFEE000029\",\"name\":\"Corvane-0029\",\"rssi\":-70}],\"seen\":6}}"));
        // Names heard by an earlier scan are not carried into the next one.
        QVERIFY(air.sim.command(QStringLiteral("ble-names off")));
        QCOMPARE(air.helper->request("{\"op\":\"scan\",\"reqId\":2,\"ms\":100}"),
                 QByteArray("{\"reqId\":2,\"ok\":true,\"result\":{\"devices\":["
                            "{\"id\":\"00A1B2C3D4E5\",\"name\":\"\",\"rssi\":-55},"
                            "{\"id\":\"0E0E0E0E0E0E\",\"name\":\"\",\"rssi\":-68}],\"seen\":6}}"));
    }

    void writePayloadFollowsPduSize_data()
    {
        QTest::addColumn<QString>("pdu");
        QTest::addColumn<int>("payload");
        QTest::newRow("23") << "23" << 20;
        QTest::newRow("185") << "185" << 182;
        QTest::newRow("247") << "247" << 244;
        QTest::newRow("517") << "517" << 244;
        QTest::newRow("unreadable") << "none" << 20;
    }
    void writePayloadFollowsPduSize()
    {
        QFETCH(QString, pdu);
        QFETCH(int, payload);
        Air air;
        QVERIFY(air.sim.command(QStringLiteral("ble-pdu ") + pdu));
        QCOMPARE(air.connect(), QByteArray("{\"reqId\":5,\"ok\":true,\"result\":{\"writePayload\":") + QByteArray::number(payload)
                                     + ",\"pipe\":false}}");
    }

    void connectFailures_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray notFound = "That device is not in range. Scan again and pick it from the list.";
        QTest::newRow("unknown address") << QString() << QByteArray("FFFFFFFFFFFF") << errorReply(5, "not_found", notFound);
        QTest::newRow("out of range") << "ble-away on" << QByteArray("00A1B2C3D4E5") << errorReply(5, "not_found", notFound);
        QTest::newRow("service refused") << "ble-deny service" << QByteArray("00A1B2C3D4E5") << errorReply(5, "not_paired", NoService);
        QTest::newRow("not a Corvane") << QString() << QByteArray("5A5A5A5A5A5A") << errorReply(5, "not_corvane", NoService);
        QTest::newRow("subscription refused")
            << "ble-deny subscribe" << QByteArray("00A1B2C3D4E5")
            << errorReply(5, "not_paired", "Could not subscribe to the device. Make sure it is paired in Windows Bluetooth settings.");
    }
    void connectFailures()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, id);
        Air air;
        if (!command.isEmpty())
            QVERIFY(air.sim.command(command));
        QTEST(air.connect(id), "reply");
        // No failed connect leaves a connection to write on.
        QCOMPARE(air.write("{}"), NotConnected);
    }

    void writes()
    {
        Air air;
        QCOMPARE(air.write("{}"), NotConnected);
        QVERIFY(air.connect().contains("\"ok\":true"));
        // The write's reply and the device's answer as a notification event, in either
        // order: the event comes from the platform's thread.
        air.helper->send("{\"op\":\"write\",\"reqId\":9,\"b64\":\"" + QByteArray("{\"id\":1,\"method\":\"getStatus\"}").toBase64() + "\"}\n");
        QList<QByteArray> lines{air.helper->line(), air.helper->line()};
        std::sort(lines.begin(), lines.end());
        QCOMPARE(lines.at(1), QByteArray("{\"reqId\":9,\"ok\":true,\"result\":{}}"));
        QVERIFY2(lines.at(0).startsWith("{\"ev\":\"data\",\"b64\":\""), lines.at(0));

        QVERIFY(air.sim.command(QStringLiteral("ble-deny write")));
        QCOMPARE(air.write("{}"), errorReply(9, "not_paired", Refused));
        QVERIFY(air.sim.command(QStringLiteral("ble-deny off")));
        // "{}" is "e30="; the same bytes spelled with a non-zero unused bit are refused.
        QCOMPARE(air.helper->request("{\"op\":\"write\",\"reqId\":9,\"b64\":\"e31=\"}"), errorReply(9, "ble_error", "The data to write is not valid Base64."));

        // Link loss is an event; the connection stays, and the next write fails.
        QVERIFY(air.sim.command(QStringLiteral("ble-drop")));
        QCOMPARE(air.helper->line(), QByteArray("{\"ev\":\"disconnected\",\"reason\":\"\"}"));
        QCOMPARE(air.write("{}"), errorReply(9, "ble_error", Refused));

        QCOMPARE(air.helper->request("{\"op\":\"disconnect\",\"reqId\":4}"), QByteArray("{\"reqId\":4,\"ok\":true,\"result\":{}}"));
        QCOMPARE(air.write("{}"), NotConnected);
    }

    void qtBluetoothWithoutAdapter()
    {
        HelperPeer helper(QString{});
        QCOMPARE(helper.line(), QByteArray("{\"hello\":\"t0k3n\"}"));
        QCOMPARE(helper.request("{\"op\":\"start\",\"reqId\":1}"),
                 errorReply(1, "bluetooth_unavailable", "No Bluetooth adapter was found on this computer."));
        QCOMPARE(helper.request("{\"op\":\"write\",\"reqId\":9,\"b64\":\"e30=\"}"), NotConnected);
        QCOMPARE(helper.request("{\"op\":\"disconnect\",\"reqId\":3}"), QByteArray("{\"reqId\":3,\"ok\":true,\"result\":{}}"));
        // Leaving takes the platform thread down cleanly.
        helper.send("{\"op\":\"quit\",\"reqId\":0}\n");
        QCOMPARE(helper.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestBleHelper)
#include "tst_BleHelper.moc"
