#include "device/usb/FrameProtocol.h"

#include "base/OrderedJson.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <array>
#include <cstring>

namespace corvane {

namespace {

constexpr char kSync0 = '\x00';
constexpr char kSync1 = '\x43';
constexpr char kSync2 = '\x56';

constexpr std::array<quint16, 256> makeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = static_cast<quint16>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<quint16>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        table[static_cast<size_t>(i)] = crc;
    }
    return table;
}

constexpr std::array<quint16, 256> kCrcTable = makeCrcTable();

inline quint16 crcStep(quint16 crc, uchar byte)
{
    return static_cast<quint16>((crc << 8) ^ kCrcTable[((crc >> 8) ^ byte) & 0xFF]);
}

// The CRC register is affine in its start value: running bytes D from register r gives
// Z^|D|(r) ^ g(D), where Z^n is n zero bytes run through the register (a linear map) and g
// does not depend on r. So with R(k) the register after the first k bytes of a stream,
// frameCrc(bytes a..b-1) = R(b) ^ Z^(b-a)(R(a) ^ 0xFFFF). The decoder keeps one running
// register over the buffer and checks each candidate frame in constant time, instead of
// running the CRC again over a payload that overlaps the previous candidate's.
class ZeroShift {
public:
    ZeroShift()
    {
        // Columns of Z^(2^k): the image of each single-bit register.
        std::array<quint16, 16> cols{};
        for (int i = 0; i < 16; ++i)
            cols[static_cast<size_t>(i)] = crcStep(static_cast<quint16>(1u << i), 0);
        for (size_t k = 0; k < kLevels; ++k) {
            for (int v = 0; v < 256; ++v) {
                m_low[k][static_cast<size_t>(v)] = apply(cols, static_cast<quint16>(v));
                m_high[k][static_cast<size_t>(v)] = apply(cols, static_cast<quint16>(v << 8));
            }
            std::array<quint16, 16> squared{};
            for (size_t i = 0; i < 16; ++i)
                squared[i] = apply(cols, cols[i]);
            cols = squared;
        }
    }

    // Z^n(value) for 0 <= n < 2^kLevels.
    quint16 shift(quint16 value, unsigned n) const
    {
        for (size_t k = 0; n != 0; ++k, n >>= 1) {
            if (n & 1u)
                value = static_cast<quint16>(m_low[k][value & 0xFF] ^ m_high[k][value >> 8]);
        }
        return value;
    }

    static constexpr size_t kLevels = 12; // payload lengths up to 4095

private:
    static quint16 apply(const std::array<quint16, 16> &cols, quint16 value)
    {
        quint16 out = 0;
        for (size_t i = 0; i < 16; ++i) {
            if (value & (1u << i))
                out = static_cast<quint16>(out ^ cols[i]);
        }
        return out;
    }

    std::array<std::array<quint16, 256>, kLevels> m_low{};
    std::array<std::array<quint16, 256>, kLevels> m_high{};
};

const ZeroShift &zeroShift()
{
    static const ZeroShift shift;
    return shift;
}

// Running CRC registers over the buffer, kept for a window of recent positions. Candidates
// only move forward and a frame spans at most kMaxFrameSize bytes, so a window twice that
// size always holds both ends of the current candidate's payload.
class RunningCrc {
public:
    explicit RunningCrc(const uchar *data)
        : m_data(data)
    {
    }

    quint16 crcOf(qsizetype begin, qsizetype end)
    {
        if (m_frontier < 0 || begin > m_frontier) {
            // Nothing computed that reaches here: start afresh, any start value will do.
            m_frontier = begin;
            at(begin) = 0xFFFF;
        }
        while (m_frontier < end) {
            const quint16 next = crcStep(at(m_frontier), m_data[m_frontier]);
            ++m_frontier;
            at(m_frontier) = next;
        }
        const quint16 start = at(begin);
        if (start == 0xFFFF)
            return at(end);
        return static_cast<quint16>(at(end) ^ zeroShift().shift(static_cast<quint16>(start ^ 0xFFFF),
                                                                static_cast<unsigned>(end - begin)));
    }

private:
    static constexpr qsizetype kWindow = 8192;
    static_assert(kWindow > 2 * kMaxFrameSize, "window must hold a whole candidate");

    quint16 &at(qsizetype pos) { return m_registers[static_cast<size_t>(pos & (kWindow - 1))]; }

    const uchar *m_data;
    qsizetype m_frontier = -1;
    std::array<quint16, kWindow> m_registers;
};

// First position >= from where the sync sequence starts, or -1.
qsizetype findSync(const char *data, qsizetype size, qsizetype from)
{
    while (from + 3 <= size) {
        const void *hit = std::memchr(data + from, kSync0, static_cast<size_t>(size - 2 - from));
        if (!hit)
            return -1;
        const qsizetype pos = static_cast<const char *>(hit) - data;
        if (data[pos + 1] == kSync1 && data[pos + 2] == kSync2)
            return pos;
        from = pos + 1;
    }
    return -1;
}

quint16 readLe16(const char *p)
{
    return static_cast<quint16>(static_cast<uchar>(p[0]) | (static_cast<uchar>(p[1]) << 8));
}

} // namespace

quint16 frameCrc(const char *data, qsizetype size)
{
    quint16 crc = 0xFFFF;
    const auto *bytes = reinterpret_cast<const uchar *>(data);
    for (qsizetype i = 0; i < size; ++i)
        crc = crcStep(crc, bytes[i]);
    return crc;
}

quint16 frameCrc(const QByteArray &bytes)
{
    return frameCrc(bytes.constData(), bytes.size());
}

