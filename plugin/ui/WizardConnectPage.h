#pragma once

#include "device/usb/SerialPort.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace corvane {

// The wizard's first page: how the device is reached (USB, Bluetooth or the local network),
// the ports or devices found that way, or the typed address.
class WizardConnectPage : public QWidget {
    Q_OBJECT
public:
    using PortLister = std::function<QList<UsbPortInfo>()>;

    // What the operator picked; `kind` ("usb", "ble" or "lan") is empty when nothing usable is.
    struct Choice {
        QString kind;
        QString address;
        QString name;
    };

    explicit WizardConnectPage(QWidget *parent = nullptr);

    void setPortLister(PortLister lister) { m_portLister = std::move(lister); }
    void setScanMs(int ms) { m_scanMs = ms; }

    // Lists anew for the picked kind of connection.
    void refresh();
    Choice choice() const;

Q_SIGNALS:
    void connectRequested();

private:
    void listUsbPorts();
    void scanBluetooth();

    PortLister m_portLister;
    int m_scanMs = 6000;
    int m_scanGeneration = 0;

    QRadioButton *m_usb = nullptr;
    QRadioButton *m_bluetooth = nullptr;
    QRadioButton *m_network = nullptr;
    QLabel *m_hint = nullptr;
    QLabel *m_networkWarning = nullptr;
    QListWidget *m_found = nullptr;
    QLineEdit *m_address = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_scanAgain = nullptr;
};

} // namespace corvane
