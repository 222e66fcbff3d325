#pragma once

#include <QFrame>

class QLabel;
class QProgressBar;
class QPushButton;

namespace corvane {

class App;

// The dock's top banner for a plugin update: what is on offer or under way, its progress,
// and the one action that fits (install, retry, or the download page). Hidden otherwise.
class UpdateBanner : public QFrame {
    Q_OBJECT
public:
    explicit UpdateBanner(App *app, QWidget *parent = nullptr);

    void showUpdate();

private:
    App *m_app;
    QLabel *m_title = nullptr;
    QLabel *m_detail = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_updateNow = nullptr;
    QPushButton *m_downloadPage = nullptr;
};

} // namespace corvane
