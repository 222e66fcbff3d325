#include "ui/UpdatesPanel.h"

#include "device/DeviceSession.h"
#include "device/rpc/RpcMethodTable.h"
#include "ui/Prompter.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

namespace {

QLabel *statusLine(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QProgressBar *progressBar(const QString &name, QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setAccessibleName(name);
    return bar;
}

QString text(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}

} // namespace

UpdatesPanel::UpdatesPanel(DeviceSession *session, QWidget *parent)
    : PanelBase(session, parent)
    , m_firmwareTimer(new QTimer(this))
    , m_chipTimer(new QTimer(this))
{
    auto *firmware = new QGroupBox(tr("Device firmware"), this);
    auto *firmwareLayout = new QVBoxLayout(firmware);
    m_firmware = statusLine(firmware);
    m_check = new QPushButton(tr("Check for update"), firmware);
    m_install = new QPushButton(tr("Install update and restart"), firmware);
    m_install->setEnabled(false);
    m_firmwareProgress = progressBar(tr("Firmware update progress"), firmware);
    m_firmwareStatus = statusLine(firmware);
    firmwareLayout->addWidget(m_firmware);
    auto *firmwareButtons = new QHBoxLayout;
    firmwareButtons->addWidget(m_check);
    firmwareButtons->addWidget(m_install);
    firmwareButtons->addStretch();
    firmwareLayout->addLayout(firmwareButtons);
    firmwareLayout->addWidget(m_firmwareProgress);
    firmwareLayout->addWidget(m_firmwareStatus);

    auto *chip = new QGroupBox(tr("Wireless chip (ESP32-C6)"), this);
    auto *chipLayout = new QVBoxLayout(chip);
    m_chip = statusLine(chip);
    m_chipUpdate = new QPushButton(tr("Update wireless chip and restart"), chip);
    m_chipProgress = progressBar(tr("Wireless chip update progress"), chip);
    m_chipStatus = statusLine(chip);
    chipLayout->addWidget(m_chip);
    auto *chipButtons = new QHBoxLayout;
    chipButtons->addWidget(m_chipUpdate);
    chipButtons->addStretch();
    chipLayout->addLayout(chipButtons);
    chipLayout->addWidget(m_chipProgress);
    chipLayout->addWidget(m_chipStatus);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(firmware);
    layout->addWidget(chip);
    layout->addWidget(messageLabel());
    layout->addStretch();

    m_firmwareTimer->setSingleShot(true);
    m_chipTimer->setSingleShot(true);
    connect(m_firmwareTimer, &QTimer::timeout, this, [this] { pollFirmware(m_firmwareFailures); });
    connect(m_chipTimer, &QTimer::timeout, this, [this] { pollChip(m_chipFailures); });
    connect(m_check, &QPushButton::clicked, this, &UpdatesPanel::check);
    connect(m_install, &QPushButton::clicked, this, &UpdatesPanel::install);
    connect(m_chipUpdate, &QPushButton::clicked, this, &UpdatesPanel::updateChip);
}

int UpdatesPanel::percent(double bytes, double total)
{
    if (total <= 0)
        return 0;
    return int(qBound(0.0, bytes * 100.0 / total, 100.0));
}

void UpdatesPanel::setFirmwareStatus(const QString &status, bool isError)
{
    m_firmwareStatus->setStyleSheet(isError ? errorStyle() : QString());
    m_firmwareStatus->setText(status);
}

void UpdatesPanel::setChipStatus(const QString &status, bool isError)
{
    m_chipStatus->setStyleSheet(isError ? errorStyle() : QString());
    m_chipStatus->setText(status);
}

void UpdatesPanel::refresh()
{
    call(QStringLiteral("getStatus"), {}, [this](const RpcResult &result) {
        if (!result.ok) {
            showMessage(result.message, true);
            return;
        }
        m_firmware->setText(tr("Running: %1").arg(text(result.result, "firmware_version")));
    });
    call(QStringLiteral("c6OtaStatus"), {}, [this](const RpcResult &result) {
        if (!result.ok) {
            showMessage(result.message, true);
            return;
        }
        QString version = text(result.result, "c6_running_version");
        if (version.isEmpty())
            version = text(result.result, "running_version");
        m_chip->setText(tr("Running: %1").arg(version.isEmpty() ? tr("unknown") : version));
    });
}

void UpdatesPanel::check()
{
    if (!requireSession())
        return;
    m_check->setEnabled(false);
    setFirmwareStatus(tr("Checking…"));
    call(QStringLiteral("otaCheck"), {}, [this](const RpcResult &result) {
        m_check->setEnabled(true);
        if (!result.ok) {
            setFirmwareStatus(result.message, true);
            return;
        }
        const QJsonObject &answer = result.result;
        m_firmware->setText(tr("Running: %1").arg(text(answer, "current_version")));
        const bool available = answer.value(QLatin1String("update_available")).toBool();
        m_install->setEnabled(available);
        m_offeredVersion = text(answer, "version");
        const QString error = text(answer, "error");
        if (!error.isEmpty())
            setFirmwareStatus(tr("Error: %1").arg(error));
        else if (available)
            setFirmwareStatus(tr("Version %1 is available.").arg(m_offeredVersion));
        else
            setFirmwareStatus(tr("Up to date."));
    });
}

void UpdatesPanel::install()
{
    if (!requireSession())
        return;
    const QString what = m_offeredVersion.isEmpty() ? tr("the latest firmware") : tr("version %1").arg(m_offeredVersion);
    if (!Prompter::confirm(this, tr("Install update"), tr("Install %1 and restart the device now?").arg(what)))
        return;
    m_check->setEnabled(false);
    m_install->setEnabled(false);
    setFirmwareStatus(tr("Starting the update…"));
    call(QStringLiteral("otaApply"), {}, [this](const RpcResult &result) {
        if (!result.ok) {
            setFirmwareStatus(result.message, true);
            m_check->setEnabled(true);
            m_install->setEnabled(true);
            return;
        }
        pollFirmware(0);
    });
}

void UpdatesPanel::pollFirmware(int failures)
{
    m_firmwareFailures = failures;
    if (!requireSession()) {
        m_check->setEnabled(true);
        return;
    }
    call(QStringLiteral("otaProgress"), {}, [this](const RpcResult &result) {
        if (!result.ok) {
            if (m_firmwareFailures + 1 < MaxFailedPolls) {
                ++m_firmwareFailures;
                m_firmwareTimer->start(m_timing.retryIntervalMs);
                return;
            }
            setFirmwareStatus(tr("Lost contact with the device while it updates (it is probably restarting). Reconnect in a minute."));
            m_check->setEnabled(true);
            m_install->setEnabled(true);
            return;
        }
        m_firmwareFailures = 0;
        const QJsonObject &answer = result.result;
        const QString state = text(answer, "state");
        if (state == QLatin1String("downloading")) {
            const int done = percent(answer.value(QLatin1String("bytes_read")).toDouble(), answer.value(QLatin1String("total_bytes")).toDouble());
            m_firmwareProgress->setValue(done);
            setFirmwareStatus(tr("Downloading… %1%").arg(done));
        } else if (state == QLatin1String("applying")) {
            m_firmwareProgress->setValue(100);
            setFirmwareStatus(tr("Verifying and applying the update…"));
        } else if (state == QLatin1String("rebooting")) {
            m_firmwareProgress->setValue(100);
            setFirmwareStatus(tr("Update applied. The device is restarting – reconnect in a minute."));
            m_check->setEnabled(true);
            return;
        } else if (state == QLatin1String("failed")) {
            const QString error = text(answer, "error");
            setFirmwareStatus(tr("Update failed: %1").arg(error.isEmpty() ? tr("unknown error") : error), true);
            m_check->setEnabled(true);
            m_install->setEnabled(true);
            return;
        }
        m_firmwareTimer->start(m_timing.pollIntervalMs);
    }, ProgressPollTimeoutMs);
}

void UpdatesPanel::updateChip()
{
    if (!requireSession())
        return;
    if (!Prompter::confirm(this, tr("Update wireless chip"), tr("Update the wireless chip from the staged image and restart the device?")))
        return;
    m_chipUpdate->setEnabled(false);
    const QJsonObject params{{QStringLiteral("source"), QStringLiteral("partition")}, {QStringLiteral("force"), false}};
    call(QStringLiteral("c6OtaApply"), params, [this](const RpcResult &result) {
        if (!result.ok) {
            setChipStatus(result.message, true);
            m_chipUpdate->setEnabled(true);
            return;
        }
        pollChip(0);
    });
}

void UpdatesPanel::pollChip(int failures)
{
    m_chipFailures = failures;
    if (!requireSession()) {
        m_chipUpdate->setEnabled(true);
        return;
    }
    call(QStringLiteral("c6OtaStatus"), {}, [this](const RpcResult &result) {
        if (!result.ok) {
            if (m_chipFailures + 1 < MaxFailedPolls) {
                ++m_chipFailures;
                m_chipTimer->start(m_timing.retryIntervalMs);
                return;
            }
            setChipStatus(tr("Lost contact with the device (it may be restarting)."));
            m_chipUpdate->setEnabled(true);
            return;
        }
        m_chipFailures = 0;
        const QJsonObject &answer = result.result;
        const QString state = text(answer, "state");
        if (state == QLatin1String("failed")) {
            const QString error = text(answer, "error");
            setChipStatus(tr("Update failed: %1").arg(error.isEmpty() ? tr("unknown error") : error), true);
            m_chipUpdate->setEnabled(true);
            return;
        }
        if (state == QLatin1String("rebooting") || state == QLatin1String("done") || state == QLatin1String("idle")) {
            setChipStatus(tr("Finished. The device may restart."));
            m_chipUpdate->setEnabled(true);
            return;
        }
        m_chipProgress->setValue(percent(answer.value(QLatin1String("bytes_sent")).toDouble(), answer.value(QLatin1String("total_bytes")).toDouble()));
        setChipStatus(tr("Working… (%1)").arg(state));
        m_chipTimer->start(m_timing.pollIntervalMs);
    }, kC6OtaStatusPollTimeoutMs);
}

} // namespace corvane
