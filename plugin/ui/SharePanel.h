#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QLabel;
class QTimer;

namespace corvane {

class SettingsStore;
class UsbLink;

// Sharing this computer's internet connection with a USB device (or a wireless receiver's
// paired device): a check box for the link's cloud relay and a text saying what the relays
// are doing.
class SharePanel : public QWidget {
    Q_OBJECT
public:
    // What the text is made from: the relays' state at one moment.
    struct Snapshot {
        bool enabled = false;
        bool targetValid = false;
        bool connected = false;
        quint64 bytesUp = 0;
        quint64 bytesDown = 0;
        QString lastError;
        QString host;
        QStringList routeNames;
        int openCount = 0;
        quint64 bytesToDevice = 0;
    };

    // `settings` keeps the operator's choice; without one, App's settings are used when an
    // App exists.
    explicit SharePanel(QWidget *parent = nullptr, SettingsStore *settings = nullptr);

    // A null link hides the panel. `servesReceiver` tells that the link is a wireless
    // receiver relaying for its paired device.
    void attach(UsbLink *link, bool servesReceiver);
    void refresh();

    QCheckBox *shareBox() const { return m_share; }
    QLabel *statusLabel() const { return m_status; }

    static Snapshot snapshotOf(const UsbLink &link);
    static QString statusText(const Snapshot &state, bool servesReceiver);
    static QString formatBytes(quint64 bytes);

private:
    void onToggled(bool share);

    QPointer<UsbLink> m_link;
    bool m_servesReceiver = false;
    SettingsStore *m_settings = nullptr;
    QCheckBox *m_share = nullptr;
    QLabel *m_status = nullptr;
    QTimer *m_counters = nullptr;
};

} // namespace corvane
