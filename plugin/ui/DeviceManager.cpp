#include "ui/DeviceManager.h"

#include "ui/AdvancedPanel.h"
#include "ui/CloudPanel.h"
#include "ui/SecurityPanel.h"
#include "ui/SettingsPanel.h"
#include "ui/StatusPanel.h"
#include "ui/UpdatesPanel.h"
#include "ui/WifiPanel.h"

namespace corvane {

DeviceManager::DeviceManager(DeviceSession *session, QWidget *parent, SettingsStore *settings)
    : QTabWidget(parent)
{
    m_security = new SecurityPanel(session, this);
    const QList<QPair<PanelBase *, QString>> tabs{
        {new StatusPanel(session, this), tr("Status")},
        {new WifiPanel(session, this), tr("Wi-Fi")},
        {new SettingsPanel(session, this), tr("Settings")},
        {m_security, tr("Security")},
        {new UpdatesPanel(session, this), tr("Updates")},
        {new CloudPanel(session, this, settings), tr("Cloud")},
        {new AdvancedPanel(session, this), tr("Advanced")},
    };
    // Connected first: adding the first tab makes it current, and it loads like any other.
    connect(this, &QTabWidget::currentChanged, this, [this](int index) {
        if (index >= 0 && index < m_panels.size())
            m_panels.at(index)->refresh();
    });
    for (const auto &[panel, title] : tabs)
        m_panels << panel;
    for (const auto &[panel, title] : tabs)
        addTab(panel, title);
}

} // namespace corvane
