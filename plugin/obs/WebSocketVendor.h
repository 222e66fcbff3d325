#pragma once

namespace corvane {

// Serves the live scores to obs-websocket clients: a vendor named "corvane" whose requests
// are App's remote requests (RemoteRequests) and whose events are RemoteEvents' (the main
// device's "LiveDataChanged" and "StatusChanged", and the followed devices' own). Without
// obs-websocket it logs one line and does nothing.
class WebSocketVendor {
public:
    // Once every module has loaded (obs-websocket included).
    static void registerVendor();
    // Stops the requests and events and removes the front-end callback; safe to call again.
    // The requests and events also stop when OBS begins to exit, while obs-websocket is
    // still loaded.
    static void unregisterVendor();
};

} // namespace corvane
