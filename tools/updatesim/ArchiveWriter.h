#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace corvane::sim {

// One member of an archive the simulator builds.
struct ArchiveMember {
    enum Kind { File, Directory, SymbolicLink, HardLink };
    Kind kind = File;
    QByteArray name;       // as written into the archive, unchecked
    QByteArray data;       // file content, or the link target
    bool compressed = false; // deflate (zip only); else stored
};

// Zip archives as the maker's build would produce them (Unix attributes, so that links are
// links), and tar archives for what zip cannot carry (hard links).
QByteArray writeZip(const QList<ArchiveMember> &members);
QByteArray writeTar(const QList<ArchiveMember> &members);

} // namespace corvane::sim
