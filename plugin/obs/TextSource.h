#pragma once

#include <QString>

#include <cstddef>
#include <functional>

struct obs_source;

namespace corvane {

// One `corvane_text` source: it fills its template from the live fields and shows the
// result through a private OBS text source that it wraps. Font, colour and the other text
// options are the wrapped source's own settings, passed through unchanged.
struct TextSource {
    obs_source *source = nullptr; // the corvane_text source; not referenced
    obs_source *child = nullptr;  // the wrapped text source; we hold its one reference
    QString templateText;         // the template last read from the settings
    QString shownText;            // the text last pushed to the wrapped source
    QString deviceId;             // the device it shows: empty for the main one

    // Registers the `corvane_text` type with OBS unless it is known already.
    static void registerType();
    // Renders and pushes again every source bound to the main device (refreshAll, connected
    // to its ShownScores::changed) or to one followed device.
    static void refreshAll();
    static void refreshDevice(const QString &deviceId);
    // How many sources are registered for refreshes now.
    static std::size_t registeredCount();
    // The first text source type in our order of preference that `known` accepts, or null.
    static const char *chooseChildType(const std::function<bool(const char *id)> &known);
};

} // namespace corvane
