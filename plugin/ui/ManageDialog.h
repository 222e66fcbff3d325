#pragma once

#include "cloud/PortalClient.h"

#include <QDialog>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace corvane {


// Manages one device of the account through the cloud portal alone: status, firmware
// check, restart and the scoreboard controller. Each action is a portal request that the
// portal passes on when the device is online.
class ManageDialog : public QDialog {
    Q_OBJECT
public:
    ManageDialog(PortalClient *portal, const QString &deviceId, QWidget *parent = nullptr);

private:
    using Completion = std::function<void(const PortalResult &result)>;

    void run(const QString &command, const QJsonObject &args, const QString &busyText, Completion done);
    void send(const QString &busyText, const std::function<void(PortalClient::Callback)> &request, Completion done);
    void finish(const PortalResult &result, const Completion &done);
    void checkStatus();
    void checkUpdate();
    void restart();
    void changeScoreboard();
    void fillForManufacturer();
    void setStatus(const QString &text, bool error);

    PortalClient *m_portal;
    QString m_deviceId;
    QPlainTextEdit *m_answer = nullptr;
    QLabel *m_status = nullptr;
    QComboBox *m_manufacturer = nullptr;
    QComboBox *m_model = nullptr;
    QComboBox *m_sport = nullptr;
    QComboBox *m_input = nullptr;
    QList<QPushButton *> m_actions;
};

} // namespace corvane
