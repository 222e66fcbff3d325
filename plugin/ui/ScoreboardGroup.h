#pragma once

#include <QGroupBox>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace corvane {

class App;

// The dock's "Scoreboard" group: the account's device picker, the local-network route for
// the picked device, the source manager's status, the live score line and the hold.
class ScoreboardGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit ScoreboardGroup(App *app, QWidget *parent = nullptr);

    QString pickedDevice() const;
    void showAccount(bool signedIn);
    void showDevices();
    void showRoute();
    void showStatus();
    void showScore();
    void showHeld();

Q_SIGNALS:
    // The picker was filled anew; `picked` is its current device id, empty for none.
    void devicesShown(const QString &picked);

private:
    void onDeviceActivated(int index);
    void onLocalNetworkToggled(bool checked);

    App *m_app;
    bool m_fillingRoute = false;
    QComboBox *m_picker = nullptr;
    QCheckBox *m_localNetwork = nullptr;
    QLabel *m_status = nullptr;
    QLabel *m_score = nullptr;
    QLabel *m_held = nullptr;
    QPushButton *m_hold = nullptr;
};

} // namespace corvane
