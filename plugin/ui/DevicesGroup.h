#pragma once

#include <QGroupBox>
#include <QTimer>

class QLabel;
class QPushButton;

namespace corvane {

class App;

// The dock's "Devices" group: the way into the setup wizard and the account's manage
// dialog, and the USB cloud relay's state with the button that stops it. The dialogs belong
// to the dock, which opens them on this group's requests.
class DevicesGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit DevicesGroup(App *app, QWidget *parent = nullptr);

    void showAccount(bool signedIn);
    // The manage button works only for a device the account knows.
    void showPicked(const QString &deviceId);
    void showRelays();

Q_SIGNALS:
    void setupRequested();
    void manageRequested();

private:
    App *m_app;
    QTimer m_relayTimer;
    QPushButton *m_manage = nullptr;
    QLabel *m_relays = nullptr;
    QPushButton *m_stopSharing = nullptr;
};

} // namespace corvane
