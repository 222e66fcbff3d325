// The helper's protocol layer as plain functions: field reading, line building, the
// command line and the small conversions behind the Bluetooth operations; and the operations
// themselves over a scripted platform, for what the simulated radio cannot show.

#include "BleOperations.h"
#include "BlePlatform.h"
#include "HelperProtocol.h"

#include <QTest>

#include <vector>

using namespace corvane::helper;

Q_DECLARE_METATYPE(std::string)

namespace {

// A platform whose device is always in range and answers every step at once; a test hides
// one characteristic or refuses the subscription, and sees whether anything is still held.
class ScriptedPlatform : public BlePlatform {
public:
    std::string hiddenCharacteristic;
    GattStatus subscribeStatus = GattStatus::Success;
    bool held = false;

    Step adapter(Adapter *state) override
    {
        *state = Adapter::Ready;
        return {};
    }
    Step startScan(AdvertisementHandler) override { return {}; }
    Step stopScan() override { return {}; }
    Step openDevice(std::uint64_t, bool *found) override
    {
        held = *found = true;
        return {};
    }
    Step findService(const std::string &, GattStatus *status, int *count) override
    {
        *status = GattStatus::Success;
        *count = 1;
        return {};
    }
    Step findCharacteristic(const std::string &uuid, GattStatus *status, int *count) override
    {
        *status = GattStatus::Success;
        *count = uuid == hiddenCharacteristic ? 0 : 1;
        return {};
    }
    void watch(ValueHandler, LinkLostHandler) override {}
    Step subscribe(GattStatus *status) override
    {
        *status = subscribeStatus;
        return {};
    }
    Step maxPduSize(int *size) override
    {
        *size = 247;
        return {};
    }
    Step write(const std::string &, GattStatus *status) override
    {
        *status = GattStatus::Success;
        return {};
    }
    void release() override { held = false; }
};

// The operations on a scripted platform, with every line they send.
struct Operations {
    ScriptedPlatform platform;
    std::vector<std::string> sent;
    std::vector<int> scanWaits;
    BleOperations operations{platform, [this](const std::string &line) { sent.push_back(line); }};

    Operations()
    {
        operations.setScanWaitForTesting([this](int ms) { scanWaits.push_back(ms); });
    }
    std::string request(const std::string &line)
    {
        operations.handleLine(line);
        return sent.empty() ? std::string() : sent.back();
    }
};

} // namespace

