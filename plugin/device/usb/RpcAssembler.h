#pragma once

#include <QByteArray>

namespace corvane {

// Joins the type-4 payloads of one USB link into whole RPC messages. A payload starting
// with "{" is a whole message unless a fragmented one is in progress (or it is the first
// fragment of a message whose total length begins with 0x7B); fragments carry the
// total length (BE16) and an index. A fragment out of order silently abandons the message
// in progress, and is dropped itself even when it starts a new one: the request then ends
// by its own deadline.
class RpcAssembler {
public:
    // A complete message, or an empty array while none is complete.
    QByteArray feed(const QByteArray &payload);
    void reset();
    bool inProgress() const { return m_total != 0; }

private:
    QByteArray m_buffer;
    quint32 m_total = 0;
    quint32 m_nextIndex = 0;
};

} // namespace corvane
