#pragma once

#include <QByteArray>
#include <QString>

namespace corvane {

// One member of a tar stream, with the pax extended header's overrides applied.
struct TarEntry {
    enum Type { File, Directory, SymbolicLink, HardLink, Other };
    Type type = Other;
    QString path;
    QString linkTarget;
    qint64 size = 0;
};

// Reads a tar stream (ustar with pax extended headers) as it arrives, in pieces of any size,
// and hands each member and its bytes to a sink. Holds at most one header block or one
// extended header in memory; member data passes straight through.
class TarReader {
public:
    class Sink {
    public:
        virtual ~Sink() = default;
        // Each returns false to stop the reading (the reader then reports "refused").
        virtual bool entryStarted(const TarEntry &entry) = 0;
        virtual bool entryData(const char *bytes, qsizetype size) = 0;
        virtual bool entryFinished() = 0;
    };

    explicit TarReader(Sink &sink);

    // False once the stream is malformed or the sink stopped it; later calls do nothing.
    bool feed(const char *bytes, qsizetype size);
    bool feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }

    // The two empty blocks that end an archive have been read.
    bool atEnd() const { return m_state == State::End; }
    // "" while fine, else "malformed" or "refused".
    QString error() const { return m_error; }

private:
    enum class State { Header, Extended, Data, Padding, End, Failed };

    bool onHeader();
    bool onExtended();
    bool startEntry(const TarEntry &entry);
    bool finishData();
    bool fail(const char *error);

    Sink &m_sink;
    State m_state = State::Header;
    QByteArray m_block;
    qint64 m_remaining = 0; // bytes left of the current member's data or extended header
    qint64 m_padding = 0;
    int m_emptyBlocks = 0;
    bool m_extendedIsGlobal = false;
    QString m_nextPath;
    QString m_nextLink;
    qint64 m_nextSize = -1;
    QString m_error;
};

} // namespace corvane
