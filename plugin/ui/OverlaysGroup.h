#pragma once

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QFileSystemWatcher;
class QGridLayout;
class QLabel;
class QPushButton;
class QSpinBox;

namespace corvane {

class App;

// The dock's "Overlays" group: the overlay server's settings and state, each overlay's
// address to copy, and adding one to the current scene as a browser source.
class OverlaysGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit OverlaysGroup(App *app, QWidget *parent = nullptr);

    void showOverlays();

private:
    void writeSettings();
    void addOverlayToScene();

    App *m_app;
    QCheckBox *m_enabled = nullptr;
    QSpinBox *m_port = nullptr;
    QLabel *m_status = nullptr;
    QWidget *m_list = nullptr;
    QGridLayout *m_rows = nullptr;
    QComboBox *m_picker = nullptr;
    QPushButton *m_add = nullptr;
    QLabel *m_noBrowser = nullptr;
    QFileSystemWatcher *m_watcher = nullptr;
};

} // namespace corvane
