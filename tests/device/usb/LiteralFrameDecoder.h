#pragma once

#include "device/usb/FrameProtocol.h"

// The decoding steps taken word for word: drop one byte from the front after a bad length
// or checksum and search again from the start. Slow on noise; kept for the tests and the
// fuzzer as the reference that decodeFrames must match exactly.
inline QList<corvane::UsbFrame> literalDecodeFrames(QByteArray &buffer, const QByteArray &newBytes)
{
    buffer.append(newBytes);
    QList<corvane::UsbFrame> frames;
    for (;;) {
        qsizetype sync = -1;
        for (qsizetype i = 0; i + 3 <= buffer.size(); ++i) {
            if (buffer.at(i) == '\x00' && buffer.at(i + 1) == '\x43' && buffer.at(i + 2) == '\x56') {
                sync = i;
                break;
            }
        }
        if (sync < 0) {
            const qsizetype n = buffer.size();
            if (n >= 2 && buffer.at(n - 2) == '\x00' && buffer.at(n - 1) == '\x43')
                buffer = buffer.right(2);
            else if (n >= 1 && buffer.at(n - 1) == '\x00')
                buffer = buffer.right(1);
            else
                buffer.clear();
            return frames;
        }
        buffer.remove(0, sync);
        if (buffer.size() < 6)
            return frames;
        const auto type = static_cast<quint8>(buffer.at(3));
        const int length = static_cast<uchar>(buffer.at(4)) | (static_cast<uchar>(buffer.at(5)) << 8);
        if (length > 2048) {
            buffer.remove(0, 1);
            continue;
        }
        if (buffer.size() < length + 8)
            return frames;
        const QByteArray payload = buffer.mid(6, length);
        const int sent = static_cast<uchar>(buffer.at(6 + length)) | (static_cast<uchar>(buffer.at(7 + length)) << 8);
        if (corvane::frameCrc(payload) == sent) {
            frames.append(corvane::UsbFrame{type, payload});
            buffer.remove(0, length + 8);
        } else {
            buffer.remove(0, 1);
        }
    }
}
