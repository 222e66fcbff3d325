#include "device/RpcAssembler.h"

namespace corvane {

QByteArray RpcAssembler::feed(const QByteArray &payload)
{
    if (m_total == 0 && !payload.isEmpty() && payload.at(0) == '{')
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
