#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace corvane {

class LiveData;
struct FollowedRoute;

// The dock's texts that depend on data alone, apart from the widgets that show them.

// The score line: "home – away", then period, quarter, half, inning and clock when set; with
// none of those, up to three "name: value" pairs. HTML-escaped; empty without fields.
QString dockScoreText(const LiveData &live);

// The status line with its coloured dot: green while live, amber otherwise.
QString dockStatusHtml(bool live, const QString &message);

// What recording chapters give: markers only where the running OBS can add them (30.2 and
// later); the game log always.
QString dockChapterHint(bool obsAddsMarkers);

// The hosted server's state in one sentence.
struct ServerView {
    bool enabled = false;
    bool listening = false;
    bool allowNetwork = false;
    int configuredPort = 0;
    int listeningPort = 0;
    int clients = 0;
};
QString dockServerText(const ServerView &view);

// The overlay server's state in one sentence.
struct OverlayView {
    bool enabled = false;
    bool listening = false;
    int configuredPort = 0;
    int listeningPort = 0;
    int pages = 0;
};
QString dockOverlayText(const OverlayView &view);

// How a followed device is reached, in a few words: "cloud", "network 192.168.1.20", ...
QString followedRouteText(const FollowedRoute &route);

// `base`, or "base 2", "base 3", ... : the first name for which `taken` is false.
QString uniqueSourceName(const QString &base, const std::function<bool(const QString &name)> &taken);

} // namespace corvane
