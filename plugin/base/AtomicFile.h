#pragma once

#include <QByteArray>
#include <QString>

namespace corvane {

// Replaces the file at `path` with `bytes` in one step (temporary file, then rename),
// creating missing folders and leaving it readable and writable by its owner only.
// Returns false when the file could not be written; the old content then stays.
bool saveFileAtomically(const QString &path, const QByteArray &bytes);

} // namespace corvane
