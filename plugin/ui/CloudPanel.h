#pragma once

#include "ui/PanelBase.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class SettingsStore;
class SharePanel;

// The Cloud tab: the device's cloud connection, its device ID, forgetting its cloud
// sign-in, and (over USB) sharing this computer's internet connection with it.
class CloudPanel : public PanelBase {
    Q_OBJECT
public:
    explicit CloudPanel(DeviceSession *session, QWidget *parent = nullptr, SettingsStore *settings = nullptr);

    void refresh() override;

    QLabel *connectionLabel() const { return m_connection; }
    QLabel *routeLabel() const { return m_route; }
    QLineEdit *deviceIdField() const { return m_deviceId; }
    QPushButton *refreshButton() const { return m_refresh; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *forgetButton() const { return m_forget; }
    SharePanel *sharePanel() const { return m_share; }

private:
    void saveDeviceId();
    void forgetCloud();

    QPushButton *m_refresh = nullptr;
    QLabel *m_connection = nullptr;
    QLabel *m_route = nullptr;
    QLineEdit *m_deviceId = nullptr;
    QPushButton *m_save = nullptr;
    QPushButton *m_forget = nullptr;
    SharePanel *m_share = nullptr;
};

} // namespace corvane
