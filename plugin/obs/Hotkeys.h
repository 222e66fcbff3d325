#pragma once

#include <cstddef>
#include <functional>

struct config_data;

namespace corvane {

// The plugin's front-end hotkeys, in OBS's Settings > Hotkeys as "Corvane: ...". OBS's
// settings window saves every front-end hotkey's bindings under [Hotkeys] in the profile's
// configuration, by the hotkey's name; OBS loads only its own back, so we load ours from
// there at start and on each profile change.
class Hotkeys {
public:
    // Hold and Resume act on the main device; HoldAll and ResumeAll on it and every followed one.
    enum class Action { Hold, Resume, ToggleSources, Chapter, HoldAll, ResumeAll };

    struct Entry {
        Action action;
        const char *name;        // the key OBS saves the bindings under
        const char *description; // shown in Settings > Hotkeys
    };
    static const Entry kEntries[6];

    // Registers the hotkeys once and loads their bindings from the profile; `act` runs on
    // the user-interface thread whatever thread OBS calls a hotkey on.
    static void registerAll(std::function<void(Action)> act);
    static void unregisterAll();
    // Loads the bindings saved under [Hotkeys] in `config` (null: leaves them as they are).
    static void loadBindings(config_data *config);
    static bool isRegistered();
};

} // namespace corvane