QByteArray encodeFrame(quint8 type, const QByteArray &payload)
{
    if (payload.size() > kMaxFramePayload)
        return {};
    const auto length = static_cast<quint16>(payload.size());
    const quint16 crc = frameCrc(payload);
    QByteArray frame;
    frame.reserve(payload.size() + kFrameOverhead);
    frame.append(kSync0).append(kSync1).append(kSync2);
    frame.append(static_cast<char>(type));
    frame.append(static_cast<char>(length & 0xFF)).append(static_cast<char>(length >> 8));
    frame.append(payload);
    frame.append(static_cast<char>(crc & 0xFF)).append(static_cast<char>(crc >> 8));
    return frame;
}

QByteArray encodeFrame(UsbFrameType type, const QByteArray &payload)
{
    return encodeFrame(static_cast<quint8>(type), payload);
}

// Same outcome as dropping one byte from the front and searching again from the start after
// each bad length or checksum, but the buffer is walked with one moving position and
// trimmed once at the end, so noise costs linear time instead of a move per byte.
QList<UsbFrame> decodeFrames(QByteArray &buffer, const QByteArray &newBytes)
{
    buffer.append(newBytes);
    QList<UsbFrame> frames;
    const char *data = buffer.constData();
    const qsizetype size = buffer.size();
    RunningCrc running(reinterpret_cast<const uchar *>(data));
    qsizetype pos = 0;
    for (;;) {
        const qsizetype sync = findSync(data, size, pos);
        if (sync < 0) {
            // Keep only a tail that could start the next frame.
            qsizetype keep = 0;
            const qsizetype rest = size - pos;
            if (rest >= 2 && data[size - 2] == kSync0 && data[size - 1] == kSync1)
                keep = 2;
            else if (rest >= 1 && data[size - 1] == kSync0)
                keep = 1;
            pos = size - keep;
            break;
        }
        pos = sync;
        if (size - pos < kFrameHeaderSize)
            break;
        const quint16 length = readLe16(data + pos + 4);
        if (length > kMaxFramePayload) {
            ++pos;
            continue;
        }
        if (size - pos < length + kFrameOverhead)
            break;
        const qsizetype payloadBegin = pos + kFrameHeaderSize;
        const qsizetype payloadEnd = payloadBegin + length;
        if (running.crcOf(payloadBegin, payloadEnd) == readLe16(data + payloadEnd)) {
            frames.append(UsbFrame{static_cast<quint8>(data[pos + 3]), QByteArray(data + payloadBegin, length)});
            pos = payloadEnd + 2;
        } else {
            ++pos;
        }
    }
    buffer.remove(0, pos);
    return frames;
}

QList<QByteArray> fragmentRpc(const QByteArray &message)
{
    const qsizetype total = message.size();
    if (total <= kMaxFramePayload)
        return {encodeFrame(UsbFrameType::Rpc, message)};
    if (total > kMaxRpcMessage)
        return {};
    QList<QByteArray> frames;
    quint8 index = 0;
    for (qsizetype offset = 0; offset < total; offset += kRpcFragmentData, ++index) {
        QByteArray payload;
        payload.reserve(kMaxFramePayload);
        payload.append(static_cast<char>((total >> 8) & 0xFF));
        payload.append(static_cast<char>(total & 0xFF));
        payload.append(static_cast<char>(index));
        payload.append(message.constData() + offset, qMin<qsizetype>(kRpcFragmentData, total - offset));
        frames.append(encodeFrame(UsbFrameType::Rpc, payload));
    }
    return frames;
}

QByteArray encodeControl(const QJsonObject &message)
{
    // "t" leads, as in every control message the device documents.
    return encodeFrame(UsbFrameType::Control, OrderedJson(message, {QStringLiteral("t")}).toJson());
}

QJsonObject helloRequest()
{
    return QJsonObject{{QStringLiteral("t"), QStringLiteral("hello")}, {QStringLiteral("streams"), 1}};
}

QJsonObject pingRequest()
{
    return QJsonObject{{QStringLiteral("t"), QStringLiteral("ping")}};
}

QJsonObject receiverSetRequest(const QString &key, bool generateKey)
{
    QJsonObject message{{QStringLiteral("t"), QStringLiteral("rx_set")}};
    const QString trimmed = key.trimmed();
    if (generateKey)
        message.insert(QStringLiteral("generate_key"), true);
    else if (!trimmed.isEmpty())
        message.insert(QStringLiteral("key"), trimmed);
    return message;
}

QJsonObject parseControl(const QByteArray &payload)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    return doc.object();
}

bool parseStreamMessage(const QByteArray &payload, StreamMessage &message)
{
    if (payload.size() < 2)
        return false;
    const auto op = static_cast<StreamOp>(static_cast<quint8>(payload.at(1)));
    const QByteArray data = payload.mid(2);
    quint32 credit = 0;
    if (op == StreamOp::Credit) {
        if (data.size() != 4)
            return false;
        for (int i = 3; i >= 0; --i)
            credit = (credit << 8) | static_cast<uchar>(data.at(i));
    }
    message.id = static_cast<quint8>(payload.at(0));
    message.op = op;
    message.data = data;
    message.credit = credit;
    return true;
}

QByteArray encodeStreamMessage(quint8 id, StreamOp op, const QByteArray &data)
{
    QByteArray payload;
    payload.reserve(2 + data.size());
    payload.append(static_cast<char>(id));
    payload.append(static_cast<char>(op));
    payload.append(data);
    return payload;
}

QByteArray streamErrorMessage(quint8 id, const QByteArray &reason)
{
    return encodeStreamMessage(id, StreamOp::Error, reason.left(kMaxStreamErrorReason));
}

QByteArray streamCreditMessage(quint8 id, quint32 bytes)
{
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = static_cast<char>((bytes >> (8 * i)) & 0xFF);
    return encodeStreamMessage(id, StreamOp::Credit, data);
}

} // namespace corvane
