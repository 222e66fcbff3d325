#include "ui/WizardManagePage.h"

#include "ui/DeviceManager.h"
#include "ui/SecurityPanel.h"
#include "ui/SetupLabels.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

WizardManagePage::WizardManagePage(SettingsStore *settings, QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
{
    m_heading = setup::headingLabel();
    m_holder = setup::holderWidget();
    auto *live = new QPushButton(tr("Use live scores in OBS"));
    auto *disconnectButton = new QPushButton(tr("Disconnect"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(live);
    buttons->addStretch();
    buttons->addWidget(disconnectButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_heading);
    layout->addWidget(m_holder, 1);
    layout->addLayout(buttons);
    connect(live, &QPushButton::clicked, this, &WizardManagePage::liveScoresWanted);
    connect(disconnectButton, &QPushButton::clicked, this, &WizardManagePage::disconnectWanted);
}

void WizardManagePage::attach(DeviceSession *session, const QString &name)
{
    setup::setHeading(m_heading, name);
    if (DeviceManager *old = m_manager.data())
        old->deleteLater();
    auto *manager = new DeviceManager(session, nullptr, m_settings);
    m_manager = manager;
    setup::putInto(m_holder, manager);
    SecurityPanel *security = manager->securityPanel();
    connect(security, &SecurityPanel::apiToken, this, &WizardManagePage::apiToken);
    connect(security, &SecurityPanel::passwordChanged, this, &WizardManagePage::passwordChanged);
}

} // namespace corvane
