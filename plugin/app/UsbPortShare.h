#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

class QTimer;

namespace corvane {

class UsbLink;

// One open link per serial port, shared: followed devices listen to whichever link has
// their port (the setup wizard's, a kept relay's, or one opened for them alone) and never
// open a second one, which the port's exclusive access would refuse anyway.
class UsbPortShare : public QObject {
    Q_OBJECT
public:
    explicit UsbPortShare(QObject *parent = nullptr);
    ~UsbPortShare() override;

    // The link that has the port now, or null.
    UsbLink *linkOn(const QString &port) const;
    // A listener wants the port: the link that has it, else one opened for the listeners,
    // reopened after a loss until the last listener goes.
    void listen(const QString &port);
    void stopListening(const QString &port);
    // Someone else opens the port (the setup wizard): the link opened for listeners closes
    // first, and theirs is shared from now on until it is deleted.
    void attach(UsbLink *link);

    // Test seam: the pause before a link of our own is opened again after a loss.
    void setReopenDelayForTests(int ms) { m_reopenDelayMs = ms; }

Q_SIGNALS:
    // The link on the port changed (null while none has it); listeners bind to linkOn().
    void linkChanged(const QString &port);

private:
    struct Port {
        int listeners = 0;
        QPointer<UsbLink> link;
        bool own = false;
        QTimer *reopen = nullptr;
    };

    void openOwn(const QString &port);
    void closeOwn(Port &entry);
    void onLinkGone(const QString &port, UsbLink *link);
    void scheduleReopen(const QString &port);

    QHash<QString, Port> m_ports;
    int m_reopenDelayMs = 3000;
};

} // namespace corvane
