#include "device/ble/BleAssembler.h"
#include "device/usb/FrameProtocol.h"
#include "device/usb/RpcAssembler.h"

#include <QTest>

using namespace corvane;

namespace {

QByteArray patterned(int n)
{
    QByteArray out(n, '\0');
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<char>((i * 13 + i / 256) & 0xFF);
    out[0] = '{'; // a real message starts like one
    return out;
}

// The type-4 payloads of a message, as the device would send them.
QList<QByteArray> rpcPayloads(const QByteArray &message)
{
    QList<QByteArray> payloads;
    for (const QByteArray &frame : fragmentRpc(message)) {
        QByteArray buffer;
        const QList<UsbFrame> frames = decodeFrames(buffer, frame);
        payloads.append(frames.value(0).payload);
    }
    return payloads;
}

QByteArray fragment(int total, int index, const QByteArray &data)
{
    QByteArray out;
    out.append(static_cast<char>(total >> 8)).append(static_cast<char>(total & 0xFF)).append(static_cast<char>(index));
    return out + data;
}

QByteArray bleChunk(int total, int index, const QByteArray &data, quint8 sequence = 7)
{
    QByteArray out;
    out.append('\xFF').append(static_cast<char>(sequence));
    out.append(static_cast<char>(total >> 8)).append(static_cast<char>(total & 0xFF));
    out.append(static_cast<char>(index >> 8)).append(static_cast<char>(index & 0xFF));
    return out + data;
}

} // namespace

