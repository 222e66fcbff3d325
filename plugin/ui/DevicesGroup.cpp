#include "ui/DevicesGroup.h"

#include "app/App.h"
#include "ui/DockLabels.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

namespace {

// Relays come and go with devices the dock hears nothing about, so their lines are re-read.
constexpr int kRelayRefreshMs = 2000;

} // namespace

DevicesGroup::DevicesGroup(App *app, QWidget *parent)
    : QGroupBox(tr("Devices"), parent)
    , m_app(app)
{
    auto *setUp = new QPushButton(tr("Set up or manage a device…"));
    m_manage = new QPushButton(tr("Manage the selected device through my account…"));
    m_relays = dock::wrappedLabel();
    m_stopSharing = new QPushButton(tr("Stop sharing this computer's internet with USB devices"));
    auto *layout = new QVBoxLayout;
    layout->addWidget(setUp);
    layout->addWidget(m_manage);
    layout->addWidget(m_relays);
    layout->addWidget(m_stopSharing);
    connect(setUp, &QPushButton::clicked, this, &DevicesGroup::setupRequested);
    connect(m_manage, &QPushButton::clicked, this, &DevicesGroup::manageRequested);
    connect(m_stopSharing, &QPushButton::clicked, this, [this] { m_app->releaseAllRelays(); });
    setLayout(layout);

    connect(m_app, &App::usbRelaysChanged, this, &DevicesGroup::showRelays);
    connect(&m_relayTimer, &QTimer::timeout, this, &DevicesGroup::showRelays);
    m_relayTimer.start(kRelayRefreshMs);
}

void DevicesGroup::showAccount(bool signedIn)
{
    m_manage->setVisible(signedIn);
}

void DevicesGroup::showPicked(const QString &deviceId)
{
    m_manage->setEnabled(!deviceId.isEmpty());
}

void DevicesGroup::showRelays()
{
    const QStringList lines = m_app->relayStatusLines();
    m_relays->setVisible(!lines.isEmpty());
    m_stopSharing->setVisible(!lines.isEmpty());
    m_relays->setText(tr("USB cloud relay") + QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
}

} // namespace corvane
