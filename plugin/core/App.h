#pragma once

#include "core/AppEnvironment.h"
#include "core/SettingsStore.h"
#include "live/LiveData.h"

#include <QJsonObject>
#include <QObject>

namespace corvane {

class HostedServer;
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
    HostedServer *server() const { return m_server; }

    // Starts or stops the hosted server as the settings say; a failed start is logged.
    void applyServerSettings();
    // Answers a hosted-server client's request other than "get".
    QJsonObject handleServerCommand(const QString &op, const QJsonObject &request);

Q_SIGNALS:
    void serverStateChanged();

private:
    QJsonObject serverStatus(const QJsonObject &request);
    QJsonObject serverDevices(const QJsonObject &request);
    QJsonObject serverUse(const QJsonObject &request);

    LiveData m_live;
    SettingsStore m_settings;
    PortalClientJar *m_sessionJar;
    HostedServer *m_server;
};

} // namespace corvane
