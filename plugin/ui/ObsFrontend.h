#pragma once

#include <QString>

namespace corvane {

// What the dock asks of OBS's front end, in one place so that the widgets stay free of
// libobs. Without a running OBS front end every call does nothing and answers false.
class ObsFrontend {
public:
    // Adds a new source of `typeId` to the current scene, named `baseName` or "baseName N"
    // for the first free N, and opens its properties. False without a current scene.
    static bool addSourceToScene(const char *typeId, const QString &baseName);
    static bool isStreamingOrRecording();
};

} // namespace corvane
