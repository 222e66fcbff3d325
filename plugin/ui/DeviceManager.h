#pragma once

#include <QList>
#include <QTabWidget>

namespace corvane {

class DeviceSession;
class PanelBase;
class SecurityPanel;
class SettingsStore;

// The tabbed manager of one signed-in device. Each tab is a panel; a tab asks the device
// again each time it is shown, and only then.
class DeviceManager : public QTabWidget {
    Q_OBJECT
public:
    // `settings` keeps the operator's sharing choice; without one, App's settings are used.
    explicit DeviceManager(DeviceSession *session, QWidget *parent = nullptr, SettingsStore *settings = nullptr);

    const QList<PanelBase *> &panels() const { return m_panels; }
    SecurityPanel *securityPanel() const { return m_security; }

private:
    QList<PanelBase *> m_panels;
    SecurityPanel *m_security = nullptr;
};

} // namespace corvane
