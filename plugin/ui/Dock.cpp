#include "ui/Dock.h"

#include "app/App.h"
#include "ui/AccountBox.h"
#include "ui/DevicesGroup.h"
#include "ui/FollowedGroup.h"
#include "ui/ManageDialog.h"
#include "ui/OverlaysGroup.h"
#include "ui/PluginGroup.h"
#include "ui/RecordingsGroup.h"
#include "ui/ScoreboardGroup.h"
#include "ui/ServerGroup.h"
#include "ui/SetupDialog.h"
#include "ui/SignedInRow.h"
#include "ui/SourcesGroup.h"
#include "ui/UpdateBanner.h"

#include <QFrame>
#include <QScrollArea>
#include <QVBoxLayout>

namespace corvane {

Dock::Dock(App *app, QWidget *parent)
    : QWidget(parent)
    , m_app(app)
{
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->addWidget(m_banner = new UpdateBanner(app));
    column->addWidget(m_account = new AccountBox(app));
    column->addWidget(m_signedIn = new SignedInRow(app));
    column->addWidget(m_scoreboard = new ScoreboardGroup(app));
    auto *followed = new FollowedGroup(app);
    column->addWidget(followed);
    column->addWidget(new SourcesGroup);
    column->addWidget(new RecordingsGroup(app));
    column->addWidget(m_devices = new DevicesGroup(app));
    column->addWidget(m_server = new ServerGroup(app));
    column->addWidget(new OverlaysGroup(app));
    column->addWidget(m_plugin = new PluginGroup(app));
    column->addStretch();

    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    connect(&m_app->portal(), &PortalClient::signedInChanged, this, &Dock::showAccount);
    connect(m_scoreboard, &ScoreboardGroup::devicesShown, m_devices, &DevicesGroup::showPicked);
    connect(followed, &FollowedGroup::mainChanged, m_scoreboard, &ScoreboardGroup::showDevices);
    connect(m_devices, &DevicesGroup::setupRequested, this, &Dock::openSetupDialog);
    connect(m_devices, &DevicesGroup::manageRequested, this, &Dock::openManageDialog);
    showAccount();
    m_plugin->showUpdate();
    m_banner->showUpdate();
    // The relay row starts hidden unless something is relayed, not after the first tick.
    m_devices->showRelays();
    m_scoreboard->showHeld();
}

void Dock::showAccount()
{
    const bool signedIn = m_app->portal().isSignedIn();
    m_account->setVisible(!signedIn);
    m_signedIn->showAccount(signedIn);
    m_scoreboard->showAccount(signedIn);
    m_devices->showAccount(signedIn);
    m_scoreboard->showDevices();
    m_scoreboard->showStatus();
    m_scoreboard->showScore();
    m_server->showServer();
}

void Dock::openManageDialog()
{
    const QString id = m_scoreboard->pickedDevice();
    if (id.isEmpty())
        return;
    auto *dialog = new ManageDialog(&m_app->portal(), id, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void Dock::openSetupDialog()
{
    if (!m_setupDialog) {
        m_setupDialog = new SetupDialog(m_app, this);
        m_setupDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_setupDialog->show();
    m_setupDialog->raise();
    m_setupDialog->activateWindow();
}

} // namespace corvane
