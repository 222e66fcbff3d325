#include "ui/FollowDialog.h"

#include "app/App.h"
#include "app/FollowedDevice.h"
#include "app/FollowedDevices.h"
#include "device/usb/SerialPort.h"
#include "live/SourceManager.h"
#include "ui/DockLabels.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvane {

namespace {

// The routes offered, and what each asks for besides the device.
struct KindRow {
    FollowedRoute::Kind kind;
    const char *label;
    const char *addressHint; // null: no address field
};

const KindRow kKinds[] = {
    {FollowedRoute::Cloud, "Through my Corvane account", nullptr},
    {FollowedRoute::Lan, "On my local network", "Network address or device number, e.g. 192.168.1.20 or 0029 (\":port\" for another feed port)"},
    {FollowedRoute::Usb, "On a USB cable", nullptr},
    {FollowedRoute::Ble, "Over Bluetooth", "Bluetooth address, e.g. C0:FF:EE:00:00:29"},
};

constexpr int kNicknameRole = Qt::UserRole + 1;

const KindRow &rowFor(FollowedRoute::Kind kind)
{
    for (const KindRow &row : kKinds) {
        if (row.kind == kind)
            return row;
    }
    return kKinds[0];
}

} // namespace

FollowDialog::FollowDialog(App *app, QWidget *parent)
    : QDialog(parent)
    , m_app(app)
{
    setWindowTitle(tr("Follow another device"));
    m_kind = new QComboBox;
    m_kind->setAccessibleName(tr("How this computer reaches the device"));
    for (const KindRow &row : kKinds)
        m_kind->addItem(tr(row.label), int(row.kind));
    m_cloudDevice = new QComboBox;
    m_cloudDevice->setAccessibleName(tr("Device on my account"));
    m_cloudHint = dock::hintLabel(tr("Sign in to your Corvane account in the dock to choose one of its devices."));
    m_deviceId = new QLineEdit;
    m_deviceId->setPlaceholderText(tr("Device ID, e.g. CV-1001"));
    m_address = new QLineEdit;
    m_usbPort = new QComboBox;
    m_usbPort->setEditable(true);
    m_usbPort->setAccessibleName(tr("USB port"));
    for (const UsbPortInfo &port : SerialPort::availablePorts())
        m_usbPort->addItem(port.portName);
    m_name = new QLineEdit;
    m_name->setPlaceholderText(tr("Name shown in OBS (optional)"));
    m_error = dock::wrappedLabel();
    m_error->setStyleSheet(QString::fromLatin1(dock::kErrorStyle));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    buttons->addButton(tr("Follow"), QDialogButtonBox::AcceptRole)->setDefault(true);
    auto *layout = new QVBoxLayout(this);
    for (QWidget *widget : std::initializer_list<QWidget *>{m_kind, m_cloudDevice, m_cloudHint, m_deviceId, m_address, m_usbPort, m_name, m_error})
        layout->addWidget(widget);
    layout->addWidget(buttons);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &FollowDialog::showKind);
    connect(buttons, &QDialogButtonBox::accepted, this, &FollowDialog::follow);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // The dialog stays open while the operator signs in or out in the dock.
    connect(m_app, &App::devicesChanged, this, &FollowDialog::fillCloudDevices);
    fillCloudDevices();
    showKind();
}

void FollowDialog::fillCloudDevices()
{
    const QString chosen = m_cloudDevice->currentData().toString();
    m_cloudDevice->clear();
    // Each entry carries its own nickname, so a choice never reads a newer list by position.
    for (const CloudDevice &device : m_app->devices()) {
        m_cloudDevice->addItem(device.displayName(), device.deviceId);
        m_cloudDevice->setItemData(m_cloudDevice->count() - 1, device.nickname, kNicknameRole);
    }
    const int kept = m_cloudDevice->findData(chosen);
    if (kept >= 0)
        m_cloudDevice->setCurrentIndex(kept);
    showCloudChoice();
}

void FollowDialog::showCloudChoice()
{
    const bool cloud = FollowedRoute::Kind(m_kind->currentData().toInt()) == FollowedRoute::Cloud;
    m_cloudDevice->setVisible(cloud && m_cloudDevice->count() > 0);
    m_cloudHint->setVisible(cloud && m_cloudDevice->count() == 0);
}

void FollowDialog::showKind()
{
    const KindRow &row = rowFor(FollowedRoute::Kind(m_kind->currentData().toInt()));
    const bool cloud = row.kind == FollowedRoute::Cloud;
    showCloudChoice();
    m_deviceId->setVisible(!cloud);
    m_address->setVisible(row.addressHint != nullptr);
    m_address->setPlaceholderText(row.addressHint ? tr(row.addressHint) : QString());
    m_usbPort->setVisible(row.kind == FollowedRoute::Usb);
    m_error->clear();
}

FollowRequest FollowDialog::request() const
{
    FollowRequest request;
    request.kind = FollowedRoute::Kind(m_kind->currentData().toInt());
    request.deviceId = request.kind == FollowedRoute::Cloud ? m_cloudDevice->currentData().toString() : m_deviceId->text();
    request.name = m_name->text();
    // A device of the account is shown by its nickname unless another name is typed.
    if (request.kind == FollowedRoute::Cloud && request.name.trimmed().isEmpty())
        request.name = m_cloudDevice->currentData(kNicknameRole).toString();
    request.address = m_address->text();
    request.usbPort = m_usbPort->currentText();
    return request;
}

FollowContext FollowDialog::context() const
{
    FollowContext context;
    const SourceManager *manager = m_app->sourceManager();
    if (manager->isRouteInUse())
        context.mainDevice = manager->device();
    FollowedDevices *followed = m_app->followed();
    for (const QString &id : followed->ids())
        context.followed.append(followed->device(id)->route());
    const SettingsStore *settings = &m_app->settings();
    context.lanRouteOf = [settings](const QString &deviceId) { return settings->lanRoute(deviceId); };
    return context;
}

void FollowDialog::follow()
{
    const FollowCheck check = checkFollowRequest(request(), context());
    if (!check.route) {
        m_error->setText(check.error);
        return;
    }
    if (!m_app->followDevice(*check.route)) {
        m_error->setText(tr("%1 cannot be followed now: it is the main device or followed already.").arg(check.route->deviceId));
        return;
    }
    accept();
}

} // namespace corvane
