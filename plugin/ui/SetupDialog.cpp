#include "ui/SetupDialog.h"

#include "app/App.h"
#include "app/FollowedDevices.h"
#include "device/DeviceLink.h"
#include "device/ble/BleLink.h"
#include "device/lan/HttpLink.h"
#include "device/lan/TlsFeed.h"
#include "device/usb/CloudRelay.h"
#include "device/usb/UsbLink.h"
#include "live/SourceManager.h"
#include "ui/ControllerPanel.h"
#include "ui/SetupText.h"
#include "ui/WizardDonePage.h"
#include "ui/WizardManagePage.h"
#include "ui/WizardReceiverPage.h"
#include "ui/WizardScoreboardPage.h"
#include "ui/WizardSignInPage.h"
#include "ui/WizardWifiPage.h"

#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace corvane {

SetupDialog::SetupDialog(App *app, QWidget *parent)
    : QDialog(parent)
    , m_app(app)
{
    setWindowTitle(tr("Set up or manage a Corvane device"));
    resize(500, 600);
    m_pages = new QStackedWidget(this);
    m_pages->addWidget(m_connect = new WizardConnectPage);
    m_pages->addWidget(m_signIn = new WizardSignInPage);
    m_pages->addWidget(m_wifi = new WizardWifiPage);
    m_pages->addWidget(m_scoreboard = new WizardScoreboardPage);
    m_pages->addWidget(m_receiver = new WizardReceiverPage(&m_app->settings()));
    m_pages->addWidget(m_done = new WizardDonePage(m_app));
    m_pages->addWidget(m_manage = new WizardManagePage(&m_app->settings()));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    connectPages();
    // After construction, so that a caller can still change how ports are listed.
    QTimer::singleShot(0, m_connect, &WizardConnectPage::refresh);
}

SetupDialog::~SetupDialog()
{
    dropSession();
}

void SetupDialog::connectPages()
{
    connect(m_connect, &WizardConnectPage::connectRequested, this, &SetupDialog::connectToDevice);
    connect(m_signIn, &WizardSignInPage::passwordEntered, this, &SetupDialog::submitPassword);
    connect(m_signIn, &WizardSignInPage::newPasswordEntered, this, &SetupDialog::setNewPassword);
    connect(m_signIn, &WizardSignInPage::cancelled, this, &SetupDialog::restart);
    connect(m_wifi, &WizardWifiPage::joined, this, [this] {
        rememberNetworkAccess();
        goToScoreboard();
    });
    connect(m_wifi, &WizardWifiPage::skipped, this, &SetupDialog::goToScoreboard);
    connect(m_scoreboard, &WizardScoreboardPage::saved, this, &SetupDialog::showDone);
    connect(m_scoreboard, &WizardScoreboardPage::skipped, this, &SetupDialog::showDone);
    connect(m_receiver, &WizardReceiverPage::liveScoresWanted, this, [this] {
        useLiveScores(m_displayName.isEmpty() ? WizardReceiverPage::tr("wireless receiver") : m_displayName);
    });
    connect(m_receiver, &WizardReceiverPage::throughReceiverWanted, this, &SetupDialog::signInThroughReceiver);
    connect(m_done, &WizardDonePage::liveScoresWanted, this, [this] { useLiveScores(chosenName()); });
    connect(m_done, &WizardDonePage::followWanted, this, &SetupDialog::followSetUpDevice);
    connect(m_done, &WizardDonePage::moreWanted, this, &SetupDialog::showManage);
    connect(m_done, &WizardDonePage::closeWanted, this, &QDialog::accept);
    connect(m_manage, &WizardManagePage::apiToken, this, &SetupDialog::storeNetworkRoute);
    connect(m_manage, &WizardManagePage::passwordChanged, this, &SetupDialog::savePasswordToAccount);
    connect(m_manage, &WizardManagePage::liveScoresWanted, this, [this] { useLiveScores(chosenName()); });
    connect(m_manage, &WizardManagePage::disconnectWanted, this, &SetupDialog::restart);
}

