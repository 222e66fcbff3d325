#include "ui/FollowedGroup.h"

#include "app/App.h"
#include "app/FollowedDevices.h"
#include "app/MakeMain.h"
#include "ui/DockLabels.h"
#include "ui/FollowDialog.h"
#include "ui/FollowedRow.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

FollowedGroup::FollowedGroup(App *app, QWidget *parent)
    : QGroupBox(tr("Followed devices"), parent)
    , m_app(app)
{
    m_empty = dock::hintLabel(tr("Follow other devices to show several games at once: choose one in a score text's or "
                                 "\"show when\" filter's properties."));
    m_rows = new QVBoxLayout;
    auto *follow = new QPushButton(tr("Follow another device\u2026"));
    auto *layout = new QVBoxLayout;
    layout->addLayout(m_rows);
    layout->addWidget(m_empty);
    layout->addWidget(follow);
    setLayout(layout);
    connect(follow, &QPushButton::clicked, this, &FollowedGroup::openFollowDialog);

    FollowedDevices *followed = m_app->followed();
    connect(followed, &FollowedDevices::followed, this, &FollowedGroup::addRow);
    connect(followed, &FollowedDevices::unfollowed, this, &FollowedGroup::removeRow);
    for (const QString &id : followed->ids())
        addRow(id);
    m_empty->setVisible(m_rows->count() == 0);
}

void FollowedGroup::openFollowDialog()
{
    if (!m_dialog) {
        m_dialog = new FollowDialog(m_app, this);
        m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

void FollowedGroup::addRow(const QString &deviceId)
{
    FollowedDevice *device = m_app->followed()->device(deviceId);
    if (!device)
        return;
    auto *row = new FollowedRow(device);
    connect(row, &FollowedRow::makeMainWanted, this, &FollowedGroup::makeMain);
    connect(row, &FollowedRow::removeWanted, m_app->followed(), &FollowedDevices::unfollow);
    m_rows->addWidget(row);
    // Shown now, not when the layout gets to it: a hidden row counts as removed.
    row->show();
    m_empty->hide();
}

void FollowedGroup::removeRow(const QString &deviceId)
{
    for (FollowedRow *row : findChildren<FollowedRow *>()) {
        if (row->deviceId() != deviceId || row->isHidden())
            continue;
        // Later: the unfollow may have come from one of the row's own buttons.
        row->detach();
        row->hide();
        m_rows->removeWidget(row);
        row->deleteLater();
    }
    m_empty->setVisible(m_rows->count() == 0);
}

void FollowedGroup::makeMain(const QString &deviceId)
{
    if (corvane::makeMain(*m_app, deviceId))
        Q_EMIT mainChanged();
}

} // namespace corvane
