#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

// Cuts a fuzzer input into pieces whose sizes the input itself chooses: each piece is one
// size byte (scaled, so that both single bytes and whole frames occur) and that many bytes.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size)
        : m_data(reinterpret_cast<const char *>(data))
        , m_size(static_cast<qsizetype>(size))
    {
    }

    bool atEnd() const { return m_pos >= m_size; }

    QByteArray nextPiece()
    {
        if (atEnd())
            return {};
        const int code = static_cast<uchar>(m_data[m_pos++]);
        const qsizetype want = code < 128 ? code : (code - 127) * 40;
        const qsizetype take = qMin(want, m_size - m_pos);
        const QByteArray piece(m_data + m_pos, take);
        m_pos += take;
        return piece;
    }

    QByteArray rest() const { return QByteArray(m_data + m_pos, m_size - m_pos); }
    int nextByte() { return atEnd() ? 0 : static_cast<uchar>(m_data[m_pos++]); }

private:
    const char *m_data;
    qsizetype m_size;
    qsizetype m_pos = 0;
};
