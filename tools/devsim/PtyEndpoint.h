#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace corvane::devsim {

// The device's end of a pseudo-terminal: the plugin opens the slave path as its serial
// port. The simulator keeps a slave descriptor of its own open so that the master does not
// report a hang-up while the plugin has the port closed. Writes are buffered and never
// block the simulator; closing the master is an unplug.
class PtyEndpoint : public QObject {
    Q_OBJECT
public:
    explicit PtyEndpoint(QObject *parent = nullptr);
    ~PtyEndpoint() override;

    bool open(QString *error);
    QString slavePath() const { return m_slavePath; }
    bool isOpen() const { return m_master >= 0; }
    void write(const QByteArray &bytes);
    void unplug();
    // A stalled device stops reading, so the plugin's writes back up and time out.
    void setReading(bool reading);

    // Output beyond this is dropped, as a device's UART buffer would overflow.
    static constexpr qsizetype MaxOutput = 8 * 1024 * 1024;

Q_SIGNALS:
    void received(const QByteArray &bytes);

private:
    void onReadable();
    void flush();

    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_output;
};

} // namespace corvane::devsim
