#include "ui/SetupDialog.h"

#include "app/App.h"
#include "device/DeviceLink.h"
#include "device/ble/BleBridge.h"
#include "device/ble/BleLink.h"
#include "device/lan/DeviceWebApi.h"
#include "device/lan/HttpLink.h"
#include "device/lan/TlsFeed.h"
#include "device/usb/CloudRelay.h"
#include "device/usb/UsbLink.h"
#include "live/SourceManager.h"
#include "ui/ControllerPanel.h"
#include "ui/DeviceManager.h"
#include "ui/SecurityPanel.h"
#include "ui/SetupText.h"
#include "ui/SharePanel.h"
#include "ui/WifiPanel.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

namespace {

const char kErrorStyle[] = "color: #d9534f;";

QLabel *textLabel(const QString &text = QString())
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

QLabel *headingLabel(const QString &text = QString())
{
    auto *label = textLabel();
    label->setTextFormat(Qt::RichText);
    if (!text.isEmpty())
        label->setText(QStringLiteral("<b>%1</b>").arg(text.toHtmlEscaped()));
    return label;
}

QLabel *plainLabel()
{
    auto *label = textLabel();
    label->setTextFormat(Qt::PlainText);
    return label;
}

// Replaces the one widget a page holder shows.
void putInto(QWidget *holder, QWidget *widget)
{
    auto *layout = static_cast<QVBoxLayout *>(holder->layout());
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *old = item->widget())
            old->deleteLater();
        delete item;
    }
    layout->addWidget(widget);
}

QWidget *holderWidget()
{
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    return holder;
}

} // namespace

SetupDialog::SetupDialog(App *app, QWidget *parent)
    : QDialog(parent)
    , m_app(app)
    , m_portLister(&SerialPort::availablePorts)
{
    setWindowTitle(tr("Set up or manage a Corvane device"));
    resize(500, 600);
    m_pages = new QStackedWidget(this);
    m_pages->addWidget(buildConnectPage());
    m_pages->addWidget(buildSignInPage());
    m_pages->addWidget(buildWifiPage());
    m_pages->addWidget(buildScoreboardPage());
    m_pages->addWidget(buildReceiverPage());
    m_pages->addWidget(buildDonePage());
    m_pages->addWidget(buildManagePage());
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    // After construction, so that a caller can still change how ports are listed.
    QTimer::singleShot(0, this, &SetupDialog::refreshConnectPage);
}

SetupDialog::~SetupDialog()
{
    dropSession();
}

int SetupDialog::currentPage() const
{
    return m_pages->currentIndex();
}

void SetupDialog::done(int result)
{
    // A USB device that reaches the cloud through this computer keeps doing so after the
    // wizard; App refuses every other session, which then ends here.
    if (DeviceSession *session = m_session.data()) {
        if (m_app->adoptRelay(session)) {
            disconnect(session, nullptr, this, nullptr);
            disconnect(session->link(), nullptr, this, nullptr);
            m_session.clear();
        }
    }
    dropSession();
    QDialog::done(result);
}

