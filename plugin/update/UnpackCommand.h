#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

// The system program that reads an update package (a zip archive) and writes its members
// to standard output as a tar stream, so that the plugin itself decides what gets written
// where. One implementation per platform; an empty program means none is available.
struct UnpackCommand {
    QString program;
    QStringList arguments;
};

UnpackCommand unpackCommand(const QString &packagePath);

// Empty when this computer can unpack an update; otherwise what the user sees, naming what
// to install. Asked before anything is downloaded.
QString unpackerMissingText();

} // namespace corvane