int SetupDialog::currentPage() const
{
    return m_pages->currentIndex();
}

void SetupDialog::setPortListerForTesting(PortLister lister)
{
    m_connect->setPortLister(std::move(lister));
}

void SetupDialog::setTimingForTesting(const Timing &timing)
{
    m_timing = timing;
    m_connect->setScanMs(timing.bluetoothScanMs);
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
    m_signIn->startConnecting(m_displayName, m_kind);
    showPage(SignInPage);
    session->start();
}

DeviceLink *SetupDialog::makeLink()
{
    const WizardConnectPage::Choice choice = m_connect->choice();
    if (choice.kind.isEmpty())
        return nullptr;
    dropSession();
    m_kind = choice.kind;
    m_displayName = choice.name;
    if (m_kind == QLatin1String("lan"))
        return new HttpLink(choice.address);
    if (m_kind == QLatin1String("usb")) {
        UsbLink *link = m_app->openUsbLink(choice.address);
        m_app->settings().setLastUsbPort(choice.address);
        link->cloudRelay()->setEnabled(m_app->settings().shareConnection());
        return link;
    }
    return new BleLink(choice.address, m_displayName);
}

void SetupDialog::dropSession()
{
    DeviceSession *session = m_session.data();
    m_session.clear();
    m_handledReady.clear();
    m_receiver->forget();
    if (!session)
        return;
    disconnect(session, nullptr, this, nullptr);
    disconnect(session->link(), nullptr, this, nullptr);
    session->close();
    session->deleteLater();
}

// Back to the start, without a device.
void SetupDialog::restart()
{
    dropSession();
    showPage(ConnectPage);
    m_connect->refresh();
}

void SetupDialog::showPage(Page page)
{
    m_pages->setCurrentIndex(page);
}

void SetupDialog::onStateChanged(DeviceSession::State state, const QString &detail)
{
    switch (state) {
    case DeviceSession::Connecting:
    case DeviceSession::SigningIn:
        m_signIn->setSpinning(true);
        break;
    case DeviceSession::NeedsPassword:
        m_signIn->askPassword();
        tryPortalPassword();
        break;
    case DeviceSession::NeedsNewPassword:
        m_signIn->askNewPassword();
        break;
    case DeviceSession::Ready:
        onReady();
        break;
    case DeviceSession::Lost:
        m_signIn->setSpinning(false);
        if (currentPage() == ConnectPage)
            break;
        m_signIn->showLost(detail);
        showPage(SignInPage);
        break;
    case DeviceSession::Error: {
        DeviceSession *session = m_session.data();
        m_signIn->showError(detail.isEmpty() && session ? session->lastError() : detail);
        showPage(SignInPage);
        break;
    }
    case DeviceSession::Restarting:
        m_signIn->setSpinning(false);
        break;
    case DeviceSession::Idle:
        break;
    }
}

void SetupDialog::onLinkFailed(const QString &code, const QString &message)
{
    m_signIn->showFailure(bluetoothErrorText(code, message));
}

void SetupDialog::submitPassword(const QString &password)
{
    if (!m_session)
        return;
    m_signIn->showSigningIn();
    m_session->submitPassword(password);
}

void SetupDialog::setNewPassword(const QString &next)
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    m_signIn->showSavingPassword();
    const QString typed = m_signIn->typedPassword();
    const QString current = typed.isEmpty() ? DeviceSession::factoryPassword() : typed;
    const QPointer<SetupDialog> self(this);
    session->changePassword(current, next, [self, next](bool ok, const QString &error) {
        SetupDialog *dialog = self.data();
        if (!dialog)
            return;
        if (!ok) {
            dialog->m_signIn->showMessage(error, true);
            return;
        }
        dialog->savePasswordToAccount(next);
    });
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
        dialog->m_signIn->showSigningInWithSaved();
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
    m_signIn->setSpinning(false);
    if (session->receiverOnly()) {
        m_receiver->attach(qobject_cast<UsbLink *>(session->link()));
        showPage(ReceiverPage);
        return;
    }
    rememberNetworkAccess();
    m_wifi->attach(session);
    m_scoreboard->attach(session);
    if (!session->stationIp().isEmpty() || m_kind == QLatin1String("lan")) {
        showManage();
        return;
    }
    m_wifi->refresh();
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

