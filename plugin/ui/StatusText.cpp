#include "ui/StatusText.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace corvane {

namespace {

struct KeyLabel {
    const char *key;
    const char *label;
};

// Shown first, in this order, when the device reports them.
constexpr const char *LeadingKeys[] = {
    "device_id", "firmware_version", "wifi_sta_ssid", "wifi_sta_ip", "eth_ip", "mqtt_connected", "mqtt_transport",
};

constexpr KeyLabel StatusLabels[] = {
    {"device_id", QT_TRANSLATE_NOOP("StatusText", "Device ID")},
    {"firmware_version", QT_TRANSLATE_NOOP("StatusText", "Firmware")},
    {"wifi_sta_ip", QT_TRANSLATE_NOOP("StatusText", "Wi-Fi address")},
    {"wifi_sta_ssid", QT_TRANSLATE_NOOP("StatusText", "Wi-Fi network")},
    {"wifi_sta_status", QT_TRANSLATE_NOOP("StatusText", "Wi-Fi status")},
    {"wifi_sta_rssi", QT_TRANSLATE_NOOP("StatusText", "Wi-Fi signal (dBm)")},
    {"eth_ip", QT_TRANSLATE_NOOP("StatusText", "Ethernet address")},
    {"mqtt_connected", QT_TRANSLATE_NOOP("StatusText", "Cloud connected")},
    {"mqtt_transport", QT_TRANSLATE_NOOP("StatusText", "Cloud route")},
    {"tcp_clients", QT_TRANSLATE_NOOP("StatusText", "TCP clients")},
    {"reset_reason", QT_TRANSLATE_NOOP("StatusText", "Last restart")},
    {"uptime_s", QT_TRANSLATE_NOOP("StatusText", "Uptime (s)")},
    {"tls_fingerprint", QT_TRANSLATE_NOOP("StatusText", "TLS fingerprint")},
    {"must_change_password", QT_TRANSLATE_NOOP("StatusText", "Password change needed")},
};

constexpr KeyLabel NetworkChecks[] = {
    {"local_network", QT_TRANSLATE_NOOP("StatusText", "Local network")},
    {"dns", QT_TRANSLATE_NOOP("StatusText", "DNS")},
    {"mqtt", QT_TRANSLATE_NOOP("StatusText", "Cloud (secure port)")},
    {"websocket_https", QT_TRANSLATE_NOOP("StatusText", "Cloud (backup route)")},
    {"firewall", QT_TRANSLATE_NOOP("StatusText", "Internet")},
    {"end_to_end", QT_TRANSLATE_NOOP("StatusText", "End to end")},
};

} // namespace

QString StatusText::statusLabel(const QString &key)
{
    for (const KeyLabel &entry : StatusLabels) {
        if (key == QLatin1String(entry.key))
            return tr(entry.label);
    }
    return key;
}

QString StatusText::valueText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double: {
        const double number = value.toDouble();
        return number == double(qint64(number)) ? QString::number(qint64(number)) : QString::number(number);
    }
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Object: {
        QStringList pairs;
        const QJsonObject object = value.toObject();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            pairs << tr("%1=%2").arg(it.key(), valueText(it.value()));
        return pairs.join(QStringLiteral(", "));
    }
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    default:
        return QString();
    }
}

QStringList StatusText::statusLines(const QJsonObject &status)
{
    QStringList lines;
    QStringList shown;
    const auto add = [&](const QString &key) {
        lines << tr("%1: %2").arg(statusLabel(key), valueText(status.value(key)));
        shown << key;
    };
    for (const char *key : LeadingKeys) {
        if (status.contains(QLatin1String(key)))
            add(QLatin1String(key));
    }
    for (auto it = status.constBegin(); it != status.constEnd(); ++it) {
        if (it.key() != QLatin1String("csrf_token") && !shown.contains(it.key()))
            add(it.key());
    }
    return lines;
}

QStringList StatusText::liveLines(const QJsonObject &envelope)
{
    const QJsonValue fieldsValue = envelope.value(QLatin1String("fields"));
    if (!fieldsValue.isObject())
        return {};
    QStringList lines;
    const QString sport = envelope.value(QLatin1String("sport")).toString();
    if (!sport.isEmpty())
        lines << tr("Sport: %1").arg(sport);
    const QJsonObject fields = fieldsValue.toObject();
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        lines << tr("%1: %2").arg(it.key(), valueText(it.value()));
    return lines;
}

QString StatusText::noLiveDataText()
{
    return tr("No scoreboard data yet.");
}

QString StatusText::networkTestText(const QJsonObject &answer)
{
    QStringList lines;
    const QJsonObject checks = answer.value(QLatin1String("checks")).toObject();
    for (const KeyLabel &check : NetworkChecks) {
        const QJsonValue entry = checks.value(QLatin1String(check.key));
        if (!entry.isObject())
            continue;
        const QJsonObject result = entry.toObject();
        const QString detail = result.value(QLatin1String("detail")).toString();
        const QString mark = result.value(QLatin1String("status")).toString() == QLatin1String("ok") ? QStringLiteral("✓")
                                                                                                    : QStringLiteral("✗");
        lines << tr("%1 %2%3").arg(mark, tr(check.label), detail.isEmpty() ? QString() : QStringLiteral(" – ") + detail);
    }
    if (!answer.value(QLatin1String("done")).toBool())
        lines << tr("Still running…");
    else if (answer.value(QLatin1String("overall")).toString() == QLatin1String("ok"))
        lines << tr("All checks passed.");
    else
        lines << tr("Some checks failed.");
    return lines.join(QLatin1Char('\n'));
}

} // namespace corvane
