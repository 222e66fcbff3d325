#include "ui/WizardScoreboardPage.h"

#include "ui/ControllerPanel.h"
#include "ui/SetupLabels.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

WizardScoreboardPage::WizardScoreboardPage(QWidget *parent)
    : QWidget(parent)
{
    m_holder = setup::holderWidget();
    auto *skip = new QPushButton(tr("Skip"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(setup::headingLabel(tr("Choose the scoreboard")));
    layout->addWidget(m_holder, 1);
    layout->addWidget(skip);
    connect(skip, &QPushButton::clicked, this, &WizardScoreboardPage::skipped);
}

void WizardScoreboardPage::attach(DeviceSession *session)
{
    auto *panel = new ControllerPanel(session);
    m_panel = panel;
    setup::putInto(m_holder, panel);
    connect(panel, &ControllerPanel::saved, this, &WizardScoreboardPage::saved);
}

} // namespace corvane
