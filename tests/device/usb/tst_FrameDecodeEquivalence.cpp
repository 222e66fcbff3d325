#include "device/usb/FrameProtocol.h"
#include "device/usb/LiteralFrameDecoder.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>

using namespace corvane;

namespace {

class Generator {
public:
    explicit Generator(quint32 seed)
        : m_rng(seed)
    {
    }

    int below(int n) { return static_cast<int>(m_rng.bounded(static_cast<quint32>(n))); }
    bool chance(int percent) { return below(100) < percent; }

    // Bytes drawn mostly from the sync alphabet, so false syncs and plausible headers abound.
    QByteArray noise(int n, bool syncRich)
    {
        static const char alphabet[] = {'\x00', '\x43', '\x56', '\x01', '\x04', '\x08', '\x00', '\x43'};
        QByteArray out(n, '\0');
        for (int i = 0; i < n; ++i)
            out[i] = syncRich && chance(80) ? alphabet[below(8)] : static_cast<char>(below(256));
        return out;
    }

    int payloadLength()
    {
        switch (below(5)) {
        case 0: return 0;
        case 1: return below(16);
        case 2: return below(300);
        case 3: return 2040 + below(9); // up to the 2048 limit
        default: return below(2049);
        }
    }

    QByteArray frame()
    {
        int length = payloadLength();
        QByteArray payload = noise(length, chance(30));
        if (length > 20 && chance(30)) {
            // A whole frame hidden inside the payload: must not come out unless the outer fails.
            const QByteArray inner = encodeFrame(static_cast<quint8>(below(8)), noise(below(length - 8 + 1), false).left(length - 8));
            payload.replace(below(length - inner.size() + 1), inner.size(), inner);
        }
        return encodeFrame(static_cast<quint8>(below(256)), payload.left(kMaxFramePayload));
    }

    QByteArray damaged(QByteArray frame)
    {
        switch (below(4)) {
        case 0: // flip a bit in the payload or checksum
            if (frame.size() > 6) {
                const int at = 6 + below(frame.size() - 6);
                frame[at] = static_cast<char>(frame.at(at) ^ (1 << below(8)));
            }
            break;
        case 1: { // a length above 2048
            const int length = 2049 + below(65535 - 2049 + 1);
            frame[4] = static_cast<char>(length & 0xFF);
            frame[5] = static_cast<char>(length >> 8);
            break;
        }
        case 2: // a length that reaches into whatever follows
            frame[4] = static_cast<char>(below(256));
            frame[5] = static_cast<char>(below(9));
            break;
        default: // cut short
            frame.truncate(below(frame.size()));
            break;
        }
        return frame;
    }

    // A false header claiming up to 2048 bytes, the costliest kind of candidate.
    QByteArray falseHeader()
    {
        const int length = chance(50) ? 2048 - below(8) : below(2049);
        QByteArray out("\x00\x43\x56", 3);
        out.append(static_cast<char>(below(256)));
        out.append(static_cast<char>(length & 0xFF));
        out.append(static_cast<char>(length >> 8));
        return out;
    }

    QByteArray stream(int targetSize, int mix)
    {
        QByteArray out;
        while (out.size() < targetSize) {
            const int pick = below(100);
            if (mix == 0) // mostly noise
                out += pick < 90 ? noise(1 + below(400), pick < 30) : frame();
            else if (mix == 1) // mostly frames with damage
                out += pick < 50 ? frame() : pick < 80 ? damaged(frame()) : noise(below(20), true);
            else // dense false headers with real frames between them
                out += pick < 60 ? falseHeader() : pick < 80 ? frame() : noise(below(8), true);
        }
        if (chance(50))
            out.truncate(out.size() - below(qMin<int>(out.size(), 2100))); // a truncated tail
        return out;
    }

    QList<QByteArray> chunks(const QByteArray &stream)
    {
        QList<QByteArray> out;
        const int style = below(4);
        for (qsizetype at = 0; at < stream.size();) {
            int size = 0;
            switch (style) {
            case 0: size = 1; break;
            case 1: size = 1 + below(16); break;
            case 2: size = 1 + below(5000); break;
            default: size = chance(10) ? 0 : 1 + below(2 * kMaxFrameSize); break; // empty reads too
            }
            out.append(stream.mid(at, size));
            at += size;
        }
        if (style == 2 && chance(20))
            out = {stream};
        return out;
    }

private:
    QRandomGenerator m_rng;
};

bool sameFrames(const QList<UsbFrame> &a, const QList<UsbFrame> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].type != b[i].type || a[i].payload != b[i].payload)
            return false;
    }
    return true;
}

} // namespace

