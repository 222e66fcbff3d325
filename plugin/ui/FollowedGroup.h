#pragma once

#include <QGroupBox>
#include <QPointer>
#include <QString>

class QLabel;
class QVBoxLayout;

namespace corvane {

class App;
class FollowDialog;
class FollowedRow;

// The dock's "Followed devices" group: one row per device followed beside the main one,
// added and removed as App follows and unfollows, and the way to follow another.
class FollowedGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit FollowedGroup(App *app, QWidget *parent = nullptr);

    // Opens the follow dialog, or brings the open one forward.
    void openFollowDialog();

Q_SIGNALS:
    // Another device became the main one from a row.
    void mainChanged();

private:
    void addRow(const QString &deviceId);
    void removeRow(const QString &deviceId);
    void makeMain(const QString &deviceId);

    App *m_app;
    QVBoxLayout *m_rows = nullptr;
    QLabel *m_empty = nullptr;
    QPointer<FollowDialog> m_dialog;
};

} // namespace corvane
