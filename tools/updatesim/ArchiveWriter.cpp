#include "ArchiveWriter.h"

#include <QtEndian>

#include <array>

namespace corvane::sim {

namespace {

quint32 crc32(const QByteArray &data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (char byte : data)
        crc = table[(crc ^ static_cast<uchar>(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void put16(QByteArray &out, quint32 value)
{
    char bytes[2];
    qToLittleEndian(static_cast<quint16>(value), bytes);
    out.append(bytes, 2);
}

void put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// Raw deflate: qCompress gives a 4-byte length, a 2-byte zlib header and a 4-byte Adler-32.
QByteArray deflateRaw(const QByteArray &data)
{
    const QByteArray zlib = qCompress(data, 9);
    return zlib.mid(6, zlib.size() - 10);
}

quint32 unixMode(ArchiveMember::Kind kind)
{
    switch (kind) {
    case ArchiveMember::Directory:
        return 040755;
    case ArchiveMember::SymbolicLink:
        return 0120777;
    default:
        return 0100644;
    }
}

QByteArray octalField(qint64 value, int width)
{
    QByteArray text = QByteArray::number(value, 8).rightJustified(width - 1, '0');
    text.append('\0');
    return text;
}

} // namespace

QByteArray writeZip(const QList<ArchiveMember> &members)
{
    QByteArray out;
    QByteArray directory;
    const quint32 dosTime = 0;
    const quint32 dosDate = (46 << 9) | (12 << 5) | 1; // 2026-12-01
    for (const ArchiveMember &member : members) {
        const QByteArray stored = member.compressed ? deflateRaw(member.data) : member.data;
        const quint32 method = member.compressed ? 8 : 0;
        const quint32 crc = crc32(member.data);
        const quint32 offset = static_cast<quint32>(out.size());

        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, 0x0800); // names are UTF-8
        put16(out, method);
        put16(out, dosTime);
        put16(out, dosDate);
        put32(out, crc);
        put32(out, static_cast<quint32>(stored.size()));
        put32(out, static_cast<quint32>(member.data.size()));
        put16(out, static_cast<quint32>(member.name.size()));
        put16(out, 0);
        out += member.name;
        out += stored;

        put32(directory, 0x02014b50);
        put16(directory, (3 << 8) | 20); // made on Unix, so the external attributes carry a mode
        put16(directory, 20);
        put16(directory, 0x0800);
        put16(directory, method);
        put16(directory, dosTime);
        put16(directory, dosDate);
        put32(directory, crc);
        put32(directory, static_cast<quint32>(stored.size()));
        put32(directory, static_cast<quint32>(member.data.size()));
        put16(directory, static_cast<quint32>(member.name.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, unixMode(member.kind) << 16);
        put32(directory, offset);
        directory += member.name;
    }
    const quint32 directoryOffset = static_cast<quint32>(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<quint32>(members.size()));
    put16(out, static_cast<quint32>(members.size()));
    put32(out, static_cast<quint32>(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

QByteArray writeTar(const QList<ArchiveMember> &members)
{
    QByteArray out;
    for (const ArchiveMember &member : members) {
        const bool hasData = member.kind == ArchiveMember::File;
        QByteArray header(512, '\0');
        header.replace(0, qMin<qsizetype>(member.name.size(), 99), member.name.left(99));
        header.replace(100, 8, octalField(unixMode(member.kind) & 07777, 8));
        header.replace(108, 8, octalField(0, 8));
        header.replace(116, 8, octalField(0, 8));
        header.replace(124, 12, octalField(hasData ? member.data.size() : 0, 12));
        header.replace(136, 12, octalField(1796083200, 12));
        header.replace(148, 8, QByteArray(8, ' '));
        static const char kTypes[] = {'0', '5', '2', '1'};
        header[156] = kTypes[member.kind];
        if (!hasData)
            header.replace(157, qMin<qsizetype>(member.data.size(), 99), member.data.left(99));
        header.replace(257, 8, QByteArray("ustar\0" "00", 8));
        qint64 sum = 0;
        for (char byte : header)
            sum += static_cast<uchar>(byte);
        header.replace(148, 8, octalField(sum, 7) + ' ');
        out += header;
        if (hasData) {
            out += member.data;
            out += QByteArray((512 - member.data.size() % 512) % 512, '\0');
        }
    }
    out += QByteArray(1024, '\0');
    return out;
}

} // namespace corvane::sim
