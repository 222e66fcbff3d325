#pragma once

#include <QString>
#include <QStringList>

namespace corvane {

class FileOperations;

struct InstallOutcome {
    // Where the version that was installed before is after a failure.
    enum class Left {
        InPlace,          // put back as it was
        InPreviousFolder, // the whole folder, at the previous path; the target is gone
        AsOldFiles,       // some files only as NAME.old in the target
    };

    bool ok = false;
    bool swapped = false; // the whole folder was replaced; the old one is at the previous path
    QString reason;       // why it failed, as a phrase the updater puts into its sentence
    Left previousVersion = Left::InPlace;
    // Relative paths the rollback could not clear: new files the update added, and replaced
    // files whose new copy stayed at the name while the old one waits as NAME.old.
    QStringList addedLeft;
    QStringList newLeft;
};

// Puts the tree at `source` in place of `target`: the whole folder at once when it can be
// renamed, else file by file with each replaced file moved aside as NAME.old (a loaded
// library can be renamed but not overwritten). A failure undoes what it did, folders it made
// included; when a step of that cannot be undone, the outcome says where the previous
// version was left, and nothing else is tried.
InstallOutcome installTree(const QString &source, const QString &target, const QString &previous,
                           FileOperations &operations);

// Deletes `path` (file, folder or dangling link) if present: "" or "could not remove PATH".
QString removeTree(const QString &path, FileOperations &operations);

} // namespace corvane
