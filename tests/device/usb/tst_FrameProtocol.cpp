#include "device/usb/FrameProtocol.h"

#include <QJsonDocument>
#include <QTest>

using namespace corvane;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// A message of n bytes whose bytes tell their position, so a misplaced slice shows.
QByteArray patterned(int n)
{
    QByteArray out(n, '\0');
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return out;
}

QByteArray frameBody(const QByteArray &frame)
{
    return frame.mid(kFrameHeaderSize, frame.size() - kFrameOverhead);
}

} // namespace

class TestFrameProtocol : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Expected bytes computed by a separate bit-by-bit reference, not by this code.
    void crcGoldenValues()
    {
        QCOMPARE(frameCrc(QByteArray("123456789")), quint16(0x29B1));
        QCOMPARE(frameCrc(QByteArray()), quint16(0xFFFF));
        QByteArray ramp;
        for (int round = 0; round < 8; ++round)
            for (int i = 0; i < 256; ++i)
                ramp.append(static_cast<char>(i));
        QCOMPARE(frameCrc(ramp), quint16(0x2A31));
        QCOMPARE(frameCrc(hex("004356")), quint16(0xAE30));
    }

    void encodeGoldenFrames_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("ping") << 3 << QByteArray(R"({"t":"ping"})")
                              << hex("004356030C007B2274223A2270696E67227DDC00");
        QTest::newRow("hello") << 3 << QByteArray(R"({"t":"hello","streams":1})")
                               << hex("004356031900" "7B2274223A2268656C6C6F222C2273747265616D73223A317D" "569B");
        QTest::newRow("empty") << 1 << QByteArray() << hex("0043560100 00FFFF");
        QTest::newRow("rpc") << 4 << QByteArray(R"({"id":1,"method":"getStatus","params":{}})")
                             << hex("004356042900"
                                    "7B226964223A312C226D6574686F64223A22676574537461747573222C22706172616D73223A7B7D7D"
                                    "3A63");
        QTest::newRow("stream credit") << 5 << hex("070610000000") << hex("004356050600070610000000" "7310");
    }
    void encodeGoldenFrames()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, expected);
        QCOMPARE(encodeFrame(static_cast<quint8>(type), payload).toHex(' '), expected.toHex(' '));
    }

    void encodeRefusesOversizedPayload()
    {
        const QByteArray largest = encodeFrame(UsbFrameType::Tunnel, patterned(2048));
        QCOMPARE(largest.size(), 2056);
        QCOMPARE(largest.mid(4, 2), hex("0008"));
        QVERIFY(encodeFrame(UsbFrameType::Tunnel, patterned(2049)).isEmpty());
    }

    // The bytes on the line, key order included: "t" leads, as the device reads it first.
    void controlBytes_data()
    {
        QTest::addColumn<QJsonObject>("message");
        QTest::addColumn<QByteArray>("payload");
        QTest::newRow("ping") << pingRequest() << QByteArray(R"({"t":"ping"})");
        QTest::newRow("hello") << helloRequest() << QByteArray(R"({"t":"hello","streams":1})");
        QTest::newRow("rx_set key") << receiverSetRequest(QStringLiteral("  ab12 \n"), false)
                                    << QByteArray(R"({"t":"rx_set","key":"ab12"})");
        QTest::newRow("rx_set new key") << receiverSetRequest(QStringLiteral("ab12"), true)
                                        << QByteArray(R"({"t":"rx_set","generate_key":true})");
    }
    void controlBytes()
    {
        QFETCH(QJsonObject, message);
        QFETCH(QByteArray, payload);
        QCOMPARE(frameBody(encodeControl(message)), payload);
    }

    void controlHelpers()
    {
        QCOMPARE(encodeControl(pingRequest()), hex("004356030C007B2274223A2270696E67227DDC00"));
        // Nothing to send: the caller sees neither key and refuses the request.
        QCOMPARE(receiverSetRequest(QStringLiteral("   "), false).keys(), QStringList{QStringLiteral("t")});

        QCOMPARE(parseControl(R"({"t":"hello","tunnel":{"host":"h","port":5}})").value(QStringLiteral("t")).toString(),
                 QStringLiteral("hello"));
        QVERIFY(parseControl("[1,2]").isEmpty());
        QVERIFY(parseControl("{\"t\":").isEmpty());
        QVERIFY(parseControl(QByteArray()).isEmpty());
    }

    void streamMessages()
    {
        QCOMPARE(encodeStreamMessage(3, StreamOp::Data, "abc"), hex("0304616263"));
        QCOMPARE(encodeStreamMessage(3, StreamOp::Opened), hex("0302"));
        QCOMPARE(streamErrorMessage(9, QByteArray(40, 'x')).size(), 2 + kMaxStreamErrorReason);
        QCOMPARE(streamErrorMessage(9, "dial_failed"), QByteArray("\x09\x03" "dial_failed"));
        QCOMPARE(streamCreditMessage(2, 0x01020304u), hex("020604030201"));

        StreamMessage message;
        QVERIFY(parseStreamMessage(hex("0206FFFFFF00"), message));
        QCOMPARE(message.id, quint8(2));
        QCOMPARE(message.op, StreamOp::Credit);
        QCOMPARE(message.credit, 0x00FFFFFFu);

        QVERIFY(parseStreamMessage(hex("0501") + "route", message));
        QCOMPARE(message.op, StreamOp::Open);
        QCOMPARE(message.data, QByteArray("route"));
        QCOMPARE(message.credit, 0u);

        QVERIFY(parseStreamMessage(hex("0105"), message));
        QCOMPARE(message.op, StreamOp::Close);
        QVERIFY(message.data.isEmpty());
        // Unknown operations are passed on as they are; the relay ignores them.
        QVERIFY(parseStreamMessage(hex("0163"), message));
        QCOMPARE(static_cast<int>(message.op), 0x63);

        QVERIFY(!parseStreamMessage(hex("01"), message));
        QVERIFY(parseStreamMessage(hex("010600000100"), message));
        QCOMPARE(message.credit, 0x00010000u);
        QVERIFY(!parseStreamMessage(hex("0106000001"), message));
        QVERIFY(!parseStreamMessage(hex("01060000010000"), message));
    }

    void decodeWholeFramesInOrder()
    {
        const QByteArray a = encodeFrame(UsbFrameType::Live, R"({"home_score":"3"})");
        const QByteArray b = encodeFrame(UsbFrameType::Control, R"({"t":"hello"})");
        const QByteArray c = encodeFrame(9, "unknown types still decode");
        QByteArray buffer;
        const QList<UsbFrame> frames = decodeFrames(buffer, a + b + c);
        QCOMPARE(frames.size(), 3);
        QCOMPARE(frames[0].type, quint8(1));
        QCOMPARE(frames[0].payload, QByteArray(R"({"home_score":"3"})"));
        QCOMPARE(frames[1].type, quint8(3));
        QCOMPARE(frames[2].type, quint8(9));
        QVERIFY(buffer.isEmpty());
    }

    void decodeByteByByte()
    {
        const QByteArray first = encodeFrame(UsbFrameType::Rpc, patterned(300));
        const QByteArray second = encodeFrame(UsbFrameType::Live, QByteArray());
        const QByteArray stream = first + second;
        QByteArray buffer;
        for (int i = 0; i < stream.size(); ++i) {
            const QList<UsbFrame> frames = decodeFrames(buffer, stream.mid(i, 1));
            const bool endOfFirst = i == first.size() - 1;
            const bool endOfSecond = i == stream.size() - 1;
            QCOMPARE(frames.size(), (endOfFirst || endOfSecond) ? 1 : 0);
            if (endOfFirst)
                QCOMPARE(frames[0].payload, patterned(300));
            if (endOfSecond)
                QCOMPARE(frames[0].type, quint8(1));
        }
        QVERIFY(buffer.isEmpty());
    }

    void decodeKeepsOnlyPossibleSyncTail_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("kept");
        QTest::newRow("ends 00 43") << hex("1122330043") << hex("0043");
        QTest::newRow("ends 00") << hex("11223300") << hex("00");
        QTest::newRow("ends 43") << hex("11224343") << QByteArray();
        QTest::newRow("ends 00 00") << hex("110000") << hex("00");
        QTest::newRow("garbage") << hex("0102030405060708") << QByteArray();
        QTest::newRow("lone 43 56") << hex("4356") << QByteArray();
        QTest::newRow("short header") << hex("AA00435604") << hex("00435604");
        QTest::newRow("waiting payload") << hex("AA0043560405001122") << hex("0043560405001122");
    }
    void decodeKeepsOnlyPossibleSyncTail()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, kept);
        QByteArray buffer;
        QVERIFY(decodeFrames(buffer, input).isEmpty());
        QCOMPARE(buffer.toHex(' '), kept.toHex(' '));
    }

    // A bad length or checksum costs exactly one byte, so a frame right behind it is found,
    // also one that starts inside the damaged frame.
    void decodeRecoversAfterDamage()
    {
        const QByteArray good = encodeFrame(UsbFrameType::Live, "{\"a\":1}");
        QByteArray badCrc = encodeFrame(UsbFrameType::Live, "{\"a\":2}");
        badCrc[badCrc.size() - 1] = static_cast<char>(badCrc.at(badCrc.size() - 1) ^ 0x01);
        QByteArray buffer;
        QList<UsbFrame> frames = decodeFrames(buffer, badCrc + good);
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames[0].payload, QByteArray("{\"a\":1}"));
        QVERIFY(buffer.isEmpty());

        // Length 2049 in the header: skipped, the frame inside is found.
        const QByteArray badLength = hex("004356010108");
        frames = decodeFrames(buffer, badLength + good);
        QCOMPARE(frames.size(), 1);

        // A false header whose claimed length swallows a real frame: the real frame still
        // comes out once the false header's checksum fails.
        const QByteArray falseHeader = hex("0043560120 00");
        buffer.clear();
        frames = decodeFrames(buffer, falseHeader + good);
        QVERIFY(frames.isEmpty()); // waits for 0x20 + 8 bytes
        frames = decodeFrames(buffer, QByteArray(40, '\x11'));
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames[0].payload, QByteArray("{\"a\":1}"));
    }

    void decodeSyncInsidePayload()
    {
        // No escaping: the sync bytes may sit in the payload.
        const QByteArray payload = hex("004356004356030000");
        const QByteArray frame = encodeFrame(UsbFrameType::Tunnel, payload);
        QByteArray buffer;
        const QList<UsbFrame> frames = decodeFrames(buffer, hex("0043") + frame + frame);
        QCOMPARE(frames.size(), 2);
        QCOMPARE(frames[0].payload, payload);
        QCOMPARE(frames[1].payload, payload);
        QVERIFY(buffer.isEmpty());
    }

    void decodeLargestFrame()
    {
        const QByteArray payload = patterned(kMaxFramePayload);
        QByteArray buffer;
        const QList<UsbFrame> frames = decodeFrames(buffer, encodeFrame(UsbFrameType::Rpc, payload));
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames[0].payload, payload);
    }

    void fragmentBoundaries_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QList<int>>("chunks"); // message bytes per frame; empty = one plain frame
        QTest::newRow("2048 plain") << 2048 << QList<int>{};
        QTest::newRow("small plain") << 40 << QList<int>{};
        QTest::newRow("2049") << 2049 << QList<int>{2045, 4};
        QTest::newRow("4090") << 4090 << QList<int>{2045, 2045};
        QTest::newRow("4091") << 4091 << QList<int>{2045, 2045, 1};
        QList<int> largest(32, 2045);
        largest.append(65535 - 32 * 2045);
        QTest::newRow("65535") << 65535 << largest;
    }
    void fragmentBoundaries()
    {
        QFETCH(int, length);
        QFETCH(QList<int>, chunks);
        const QByteArray message = patterned(length);
        const QList<QByteArray> frames = fragmentRpc(message);
        if (chunks.isEmpty()) {
            QCOMPARE(frames.size(), 1);
            QCOMPARE(frames[0], encodeFrame(UsbFrameType::Rpc, message));
            return;
        }
        QCOMPARE(frames.size(), chunks.size());
        QByteArray joined;
        for (int i = 0; i < frames.size(); ++i) {
            QByteArray buffer;
            const QList<UsbFrame> decoded = decodeFrames(buffer, frames[i]);
            QCOMPARE(decoded.size(), 1);
            QCOMPARE(decoded[0].type, quint8(UsbFrameType::Rpc));
            const QByteArray payload = decoded[0].payload;
            QVERIFY(payload.size() <= kMaxFramePayload);
            QCOMPARE(static_cast<uchar>(payload.at(0)), static_cast<uchar>(length >> 8));
            QCOMPARE(static_cast<uchar>(payload.at(1)), static_cast<uchar>(length & 0xFF));
            QCOMPARE(static_cast<uchar>(payload.at(2)), static_cast<uchar>(i));
            QCOMPARE(payload.size() - 3, chunks[i]);
            joined += payload.mid(3);
        }
        QCOMPARE(joined, message);
    }

    void fragmentRefusesOver65535()
    {
        QVERIFY(fragmentRpc(patterned(65536)).isEmpty());
        QVERIFY(fragmentRpc(patterned(100000)).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestFrameProtocol)
#include "tst_FrameProtocol.moc"