void SetupDialog::goToScoreboard()
{
    ControllerPanel *panel = m_scoreboard->panel();
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
        dialog->m_done->showDevice(current, dialog->m_kind, reportedCertificate(current));
        dialog->showPage(DonePage);
    });
}

void SetupDialog::showManage()
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    m_manage->attach(session, chosenName());
    showPage(ManagePage);
}

void SetupDialog::useLiveScores(const QString &label)
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    // The main device is never followed as well.
    m_app->followed()->unfollow(session->deviceId());
    m_app->sourceManager()->useDevice(session, label);
}

// Follows the device the way the wizard reached it, beside whichever device is main.
void SetupDialog::followSetUpDevice()
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    if (session->deviceId().isEmpty()) {
        m_done->showFollowOutcome(tr("The device did not tell its ID, so it cannot be followed."), true);
        return;
    }
    FollowedRoute route{session->deviceId(), FollowedRoute::Usb};
    if (auto *usb = qobject_cast<UsbLink *>(session->link())) {
        route.usbPort = usb->portName();
    } else if (auto *ble = qobject_cast<BleLink *>(session->link())) {
        route.kind = FollowedRoute::Ble;
        route.bleAddress = ble->address();
    } else {
        followOverNetwork(session);
        return;
    }
    follow(route);
}

// The feed needs the device's access token, which the admin session can ask for.
void SetupDialog::followOverNetwork(DeviceSession *session)
{
    const QPointer<SetupDialog> self(this);
    const QPointer<DeviceSession> asked(session);
    const auto *http = qobject_cast<const HttpLink *>(session->link());
    const QString host = !session->stationIp().isEmpty() ? session->stationIp() : http ? http->host() : QString();
    if (host.isEmpty()) {
        m_done->showFollowOutcome(tr("The device's network address is not known, so it cannot be followed."), true);
        return;
    }
    session->ensureApiToken([self, asked, host](bool ok, const QString &token, const QString &message) {
        SetupDialog *dialog = self.data();
        if (!dialog || !asked || dialog->m_session.data() != asked.data())
            return;
        if (!ok || token.isEmpty()) {
            dialog->m_done->showFollowOutcome(message, true);
            return;
        }
        FollowedRoute route{asked->deviceId(), FollowedRoute::Lan};
        // Told over plain HTTP, the certificate is not to be trusted: the pin stays as stored.
        route.lan = LanRoute{host, token, QString(), dialog->m_app->settings().lanRoute(route.deviceId).certificateSha256};
        dialog->follow(route);
    });
}

void SetupDialog::follow(const FollowedRoute &route)
{
    if (m_app->followed()->contains(route.deviceId)) {
        m_done->showFollowOutcome(tr("This device is followed already."), false);
        return;
    }
    if (!m_app->followDevice(route)) {
        m_done->showFollowOutcome(tr("This device is the main one, so it is not followed as well."), true);
        return;
    }
    m_done->showFollowOutcome(tr("Followed beside the main device. Choose it in a score text's or \"show when\" filter's "
                                 "properties."),
                              false);
}

void SetupDialog::signInThroughReceiver()
{
    DeviceSession *session = m_session.data();
    if (!session)
        return;
    // The device behind the receiver is a new sign-in: its Ready is handled afresh.
    m_handledReady.clear();
    m_portalTried = false;
    m_signIn->startThroughReceiver();
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
