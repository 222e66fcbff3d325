#pragma once

#include "device/settings/WirelessLink.h"
#include "ui/PanelBase.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace corvane {

// The Wi-Fi tab (and the wizard's Wi-Fi step): joins the device to a network, and switches
// it between Wi-Fi and sending its scores to a Corvane wireless receiver. A switch restarts
// the device, so the panel then counts down until it should be back.
class WifiPanel : public PanelBase {
    Q_OBJECT
public:
    struct Timing {
        int countdownTickMs = 1000;
    };
    static constexpr int CountdownSeconds = 15;

    explicit WifiPanel(DeviceSession *session, QWidget *parent = nullptr);

    void refresh() override;

    QComboBox *networkBox() const { return m_network; }
    QLineEdit *passwordField() const { return m_password; }
    QPushButton *scanButton() const { return m_scan; }
    QPushButton *connectButton() const { return m_connect; }
    QFrame *noticeFrame() const { return m_notice; }
    QLabel *noticeLabel() const { return m_noticeText; }
    QPushButton *noticeButton() const { return m_noticeButton; }
    QLineEdit *receiverAddressField() const { return m_receiverAddress; }
    QLineEdit *pairingKeyField() const { return m_pairingKey; }
    QLabel *countdownLabel() const { return m_countdown; }

    void setTimingForTesting(const Timing &timing) { m_timing = timing; }

    static QString countdownText(const QString &headline, int secondsLeft);
    static QString countdownDoneText(const QString &headline);

Q_SIGNALS:
    void joined(const QString &ip);

private:
    void scan();
    void join();
    void drawNotice();
    void onNoticeButton();
    void switchOffTransmitter();
    void switchToReceiver();
    void setWifiControlsEnabled(bool enabled);
    void startCountdown(const QString &headline);
    void tick();
    // The SSID of the listed item the field shows, or a null string.
    QString pickedNetwork() const;
    QString chosenNetwork() const;

    QGroupBox *m_group = nullptr;
    QComboBox *m_network = nullptr;
    QLineEdit *m_password = nullptr;
    QPushButton *m_scan = nullptr;
    QPushButton *m_connect = nullptr;
    QFrame *m_notice = nullptr;
    QLabel *m_noticeText = nullptr;
    QPushButton *m_noticeButton = nullptr;
    QWidget *m_receiverFields = nullptr;
    QLineEdit *m_receiverAddress = nullptr;
    QLineEdit *m_pairingKey = nullptr;
    QLabel *m_countdown = nullptr;
    QTimer *m_countdownTimer = nullptr;

    WirelessLink m_link;
    bool m_receiverRevealed = false;
    bool m_switched = false;
    int m_secondsLeft = CountdownSeconds;
    QString m_headline;
    Timing m_timing;
};

} // namespace corvane
