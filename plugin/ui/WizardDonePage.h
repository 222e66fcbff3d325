#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {

class App;
class DeviceSession;

// The wizard's summary: what the device is and how it is connected, and from here live
// scores, the full device manager, or adding the device to the cloud account.
class WizardDonePage : public QWidget {
    Q_OBJECT
public:
    explicit WizardDonePage(App *app, QWidget *parent = nullptr);

    // Shows the session's device, reached over `kind`, with the fingerprint of the certificate
    // its network route trusts, and the account step offered anew.
    void showDevice(DeviceSession *session, const QString &kind, const QString &certificateSha256);
    // How following the device beside the main one went.
    void showFollowOutcome(const QString &text, bool isError);

Q_SIGNALS:
    void liveScoresWanted();
    void followWanted();
    void moreWanted();
    void closeWanted();

private:
    void addToAccount();

    App *m_app;
    QPointer<DeviceSession> m_session;
    QString m_kind;
    QLabel *m_summary = nullptr;
    QLabel *m_followMessage = nullptr;
    QLineEdit *m_claimCode = nullptr;
    QPushButton *m_add = nullptr;
    QLabel *m_message = nullptr;
};

} // namespace corvane
