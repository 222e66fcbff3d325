#pragma once

#include <QString>

namespace corvane {

// What an unpacked package looks like: ok with the plugin folder inside it, or the reason
// it must not be installed ("package_shape", "package_link", "package_no_library").
struct TreeCheck {
    bool ok = false;
    QString code;
    QString pluginFolder;
};

// The unpacked tree must be one plugin folder (a "__MACOSX" folder beside it is ignored),
// free of links, wholly inside `extracted`, and holding the library at `libraryPath`.
TreeCheck checkExtractedTree(const QString &extracted, const QString &libraryPath);

} // namespace corvane
