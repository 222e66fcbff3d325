#pragma once

#include <QString>

struct obs_data;
struct obs_scene;

namespace corvane {

// What the dock asks of OBS's front end, in one place so that the widgets stay free of
// libobs. Without a running OBS front end every call does nothing and answers false.
class ObsFrontend {
public:
    // Adds a new source of `typeId` to the current scene, named `baseName` or "baseName N"
    // for the first free N, and opens its properties. False without a current scene.
    static bool addSourceToScene(const char *typeId, const QString &baseName);
    // The same in a given scene; false when OBS refused to create the source.
    static bool addSourceToScene(obs_scene *scene, const char *typeId, const QString &baseName);
    static bool isStreamingOrRecording();
    // Whether this OBS offers the source type `typeId` (Debian's OBS has no browser source).
    static bool hasSourceType(const char *typeId);
    // Adds a browser source showing `url`, transparent, at the size of OBS's canvas, to the
    // current scene, as addSourceToScene does. False without a current scene or without a
    // browser source type.
    static bool addBrowserSourceToScene(const QString &url, const QString &baseName);
    // OBS's recording-chapter call (OBS 30.2 and later), looked up when asked so that the
    // plugin loads into an older OBS; null there.
    using AddRecordingChapter = bool (*)(const char *name);
    static AddRecordingChapter recordingChapterCall();
    // Test seam: the name looked up, so that a test sees the look-up fail as in an older OBS.
    static void setRecordingChapterCallNameForTesting(const char *name);

private:
    static bool addSourceWithSettings(obs_scene *scene, const char *typeId, const QString &baseName, obs_data *settings);
};

} // namespace corvane