QWidget *SetupDialog::buildConnectPage()
{
    auto *page = new QWidget;
    m_usb = new QRadioButton(tr("USB cable"));
    m_bluetooth = new QRadioButton(tr("Bluetooth"));
    m_network = new QRadioButton(tr("Local network"));
    m_usb->setChecked(true);
    auto *kinds = new QButtonGroup(page);
    kinds->addButton(m_usb);
    kinds->addButton(m_bluetooth);
    kinds->addButton(m_network);
    m_connectHint = textLabel();
    m_networkWarning = textLabel(tr("The admin password is sent over your local network without encryption. Use USB when you can."));
    m_networkWarning->setStyleSheet(QString::fromLatin1(kErrorStyle));
    m_found = new QListWidget;
    m_address = new QLineEdit;
    m_address->setPlaceholderText(tr("Device number or address, e.g. 0029 or 192.168.1.20"));
    m_connectStatus = textLabel();
    m_scanAgain = new QPushButton(tr("Scan again"));
    m_connect = new QPushButton(tr("Connect"));
    m_connect->setDefault(true);

    auto *radios = new QHBoxLayout;
    radios->addWidget(m_usb);
    radios->addWidget(m_bluetooth);
    radios->addWidget(m_network);
    radios->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_scanAgain);
    buttons->addStretch();
    buttons->addWidget(m_connect);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(headingLabel(tr("Connect to your device")));
    layout->addWidget(textLabel(tr("You do not need a Corvane account for this. Connect with a USB cable, Bluetooth, or over your "
                                   "local network.")));
    layout->addLayout(radios);
    layout->addWidget(m_connectHint);
    layout->addWidget(m_networkWarning);
    layout->addWidget(m_found, 1);
    layout->addWidget(m_address);
    layout->addWidget(m_connectStatus);
    layout->addLayout(buttons);

    connect(kinds, &QButtonGroup::buttonToggled, this, [this](QAbstractButton *, bool checked) {
        if (checked)
            refreshConnectPage();
    });
    connect(m_scanAgain, &QPushButton::clicked, this, &SetupDialog::refreshConnectPage);
    connect(m_connect, &QPushButton::clicked, this, &SetupDialog::connectToDevice);
    connect(m_address, &QLineEdit::returnPressed, this, &SetupDialog::connectToDevice);
    return page;
}

QWidget *SetupDialog::buildSignInPage()
{
    auto *page = new QWidget;
    m_signInHeading = headingLabel();
    m_signInHint = textLabel();
    m_signInMessage = textLabel();
    m_spinner = new QProgressBar;
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);

    m_passwordField = new QLineEdit;
    m_passwordField->setEchoMode(QLineEdit::Password);
    m_passwordField->setPlaceholderText(tr("Device admin password"));
    m_passwordField->setAccessibleName(tr("Device admin password"));
    m_signInButton = new QPushButton(tr("Sign in to device"));
    m_passwordGroup = new QGroupBox;
    auto *passwordLayout = new QVBoxLayout(m_passwordGroup);
    passwordLayout->addWidget(textLabel(tr("Enter this device's admin password. The factory password did not work.")));
    passwordLayout->addWidget(m_passwordField);
    passwordLayout->addWidget(m_signInButton);
    m_passwordGroup->hide();

    m_newPassword = new QLineEdit;
    m_newPassword->setEchoMode(QLineEdit::Password);
    m_newPassword->setPlaceholderText(tr("New admin password"));
    m_newPassword->setAccessibleName(tr("New admin password"));
    m_repeatPassword = new QLineEdit;
    m_repeatPassword->setEchoMode(QLineEdit::Password);
    m_repeatPassword->setPlaceholderText(tr("Type it again"));
    m_repeatPassword->setAccessibleName(tr("Type it again"));
    auto *setPassword = new QPushButton(tr("Set password"));
    auto *cancel = new QPushButton(tr("Cancel"));
    m_newPasswordGroup = new QGroupBox;
    auto *newLayout = new QVBoxLayout(m_newPasswordGroup);
    newLayout->addWidget(textLabel(tr("This device still has its factory password. Choose a new admin password (at least 8 "
                                      "characters).")));
    newLayout->addWidget(m_newPassword);
    newLayout->addWidget(m_repeatPassword);
    auto *newButtons = new QHBoxLayout;
    newButtons->addWidget(setPassword);
    newButtons->addWidget(cancel);
    newButtons->addStretch();
    newLayout->addLayout(newButtons);
    m_newPasswordGroup->hide();

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(m_signInHeading);
    layout->addWidget(m_signInHint);
    layout->addWidget(m_signInMessage);
    layout->addWidget(m_spinner);
    layout->addWidget(m_passwordGroup);
    layout->addWidget(m_newPasswordGroup);
    layout->addStretch();

    connect(m_signInButton, &QPushButton::clicked, this, &SetupDialog::submitTypedPassword);
    connect(m_passwordField, &QLineEdit::returnPressed, this, &SetupDialog::submitTypedPassword);
    connect(setPassword, &QPushButton::clicked, this, &SetupDialog::setNewPassword);
    connect(cancel, &QPushButton::clicked, this, &SetupDialog::cancelNewPassword);
    return page;
}

