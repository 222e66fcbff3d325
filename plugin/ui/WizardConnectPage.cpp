#include "ui/WizardConnectPage.h"

#include "device/ble/BleBridge.h"
#include "device/lan/DeviceWebApi.h"
#include "ui/SetupLabels.h"
#include "ui/SetupText.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace corvane {

using setup::showMessage;
using setup::textLabel;

WizardConnectPage::WizardConnectPage(QWidget *parent)
    : QWidget(parent)
    , m_portLister(&SerialPort::availablePorts)
{
    m_usb = new QRadioButton(tr("USB cable"));
    m_bluetooth = new QRadioButton(tr("Bluetooth"));
    m_network = new QRadioButton(tr("Local network"));
    m_usb->setChecked(true);
    auto *kinds = new QButtonGroup(this);
    kinds->addButton(m_usb);
    kinds->addButton(m_bluetooth);
    kinds->addButton(m_network);
    m_hint = textLabel();
    m_networkWarning = textLabel(tr("The admin password is sent over your local network without encryption. Use USB when you can."));
    m_networkWarning->setStyleSheet(QString::fromLatin1(setup::kErrorStyle));
    m_found = new QListWidget;
    m_address = new QLineEdit;
    m_address->setPlaceholderText(tr("Device number or address, e.g. 0029 or 192.168.1.20"));
    m_status = textLabel();
    m_scanAgain = new QPushButton(tr("Scan again"));
    auto *connectButton = new QPushButton(tr("Connect"));
    connectButton->setDefault(true);

    auto *radios = new QHBoxLayout;
    radios->addWidget(m_usb);
    radios->addWidget(m_bluetooth);
    radios->addWidget(m_network);
    radios->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_scanAgain);
    buttons->addStretch();
    buttons->addWidget(connectButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(setup::headingLabel(tr("Connect to your device")));
    layout->addWidget(textLabel(tr("You do not need a Corvane account for this. Connect with a USB cable, Bluetooth, or over your "
                                   "local network.")));
    layout->addLayout(radios);
    layout->addWidget(m_hint);
    layout->addWidget(m_networkWarning);
    layout->addWidget(m_found, 1);
    layout->addWidget(m_address);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(kinds, &QButtonGroup::buttonToggled, this, [this](QAbstractButton *, bool checked) {
        if (checked)
            refresh();
    });
    connect(m_scanAgain, &QPushButton::clicked, this, &WizardConnectPage::refresh);
    connect(connectButton, &QPushButton::clicked, this, &WizardConnectPage::connectRequested);
    connect(m_address, &QLineEdit::returnPressed, this, &WizardConnectPage::connectRequested);
}

void WizardConnectPage::refresh()
{
    ++m_scanGeneration; // a scan still running answers a page that has moved on
    m_found->clear();
    m_status->clear();
    m_status->setStyleSheet(QString());
    m_scanAgain->setEnabled(true);
    const bool network = m_network->isChecked();
    m_found->setVisible(!network);
    m_scanAgain->setVisible(!network);
    m_address->setVisible(network);
    m_networkWarning->setVisible(network);
    if (m_usb->isChecked()) {
        m_hint->setText(tr("Use the USB port on the device (or on the wireless receiver). Close any serial monitor first."));
        listUsbPorts();
    } else if (m_bluetooth->isChecked()) {
        m_hint->setText(tr("The device must be paired with this computer first. The 6-digit passkey is on the device's "
                           "label and in your Corvane account."));
        scanBluetooth();
    } else {
        m_hint->setText(tr("Type the device's number (the last digits of its name) or its network address. This computer "
                           "and the device must be on the same network."));
    }
}

WizardConnectPage::Choice WizardConnectPage::choice() const
{
    if (m_network->isChecked()) {
        const QString typed = m_address->text().trimmed();
        const QString host = resolveHost(typed);
        if (host.isEmpty())
            return {};
        return {QStringLiteral("lan"), host, typed};
    }
    QListWidgetItem *item = m_found->currentItem();
    if (!item || !item->isSelected())
        return {};
    const QString address = item->data(Qt::UserRole).toString();
    if (m_usb->isChecked())
        return {QStringLiteral("usb"), address, address};
    return {QStringLiteral("ble"), address, item->text()};
}

void WizardConnectPage::listUsbPorts()
{
    const QList<UsbPortInfo> ports = m_portLister ? m_portLister() : QList<UsbPortInfo>();
    for (const UsbPortInfo &port : ports) {
        auto *item = new QListWidgetItem(usbPortLabel(port), m_found);
        item->setData(Qt::UserRole, port.portName);
    }
    m_status->setText(usbPortCountText(int(ports.size())));
    const int row = preselectedPortRow(ports);
    if (row >= 0)
        m_found->setCurrentRow(row);
}

void WizardConnectPage::scanBluetooth()
{
    m_status->setText(tr("Looking for devices\u2026 (about 6 seconds)"));
    m_scanAgain->setEnabled(false);
    const int generation = m_scanGeneration;
    const QPointer<WizardConnectPage> self(this);
    BleBridge::instance()->scan(m_scanMs, [self, generation](bool ok, const QList<BleDeviceInfo> &devices, int seen,
                                                             const QString &code, const QString &message) {
        WizardConnectPage *page = self.data();
        if (!page || generation != page->m_scanGeneration)
            return;
        page->m_scanAgain->setEnabled(true);
        if (!ok) {
            showMessage(page->m_status, bluetoothErrorText(code, message), true);
            return;
        }
        for (const BleDeviceInfo &device : devices) {
            auto *item = new QListWidgetItem(device.name.isEmpty() ? device.id : device.name, page->m_found);
            item->setData(Qt::UserRole, device.id);
        }
        if (devices.size() == 1)
            page->m_found->setCurrentRow(0);
        showMessage(page->m_status, bluetoothScanText(int(devices.size()), seen), false);
    });
}

} // namespace corvane
