#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

// The bytes on the USB serial line: frames, their checksum, RPC fragments, control and
// stream relay messages, and the chunking of RPC messages over Bluetooth LE. Everything
// here is a pure function without I/O so that tests and fuzzers can call it directly.
//
// Frame: 00 43 56 | type | length (LE16, <= 2048) | payload | frameCrc(payload) (LE16)

namespace corvane {

constexpr int kFrameHeaderSize = 6;
constexpr int kFrameOverhead = 8;
constexpr int kMaxFramePayload = 2048;
constexpr int kMaxFrameSize = kMaxFramePayload + kFrameOverhead;

// RPC messages over USB: a message above kMaxFramePayload bytes goes as fragments with a
// 3-byte header (total length BE16, index), so at most 2045 message bytes per fragment.
constexpr int kRpcFragmentHeaderSize = 3;
constexpr int kRpcFragmentData = kMaxFramePayload - kRpcFragmentHeaderSize;
constexpr int kMaxRpcMessage = 65535;

// What the plugin puts in one tunnel frame or one stream Data message at most.
constexpr int kMaxTunnelChunk = 512;
constexpr int kMaxStreamData = 512;
constexpr int kMaxStreamErrorReason = 32;

enum class UsbFrameType : quint8 {
    Live = 1,
    Tunnel = 2,
    Control = 3,
    Rpc = 4,
    Stream = 5,
};

// One decoded frame. The type is kept raw: receivers ignore types they do not know.
struct UsbFrame {
    quint8 type = 0;
    QByteArray payload;
};

enum class StreamOp : quint8 {
    Open = 1,
    Opened = 2,
    Error = 3,
    Data = 4,
    Close = 5,
    Credit = 6,
};

// One stream relay message (payload of a type-5 frame). The operation is kept as received,
// so it may hold a value outside StreamOp. `credit` is filled for Credit messages only.
struct StreamMessage {
    quint8 id = 0;
    StreamOp op = StreamOp::Open;
    QByteArray data;
    quint32 credit = 0;
};

// CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF, no reflection, no final XOR).
quint16 frameCrc(const QByteArray &bytes);
quint16 frameCrc(const char *data, qsizetype size);

// The frame bytes, or an empty array when the payload is longer than kMaxFramePayload.
QByteArray encodeFrame(quint8 type, const QByteArray &payload);
QByteArray encodeFrame(UsbFrameType type, const QByteArray &payload);

// Appends newBytes to buffer, removes every complete valid frame from it and returns them
// in arrival order. A bad length or checksum costs one byte before the search resumes;
// without a sync sequence only a tail that could start one (00 43 or 00) is kept. The work
// is linear in the bytes seen, whatever they hold.
QList<UsbFrame> decodeFrames(QByteArray &buffer, const QByteArray &newBytes);

// The type-4 frames that carry one RPC message: one plain frame up to kMaxFramePayload
// bytes, fragments above that; an empty list when the message is longer than kMaxRpcMessage.
QList<QByteArray> fragmentRpc(const QByteArray &message);

// Control messages (type 3): compact JSON objects with the key "t".
QByteArray encodeControl(const QJsonObject &message); // the whole type-3 frame
QJsonObject helloRequest();                           // {"t":"hello","streams":1}
QJsonObject pingRequest();                            // {"t":"ping"}
// {"t":"rx_set"} with "generate_key": true when asked, otherwise "key": the trimmed key
// when that is not empty (then the message names neither and the caller refuses it).
QJsonObject receiverSetRequest(const QString &key, bool generateKey);
// The control message in a type-3 payload; an empty object when it is not a JSON object.
QJsonObject parseControl(const QByteArray &payload);

// Stream relay messages (type-5 payloads, not whole frames).
// False for a payload shorter than 2 bytes or a Credit whose data is not exactly 4 bytes.
bool parseStreamMessage(const QByteArray &payload, StreamMessage &message);
QByteArray encodeStreamMessage(quint8 id, StreamOp op, const QByteArray &data = {});
// Error with its reason cut to kMaxStreamErrorReason bytes.
QByteArray streamErrorMessage(quint8 id, const QByteArray &reason);
QByteArray streamCreditMessage(quint8 id, quint32 bytes);

} // namespace corvane
