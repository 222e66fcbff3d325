#pragma once

#include "live/ClientBounds.h"

#include <QByteArray>
#include <QtGlobal>

#include <chrono>

namespace corvane {

// Who may use the overlay server, and how much a client may send it. The server listens on
// 127.0.0.1 only, but any web page the user opens in a browser can make the browser connect
// there; these rules keep other sites from reading the scores.
class OverlayAccess {
public:
    // Bytes a client may send before its request is answered (the server reads nothing but
    // a GET's head). A WebSocket client, having nothing to say to a read-only feed, may
    // send this much in all.
    static constexpr qint64 kMaxRequestBytes = ClientBounds::kMaxPendingInput;
    // A client that stops reading is dropped once this much output waits for it.
    static constexpr qint64 kMaxPendingOutput = ClientBounds::kMaxPendingOutput;
    // Connections at once (pages, their files and WebSockets); more are closed on arrival.
    static constexpr int kMaxClients = 256;
    // A user overlay's file above this is not served.
    static constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;
    // A request head must arrive within this of its first byte; a connection kept alive
    // between requests, or a download that makes no progress, is closed after the other.
    static constexpr std::chrono::milliseconds kHeadTimeout{5000};
    static constexpr std::chrono::milliseconds kIdleTimeout{15000};

    // The Origin header a browser sends with a WebSocket and with cross-origin requests.
    // Allowed: none at all (tools, same-origin page loads) and this server's own origin,
    // http://127.0.0.1:PORT or http://localhost:PORT, which is also what OBS's browser source
    // sends for a page it loads from here (on port 80 also without ":80", as browsers send
    // it). Refused: every other site, and "null", which file pages send but so do sandboxed
    // frames that any site can create.
    static bool isOriginAllowed(const QByteArray &origin, bool present, quint16 port);

    // The Host header must name this server too: a site whose name resolves to 127.0.0.1
    // (DNS rebinding) sends no Origin for its own page's requests, but its own host name.
    // A request without one (HTTP/1.0 tools) is allowed.
    static bool isHostAllowed(const QByteArray &host, bool present, quint16 port);

    // Sec-Fetch-Site (lower case, empty when not sent): a page of another site loading a
    // file as a script, image, style or video sends no Origin, but browsers say so here.
    static bool isFetchSiteAllowed(const QByteArray &site);
};

} // namespace corvane
