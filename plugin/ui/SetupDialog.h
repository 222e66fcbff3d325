#pragma once

#include "device/DeviceSession.h"
#include "device/usb/SerialPort.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStackedWidget;

namespace corvane {

class App;
class ControllerPanel;
class DeviceLink;
class DeviceManager;
class SharePanel;
class WifiPanel;

// The wizard that finds one device over USB, Bluetooth or the local network without any
// cloud account, signs in to it, has a factory password replaced, joins the device to Wi-Fi,
// picks its scoreboard and ends on a summary; a wireless receiver gets a page of its own.
// The dialog owns the one session it works on; when it closes, a USB session that relays its
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
    using PortLister = std::function<QList<UsbPortInfo>()>;

    explicit SetupDialog(App *app, QWidget *parent = nullptr);
    ~SetupDialog() override;

    int currentPage() const;
    DeviceSession *session() const { return m_session.data(); }
    QString kind() const { return m_kind; }

    void done(int result) override;

    // Test seams: the serial ports to list instead of the system's (pseudo-terminals are not
    // enumerated), and shorter clocks.
    void setPortListerForTesting(PortLister lister) { m_portLister = std::move(lister); }
    void setTimingForTesting(const Timing &timing) { m_timing = timing; }

private:
    QWidget *buildConnectPage();
    QWidget *buildSignInPage();
    QWidget *buildWifiPage();
    QWidget *buildScoreboardPage();
    QWidget *buildReceiverPage();
    QWidget *buildDonePage();
    QWidget *buildManagePage();

    void refreshConnectPage();
    void listUsbPorts();
    void scanBluetooth();
    void connectToDevice();
    DeviceLink *makeLink();
    void dropSession();
    void showPage(Page page);
    void setHeading(QLabel *label, const QString &text);
    void showMessage(QLabel *label, const QString &text, bool isError);

    void onStateChanged(DeviceSession::State state, const QString &detail);
    void onLinkFailed(const QString &code, const QString &message);
    void onReady();
    void submitTypedPassword();
    void setNewPassword();
    void cancelNewPassword();
    void tryPortalPassword();
    void savePasswordToAccount(const QString &password);
    void rememberNetworkAccess();
    void storeNetworkRoute(const QString &token);
    void buildPanels();
    void goToScoreboard();
    void showDone();
    static QString reportedCertificate(const DeviceSession *session);
    void addToAccount();
    void showManage();
    void disconnectDevice();
    void useLiveScores(const QString &label);
    void refreshReceiverPage();
    void sendReceiverKey(bool generate);
    void signInThroughReceiver();
    QString chosenName() const;

    App *m_app;
    PortLister m_portLister;
    Timing m_timing;

    QPointer<DeviceSession> m_session;
    QPointer<DeviceSession> m_handledReady;
    QString m_kind;
    QString m_displayName;
    bool m_portalTried = false;
    int m_scanGeneration = 0;

    QStackedWidget *m_pages = nullptr;

    QRadioButton *m_usb = nullptr;
    QRadioButton *m_bluetooth = nullptr;
    QRadioButton *m_network = nullptr;
    QLabel *m_connectHint = nullptr;
    QLabel *m_networkWarning = nullptr;
    QListWidget *m_found = nullptr;
    QLineEdit *m_address = nullptr;
    QLabel *m_connectStatus = nullptr;
    QPushButton *m_scanAgain = nullptr;
    QPushButton *m_connect = nullptr;

    QLabel *m_signInHeading = nullptr;
    QLabel *m_signInHint = nullptr;
    QLabel *m_signInMessage = nullptr;
    QProgressBar *m_spinner = nullptr;
    QGroupBox *m_passwordGroup = nullptr;
    QLineEdit *m_passwordField = nullptr;
    QPushButton *m_signInButton = nullptr;
    QGroupBox *m_newPasswordGroup = nullptr;
    QLineEdit *m_newPassword = nullptr;
    QLineEdit *m_repeatPassword = nullptr;

    QWidget *m_wifiHolder = nullptr;
    QPointer<WifiPanel> m_wifiPanel;
    QWidget *m_controllerHolder = nullptr;
    QPointer<ControllerPanel> m_controllerPanel;

    QLabel *m_receiverStatus = nullptr;
    QLineEdit *m_receiverKey = nullptr;
    QLabel *m_receiverMessage = nullptr;
    SharePanel *m_receiverShare = nullptr;

    QLabel *m_summary = nullptr;
    QLineEdit *m_claimCode = nullptr;
    QPushButton *m_addToAccount = nullptr;
    QLabel *m_doneMessage = nullptr;

    QLabel *m_manageHeading = nullptr;
    QWidget *m_managerHolder = nullptr;
    QPointer<DeviceManager> m_manager;
};

} // namespace corvane
