#pragma once

#include "base/FollowedRoute.h"
#include "device/DeviceSession.h"
#include "ui/WizardConnectPage.h"

#include <QDialog>
#include <QPointer>
#include <QString>

class QStackedWidget;

namespace corvane {

class App;
class DeviceLink;
class WizardDonePage;
class WizardManagePage;
class WizardReceiverPage;
class WizardScoreboardPage;
class WizardSignInPage;
class WizardWifiPage;

// The wizard that finds one device over USB, Bluetooth or the local network without any
// cloud account, signs in to it, has a factory password replaced, joins the device to Wi-Fi,
// picks its scoreboard and ends on a summary; a wireless receiver gets a page of its own.
// Each page owns its widgets and texts; the dialog owns the one session it works on and moves
// between the pages as the session goes. When it closes, a USB session that relays its
// device to the cloud is handed to App to stay open.
class SetupDialog : public QDialog {
    Q_OBJECT
public:
    enum Page { ConnectPage, SignInPage, WifiPage, ScoreboardPage, ReceiverPage, DonePage, ManagePage };

    // The wizard's clocks; the defaults are the production values.
    struct Timing {
        int bluetoothScanMs = 6000;
        int afterWifiJoinMs = 1200;
    };
    using PortLister = WizardConnectPage::PortLister;

    explicit SetupDialog(App *app, QWidget *parent = nullptr);
    ~SetupDialog() override;

    int currentPage() const;
    DeviceSession *session() const { return m_session.data(); }
    QString kind() const { return m_kind; }

    void done(int result) override;

    // Test seams: the serial ports to list instead of the system's (pseudo-terminals are not
    // enumerated), and shorter clocks.
    void setPortListerForTesting(PortLister lister);
    void setTimingForTesting(const Timing &timing);

private:
    void connectPages();
    void connectToDevice();
    DeviceLink *makeLink();
    void dropSession();
    void restart();
    void showPage(Page page);

    void onStateChanged(DeviceSession::State state, const QString &detail);
    void onLinkFailed(const QString &code, const QString &message);
    void onReady();
    void submitPassword(const QString &password);
    void setNewPassword(const QString &next);
    void tryPortalPassword();
    void savePasswordToAccount(const QString &password);
    void rememberNetworkAccess();
    void storeNetworkRoute(const QString &token);
    void goToScoreboard();
    void showDone();
    static QString reportedCertificate(const DeviceSession *session);
    void showManage();
    void useLiveScores(const QString &label);
    void followSetUpDevice();
    void followOverNetwork(DeviceSession *session);
    void follow(const FollowedRoute &route);
    void signInThroughReceiver();
    QString chosenName() const;

    App *m_app;
    Timing m_timing;

    QPointer<DeviceSession> m_session;
    QPointer<DeviceSession> m_handledReady;
    QString m_kind;
    QString m_displayName;
    bool m_portalTried = false;

    QStackedWidget *m_pages = nullptr;
    WizardConnectPage *m_connect = nullptr;
    WizardSignInPage *m_signIn = nullptr;
    WizardWifiPage *m_wifi = nullptr;
    WizardScoreboardPage *m_scoreboard = nullptr;
    WizardReceiverPage *m_receiver = nullptr;
    WizardDonePage *m_done = nullptr;
    WizardManagePage *m_manage = nullptr;
};

} // namespace corvane