QWidget *SetupDialog::buildWifiPage()
{
    auto *page = new QWidget;
    m_wifiHolder = holderWidget();
    auto *skip = new QPushButton(tr("Skip \u2013 use this computer's internet over USB, or the device already has Wi-Fi"));
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(headingLabel(tr("Connect the device to Wi-Fi")));
    layout->addWidget(m_wifiHolder, 1);
    layout->addWidget(skip);
    connect(skip, &QPushButton::clicked, this, &SetupDialog::goToScoreboard);
    return page;
}

QWidget *SetupDialog::buildScoreboardPage()
{
    auto *page = new QWidget;
    m_controllerHolder = holderWidget();
    auto *skip = new QPushButton(tr("Skip"));
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(headingLabel(tr("Choose the scoreboard")));
    layout->addWidget(m_controllerHolder, 1);
    layout->addWidget(skip);
    connect(skip, &QPushButton::clicked, this, &SetupDialog::showDone);
    return page;
}

QWidget *SetupDialog::buildReceiverPage()
{
    auto *page = new QWidget;
    m_receiverStatus = plainLabel();
    auto *newKey = new QPushButton(tr("Make a new pairing key"));
    m_receiverKey = new QLineEdit;
    m_receiverKey->setPlaceholderText(tr("\u2026or enter an existing 32-character key"));
    auto *useKey = new QPushButton(tr("Use this key"));
    m_receiverMessage = plainLabel();
    m_receiverMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The device behind the receiver reaches the cloud through this computer, if allowed.
    m_receiverShare = new SharePanel(page, &m_app->settings());
    auto *live = new QPushButton(tr("Use this receiver's live scores in OBS"));
    auto *through = new QPushButton(tr("Set up or manage the paired Corvane device through this receiver\u2026"));
    auto *keyRow = new QHBoxLayout;
    keyRow->addWidget(m_receiverKey, 1);
    keyRow->addWidget(useKey);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(headingLabel(tr("Wireless receiver")));
    layout->addWidget(m_receiverStatus);
    layout->addWidget(newKey);
    layout->addLayout(keyRow);
    layout->addWidget(m_receiverMessage);
    layout->addWidget(m_receiverShare);
    layout->addWidget(live);
    layout->addWidget(through);
    layout->addStretch();
    connect(newKey, &QPushButton::clicked, this, [this] { sendReceiverKey(true); });
    connect(useKey, &QPushButton::clicked, this, [this] { sendReceiverKey(false); });
    connect(live, &QPushButton::clicked, this, [this] {
        useLiveScores(m_displayName.isEmpty() ? tr("wireless receiver") : m_displayName);
    });
    connect(through, &QPushButton::clicked, this, &SetupDialog::signInThroughReceiver);
    return page;
}

QWidget *SetupDialog::buildDonePage()
{
    auto *page = new QWidget;
    m_summary = plainLabel();
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *live = new QPushButton(tr("Use this device's live scores in OBS"));
    auto *more = new QPushButton(tr("More settings and tools\u2026"));
    m_claimCode = new QLineEdit;
    m_claimCode->setPlaceholderText(tr("Claim code from the device's box or account email"));
    m_addToAccount = new QPushButton(tr("Add this device to my account"));
    m_doneMessage = textLabel();
    auto *close = new QPushButton(tr("Close"));
    auto *closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(close);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(headingLabel(tr("All set")));
    layout->addWidget(m_summary);
    layout->addWidget(live);
    layout->addWidget(more);
    layout->addWidget(m_claimCode);
    layout->addWidget(m_addToAccount);
    layout->addWidget(m_doneMessage);
    layout->addStretch();
    layout->addLayout(closeRow);
    connect(live, &QPushButton::clicked, this, [this] { useLiveScores(chosenName()); });
    connect(more, &QPushButton::clicked, this, &SetupDialog::showManage);
    connect(m_addToAccount, &QPushButton::clicked, this, &SetupDialog::addToAccount);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    return page;
}

