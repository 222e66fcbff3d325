#pragma once

#include "core/AppEnvironment.h"
#include "core/SettingsStore.h"
#include "live/LiveData.h"

#include <QObject>

namespace corvane {

class PortalClientJar;

// The hub of the plugin: one per loaded module, living on the OBS user-interface thread.
// Views and sources reach it through instance().
class App : public QObject {
    Q_OBJECT
public:
    explicit App(const AppEnvironment &environment);
    ~App() override;

    static App *instance();
    static void setInstance(App *app);

    LiveData &live() { return m_live; }
    SettingsStore &settings() { return m_settings; }
    PortalClientJar &sessionJar() { return *m_sessionJar; }

private:
    LiveData m_live;
    SettingsStore m_settings;
    PortalClientJar *m_sessionJar;
};

} // namespace corvane
