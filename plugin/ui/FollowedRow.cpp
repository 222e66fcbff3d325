#include "ui/FollowedRow.h"

#include "app/FollowedDevice.h"
#include "app/MakeMain.h"
#include "live/SourceManager.h"
#include "ui/DockLabels.h"
#include "ui/DockText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

FollowedRow::FollowedRow(FollowedDevice *device, QWidget *parent)
    : QWidget(parent)
    , m_route(device->route())
    , m_data(device->data())
    , m_manager(device->sourceManager())
{
    auto *title = dock::wrappedLabel();
    title->setText(QStringLiteral("<b>%1</b> \u00b7 %2").arg(m_route.label().toHtmlEscaped(), followedRouteText(m_route).toHtmlEscaped()));
    m_status = dock::wrappedLabel();
    m_score = dock::wrappedLabel();
    m_score->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_hold = new QPushButton;
    m_makeMain = new QPushButton(tr("Make main"));
    m_remove = new QPushButton(tr("Remove"));
    // Every row has the same buttons: the device's name tells them apart on the accessibility bus.
    m_makeMain->setAccessibleName(tr("Make %1 the main device").arg(m_route.label()));
    m_remove->setAccessibleName(tr("Stop following %1").arg(m_route.label()));
    if (!canBeMain(m_route)) {
        m_makeMain->setEnabled(false);
        m_makeMain->setToolTip(tr("A device on USB or Bluetooth becomes the main one in the setup wizard, with \"Use this "
                                  "device's live scores in OBS\"."));
    }
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_hold);
    buttons->addWidget(m_makeMain);
    buttons->addWidget(m_remove);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(title);
    layout->addWidget(m_status);
    layout->addWidget(m_score);
    layout->addLayout(buttons);

    const QString id = m_route.deviceId;
    connect(m_hold, &QPushButton::clicked, this, [this] { m_data->shown().setHeld(!m_data->shown().isHeld()); });
    connect(m_makeMain, &QPushButton::clicked, this, [this, id] { Q_EMIT makeMainWanted(id); });
    connect(m_remove, &QPushButton::clicked, this, [this, id] { Q_EMIT removeWanted(id); });
    connect(m_manager, &SourceManager::statusChanged, this, &FollowedRow::showStatus);
    connect(&m_data->live(), &LiveData::changed, this, &FollowedRow::showScore);
    connect(&m_data->shown(), &ShownScores::heldChanged, this, &FollowedRow::showHeld);
    showStatus();
    showScore();
    showHeld();
}

void FollowedRow::detach()
{
    if (m_manager)
        m_manager->disconnect(this);
    m_data->live().disconnect(this);
    m_data->shown().disconnect(this);
    m_manager.clear();
    for (QPushButton *button : {m_hold, m_makeMain, m_remove})
        button->setEnabled(false);
}

void FollowedRow::showStatus()
{
    const SourceManager *manager = m_manager.data();
    if (!manager)
        return;
    // A route that has not started says nothing yet; the dock's own hint is about its picker.
    const QString message = manager->message().isEmpty() ? tr("Not started yet.") : manager->message();
    m_status->setText(dockStatusHtml(manager->isLive(), message));
}

void FollowedRow::showScore()
{
    m_score->setText(dockScoreText(m_data->live()));
    m_score->setVisible(!m_score->text().isEmpty());
}

void FollowedRow::showHeld()
{
    const bool held = m_data->shown().isHeld();
    m_hold->setText(held ? tr("Resume") : tr("Hold"));
    m_hold->setAccessibleName(held ? tr("Resume live scores of %1").arg(m_route.label())
                                   : tr("Hold live scores of %1").arg(m_route.label()));
}

} // namespace corvane
