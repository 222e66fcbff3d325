#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace corvane {

// What a request for an overlay file comes to: a status, and for 200 the file to send
// with its content type, for 301 where to go instead.
struct OverlayFile {
    int status = 404;
    QString path;
    QByteArray contentType;
    QByteArray location;
};

// Maps request paths under /overlays/ to files: the built-in overlays (resources of the
// plugin) and the user's own, each a folder of the overlays folder named by its first path
// segment. Nothing outside those folders is ever reached: every segment is decoded once and
// must be a plain name (no "..", no slashes of any kind, no hidden files), and a user file is
// served only when its real path, links resolved, still lies inside its overlay's folder,
// which itself lies inside the overlays folder. Refusals look like absent files (404), so
// that a probe learns nothing about what lies outside.
class OverlayFiles {
public:
    static constexpr char kPrefix[] = "/overlays/";

    // `builtInRoot` holds one folder per built-in overlay; `userRoot` is the user's overlays
    // folder (may be absent or empty).
    OverlayFiles(const QString &builtInRoot, const QString &userRoot);

    // `encodedPath` is the request's path as sent, still percent-encoded.
    OverlayFile resolve(const QByteArray &encodedPath) const;

    // Names of the overlays served, built-in first; a user folder named like a built-in
    // overlay is not served, so the documented addresses always show the built-in one.
    QStringList builtInNames() const;
    QStringList userNames() const;

    QString userRoot() const { return m_userRoot; }

    // By file name extension; anything unknown is sent as opaque bytes.
    static QByteArray contentType(const QString &fileName);
    // A folder name that may appear as an overlay's name in an address.
    static bool isOverlayName(const QString &name);

private:
    // The real path of the user's overlay `name` when it lies inside the overlays folder.
    QString userFolder(const QString &name) const;
    OverlayFile resolveUser(const QString &name, const QStringList &rest) const;

    QString m_builtInRoot;
    QString m_userRoot;
};

} // namespace corvane
