#pragma once

#include "base/FollowedRoute.h"
#include "live/DeviceLive.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;

namespace corvane {

class FollowedDevice;
class SourceManager;

// One followed device in the dock: its name and route, live state, short score and hold,
// with "Make main" and "Remove". It refreshes on that device's own signals; it keeps the
// device's data while it shows it and lets go of the route's objects when told the device
// is gone, so nothing it reads can go before it.
class FollowedRow : public QWidget {
    Q_OBJECT
public:
    explicit FollowedRow(FollowedDevice *device, QWidget *parent = nullptr);

    QString deviceId() const { return m_route.deviceId; }
    // The device was unfollowed: no more updates, no more actions.
    void detach();

Q_SIGNALS:
    void makeMainWanted(const QString &deviceId);
    void removeWanted(const QString &deviceId);

private:
    void showStatus();
    void showScore();
    void showHeld();

    FollowedRoute m_route;
    std::shared_ptr<DeviceLive> m_data;
    QPointer<SourceManager> m_manager;
    QLabel *m_status = nullptr;
    QLabel *m_score = nullptr;
    QPushButton *m_hold = nullptr;
    QPushButton *m_makeMain = nullptr;
    QPushButton *m_remove = nullptr;
};

} // namespace corvane
