#pragma once

#include <QPointer>
#include <QWidget>

namespace corvane {

class AccountBox;
class App;
class DevicesGroup;
class PluginGroup;
class ScoreboardGroup;
class ServerGroup;
class SetupDialog;
class SignedInRow;
class UpdateBanner;

// The plugin's panel inside OBS: one column of groups (the cloud account, the device whose
// scores feed OBS, the devices followed beside it, the sources, recordings, the device
// dialogs, sharing over TCP, overlay pages and plugin updates), each talking to App on its
// own. The dock lays them out, routes the sign-in state and the picked device between them,
// and owns the dialogs they open.
class Dock : public QWidget {
    Q_OBJECT
public:
    explicit Dock(App *app, QWidget *parent = nullptr);

    // Opens the setup wizard, or brings the open one forward: there is at most one.
    void openSetupDialog();

private:
    void showAccount();
    void openManageDialog();

    App *m_app;
    QPointer<SetupDialog> m_setupDialog;
    UpdateBanner *m_banner = nullptr;
    AccountBox *m_account = nullptr;
    SignedInRow *m_signedIn = nullptr;
    ScoreboardGroup *m_scoreboard = nullptr;
    DevicesGroup *m_devices = nullptr;
    ServerGroup *m_server = nullptr;
    PluginGroup *m_plugin = nullptr;
};

} // namespace corvane
