#pragma once

#include "ui/PanelBase.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace corvane {

// The Status tab: the device's status lines, the scoreboard as the device reads it right
// now, and the network test, which the device runs over several polls.
class StatusPanel : public PanelBase {
    Q_OBJECT
public:
    struct Timing {
        int networkTestRepeatMs = 2000;
    };
    static constexpr int MaxNetworkTestRequests = 13;

    explicit StatusPanel(DeviceSession *session, QWidget *parent = nullptr);

    void refresh() override;

    QLabel *statusView() const { return m_status; }
    QLabel *liveView() const { return m_live; }
    QPlainTextEdit *testView() const { return m_testView; }
    QPushButton *refreshButton() const { return m_refresh; }
    QPushButton *testButton() const { return m_test; }

    void setTimingForTesting(const Timing &timing) { m_timing = timing; }

private:
    void runNetworkTest();
    void askNetworkTest(int requestsMade);
    void onEnvelope(const QJsonObject &envelope);

    QLabel *m_status = nullptr;
    QLabel *m_live = nullptr;
    QPlainTextEdit *m_testView = nullptr;
    QPushButton *m_refresh = nullptr;
    QPushButton *m_test = nullptr;
    QTimer *m_testTimer = nullptr;
    int m_testRequests = 0;
    Timing m_timing;
};

} // namespace corvane
