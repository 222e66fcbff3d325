#include "ui/WizardWifiPage.h"

#include "ui/SetupLabels.h"
#include "ui/WifiPanel.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

WizardWifiPage::WizardWifiPage(QWidget *parent)
    : QWidget(parent)
{
    m_holder = setup::holderWidget();
    auto *skip = new QPushButton(tr("Skip \u2013 use this computer's internet over USB, or the device already has Wi-Fi"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(setup::headingLabel(tr("Connect the device to Wi-Fi")));
    layout->addWidget(m_holder, 1);
    layout->addWidget(skip);
    connect(skip, &QPushButton::clicked, this, &WizardWifiPage::skipped);
}

void WizardWifiPage::attach(DeviceSession *session)
{
    auto *panel = new WifiPanel(session);
    m_panel = panel;
    setup::putInto(m_holder, panel);
    connect(panel, &WifiPanel::joined, this, &WizardWifiPage::joined);
}

void WizardWifiPage::refresh()
{
    if (WifiPanel *panel = m_panel.data())
        panel->refresh();
}

} // namespace corvane
