#include "ui/SharePanel.h"

#include "device/usb/CloudRelay.h"
#include "device/usb/StreamRelay.h"
#include "app/App.h"
#include "base/SettingsStore.h"
#include "device/usb/UsbLink.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

namespace {

// The byte counters change without a status signal; the text follows them at this pace.
constexpr int CounterRefreshMs = 1000;

} // namespace

SharePanel::SharePanel(QWidget *parent, SettingsStore *settings)
    : QWidget(parent)
    , m_settings(settings)
    , m_share(new QCheckBox(tr("Share this computer's internet connection"), this))
    , m_status(new QLabel(this))
    , m_counters(new QTimer(this))
{
    if (!m_settings && App::instance())
        m_settings = &App::instance()->settings();
    m_share->setToolTip(tr("Let the device reach the Corvane cloud through this computer"));
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_share);
    layout->addWidget(m_status);
    connect(m_share, &QCheckBox::toggled, this, &SharePanel::onToggled);
    connect(m_counters, &QTimer::timeout, this, &SharePanel::refresh);
    hide();
}

void SharePanel::attach(UsbLink *link, bool servesReceiver)
{
    if (m_link)
        m_link->disconnect(this);
    m_link = link;
    m_servesReceiver = servesReceiver;
    if (!link) {
        m_counters->stop();
        hide();
        return;
    }
    if (parentWidget())
        show();
    if (CloudRelay *relay = link->cloudRelay())
        relay->setEnabled(m_settings ? m_settings->shareConnection() : true);
    connect(link, &UsbLink::tunnelChanged, this, &SharePanel::refresh);
    m_counters->start(CounterRefreshMs);
    refresh();
}

void SharePanel::refresh()
{
    const UsbLink *link = m_link.data();
    if (!link)
        return;
    const Snapshot state = snapshotOf(*link);
    {
        const QSignalBlocker blocker(m_share);
        m_share->setChecked(state.enabled);
    }
    m_status->setText(statusText(state, m_servesReceiver));
}

void SharePanel::onToggled(bool share)
{
    if (m_settings)
        m_settings->setShareConnection(share);
    UsbLink *link = m_link.data();
    CloudRelay *relay = link ? link->cloudRelay() : nullptr;
    if (relay)
        relay->setEnabled(share);
    refresh();
}

SharePanel::Snapshot SharePanel::snapshotOf(const UsbLink &link)
{
    Snapshot state;
    if (const CloudRelay *cloud = link.cloudRelay()) {
        state.enabled = cloud->isEnabled();
        state.targetValid = cloud->targetValid();
        state.connected = cloud->isConnected();
        state.bytesUp = cloud->bytesUp();
        state.bytesDown = cloud->bytesDown();
        state.lastError = cloud->lastError();
        state.host = cloud->host();
    }
    if (const StreamRelay *streams = link.streamRelay()) {
        state.routeNames = streams->routeNames();
        state.openCount = streams->openCount();
        state.bytesToDevice = streams->bytesToDevice();
    }
    return state;
}

QString SharePanel::statusText(const Snapshot &state, bool servesReceiver)
{
    QString first;
    if (!state.enabled)
        first = tr("Sharing is off, so the device cannot reach the cloud over this cable.");
    else if (!state.targetValid && servesReceiver)
        first = tr("Waiting for the paired device to ask for the cloud. This starts once the device is linked to the receiver and "
                   "has its cloud sign-in.");
    else if (!state.targetValid)
        first = tr("The device is not asking for a cloud connection over USB. Turn on \"Cloud over USB\" in this device's Settings "
                   "tab (the device also needs its cloud sign-in).");
    else if (state.connected)
        first = tr("Connected to the cloud through this computer.  Sent %1, received %2.")
                    .arg(formatBytes(state.bytesUp), formatBytes(state.bytesDown));
    else if (!state.lastError.isEmpty())
        first = tr("This computer could not reach the cloud (%1). Check its internet connection.").arg(state.lastError);
    else
        first = tr("Ready. This computer connects to %1 as soon as the device asks.").arg(state.host);

    QString second;
    if (state.routeNames.contains(QStringLiteral("ota"))) {
        const QString downloading =
            state.openCount >= 1 ? tr(" (downloading now: %1 received)").arg(formatBytes(state.bytesToDevice)) : QString();
        second = tr("Firmware updates for a device with no Wi-Fi or Ethernet also download through this computer%1.").arg(downloading);
    } else {
        second = tr("Only the live-score cloud link travels over the cable. This device downloads firmware itself, so it needs Wi-Fi "
                    "or Ethernet for updates (or update its firmware over Wi-Fi once).");
    }
    return first + QLatin1Char('\n') + second;
}

QString SharePanel::formatBytes(quint64 bytes)
{
    if (bytes < 1024)
        return tr("%1 B").arg(bytes);
    if (bytes < 1048576)
        return tr("%1 KB").arg(double(bytes) / 1024.0, 0, 'f', 1);
    return tr("%1 MB").arg(double(bytes) / 1048576.0, 0, 'f', 1);
}

} // namespace corvane