class TestFrameDecodeEquivalence : public QObject {
    Q_OBJECT
private:
    // Feeds the same chunks to both decoders and stops at the first difference, naming it.
    static void compareOn(const QList<QByteArray> &chunks, const QString &label, int *framesSeen)
    {
        QByteArray literalBuffer;
        QByteArray buffer;
        for (qsizetype i = 0; i < chunks.size(); ++i) {
            const QList<UsbFrame> expected = literalDecodeFrames(literalBuffer, chunks[i]);
            const QList<UsbFrame> actual = decodeFrames(buffer, chunks[i]);
            if (!sameFrames(expected, actual) || buffer != literalBuffer) {
                QFAIL(qPrintable(QStringLiteral("%1: decoders differ at chunk %2 (frames %3 vs %4, buffer %5 vs %6 bytes)")
                                     .arg(label)
                                     .arg(i)
                                     .arg(expected.size())
                                     .arg(actual.size())
                                     .arg(literalBuffer.size())
                                     .arg(buffer.size())));
            }
            *framesSeen += static_cast<int>(actual.size());
        }
    }

private Q_SLOTS:
    void randomStreams_data()
    {
        QTest::addColumn<int>("mix");
        QTest::newRow("noise with frames") << 0;
        QTest::newRow("damaged frames") << 1;
        QTest::newRow("dense false headers") << 2;
    }
    void randomStreams()
    {
        QFETCH(int, mix);
        int framesSeen = 0;
        for (quint32 seed = 1; seed <= 150; ++seed) {
            Generator gen(seed * 7919u + static_cast<quint32>(mix));
            const QByteArray stream = gen.stream(2000 + gen.below(30000), mix);
            compareOn(gen.chunks(stream), QStringLiteral("mix %1 seed %2").arg(mix).arg(seed), &framesSeen);
            if (QTest::currentTestFailed())
                return;
        }
        // The streams must actually exercise frame delivery, not only rejection.
        QVERIFY2(framesSeen > 150, qPrintable(QString::number(framesSeen)));
    }

    // Uniform random bytes: syncs are rare, so this mostly checks trimming and tails.
    void plainNoise()
    {
        int framesSeen = 0;
        for (quint32 seed = 1; seed <= 40; ++seed) {
            Generator gen(seed);
            compareOn(gen.chunks(gen.noise(50000, false)), QStringLiteral("noise seed %1").arg(seed), &framesSeen);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Every sync-alphabet stream up to six bytes, cut at every point: the tails and short
    // headers of the literal steps, exhaustively.
    void exhaustiveShortInputs()
    {
        const char alphabet[] = {'\x00', '\x43', '\x56', '\x07'};
        int framesSeen = 0;
        for (int length = 1; length <= 6; ++length) {
            int combos = 1;
            for (int i = 0; i < length; ++i)
                combos *= 4;
            for (int code = 0; code < combos; ++code) {
                QByteArray input;
                for (int i = 0, c = code; i < length; ++i, c /= 4)
                    input.append(alphabet[c % 4]);
                for (int cut = 0; cut <= length; ++cut) {
                    compareOn({input.left(cut), input.mid(cut)}, QStringLiteral("input %1").arg(QString::fromLatin1(input.toHex())),
                              &framesSeen);
                    if (QTest::currentTestFailed())
                        return;
                }
            }
        }
    }

    // A long run of overlapping candidates whose windows straddle each other and real
    // frames, all in one chunk: the case where checksums are reused across candidates.
    void overlappingCandidatesInOneChunk()
    {
        int framesSeen = 0;
        for (quint32 seed = 1; seed <= 20; ++seed) {
            Generator gen(seed + 1000);
            QByteArray stream;
            while (stream.size() < 200000)
                stream += gen.chance(85) ? gen.falseHeader() + gen.noise(gen.below(5), true) : gen.frame();
            compareOn({stream}, QStringLiteral("overlap seed %1").arg(seed), &framesSeen);
            if (QTest::currentTestFailed())
                return;
        }
        QVERIFY(framesSeen > 20);
    }
};

QTEST_GUILESS_MAIN(TestFrameDecodeEquivalence)
#include "tst_FrameDecodeEquivalence.moc"
