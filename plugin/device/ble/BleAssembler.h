#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace corvane {

// Bluetooth chunks of one RPC message: at most kMaxBleMessage bytes, written in chunks of
// 20 to 244 bytes, each but a whole message behind a 6-byte header.
constexpr int kMaxBleMessage = 8192;
constexpr int kMinBleChunk = 20;
constexpr int kMaxBleChunk = 244;
constexpr int kBleChunkHeaderSize = 6;

// The Bluetooth writes for one RPC message; writeSize is clamped to 20..244. An empty list
// when the message is longer than kMaxBleMessage.
QList<QByteArray> fragmentForBle(const QByteArray &message, int writeSize, quint8 sequence);

// Joins Bluetooth notification chunks into whole RPC messages. A chunk starting with "{" is
// a whole message at any time; other chunks carry a total length and an index, either
// behind a 0xFF marker and sequence byte (16-bit index) or bare (8-bit index). Index 0
// always starts a new message; a gap drops the partial message and is reported once
// through the error callback.
class BleAssembler {
public:
    using ErrorCallback = std::function<void(const QString &text)>;

    explicit BleAssembler(ErrorCallback onError = {});
    void setErrorCallback(ErrorCallback onError);

    // A list holding the completed message, or an empty list.
    QList<QByteArray> feed(const QByteArray &chunk);
    // Drops any partial message.
    void reset();
    bool inProgress() const { return m_total != 0; }

    static QString truncatedText();

private:
    ErrorCallback m_onError;
    QList<QByteArray> m_parts;
    quint32 m_received = 0;
    quint32 m_total = 0;
    quint32 m_expectedIndex = 0;
};

} // namespace corvane