class TestAssemblers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rpcJoinsFragmentsOfEverySize_data()
    {
        QTest::addColumn<int>("length");
        // 31488..31743: the first fragment's total starts with 0x7B, which is "{".
        for (int length : {2, 2048, 2049, 4090, 4091, 30000, 31488, 31600, 31743, 65535})
            QTest::newRow(qPrintable(QString::number(length))) << length;
    }
    void rpcJoinsFragmentsOfEverySize()
    {
        QFETCH(int, length);
        const QByteArray message = patterned(length);
        const QList<QByteArray> payloads = rpcPayloads(message);
        RpcAssembler assembler;
        for (int i = 0; i < payloads.size() - 1; ++i) {
            QVERIFY(assembler.feed(payloads[i]).isEmpty());
            QVERIFY(assembler.inProgress());
        }
        QCOMPARE(assembler.feed(payloads.last()), message);
        QVERIFY(!assembler.inProgress());
        // Ready for the next message.
        QCOMPARE(assembler.feed("{}"), QByteArray("{}"));
    }

    void rpcWholeMessageOnlyWhenIdle()
    {
        RpcAssembler assembler;
        QCOMPARE(assembler.feed("{\"id\":1}"), QByteArray("{\"id\":1}"));
        // While a fragmented message is in progress a "{" payload reads as a fragment with
        // the wrong total: both it and the partial message are dropped.
        QVERIFY(assembler.feed(fragment(3000, 0, QByteArray(2045, 'a'))).isEmpty());
        QVERIFY(assembler.feed("{\"id\":2}").isEmpty());
        QVERIFY(!assembler.inProgress());
        QVERIFY(assembler.feed(fragment(3000, 1, QByteArray(955, 'b'))).isEmpty());
        QCOMPARE(assembler.feed("{\"id\":3}"), QByteArray("{\"id\":3}"));
    }

    void rpcDropRules()
    {
        RpcAssembler assembler;
        // Too short, zero total, or a first fragment with a non-zero index: dropped.
        QVERIFY(assembler.feed("ab").isEmpty());
        QVERIFY(assembler.feed(QByteArray()).isEmpty());
        QVERIFY(assembler.feed(fragment(0, 0, "x")).isEmpty());
        QVERIFY(assembler.feed(fragment(10, 1, "xxxxx")).isEmpty());
        QVERIFY(!assembler.inProgress());

        // Wrong index mid-message: the partial message and that fragment go, even when the
        // stray fragment is the first of a new message.
        QVERIFY(assembler.feed(fragment(10, 0, "01234")).isEmpty());
        QVERIFY(assembler.feed(fragment(12, 0, "abcdef")).isEmpty());
        QVERIFY(!assembler.inProgress());
        QVERIFY(assembler.feed(fragment(12, 1, "ghijkl")).isEmpty());

        // Wrong total mid-message.
        QVERIFY(assembler.feed(fragment(10, 0, "01234")).isEmpty());
        QVERIFY(assembler.feed(fragment(11, 1, "56789")).isEmpty());
        QVERIFY(!assembler.inProgress());

        // A good message after all that, cut to its total when the last chunk overshoots.
        QVERIFY(assembler.feed(fragment(10, 0, "01234")).isEmpty());
        QCOMPARE(assembler.feed(fragment(10, 1, "56789XYZ")), QByteArray("0123456789"));

        // One fragment that already holds the whole message.
        QCOMPARE(assembler.feed(fragment(4, 0, "abcdef")), QByteArray("abcd"));

        assembler.feed(fragment(10, 0, "01234"));
        assembler.reset();
        QVERIFY(!assembler.inProgress());
        QCOMPARE(assembler.feed("{}"), QByteArray("{}"));
    }

    // The index byte wraps: fragment 256 of a long message made of tiny chunks carries 0.
    void rpcIndexWrapsAtEightBits()
    {
        RpcAssembler assembler;
        const int total = 300;
        QByteArray expected;
        for (int i = 0; i < total; ++i) {
            const QByteArray data(1, static_cast<char>('a' + i % 26));
            expected += data;
            const QByteArray out = assembler.feed(fragment(total, i & 0xFF, data));
            if (i < total - 1)
                QVERIFY2(out.isEmpty(), qPrintable(QString::number(i)));
            else
                QCOMPARE(out, expected);
        }
    }

    void bleChunkSizesAreClamped_data()
    {
        QTest::addColumn<int>("writeSize");
        QTest::addColumn<int>("chunk");
        QTest::newRow("10 -> 20") << 10 << 20;
        QTest::newRow("-5 -> 20") << -5 << 20;
        QTest::newRow("20") << 20 << 20;
        QTest::newRow("185") << 185 << 185;
        QTest::newRow("244") << 244 << 244;
        QTest::newRow("500 -> 244") << 500 << 244;
    }
    void bleChunkSizesAreClamped()
    {
        QFETCH(int, writeSize);
        QFETCH(int, chunk);
        const QByteArray message = patterned(1000);
        const QList<QByteArray> chunks = fragmentForBle(message, writeSize, 42);
        const int piece = chunk - 6;
        QCOMPARE(chunks.size(), (1000 + piece - 1) / piece);
        QByteArray joined;
        for (int i = 0; i < chunks.size(); ++i) {
            const QByteArray &c = chunks[i];
            QVERIFY(c.size() <= chunk);
            if (i < chunks.size() - 1)
                QCOMPARE(c.size(), chunk);
            QCOMPARE(c.left(6), bleChunk(1000, i, {}, 42));
            joined += c.mid(6);
        }
        QCOMPARE(joined, message);
    }

    void bleSingleChunkAndLimits()
    {
        QCOMPARE(fragmentForBle(patterned(20), 20, 1), QList<QByteArray>{patterned(20)});
        QCOMPARE(fragmentForBle(patterned(21), 20, 1).size(), 2);
        QCOMPARE(fragmentForBle(patterned(21), 20, 1).at(1), bleChunk(21, 1, patterned(21).mid(14), 1));
        QCOMPARE(fragmentForBle(patterned(8192), 244, 1).size(), (8192 + 237) / 238);
        QVERIFY(fragmentForBle(patterned(8193), 244, 1).isEmpty());
    }

    void bleRoundTrip()
    {
        QStringList errors;
        BleAssembler assembler([&errors](const QString &text) { errors << text; });
        for (int length : {5, 244, 245, 1000, 8192}) {
            const QByteArray message = patterned(length);
            const QList<QByteArray> chunks = fragmentForBle(message, 100, 9);
            QList<QByteArray> out;
            for (const QByteArray &chunk : chunks)
                out += assembler.feed(chunk);
            QCOMPARE(out, QList<QByteArray>{message});
        }
        QVERIFY(errors.isEmpty());
    }

    void bleLostFragmentReportedOnce()
    {
        QStringList errors;
        BleAssembler assembler([&errors](const QString &text) { errors << text; });
        const QList<QByteArray> chunks = fragmentForBle(patterned(100), 20, 3);
        QVERIFY(assembler.feed(chunks[0]).isEmpty());
        QVERIFY(assembler.feed(chunks[2]).isEmpty());
        QCOMPARE(errors, QStringList{QStringLiteral("the device reply was truncated (a fragment was lost)")});
        QVERIFY(!assembler.inProgress());
        // The rest of the broken message is dropped quietly: nothing is being assembled.
        for (int i = 3; i < chunks.size(); ++i)
            QVERIFY(assembler.feed(chunks[i]).isEmpty());
        QCOMPARE(errors.size(), 1);
        // Index 0 always starts afresh, also in the middle of another message.
        assembler.feed(chunks[0]);
        assembler.feed(chunks[1]);
        QList<QByteArray> out;
        for (const QByteArray &chunk : chunks)
            out += assembler.feed(chunk);
        QCOMPARE(out, QList<QByteArray>{patterned(100)});
        QCOMPARE(errors.size(), 1);
    }

    void bleWholeMessageLeavesPartialAlone()
    {
        BleAssembler assembler;
        const QList<QByteArray> chunks = fragmentForBle(patterned(50), 20, 1);
        QVERIFY(assembler.feed(chunks[0]).isEmpty());
        QCOMPARE(assembler.feed("{\"ok\":true}"), QList<QByteArray>{"{\"ok\":true}"});
        QVERIFY(assembler.inProgress());
        QCOMPARE(chunks.size(), 4);
        QVERIFY(assembler.feed(chunks[1]).isEmpty());
        QVERIFY(assembler.feed(chunks[2]).isEmpty());
        QCOMPARE(assembler.feed(chunks[3]), QList<QByteArray>{patterned(50)});
    }

    void bleShortHeaderForm()
    {
        // Without the 0xFF marker: total BE16, 8-bit index, data from offset 3.
        BleAssembler assembler;
        QVERIFY(assembler.feed(fragment(6, 0, "abc")).isEmpty());
        // The join is not cut to the total.
        QCOMPARE(assembler.feed(fragment(6, 1, "defgh")), QList<QByteArray>{"abcdefgh"});
        // Too short for either form, or empty: nothing, and no state change.
        QVERIFY(assembler.feed(QByteArray("\xFF\x01\x00\x05\x00", 5)).isEmpty());
        QVERIFY(assembler.feed(QByteArray("\x00\x05", 2)).isEmpty());
        QVERIFY(assembler.feed(QByteArray()).isEmpty());
        QVERIFY(!assembler.inProgress());
        // A stray non-zero index while idle is ignored without an error.
        int errors = 0;
        assembler.setErrorCallback([&errors](const QString &) { ++errors; });
        QVERIFY(assembler.feed(bleChunk(10, 3, "xyz")).isEmpty());
        QCOMPARE(errors, 0);
        // Index 0 with total 0 leaves the assembler idle.
        QVERIFY(assembler.feed(bleChunk(0, 0, "xyz")).isEmpty());
        QVERIFY(!assembler.inProgress());
    }

    void bleResetDropsPartial()
    {
        int errors = 0;
        BleAssembler assembler([&errors](const QString &) { ++errors; });
        const QList<QByteArray> chunks = fragmentForBle(patterned(50), 20, 1);
        assembler.feed(chunks[0]);
        assembler.reset();
        QVERIFY(!assembler.inProgress());
        // The next chunk of the dropped message is a gap only while assembling: ignored now.
        QVERIFY(assembler.feed(chunks[1]).isEmpty());
        QCOMPARE(errors, 0);
    }
};

QTEST_GUILESS_MAIN(TestAssemblers)
#include "tst_Assemblers.moc"