class TestHelperProtocol : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fieldInt_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<qint64>("value");
        QTest::newRow("plain") << QByteArray("{\"op\":\"scan\",\"reqId\":42}") << qint64(42);
        QTest::newRow("spaces and sign") << QByteArray("{\"reqId\":   -7 }") << qint64(-7);
        QTest::newRow("stops at non-digit") << QByteArray("{\"reqId\":12ab}") << qint64(12);
        QTest::newRow("no digits") << QByteArray("{\"reqId\":\"x\"}") << qint64(0);
        QTest::newRow("missing key") << QByteArray("{\"op\":\"start\"}") << qint64(-1);
        QTest::newRow("key without colon") << QByteArray("{\"reqId\"") << qint64(-1);
        QTest::newRow("first occurrence wins") << QByteArray("{\"reqId\":3,\"x\":{\"reqId\":9}}") << qint64(3);
        QTest::newRow("64-bit") << QByteArray("{\"reqId\":9007199254740993}") << qint64(9007199254740993LL);
        QTest::newRow("saturates") << QByteArray("{\"reqId\":99999999999999999999}") << qint64(INT64_MAX);
        QTest::newRow("key must be quoted") << QByteArray("{reqId:5}") << qint64(-1);
    }
    void fieldInt()
    {
        QFETCH(QByteArray, line);
        QFETCH(qint64, value);
        QCOMPARE(qint64(corvane::helper::fieldInt(line.toStdString(), "reqId", -1)), value);
    }

    void fieldString_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("plain") << QByteArray("{\"op\":\"connect\"}") << QByteArray("connect");
        QTest::newRow("space after colon") << QByteArray("{\"op\": \"write\"}") << QByteArray("write");
        QTest::newRow("escapes are literal") << QByteArray("{\"op\":\"a\\\"b\\\\c\\/d\\ne\"}") << QByteArray("a\"b\\c/dne");
        QTest::newRow("no closing quote") << QByteArray("{\"op\":\"sca") << QByteArray("sca");
        QTest::newRow("not a string") << QByteArray("{\"op\":5}") << QByteArray();
        QTest::newRow("missing") << QByteArray("{\"reqId\":1}") << QByteArray();
        QTest::newRow("empty") << QByteArray("{\"op\":\"\"}") << QByteArray();
        QTest::newRow("no unicode decoding") << QByteArray("{\"op\":\"\\u0041\"}") << QByteArray("u0041");
    }
    void fieldString()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, value);
        QCOMPARE(QByteArray::fromStdString(corvane::helper::fieldString(line.toStdString(), "op")), value);
    }

    void linesAreExactBytes()
    {
        QCOMPARE(helloLine("ab\"c"), std::string("{\"hello\":\"ab\\\"c\"}"));
        QCOMPARE(okLine(7, "{}"), std::string("{\"reqId\":7,\"ok\":true,\"result\":{}}"));
        // The message is escaped (quote, backslash, control bytes as spaces; UTF-8 kept),
        // the code is not.
        QCOMPARE(errorLine(-1, "ble_error", "say \"hi\"\\\n\tnow \xC3\xA9"),
                 std::string("{\"reqId\":-1,\"ok\":false,\"error\":{\"code\":\"ble_error\",\"message\":\"say \\\"hi\\\"\\\\  now \xC3\xA9\"}}"));
        QCOMPARE(dataEventLine(std::string("\x00\xFF{", 3)), std::string("{\"ev\":\"data\",\"b64\":\"AP97\"}"));
        QCOMPARE(std::string(disconnectedEventLine()), std::string("{\"ev\":\"disconnected\",\"reason\":\"\"}"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("port");
        QTest::newRow("port") << QStringList{"--port", "4100"} << true << 4100;
        QTest::newRow("any order, other options beside") << QStringList{"--token", "t1", "--port", "4100"} << true << 4100;
        QTest::newRow("no arguments") << QStringList{} << false << 0;
        QTest::newRow("port without value") << QStringList{"--port"} << false << 0;
        QTest::newRow("zero") << QStringList{"--port", "0"} << false << 0;
        QTest::newRow("negative") << QStringList{"--port", "-5"} << false << 0;
        QTest::newRow("not a number") << QStringList{"--port", "http"} << false << 0;
        QTest::newRow("beyond 16 bits") << QStringList{"--port", "70000"} << false << 0;
        QTest::newRow("only a token") << QStringList{"--token", "t1"} << false << 0;
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        std::vector<std::string> storage{"corvane-ble-helper"};
        for (const QString &arg : args)
            storage.push_back(arg.toStdString());
        std::vector<const char *> argv;
        for (const std::string &arg : storage)
            argv.push_back(arg.c_str());
        const CommandLine parsed = parseCommandLine(int(argv.size()), argv.data());
        QCOMPARE(parsed.ok, ok);
        if (ok)
            QTEST(parsed.port, "port");
    }

    void conversions()
    {
        const struct {
            qint64 ms;
            int scan;
        } scans[] = {{100, 500}, {6000, 6000}, {60000, 30000}, {-4, 500}, {30000, 30000}};
        for (const auto &c : scans)
            QCOMPARE(clampScanMs(c.ms), c.scan);

        const struct {
            std::optional<int> pdu;
            int payload;
        } pdus[] = {{23, 20}, {185, 182}, {247, 244}, {517, 244}, {std::nullopt, 20}, {10, 20}, {24, 21}};
        for (const auto &c : pdus)
            QCOMPARE(writePayloadForPdu(c.pdu), c.payload);

        QCOMPARE(deviceIdText(0xABCDEFull), std::string("000000ABCDEF"));
        QCOMPARE(parseDeviceAddress("00A1B2C3D4E5"), 0xA1B2C3D4E5ull);
        QCOMPARE(parseDeviceAddress("  0xc0ffee000029zz"), 0xC0FFEE000029ull);
        QCOMPARE(parseDeviceAddress("nothing"), 0ull);

        const std::vector<std::string> service{"6e400001-b5a3-f393-e0a9-e50e24dcca9e"};
        QVERIFY(advertisementMatches("", service));
        QVERIFY(advertisementMatches("Corvane-0029", {}));
        QVERIFY(!advertisementMatches("corvane-x", {}));
        QVERIFY(!advertisementMatches("Corvan", {"0000180F-0000-1000-8000-00805F9B34FB"}));
    }

    // One spelling per byte string: a text is taken only when it is exactly what
    // encodeBase64 writes for the bytes it decodes to.
    void base64_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("canonical");
        QByteArray everyByte(256, 0);
        for (int i = 0; i < 256; ++i)
            everyByte[i] = char(i);
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("one byte") << QByteArray("YQ==") << true;
        QTest::newRow("two bytes") << QByteArray("YWI=") << true;
        QTest::newRow("three bytes") << QByteArray("YWJj") << true;
        QTest::newRow("every byte value") << everyByte.toBase64() << true;
        QTest::newRow("unused bits after one byte") << QByteArray("YR==") << false;
        QTest::newRow("unused bits after two bytes") << QByteArray("YWJ=") << false;
        QTest::newRow("unused bits in a later group") << QByteArray("session=") << false;
        QTest::newRow("padding in a middle group") << QByteArray("YQ==YWI=") << false;
        QTest::newRow("padding before data") << QByteArray("YW=j") << false;
        QTest::newRow("three padding characters") << QByteArray("Y===") << false;
        QTest::newRow("only padding") << QByteArray("====") << false;
        QTest::newRow("no padding") << QByteArray("YQ") << false;
        QTest::newRow("length not a multiple of four") << QByteArray("YWJjZ") << false;
        QTest::newRow("space") << QByteArray("YW J") << false;
        QTest::newRow("URL-safe alphabet") << QByteArray("-_-_") << false;
    }
    void base64()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, canonical);
        std::string bytes;
        QCOMPARE(decodeBase64(text.toStdString(), &bytes), canonical);
        if (canonical) {
            QCOMPARE(QByteArray::fromStdString(bytes), QByteArray::fromBase64(text));
            QCOMPARE(QByteArray::fromStdString(encodeBase64(bytes)), text);
        }
    }

    void scanLastsItsDuration_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("ms");
        QTest::newRow("no ms: the default") << QByteArray("{\"op\":\"scan\",\"reqId\":1}") << 6000;
        QTest::newRow("too short") << QByteArray("{\"op\":\"scan\",\"reqId\":1,\"ms\":100}") << 500;
        QTest::newRow("too long") << QByteArray("{\"op\":\"scan\",\"reqId\":1,\"ms\":60000}") << 30000;
    }
    void scanLastsItsDuration()
    {
        QFETCH(QByteArray, line);
        Operations o;
        QCOMPARE(o.request(line.toStdString()), std::string("{\"reqId\":1,\"ok\":true,\"result\":{\"devices\":[],\"seen\":0}}"));
        QFETCH(int, ms);
        QCOMPARE(o.scanWaits, std::vector<int>{ms});
    }

    // A device without both Corvane characteristics, or one that refuses the subscription, is
    // not connected; a refused subscription also lets go of the device at once.
    void connectRefusals_data()
    {
        QTest::addColumn<std::string>("hidden");
        QTest::addColumn<int>("subscribe");
        QTest::addColumn<std::string>("reply");
        const std::string noCharacteristics =
            "{\"reqId\":5,\"ok\":false,\"error\":{\"code\":\"not_corvane\",\"message\":\"The device did not expose the Corvane service.\"}}";
        QTest::newRow("no write characteristic") << std::string(kWriteUuid) << int(GattStatus::Success) << noCharacteristics;
        QTest::newRow("no notify characteristic") << std::string(kNotifyUuid) << int(GattStatus::Success) << noCharacteristics;
        QTest::newRow("subscription refused")
            << std::string() << int(GattStatus::AccessDenied)
            << std::string("{\"reqId\":5,\"ok\":false,\"error\":{\"code\":\"not_paired\",\"message\":\"Could not subscribe to the device. "
                           "Make sure it is paired in Windows Bluetooth settings.\"}}");
    }
    void connectRefusals()
    {
        QFETCH(std::string, hidden);
        QFETCH(int, subscribe);
        Operations o;
        o.platform.hiddenCharacteristic = hidden;
        o.platform.subscribeStatus = GattStatus(subscribe);
        QTEST(o.request("{\"op\":\"connect\",\"reqId\":5,\"id\":\"00A1B2C3D4E5\"}"), "reply");
        QCOMPARE(o.request("{\"op\":\"write\",\"reqId\":9,\"b64\":\"e30=\"}"),
                 std::string("{\"reqId\":9,\"ok\":false,\"error\":{\"code\":\"disconnected\",\"message\":\"Not connected\"}}"));
        if (GattStatus(subscribe) != GattStatus::Success)
            QVERIFY(!o.platform.held);
    }
};

QTEST_GUILESS_MAIN(TestHelperProtocol)
#include "tst_HelperProtocol.moc"
