#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;

namespace corvane {

class DeviceManager;
class DeviceSession;
class SettingsStore;

// The wizard's last stop for a device already set up: the full device manager on the
// session, live scores, and a way back to the start.
class WizardManagePage : public QWidget {
    Q_OBJECT
public:
    explicit WizardManagePage(SettingsStore *settings, QWidget *parent = nullptr);

    // A fresh device manager on `session`, headed with the device's `name`.
    void attach(DeviceSession *session, const QString &name);

Q_SIGNALS:
    // From the manager's security panel: a new API token, or a new admin password.
    void apiToken(const QString &token);
    void passwordChanged(const QString &password);
    void liveScoresWanted();
    void disconnectWanted();

private:
    SettingsStore *m_settings;
    QLabel *m_heading = nullptr;
    QWidget *m_holder = nullptr;
    QPointer<DeviceManager> m_manager;
};

} // namespace corvane
