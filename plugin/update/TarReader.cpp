#include "update/TarReader.h"

#include <QList>

namespace corvane {

namespace {

constexpr qsizetype kBlock = 512;
// Extended headers carry names and a few numbers; anything longer is not a package of ours.
constexpr qint64 kMaxExtendedHeader = 65536;
// Octal size fields of 11 digits reach 8 GiB; larger sizes use a binary form we refuse.
constexpr qint64 kMaxMemberSize = (qint64(1) << 33) - 1;

QByteArray field(const QByteArray &block, int offset, int length)
{
    QByteArray value = block.mid(offset, length);
    const qsizetype end = value.indexOf('\0');
    return end >= 0 ? value.left(end) : value;
}

// Octal digits, optionally padded with spaces or NULs; -1 when anything else is there.
qint64 octal(const QByteArray &text)
{
    const QByteArray digits = text.trimmed();
    if (digits.isEmpty())
        return 0;
    qint64 value = 0;
    for (char c : digits) {
        if (c < '0' || c > '7' || value > kMaxMemberSize)
            return -1;
        value = value * 8 + (c - '0');
    }
    return value;
}

bool checksumMatches(const QByteArray &block)
{
    const qint64 stored = octal(field(block, 148, 8));
    qint64 sum = 0;
    for (qsizetype i = 0; i < kBlock; ++i)
        sum += (i >= 148 && i < 156) ? ' ' : static_cast<uchar>(block.at(i));
    return stored == sum;
}

TarEntry::Type typeOf(char flag)
{
    switch (flag) {
    case '0':
    case '\0':
    case '7':
        return TarEntry::File;
    case '5':
        return TarEntry::Directory;
    case '2':
        return TarEntry::SymbolicLink;
    case '1':
        return TarEntry::HardLink;
    default:
        return TarEntry::Other;
    }
}

} // namespace

TarReader::TarReader(Sink &sink)
    : m_sink(sink)
{
}

bool TarReader::fail(const char *error)
{
    m_state = State::Failed;
    m_error = QString::fromLatin1(error);
    return false;
}

bool TarReader::feed(const char *bytes, qsizetype size)
{
    qsizetype pos = 0;
    while (pos < size) {
        const qsizetype available = size - pos;
        switch (m_state) {
        case State::Failed:
            return false;
        case State::End:
            return true; // what follows the end blocks is record padding
        case State::Header: {
            const qsizetype take = qMin(available, kBlock - m_block.size());
            m_block.append(bytes + pos, take);
            pos += take;
            if (m_block.size() == kBlock && !onHeader())
                return false;
            break;
        }
        case State::Extended: {
            const qsizetype take = qMin(available, qsizetype(m_remaining));
            m_block.append(bytes + pos, take);
            pos += take;
            m_remaining -= take;
            if (m_remaining == 0 && !onExtended())
                return false;
            break;
        }
        case State::Data: {
            const qsizetype take = qMin(available, qsizetype(m_remaining));
            if (!m_sink.entryData(bytes + pos, take))
                return fail("refused");
            pos += take;
            m_remaining -= take;
            if (m_remaining == 0 && !finishData())
                return false;
            break;
        }
        case State::Padding: {
            const qsizetype take = qMin(available, qsizetype(m_padding));
            pos += take;
            m_padding -= take;
            if (m_padding == 0)
                m_state = State::Header;
            break;
        }
        }
    }
    return m_state != State::Failed;
}

bool TarReader::onHeader()
{
    const QByteArray block = m_block;
    m_block.clear();
    if (block.count('\0') == kBlock) {
        if (++m_emptyBlocks == 2)
            m_state = State::End;
        return true;
    }
    m_emptyBlocks = 0;
    if (!checksumMatches(block))
        return fail("malformed");
    const qint64 size = octal(field(block, 124, 12));
    if (size < 0)
        return fail("malformed");
    const char flag = block.at(156);
    m_padding = (kBlock - size % kBlock) % kBlock;

    if (flag == 'x' || flag == 'g') {
        if (size > kMaxExtendedHeader)
            return fail("malformed");
        m_extendedIsGlobal = flag == 'g';
        m_remaining = size;
        m_state = State::Extended;
        return size > 0 || onExtended();
    }

    TarEntry entry;
    entry.type = typeOf(flag);
    const QByteArray name = field(block, 0, 100);
    const QByteArray prefix = block.mid(257, 5) == "ustar" ? field(block, 345, 155) : QByteArray();
    entry.path = QString::fromUtf8(prefix.isEmpty() ? name : prefix + '/' + name);
    entry.linkTarget = QString::fromUtf8(field(block, 157, 100));
    entry.size = size;
    if (!m_nextPath.isNull())
        entry.path = m_nextPath;
    if (!m_nextLink.isNull())
        entry.linkTarget = m_nextLink;
    if (m_nextSize >= 0)
        entry.size = m_nextSize;
    m_nextPath = QString();
    m_nextLink = QString();
    m_nextSize = -1;
    m_padding = (kBlock - entry.size % kBlock) % kBlock;
    return startEntry(entry);
}

bool TarReader::startEntry(const TarEntry &entry)
{
    if (!m_sink.entryStarted(entry))
        return fail("refused");
    m_remaining = entry.size;
    m_state = State::Data;
    return entry.size > 0 || finishData();
}

bool TarReader::finishData()
{
    if (!m_sink.entryFinished())
        return fail("refused");
    m_state = m_padding > 0 ? State::Padding : State::Header;
    return true;
}

// Records of the form "LENGTH key=value\n", LENGTH counting the whole record.
bool TarReader::onExtended()
{
    const QByteArray records = m_block;
    m_block.clear();
    qsizetype pos = 0;
    while (pos < records.size()) {
        const qsizetype space = records.indexOf(' ', pos);
        bool ok = false;
        const qsizetype length = space > pos ? records.mid(pos, space - pos).toLongLong(&ok) : 0;
        if (!ok || length <= space - pos || pos + length > records.size() || records.at(pos + length - 1) != '\n')
            return fail("malformed");
        const QByteArray record = records.mid(space + 1, pos + length - space - 2);
        pos += length;
        const qsizetype equals = record.indexOf('=');
        if (equals <= 0)
            return fail("malformed");
        if (m_extendedIsGlobal)
            continue;
        const QByteArray key = record.left(equals);
        const QByteArray value = record.mid(equals + 1);
        if (key == "path") {
            m_nextPath = QString::fromUtf8(value);
        } else if (key == "linkpath") {
            m_nextLink = QString::fromUtf8(value);
        } else if (key == "size") {
            m_nextSize = value.toLongLong(&ok);
            if (!ok || m_nextSize < 0 || m_nextSize > kMaxMemberSize)
                return fail("malformed");
        }
    }
    m_state = m_padding > 0 ? State::Padding : State::Header;
    return true;
}

} // namespace corvane
