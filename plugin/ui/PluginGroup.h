#pragma once

#include <QGroupBox>

class QCheckBox;
class QLabel;
class QPushButton;

namespace corvane {

class App;

// The dock's "Corvane plugin" group: the running version, a check for updates on demand,
// the updater's last word, and whether it checks by itself.
class PluginGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit PluginGroup(App *app, QWidget *parent = nullptr);

    void showUpdate();

private:
    App *m_app;
    QPushButton *m_check = nullptr;
    QLabel *m_status = nullptr;
    QCheckBox *m_autoCheck = nullptr;
};

} // namespace corvane
