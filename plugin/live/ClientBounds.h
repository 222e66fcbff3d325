#pragma once

#include <QtGlobal>

namespace corvane {

// What one client of a live server (the hosted TCP server and the overlay server) may cost:
// both hold to the same bounds, each without depending on the other.
struct ClientBounds {
    // Input a client may send before it is answered: one request line, or one request head.
    static constexpr qsizetype kMaxPendingInput = 64 * 1024;
    // A client that stops reading is dropped once this much output waits for it, so that
    // one stalled reader cannot make the plugin's memory grow without bound.
    static constexpr qint64 kMaxPendingOutput = 1024 * 1024;
};

} // namespace corvane
