#include "device/ble/BleAssembler.h"

#include <utility>

namespace corvane {

BleAssembler::BleAssembler(ErrorCallback onError)
    : m_onError(std::move(onError))
{
}

void BleAssembler::setErrorCallback(ErrorCallback onError)
{
    m_onError = std::move(onError);
}

QList<QByteArray> fragmentForBle(const QByteArray &message, int writeSize, quint8 sequence)
{
    const qsizetype total = message.size();
    if (total > kMaxBleMessage)
        return {};
    const int chunkSize = qBound(kMinBleChunk, writeSize, kMaxBleChunk);
    if (total <= chunkSize)
        return {message};
    const int piece = chunkSize - kBleChunkHeaderSize;
    QList<QByteArray> chunks;
    quint16 index = 0;
    for (qsizetype offset = 0; offset < total; offset += piece, ++index) {
        QByteArray chunk;
        chunk.reserve(chunkSize);
        chunk.append('\xFF');
        chunk.append(static_cast<char>(sequence));
        chunk.append(static_cast<char>((total >> 8) & 0xFF));
        chunk.append(static_cast<char>(total & 0xFF));
        chunk.append(static_cast<char>(index >> 8));
        chunk.append(static_cast<char>(index & 0xFF));
        chunk.append(message.constData() + offset, qMin<qsizetype>(piece, total - offset));
        chunks.append(chunk);
    }
    return chunks;
}

QString BleAssembler::truncatedText()
{
    return QStringLiteral("the device reply was truncated (a fragment was lost)");
}

QList<QByteArray> BleAssembler::feed(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return {};
    if (chunk.at(0) == '{')
        return {chunk};
    const auto byte = [&chunk](int i) { return static_cast<quint32>(static_cast<uchar>(chunk.at(i))); };
    quint32 total = 0;
    quint32 index = 0;
    qsizetype dataOffset = 0;
    if (static_cast<uchar>(chunk.at(0)) == 0xFF) {
        if (chunk.size() < 6)
            return {};
        total = (byte(2) << 8) | byte(3);
        index = (byte(4) << 8) | byte(5);
        dataOffset = 6;
    } else {
        if (chunk.size() < 3)
            return {};
        total = (byte(0) << 8) | byte(1);
        index = byte(2);
        dataOffset = 3;
    }
    if (index == 0) {
        m_parts.clear();
        m_received = 0;
        m_expectedIndex = 0;
        m_total = total;
    }
    if (m_total == 0)
        return {};
    if (index != m_expectedIndex) {
        reset();
        if (m_onError)
            m_onError(truncatedText());
        return {};
    }
    const QByteArray data = chunk.mid(dataOffset);
    m_parts.append(data);
    m_received += static_cast<quint32>(data.size());
    ++m_expectedIndex;
    if (m_received < m_total)
        return {};
    QByteArray message;
    message.reserve(m_received);
    for (const QByteArray &part : std::as_const(m_parts))
        message.append(part);
    reset();
    return {message};
}

void BleAssembler::reset()
{
    m_parts.clear();
    m_received = 0;
    m_total = 0;
    m_expectedIndex = 0;
}

} // namespace corvane
