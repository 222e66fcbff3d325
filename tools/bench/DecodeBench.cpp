// Throughput of decodeFrames on clean frames, on random noise and on a hostile stream of
// false headers that each claim a full-size payload. Prints figures; never fails.
#include "device/usb/FrameProtocol.h"
#include "device/usb/LiteralFrameDecoder.h"

#include <QRandomGenerator>

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace corvane;

namespace {

QByteArray randomBytes(QRandomGenerator &rng, qsizetype n)
{
    QByteArray out(n, '\0');
    for (qsizetype i = 0; i < n; ++i)
        out[i] = static_cast<char>(rng.bounded(256));
    return out;
}

QByteArray cleanFrames(QRandomGenerator &rng, qsizetype size)
{
    QByteArray out;
    while (out.size() < size)
        out += encodeFrame(static_cast<quint8>(1 + rng.bounded(5)), randomBytes(rng, rng.bounded(kMaxFramePayload + 1)));
    return out.left(size);
}

QByteArray falseHeaders(QRandomGenerator &rng, qsizetype size)
{
    QByteArray out;
    while (out.size() < size) {
        out += QByteArray("\x00\x43\x56\x01\x00\x08", 6); // claims 2048 bytes, checksum never matches
        out += randomBytes(rng, rng.bounded(4));
    }
    return out.left(size);
}

struct Figure {
    double mbPerSecond = 0;
    qsizetype frames = 0;
};

using Decoder = QList<UsbFrame> (*)(QByteArray &, const QByteArray &);

// Best of several runs over the same input, fed in reads of readSize bytes (0 = one call).
// Small reads cost more on hostile input: checksums are reused within one call only.
Figure measure(const QByteArray &input, qsizetype readSize, Decoder decode = decodeFrames, int maxRuns = 1000)
{
    using Clock = std::chrono::steady_clock;
    const int runs = std::min(maxRuns, std::max(3, static_cast<int>((64ll << 20) / input.size())));
    double best = 1e30;
    qsizetype frames = 0;
    for (int run = 0; run < runs; ++run) {
        QByteArray buffer;
        frames = 0;
        const auto start = Clock::now();
        if (readSize == 0) {
            frames += decode(buffer, input).size();
        } else {
            for (qsizetype at = 0; at < input.size(); at += readSize)
                frames += decode(buffer, input.mid(at, readSize)).size();
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        best = std::min(best, seconds);
    }
    return {static_cast<double>(input.size()) / (1024.0 * 1024.0) / best, frames};
}

} // namespace

int main()
{
    QRandomGenerator rng(20261208);
    std::printf("decodeFrames throughput (MB = MiB, best of several runs)\n");
    std::printf("%-8s %-10s %12s %12s %12s %12s\n", "size", "reads", "clean MB/s", "noise MB/s", "noise/clean",
                "hostile MB/s");
    for (const qsizetype size : {qsizetype(64) << 10, qsizetype(1) << 20, qsizetype(8) << 20}) {
        const QByteArray clean = cleanFrames(rng, size);
        const QByteArray noise = randomBytes(rng, size);
        const QByteArray hostile = falseHeaders(rng, size);
        for (const qsizetype readSize : {qsizetype(0), qsizetype(4096), qsizetype(64)}) {
            const Figure c = measure(clean, readSize);
            const Figure n = measure(noise, readSize);
            const Figure h = measure(hostile, readSize);
            const QByteArray sizeLabel = size >= (1 << 20) ? QByteArray::number(size >> 20) + " MiB"
                                                           : QByteArray::number(size >> 10) + " KiB";
            std::printf("%-8s %-10s %12.1f %12.1f %12.2f %12.1f   (%lld clean frames, %lld from noise, %lld from hostile)\n",
                        sizeLabel.constData(), readSize == 0 ? "one call" : readSize == 64 ? "64 B" : "4 KiB", c.mbPerSecond, n.mbPerSecond,
                        n.mbPerSecond / c.mbPerSecond, h.mbPerSecond, static_cast<long long>(c.frames),
                        static_cast<long long>(n.frames), static_cast<long long>(h.frames));
        }
    }
    // The same inputs through the byte-at-a-time reference that the tests compare against,
    // to show what the single moving position and the running checksum save.
    std::printf("\nbyte-at-a-time reference decoder, one call, for comparison\n");
    std::printf("%-8s %12s %12s %12s\n", "size", "clean MB/s", "noise MB/s", "hostile MB/s");
    for (const qsizetype size : {qsizetype(64) << 10, qsizetype(1) << 20}) {
        const Figure c = measure(cleanFrames(rng, size), 0, literalDecodeFrames, 3);
        const Figure n = measure(randomBytes(rng, size), 0, literalDecodeFrames, 3);
        const Figure h = measure(falseHeaders(rng, size), 0, literalDecodeFrames, 3);
        std::printf("%-8s %12.1f %12.1f %12.1f\n", size >= (1 << 20) ? "1 MiB" : "64 KiB", c.mbPerSecond, n.mbPerSecond,
                    h.mbPerSecond);
    }
    return 0;
}
