#include "device/usb/RpcAssembler.h"

namespace corvane {

// The first fragment of a message of 31488 to 31743 bytes starts with 0x7B, "{", as well.
// JSON text never holds a NUL byte, so a "{" payload whose index byte is 0 is that fragment.
static bool isWholeMessage(const QByteArray &payload)
{
    if (payload.isEmpty() || payload.at(0) != '{')
        return false;
    return payload.size() < 3 || payload.at(2) != '\0';
}

QByteArray RpcAssembler::feed(const QByteArray &payload)
{
    if (m_total == 0 && isWholeMessage(payload))
        return payload;
    if (payload.size() < 3)
        return {};
    const quint32 total = (static_cast<uchar>(payload.at(0)) << 8) | static_cast<uchar>(payload.at(1));
    const quint32 index = static_cast<uchar>(payload.at(2));
    if (m_total != 0) {
        if (total != m_total || index != (m_nextIndex & 0xFF)) {
            reset();
            return {};
        }
        ++m_nextIndex;
        m_buffer.append(payload.constData() + 3, payload.size() - 3);
    } else {
        if (total == 0 || index != 0)
            return {};
        m_total = total;
        m_nextIndex = 1;
        m_buffer = payload.mid(3);
    }
    if (static_cast<quint32>(m_buffer.size()) < m_total)
        return {};
    const QByteArray message = m_buffer.left(m_total);
    reset();
    return message;
}

void RpcAssembler::reset()
{
    m_buffer.clear();
    m_total = 0;
    m_nextIndex = 0;
}

} // namespace corvane
