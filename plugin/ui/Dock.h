#pragma once

#include "cloud/PortalResult.h"

#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFileSystemWatcher;
class QGridLayout;
class QFrame;
class QLabel;
class QLayout;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace corvane {

class App;
class SetupDialog;

// The plugin's panel inside OBS: the cloud account, the device whose scores feed OBS, the
// sources, the device dialogs, sharing over TCP, overlay pages and plugin updates. Everything it shows
// comes from App, and every action goes back to it.
class Dock : public QWidget {
    Q_OBJECT
public:
    explicit Dock(App *app, QWidget *parent = nullptr);

    void doSignIn();
    void showAccount();
    void showDevices();
    void showRoute();
    void showStatus();
    void showScore();
    void showRelays();
    void showServer();
    void showOverlays();
    void showUpdate();
    void showHeld();
    // Opens the setup wizard, or brings the open one forward: there is at most one.
    void openSetupDialog();

private:
    QWidget *buildUpdateBanner();
    QWidget *buildAccountBox();
    QWidget *buildSignedInRow();
    QWidget *buildScoreboardBox();
    QWidget *buildSourcesBox();
    QWidget *buildRecordingBox();
    QLayout *buildChapterSpacingRow();
    QLabel *buildRecordingNotice();
    QWidget *buildDevicesBox();
    QWidget *buildServerBox();
    QWidget *buildOverlaysBox();
    QWidget *buildPluginBox();
    void connectApp();
    void onSignInAnswer(const PortalResult &result);

    QString pickedDevice() const;
    void onDeviceActivated(int index);
    void onLocalNetworkToggled(bool checked);
    void writeServerSettings();
    void writeOverlaySettings();
    void addOverlayToScene();
    void openManageDialog();
    void openPortalPage(const QString &page);

    App *m_app;
    QString m_challengeId;
    bool m_fillingRoute = false;
    QTimer m_relayTimer;
    QPointer<SetupDialog> m_setupDialog;

    QFrame *m_banner = nullptr;
    QLabel *m_bannerTitle = nullptr;
    QLabel *m_bannerDetail = nullptr;
    QProgressBar *m_bannerProgress = nullptr;
    QPushButton *m_updateNow = nullptr;
    QPushButton *m_downloadPage = nullptr;

    QWidget *m_accountBox = nullptr;
    QLineEdit *m_email = nullptr;
    QLineEdit *m_password = nullptr;
    QLineEdit *m_code = nullptr;
    QPushButton *m_signIn = nullptr;
    QLabel *m_signInMessage = nullptr;

    QWidget *m_signedInRow = nullptr;
    QLabel *m_signedInLabel = nullptr;

    QComboBox *m_picker = nullptr;
    QCheckBox *m_localNetwork = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_score = nullptr;
    QLabel *m_held = nullptr;
    QPushButton *m_hold = nullptr;

    QCheckBox *m_chapters = nullptr;
    QComboBox *m_chapterChanges = nullptr;
    QLineEdit *m_chapterTemplate = nullptr;
    QSpinBox *m_chapterSpacing = nullptr;
    QLabel *m_recordingNotice = nullptr;

    QPushButton *m_manage = nullptr;
    QLabel *m_relays = nullptr;
    QPushButton *m_stopSharing = nullptr;

    QCheckBox *m_serverEnabled = nullptr;
    QSpinBox *m_serverPort = nullptr;
    QCheckBox *m_serverNetwork = nullptr;
    QLabel *m_serverStatus = nullptr;

    QCheckBox *m_overlayEnabled = nullptr;
    QSpinBox *m_overlayPort = nullptr;
    QLabel *m_overlayStatus = nullptr;
    QWidget *m_overlayList = nullptr;
    QGridLayout *m_overlayRows = nullptr;
    QComboBox *m_overlayPicker = nullptr;
    QPushButton *m_addOverlay = nullptr;
    QLabel *m_overlayNoBrowser = nullptr;
    QFileSystemWatcher *m_overlayWatcher = nullptr;

    QPushButton *m_checkUpdates = nullptr;
    QLabel *m_updateStatus = nullptr;
    QCheckBox *m_autoCheck = nullptr;
};

} // namespace corvane
