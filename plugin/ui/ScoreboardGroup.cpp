#include "ui/ScoreboardGroup.h"

#include "app/App.h"
#include "live/SourceManager.h"
#include "ui/DockLabels.h"
#include "ui/DockText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

ScoreboardGroup::ScoreboardGroup(App *app, QWidget *parent)
    : QGroupBox(tr("Scoreboard"), parent)
    , m_app(app)
{
    m_picker = new QComboBox;
    m_picker->setAccessibleName(tr("Scoreboard device"));
    m_localNetwork = new QCheckBox(tr("Use my local network (works without internet)"));
    m_status = dock::wrappedLabel();
    m_score = dock::wrappedLabel();
    m_score->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_held = dock::wrappedLabel();
    m_held->setStyleSheet(QStringLiteral("color: #e8a317; font-weight: bold;"));
    m_hold = new QPushButton;
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_picker);
    layout->addWidget(m_localNetwork);
    layout->addWidget(m_status);
    layout->addWidget(m_score);
    layout->addWidget(m_held);
    layout->addWidget(m_hold);
    connect(m_hold, &QPushButton::clicked, this, [this] { m_app->shown().setHeld(!m_app->shown().isHeld()); });
    connect(m_picker, &QComboBox::activated, this, &ScoreboardGroup::onDeviceActivated);
    connect(m_localNetwork, &QCheckBox::toggled, this, &ScoreboardGroup::onLocalNetworkToggled);
    setLayout(layout);

    connect(m_app, &App::devicesChanged, this, &ScoreboardGroup::showDevices);
    connect(m_app->sourceManager(), &SourceManager::statusChanged, this, &ScoreboardGroup::showStatus);
    connect(&m_app->live(), &LiveData::changed, this, &ScoreboardGroup::showScore);
    connect(&m_app->shown(), &ShownScores::heldChanged, this, &ScoreboardGroup::showHeld);
}

QString ScoreboardGroup::pickedDevice() const
{
    return m_picker->currentData().toString();
}

void ScoreboardGroup::showAccount(bool signedIn)
{
    m_picker->setVisible(signedIn);
}

void ScoreboardGroup::showDevices()
{
    QString wanted = m_app->sourceManager()->device();
    if (wanted.isEmpty())
        wanted = m_app->settings().selectedDevice();
    m_picker->clear();
    for (const CloudDevice &device : m_app->devices())
        m_picker->addItem(device.displayName(), device.deviceId);
    if (m_app->devices().isEmpty())
        m_picker->addItem(tr("No devices on this account yet"), QString());
    const int index = m_picker->findData(wanted);
    if (index >= 0)
        m_picker->setCurrentIndex(index);
    Q_EMIT devicesShown(pickedDevice());
    showRoute();
}

void ScoreboardGroup::showRoute()
{
    const QString id = pickedDevice();
    const LanRoute route = id.isEmpty() ? LanRoute{} : m_app->settings().lanRoute(id);
    const bool known = !route.host.isEmpty() && !route.token.isEmpty();
    m_fillingRoute = true;
    m_localNetwork->setVisible(known);
    m_localNetwork->setChecked(known && m_app->settings().routeFor(id) == QLatin1String("lan"));
    m_fillingRoute = false;
}

void ScoreboardGroup::showStatus()
{
    const SourceManager *manager = m_app->sourceManager();
    m_status->setText(dockStatusHtml(manager->isLive(), manager->message()));
}

void ScoreboardGroup::showScore()
{
    m_score->setText(dockScoreText(m_app->live()));
}

void ScoreboardGroup::showHeld()
{
    const bool held = m_app->shown().isHeld();
    // The dock keeps the live score above, so the operator sees the game move on.
    m_held->setText(held ? tr("Scores held: score texts, \"show when\" filters and chapters keep what they showed "
                              "until you resume.")
                         : QString());
    m_held->setVisible(held);
    m_hold->setText(held ? tr("Resume live scores") : tr("Hold live scores"));
}

void ScoreboardGroup::onDeviceActivated(int index)
{
    const QString id = m_picker->itemData(index).toString();
    if (id.isEmpty())
        return;
    m_app->selectDevice(id);
    showRoute();
}

void ScoreboardGroup::onLocalNetworkToggled(bool checked)
{
    const QString id = pickedDevice();
    if (m_fillingRoute || id.isEmpty())
        return;
    m_app->settings().setRoute(id, checked ? QStringLiteral("lan") : QStringLiteral("cloud"));
    m_app->selectDevice(id);
}

} // namespace corvane
