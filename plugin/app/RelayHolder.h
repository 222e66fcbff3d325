#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace corvane {

class DeviceSession;
class SettingsStore;

// Keeps USB sessions open after the setup wizard closes, so that their device (or the
// device behind a wireless receiver) keeps reaching the cloud through this computer. The
// holder is the Qt parent of every session it keeps.
class RelayHolder : public QObject {
    Q_OBJECT
public:
    RelayHolder(const SettingsStore *settings, QObject *parent = nullptr);

    // Takes the session over; false, with nothing changed, when it has no USB link, sharing
    // is off, it is not connected, or (for a device) its cloud relay is not ready yet.
    bool adopt(DeviceSession *session);
    // Closes the kept sessions on one serial port, or all of them.
    void release(const QString &portName);
    void releaseAll();
    // One line per kept session: "%1: %2", who it is and how its cloud link stands.
    QStringList statusLines() const;

    int count() const { return static_cast<int>(m_sessions.size()); }

Q_SIGNALS:
    void changed();

private:
    void closeOnPort(const QString &portName);
    void onStateChanged(DeviceSession *session);
    void drop(DeviceSession *session);

    const SettingsStore *m_settings;
    QList<QPointer<DeviceSession>> m_sessions;
};

} // namespace corvane