QWidget *SetupDialog::buildManagePage()
{
    auto *page = new QWidget;
    m_manageHeading = headingLabel();
    m_managerHolder = holderWidget();
    auto *live = new QPushButton(tr("Use live scores in OBS"));
    auto *disconnectButton = new QPushButton(tr("Disconnect"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(live);
    buttons->addStretch();
    buttons->addWidget(disconnectButton);
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(m_manageHeading);
    layout->addWidget(m_managerHolder, 1);
    layout->addLayout(buttons);
    connect(live, &QPushButton::clicked, this, [this] { useLiveScores(chosenName()); });
    connect(disconnectButton, &QPushButton::clicked, this, &SetupDialog::disconnectDevice);
    return page;
}

void SetupDialog::refreshConnectPage()
{
    ++m_scanGeneration; // a scan still running answers a page that has moved on
    m_found->clear();
    m_connectStatus->clear();
    m_connectStatus->setStyleSheet(QString());
    m_scanAgain->setEnabled(true);
    const bool network = m_network->isChecked();
    m_found->setVisible(!network);
    m_scanAgain->setVisible(!network);
    m_address->setVisible(network);
    m_networkWarning->setVisible(network);
    if (m_usb->isChecked()) {
        m_connectHint->setText(tr("Use the USB port on the device (or on the wireless receiver). Close any serial monitor first."));
        listUsbPorts();
    } else if (m_bluetooth->isChecked()) {
        m_connectHint->setText(tr("The device must be paired with this computer first. The 6-digit passkey is on the device's "
                                  "label and in your Corvane account."));
        scanBluetooth();
    } else {
        m_connectHint->setText(tr("Type the device's number (the last digits of its name) or its network address. This computer "
                                  "and the device must be on the same network."));
    }
}

void SetupDialog::listUsbPorts()
{
    const QList<UsbPortInfo> ports = m_portLister ? m_portLister() : QList<UsbPortInfo>();
    for (const UsbPortInfo &port : ports) {
        auto *item = new QListWidgetItem(usbPortLabel(port), m_found);
        item->setData(Qt::UserRole, port.portName);
    }
    m_connectStatus->setText(usbPortCountText(int(ports.size())));
    const int row = preselectedPortRow(ports);
    if (row >= 0)
        m_found->setCurrentRow(row);
}

void SetupDialog::scanBluetooth()
{
    m_connectStatus->setText(tr("Looking for devices\u2026 (about 6 seconds)"));
    m_scanAgain->setEnabled(false);
    const int generation = m_scanGeneration;
    const QPointer<SetupDialog> self(this);
    BleBridge::instance()->scan(m_timing.bluetoothScanMs, [self, generation](bool ok, const QList<BleDeviceInfo> &devices, int seen,
                                                                             const QString &code, const QString &message) {
        SetupDialog *dialog = self.data();
        if (!dialog || generation != dialog->m_scanGeneration)
            return;
        dialog->m_scanAgain->setEnabled(true);
        if (!ok) {
            dialog->showMessage(dialog->m_connectStatus, bluetoothErrorText(code, message), true);
            return;
        }
        for (const BleDeviceInfo &device : devices) {
            auto *item = new QListWidgetItem(device.name.isEmpty() ? device.id : device.name, dialog->m_found);
            item->setData(Qt::UserRole, device.id);
        }
        if (devices.size() == 1)
            dialog->m_found->setCurrentRow(0);
        dialog->showMessage(dialog->m_connectStatus, bluetoothScanText(int(devices.size()), seen), false);
    });
}

void SetupDialog::connectToDevice()
{
    DeviceLink *link = makeLink();
    if (!link)
        return;
    auto *session = new DeviceSession(link, this);
    m_session = session;
    connect(session, &DeviceSession::stateChanged, this, &SetupDialog::onStateChanged);
    connect(link, &DeviceLink::failed, this, &SetupDialog::onLinkFailed);

    m_portalTried = false;
    m_passwordField->clear();
    m_newPassword->clear();
    m_repeatPassword->clear();
    m_passwordGroup->hide();
    m_newPasswordGroup->hide();
    m_spinner->show();
    m_signInButton->setEnabled(true);
    showMessage(m_signInMessage, QString(), false);
    m_signInHeading->setText(QStringLiteral("<b>%1</b>").arg(tr("Connecting to %1").arg(m_displayName.toHtmlEscaped())));
    if (m_kind == QLatin1String("usb"))
        m_signInHint->setText(tr("Waiting for the device to answer. If it just powered on this can take up to a minute."));
    else if (m_kind == QLatin1String("ble"))
        m_signInHint->setText(tr("Connecting over Bluetooth. If your computer asks for a passkey, enter the 6-digit number from "
                                 "the device's label."));
    else
        m_signInHint->setText(tr("Contacting the device on your network\u2026"));
    showPage(SignInPage);
    session->start();
}

DeviceLink *SetupDialog::makeLink()
{
    if (m_network->isChecked()) {
        const QString typed = m_address->text().trimmed();
        const QString host = resolveHost(typed);
        if (host.isEmpty())
            return nullptr;
        dropSession();
        m_kind = QStringLiteral("lan");
        m_displayName = typed;
        return new HttpLink(host);
    }
    QListWidgetItem *item = m_found->currentItem();
    if (!item || !item->isSelected())
        return nullptr;
    const QString address = item->data(Qt::UserRole).toString();
    dropSession();
    if (m_usb->isChecked()) {
        m_kind = QStringLiteral("usb");
        m_displayName = address;
        m_app->releaseRelay(address);
        m_app->settings().setLastUsbPort(address);
        auto *link = new UsbLink(address);
        link->cloudRelay()->setEnabled(m_app->settings().shareConnection());
        return link;
    }
    m_kind = QStringLiteral("ble");
    m_displayName = item->text();
    return new BleLink(address, m_displayName);
}

void SetupDialog::dropSession()
{
    DeviceSession *session = m_session.data();
    m_session.clear();
    m_handledReady.clear();
    if (!session)
        return;
    disconnect(session, nullptr, this, nullptr);
    disconnect(session->link(), nullptr, this, nullptr);
    session->close();
    session->deleteLater();
}

void SetupDialog::showPage(Page page)
{
    m_pages->setCurrentIndex(page);
}

void SetupDialog::setHeading(QLabel *label, const QString &text)
{
    label->setText(QStringLiteral("<b>%1</b>").arg(text.toHtmlEscaped()));
}

void SetupDialog::showMessage(QLabel *label, const QString &text, bool isError)
{
    label->setStyleSheet(isError ? QString::fromLatin1(kErrorStyle) : QString());
    label->setText(text);
}

void SetupDialog::onStateChanged(DeviceSession::State state, const QString &detail)
{
    switch (state) {
    case DeviceSession::Connecting:
    case DeviceSession::SigningIn:
        m_spinner->show();
        break;
    case DeviceSession::NeedsPassword:
        m_spinner->hide();
        setHeading(m_signInHeading, tr("Device password needed"));
        m_signInButton->setEnabled(true);
        m_passwordGroup->show();
        m_passwordField->setFocus();
        showMessage(m_signInMessage, QString(), false);
        tryPortalPassword();
        break;
    case DeviceSession::NeedsNewPassword:
        m_spinner->hide();
        setHeading(m_signInHeading, tr("Choose a new device password"));
        m_newPasswordGroup->show();
        m_newPassword->setFocus();
        showMessage(m_signInMessage, QString(), false);
        break;
    case DeviceSession::Ready:
        onReady();
        break;
    case DeviceSession::Lost:
        m_spinner->hide();
        if (currentPage() == ConnectPage)
            break;
        setHeading(m_signInHeading, tr("Connection lost"));
        showMessage(m_signInMessage,
                    detail.isEmpty()
                        ? tr("The connection to the device was lost. Check the cable, Bluetooth or network and try again.")
                        : detail,
                    true);
        showPage(SignInPage);
        break;
    case DeviceSession::Error: {
        m_passwordGroup->hide();
        m_newPasswordGroup->hide();
        m_spinner->hide();
        setHeading(m_signInHeading, tr("Could not connect"));
        DeviceSession *session = m_session.data();
        showMessage(m_signInMessage, detail.isEmpty() && session ? session->lastError() : detail, true);
        showPage(SignInPage);
        break;
    }
    case DeviceSession::Restarting:
        m_spinner->hide();
        break;
    case DeviceSession::Idle:
        break;
    }
}

void SetupDialog::onLinkFailed(const QString &code, const QString &message)
{
    setHeading(m_signInHeading, tr("Could not connect"));
    showMessage(m_signInMessage, bluetoothErrorText(code, message), true);
}

void SetupDialog::submitTypedPassword()
{
    const QString password = m_passwordField->text();
    if (password.isEmpty() || !m_session)
        return;
    showMessage(m_signInMessage, tr("Signing in\u2026"), false);
    m_session->submitPassword(password);
}

void SetupDialog::setNewPassword()
{
    const QString next = m_newPassword->text();
    const QString problem = newPasswordProblem(next, m_repeatPassword->text());
    if (!problem.isEmpty()) {
        showMessage(m_signInMessage, problem, true);
        return;
    }
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    showMessage(m_signInMessage, tr("Saving the new password\u2026"), false);
    const QString typed = m_passwordField->text();
    const QString current = typed.isEmpty() ? DeviceSession::factoryPassword() : typed;
    const QPointer<SetupDialog> self(this);
    session->changePassword(current, next, [self, next](bool ok, const QString &error) {
        SetupDialog *dialog = self.data();
        if (!dialog)
            return;
        if (!ok) {
            dialog->showMessage(dialog->m_signInMessage, error, true);
            return;
        }
        dialog->savePasswordToAccount(next);
    });
}

void SetupDialog::cancelNewPassword()
{
    dropSession();
    showPage(ConnectPage);
    refreshConnectPage();
}

void SetupDialog::tryPortalPassword()
{
    DeviceSession *session = m_session.data();
    PortalClient &portal = m_app->portal();
    if (m_portalTried || !session || !portal.isSignedIn())
        return;
    QString deviceId = session->deviceId();
    if (deviceId.isEmpty())
        deviceId = m_app->settings().selectedDevice();
    if (deviceId.isEmpty())
        return;
    m_portalTried = true;
    const QPointer<SetupDialog> self(this);
    const QPointer<DeviceSession> asked(session);
    portal.revealPairing(deviceId, [self, asked](const PortalResult &result) {
        SetupDialog *dialog = self.data();
        DeviceSession *current = asked.data();
        if (!dialog || !current || dialog->m_session.data() != current || current->state() != DeviceSession::NeedsPassword)
            return;
        const QString password = result.data.value(QLatin1String("pairing")).toObject().value(QLatin1String("admin_password")).toString();
        if (!result.ok || password.isEmpty())
            return;
        dialog->showMessage(dialog->m_signInMessage, tr("Signing in with the password saved on your account\u2026"), false);
        current->submitPassword(password);
    });
}

void SetupDialog::savePasswordToAccount(const QString &password)
{
    DeviceSession *session = m_session.data();
    if (!session || !m_app->portal().isSignedIn() || session->deviceId().isEmpty())
        return;
    // Saving it is a convenience for the next sign-in; the device already has it.
    m_app->portal().putPairing(session->deviceId(), password, [](const PortalResult &) {});
}

void SetupDialog::onReady()
{
    DeviceSession *session = m_session.data();
    if (!session || m_handledReady == session)
        return;
    m_handledReady = session;
    m_spinner->hide();
    if (session->receiverOnly()) {
        refreshReceiverPage();
        auto *usb = qobject_cast<UsbLink *>(session->link());
        m_receiverShare->attach(usb, true);
        showPage(ReceiverPage);
        if (usb)
            connect(usb, &UsbLink::receiverUpdated, this, &SetupDialog::refreshReceiverPage, Qt::UniqueConnection);
        return;
    }
    rememberNetworkAccess();
    buildPanels();
    if (!session->stationIp().isEmpty() || m_kind == QLatin1String("lan")) {
        showManage();
        return;
    }
    if (WifiPanel *panel = m_wifiPanel.data())
        panel->refresh();
    showPage(WifiPage);
}

void SetupDialog::rememberNetworkAccess()
{
    DeviceSession *session = m_session.data();
    if (!session || (m_kind != QLatin1String("usb") && m_kind != QLatin1String("ble")))
        return;
    if (session->stationIp().isEmpty() || session->deviceId().isEmpty())
        return;
    const QPointer<SetupDialog> self(this);
    session->ensureApiToken([self](bool ok, const QString &token, const QString &) {
        if (self && ok && !token.isEmpty())
            self->storeNetworkRoute(token);
    });
}

void SetupDialog::storeNetworkRoute(const QString &token)
{
    DeviceSession *session = m_session.data();
    if (!session || session->stationIp().isEmpty() || session->deviceId().isEmpty())
        return;
    // Only a cable or Bluetooth can be trusted to say which certificate is the device's: on
    // the network (plain HTTP) anyone on the way could answer, so the route keeps its pin.
    const QString pin = m_kind == QLatin1String("lan") ? m_app->settings().lanRoute(session->deviceId()).certificateSha256
                                                        : reportedCertificate(session);
    m_app->storeLanRoute(session->deviceId(), LanRoute{session->stationIp(), token, chosenName(), pin});
}

// The fingerprint the device reports in its status; without one, the feed pins the first
// certificate it meets.
QString SetupDialog::reportedCertificate(const DeviceSession *session)
{
    return TlsFeed::normalizedFingerprint(session->status().value(QLatin1String("tls_fingerprint")).toString());
}

void SetupDialog::buildPanels()
{
    DeviceSession *session = m_session.data();
    auto *wifi = new WifiPanel(session);
    m_wifiPanel = wifi;
    putInto(m_wifiHolder, wifi);
    connect(wifi, &WifiPanel::joined, this, [this] {
        rememberNetworkAccess();
        goToScoreboard();
    });
    auto *controller = new ControllerPanel(session);
    m_controllerPanel = controller;
    putInto(m_controllerHolder, controller);
    connect(controller, &ControllerPanel::saved, this, &SetupDialog::showDone);
}

void SetupDialog::goToScoreboard()
{
    ControllerPanel *panel = m_controllerPanel.data();
    if (!panel)
        return;
    // A moment on the Wi-Fi page, so that its outcome can be read.
    QTimer::singleShot(m_timing.afterWifiJoinMs, panel, [this, panel] {
        panel->load();
        showPage(ScoreboardPage);
    });
}

void SetupDialog::showDone()
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    const QPointer<SetupDialog> self(this);
    const QPointer<DeviceSession> asked(session);
    session->refreshStatus([self, asked](bool, const QString &) {
        SetupDialog *dialog = self.data();
        DeviceSession *current = asked.data();
        if (!dialog || !current || dialog->m_session.data() != current)
            return;
        dialog->m_summary->setText(doneSummaryText(current->deviceId(), current->firmwareVersion(), current->stationIp())
                                   + certificateLine(TlsFeed::displayedFingerprint(reportedCertificate(current))));
        dialog->m_claimCode->show();
        dialog->m_addToAccount->show();
        dialog->m_addToAccount->setEnabled(true);
        dialog->showMessage(dialog->m_doneMessage, QString(), false);
        dialog->showPage(DonePage);
    });
}

void SetupDialog::addToAccount()
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    m_addToAccount->setEnabled(false);
    const QPointer<SetupDialog> self(this);
    m_app->portal().linkDevice(session->deviceId(), m_claimCode->text().trimmed(), linkVia(m_kind),
                               [self](const PortalResult &result) {
                                   SetupDialog *dialog = self.data();
                                   if (!dialog)
                                       return;
                                   dialog->m_addToAccount->setEnabled(true);
                                   if (!result.ok) {
                                       dialog->showMessage(dialog->m_doneMessage, result.message, true);
                                       return;
                                   }
                                   dialog->showMessage(dialog->m_doneMessage, tr("Added to your account."), false);
                                   dialog->m_claimCode->hide();
                                   dialog->m_addToAccount->hide();
                                   dialog->m_app->refreshDevices();
                               });
}

