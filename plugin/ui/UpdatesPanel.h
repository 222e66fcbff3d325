#pragma once

#include "ui/PanelBase.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace corvane {

// The Updates tab: the running firmware, checking for and installing a firmware update,
// and updating the wireless chip from the image the device has staged. Both installs are
// followed by polling the device until it restarts, fails or stops answering.
class UpdatesPanel : public PanelBase {
    Q_OBJECT
public:
    struct Timing {
        int pollIntervalMs = 700;
        int retryIntervalMs = 1000;
    };
    static constexpr int MaxFailedPolls = 5;
    static constexpr int ProgressPollTimeoutMs = 8000;

    explicit UpdatesPanel(DeviceSession *session, QWidget *parent = nullptr);

    void refresh() override;

    QLabel *firmwareLabel() const { return m_firmware; }
    QPushButton *checkButton() const { return m_check; }
    QPushButton *installButton() const { return m_install; }
    QProgressBar *firmwareProgress() const { return m_firmwareProgress; }
    QLabel *firmwareStatus() const { return m_firmwareStatus; }
    QLabel *chipLabel() const { return m_chip; }
    QPushButton *chipButton() const { return m_chipUpdate; }
    QProgressBar *chipProgress() const { return m_chipProgress; }
    QLabel *chipStatus() const { return m_chipStatus; }

    void setTimingForTesting(const Timing &timing) { m_timing = timing; }

    // bytes × 100 / total, 0 when the total is not known yet.
    static int percent(double bytes, double total);

private:
    void check();
    void install();
    void pollFirmware(int failures);
    void updateChip();
    void pollChip(int failures);
    void setFirmwareStatus(const QString &text, bool isError = false);
    void setChipStatus(const QString &text, bool isError = false);

    QLabel *m_firmware = nullptr;
    QPushButton *m_check = nullptr;
    QPushButton *m_install = nullptr;
    QProgressBar *m_firmwareProgress = nullptr;
    QLabel *m_firmwareStatus = nullptr;
    QLabel *m_chip = nullptr;
    QPushButton *m_chipUpdate = nullptr;
    QProgressBar *m_chipProgress = nullptr;
    QLabel *m_chipStatus = nullptr;
    QTimer *m_firmwareTimer = nullptr;
    QTimer *m_chipTimer = nullptr;
    int m_firmwareFailures = 0;
    int m_chipFailures = 0;
    QString m_offeredVersion;
    Timing m_timing;
};

} // namespace corvane
