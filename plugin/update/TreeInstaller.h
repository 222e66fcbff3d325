#pragma once

#include <QString>

namespace corvane {

class FileOperations;

struct InstallOutcome {
    bool ok = false;
    bool swapped = false; // the whole folder was replaced; the old one is at the previous path
    QString reason;       // why it failed, as a phrase the updater puts into its sentence
};

// Puts the tree at `source` in place of `target`: the whole folder at once when it can be
// renamed, else file by file with each replaced file moved aside as NAME.old (a loaded
// library can be renamed but not overwritten). A file-by-file failure undoes what it did.
InstallOutcome installTree(const QString &source, const QString &target, const QString &previous,
                           FileOperations &operations);

// Deletes `path` (file, folder or dangling link) if present: "" or "could not remove PATH".
QString removeTree(const QString &path, FileOperations &operations);

} // namespace corvane
