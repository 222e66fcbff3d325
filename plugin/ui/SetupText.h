#pragma once

#include "device/usb/SerialPort.h"

#include <QJsonObject>
#include <QList>
#include <QString>

namespace corvane {

// The setup wizard's texts that depend on data alone, apart from the widgets that show them.
// All of them are translated in the SetupDialog context.

// One row of the USB port list: the port's name (with the system's description when it
// says more), and a note when the port's USB identity is the maker's.
QString usbPortLabel(const UsbPortInfo &port);
// The line under the USB port list.
QString usbPortCountText(int count);
// The row to preselect: the only likely device, else the only port; -1 for none.
int preselectedPortRow(const QList<UsbPortInfo> &ports);

// The outcome of a Bluetooth scan that worked: `found` of our devices among `seen` in all.
QString bluetoothScanText(int found, int seen);
// The sentence for a failed Bluetooth step, from the helper's code and message.
QString bluetoothErrorText(const QString &code, const QString &message);

// Why a new admin password cannot be used, or empty when it can.
QString newPasswordProblem(const QString &password, const QString &repeat);

// The receiver page's status lines from a receiver's "rx_status".
QString receiverStatusText(const QJsonObject &status);

// The done page's summary; empty values are left out (the Wi-Fi line always shows).
QString doneSummaryText(const QString &deviceId, const QString &firmware, const QString &stationIp);

// The done page's line with the certificate fingerprint the network route trusts, after a
// line feed; empty when the device reported none.
QString certificateLine(const QString &displayedFingerprint);

// What the portal is told about how the device was reached: the link kind, or "manual" for
// the local network.
QString linkVia(const QString &kind);

} // namespace corvane
