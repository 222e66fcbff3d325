#pragma once

#include <QGroupBox>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace corvane {

class App;

// The dock's "Share live data with other programs" group: the hosted TCP server's settings
// and what it is doing.
class ServerGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit ServerGroup(App *app, QWidget *parent = nullptr);

    void showServer();

private:
    void writeSettings();

    App *m_app;
    QCheckBox *m_enabled = nullptr;
    QSpinBox *m_port = nullptr;
    QCheckBox *m_network = nullptr;
    QLabel *m_status = nullptr;
};

} // namespace corvane
