#pragma once

#include "ui/FollowRequest.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;

namespace corvane {

class App;

// Chooses one more device to follow and how this computer reaches it: one of the account's
// devices through the cloud, a network address (with the feed's port when it is not the usual
// one), a USB port or a Bluetooth address. It stays open and says what is wrong until the
// device can be followed.
class FollowDialog : public QDialog {
    Q_OBJECT
public:
    explicit FollowDialog(App *app, QWidget *parent = nullptr);

private:
    void fillCloudDevices();
    void showCloudChoice();
    void showKind();
    FollowRequest request() const;
    FollowContext context() const;
    void follow();

    App *m_app;
    QComboBox *m_kind = nullptr;
    QComboBox *m_cloudDevice = nullptr;
    QLabel *m_cloudHint = nullptr;
    QLineEdit *m_deviceId = nullptr;
    QLineEdit *m_address = nullptr;
    QComboBox *m_usbPort = nullptr;
    QLineEdit *m_name = nullptr;
    QLabel *m_error = nullptr;
};

} // namespace corvane
