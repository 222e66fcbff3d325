#include "ui/CloudPanel.h"

#include "device/DeviceSession.h"
#include "device/usb/UsbLink.h"
#include "ui/Prompter.h"
#include "ui/SharePanel.h"
#include "ui/StatusText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

CloudPanel::CloudPanel(DeviceSession *session, QWidget *parent, SettingsStore *settings)
    : PanelBase(session, parent)
    , m_refresh(new QPushButton(tr("Refresh"), this))
    , m_connection(new QLabel(this))
    , m_route(new QLabel(this))
    , m_deviceId(new QLineEdit(this))
    , m_save(new QPushButton(tr("Save device ID"), this))
    , m_forget(new QPushButton(tr("Forget cloud sign-in on this device…"), this))
    , m_share(new SharePanel(this, settings))
{
    m_connection->setTextFormat(Qt::PlainText);
    m_route->setTextFormat(Qt::PlainText);
    m_deviceId->setPlaceholderText(tr("Device ID, e.g. corvane0029"));
    m_deviceId->setAccessibleName(tr("Device ID"));

    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    top->addWidget(m_connection, 1);
    top->addWidget(m_refresh);
    layout->addLayout(top);
    layout->addWidget(m_route);
    layout->addSpacing(8);
    layout->addWidget(makeText(tr("<b>Device ID</b>"), this));
    layout->addWidget(makeText(tr("Identifies this device in your Corvane account. Only change it if instructed by support."), this));
    auto *idRow = new QHBoxLayout;
    idRow->addWidget(m_deviceId, 1);
    idRow->addWidget(m_save);
    layout->addLayout(idRow);
    auto *forgetRow = new QHBoxLayout;
    forgetRow->addWidget(m_forget);
    forgetRow->addStretch();
    layout->addLayout(forgetRow);
    layout->addSpacing(8);
    layout->addWidget(m_share);
    layout->addWidget(messageLabel());
    layout->addStretch();

    connect(m_refresh, &QPushButton::clicked, this, &CloudPanel::refresh);
    connect(m_save, &QPushButton::clicked, this, &CloudPanel::saveDeviceId);
    connect(m_forget, &QPushButton::clicked, this, &CloudPanel::forgetCloud);
    // Only a device on this computer's USB cable can borrow its internet connection.
    if (session)
        m_share->attach(qobject_cast<UsbLink *>(session->link()), false);
}

void CloudPanel::refresh()
{
    call(QStringLiteral("getStatus"), {}, [this](const RpcResult &result) {
        if (!result.ok) {
            showMessage(result.message, true);
            return;
        }
        const QJsonObject &status = result.result;
        m_connection->setText(tr("Connected to the cloud: %1").arg(StatusText::valueText(status.value(QLatin1String("mqtt_connected")))));
        m_route->setText(tr("Route: %1").arg(StatusText::valueText(status.value(QLatin1String("mqtt_transport")))));
        m_deviceId->setText(status.value(QLatin1String("device_id")).toString());
    });
    m_share->refresh();
}

void CloudPanel::saveDeviceId()
{
    // Without an ID the device would drop out of the account it is linked to.
    const QString id = m_deviceId->text().trimmed();
    if (id.isEmpty()) {
        showMessage(tr("Enter a device ID first."), true);
        return;
    }
    if (!requireSession())
        return;
    m_save->setEnabled(false);
    call(QStringLiteral("setDeviceId"), {{QStringLiteral("device_id"), id}}, [this](const RpcResult &result) {
        m_save->setEnabled(true);
        if (result.ok)
            showMessage(tr("Saved."));
        else
            showMessage(result.message, true);
    });
}

void CloudPanel::forgetCloud()
{
    if (!requireSession())
        return;
    if (!Prompter::confirm(this, tr("Forget cloud sign-in"),
                           tr("The device stops sending scores to the cloud until it is set up for it again. Continue?"),
                           Prompter::Tone::Warning))
        return;
    m_forget->setEnabled(false);
    call(QStringLiteral("clearMqttConfig"), {}, [this](const RpcResult &result) {
        m_forget->setEnabled(true);
        if (result.ok)
            showMessage(tr("Done. The device no longer has cloud credentials."));
        else
            showMessage(result.message, true);
    });
}

} // namespace corvane