void SetupDialog::showManage()
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    setHeading(m_manageHeading, chosenName());
    if (DeviceManager *old = m_manager.data())
        old->deleteLater();
    auto *manager = new DeviceManager(session, nullptr, &m_app->settings());
    m_manager = manager;
    putInto(m_managerHolder, manager);
    SecurityPanel *security = manager->securityPanel();
    connect(security, &SecurityPanel::apiToken, this, &SetupDialog::storeNetworkRoute);
    connect(security, &SecurityPanel::passwordChanged, this, &SetupDialog::savePasswordToAccount);
    showPage(ManagePage);
}

void SetupDialog::disconnectDevice()
{
    dropSession();
    showPage(ConnectPage);
    refreshConnectPage();
}

void SetupDialog::useLiveScores(const QString &label)
{
    if (DeviceSession *session = m_session.data())
        m_app->sourceManager()->useDevice(session, label);
}

void SetupDialog::refreshReceiverPage()
{
    DeviceSession *session = m_session.data();
    auto *usb = session ? qobject_cast<UsbLink *>(session->link()) : nullptr;
    m_receiverStatus->setText(usb ? receiverStatusText(usb->receiverStatus()) : QString());
}

void SetupDialog::sendReceiverKey(bool generate)
{
    DeviceSession *session = m_session.data();
    auto *usb = session ? qobject_cast<UsbLink *>(session->link()) : nullptr;
    if (!usb)
        return;
    showMessage(m_receiverMessage, tr("Sending to the receiver\u2026"), false);
    const QPointer<SetupDialog> self(this);
    usb->setReceiver(generate ? QString() : m_receiverKey->text(), generate, 0,
                     [self](bool ok, const QString &key, const QString &error) {
                         SetupDialog *dialog = self.data();
                         if (!dialog)
                             return;
                         if (!ok)
                             dialog->showMessage(dialog->m_receiverMessage, error, true);
                         else if (!key.isEmpty())
                             dialog->showMessage(dialog->m_receiverMessage,
                                                 tr("New pairing key (write this down and enter it on the sending device):\n%1").arg(key),
                                                 false);
                         else
                             dialog->showMessage(dialog->m_receiverMessage, tr("Saved. The receiver restarts to apply it."), false);
                     });
}

void SetupDialog::signInThroughReceiver()
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    // The device behind the receiver is a new sign-in: its Ready is handled afresh.
    m_handledReady.clear();
    m_portalTried = false;
    m_passwordGroup->hide();
    m_newPasswordGroup->hide();
    m_spinner->show();
    showMessage(m_signInMessage, QString(), false);
    setHeading(m_signInHeading, tr("Connecting to the paired device through the receiver"));
    m_signInHint->setText(tr("Asking the device over the wireless link. This can take up to a minute."));
    showPage(SignInPage);
    session->signInThroughReceiver();
}

QString SetupDialog::chosenName() const
{
    const DeviceSession *session = m_session.data();
    const QString id = session ? session->deviceId() : QString();
    return id.isEmpty() ? m_displayName : id;
}

} // namespace corvane
