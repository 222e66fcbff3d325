#include "ui/SetupText.h"

#include "device/DeviceSession.h"

#include <QCoreApplication>
#include <QStringList>

namespace corvane {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SetupDialog", text);
}

constexpr int kMinimumPasswordLength = 8;

// A helper code and the sentence the operator sees for it.
struct BluetoothError {
    const char *code;
    const char *text;
};
const BluetoothError kBluetoothErrors[] = {
#ifdef Q_OS_LINUX
    // Linux has no per-program Bluetooth setting: BlueZ's service and D-Bus policy decide.
    {"permission_denied",
     QT_TRANSLATE_NOOP("SetupDialog", "Bluetooth access was denied. Check that the Bluetooth service (BlueZ) is running "
                                      "and that your user may use it (on some systems by being in the \"bluetooth\" "
                                      "group; log in again after joining it), then scan again.")},
#else
    {"permission_denied", QT_TRANSLATE_NOOP("SetupDialog",
                                            "Bluetooth access was denied. Allow \"Corvane Bluetooth Helper\" in your system's "
                                            "Privacy & Security \u2192 Bluetooth settings, then scan again.")},
#endif
    {"bluetooth_unavailable", QT_TRANSLATE_NOOP("SetupDialog", "Bluetooth is turned off or unavailable on this computer.")},
};

} // namespace

QString usbPortLabel(const UsbPortInfo &port)
{
    QString name = port.portName;
    if (!port.description.isEmpty() && port.description != port.portName) {
        name = port.description.contains(port.portName) ? port.description
                                                        : QStringLiteral("%1 (%2)").arg(port.portName, port.description);
    }
    return QStringLiteral("%1%2").arg(name, port.likelyDevice ? tr("  \u2013 likely a Corvane device") : QString());
}

QString usbPortCountText(int count)
{
    if (count == 0)
        return tr("No USB devices found. Plug the device in and press Scan again.");
    return tr("%1 USB port(s) found. Pick the Corvane device.").arg(count);
}

int preselectedPortRow(const QList<UsbPortInfo> &ports)
{
    int likely = -1;
    int likelyCount = 0;
    for (int i = 0; i < ports.size(); ++i) {
        if (ports.at(i).likelyDevice) {
            likely = i;
            ++likelyCount;
        }
    }
    if (likelyCount == 1)
        return likely;
    return ports.size() == 1 ? 0 : -1;
}

QString bluetoothScanText(int found, int seen)
{
    if (found > 0)
        return tr("%1 device(s) found.").arg(found);
    if (seen > 0)
        return tr("Bluetooth is working but no Corvane device is in range. Move closer and scan again.");
    return tr("No Bluetooth devices were seen at all. Check that Bluetooth is on.");
}

QString bluetoothErrorText(const QString &code, const QString &message)
{
    for (const BluetoothError &error : kBluetoothErrors) {
        if (code == QLatin1String(error.code))
            return tr(error.text);
    }
    return message;
}

QString newPasswordProblem(const QString &password, const QString &repeat)
{
    if (password.size() < kMinimumPasswordLength || password.toLower() == DeviceSession::factoryPassword())
        return tr("Use at least 8 characters, and not the factory password.");
    if (password != repeat)
        return tr("The two passwords do not match.");
    return QString();
}

QString receiverStatusText(const QJsonObject &status)
{
    QStringList lines;
    if (status.contains(QLatin1String("configured")))
        lines << (status.value(QLatin1String("configured")).toBool() ? tr("Paired with a device.") : tr("Not paired yet."));
    if (status.contains(QLatin1String("link")))
        lines << (status.value(QLatin1String("link")).toBool() ? tr("Receiving from the device now.")
                                                               : tr("Not hearing the device right now."));
    if (status.contains(QLatin1String("rssi")))
        lines << tr("Signal: %1 dBm").arg(status.value(QLatin1String("rssi")).toVariant().toString());
    if (status.contains(QLatin1String("channel")))
        lines << tr("Channel: %1").arg(status.value(QLatin1String("channel")).toVariant().toString());
    const QString firmware = status.value(QLatin1String("fw")).toString();
    if (!firmware.isEmpty())
        lines << tr("Firmware: %1").arg(firmware);
    return lines.join(QLatin1Char('\n'));
}

QString doneSummaryText(const QString &deviceId, const QString &firmware, const QString &stationIp)
{
    QStringList lines;
    if (!deviceId.isEmpty())
        lines << tr("Device: %1").arg(deviceId);
    if (!firmware.isEmpty())
        lines << tr("Firmware: %1").arg(firmware);
    lines << (stationIp.isEmpty() ? tr("Wi-Fi: not connected") : tr("Wi-Fi: connected (%1)").arg(stationIp));
    return lines.join(QLatin1Char('\n'));
}

QString certificateLine(const QString &displayedFingerprint)
{
    if (displayedFingerprint.isEmpty())
        return QString();
    return QLatin1Char('\n') + tr("Security fingerprint (SHA-256): %1").arg(displayedFingerprint);
}

QString linkVia(const QString &kind)
{
    return kind == QLatin1String("lan") ? QStringLiteral("manual") : kind;
}

} // namespace corvane
