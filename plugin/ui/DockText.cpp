#include "ui/DockText.h"

#include "base/FollowedRoute.h"
#include "live/LiveData.h"
#include "live/PeriodFields.h"

namespace corvane {

namespace {

// The fields worth a place on the score line after the score itself, in this order.
QStringList detailFields()
{
    return PeriodFields::names() << QStringLiteral("clock");
}
constexpr int kFallbackPairs = 3;

} // namespace

QString dockScoreText(const LiveData &live)
{
    const QStringList names = live.fieldNames();
    if (names.isEmpty())
        return {};
    QStringList parts;
    const QString home = live.value(QStringLiteral("home_score"));
    const QString away = live.value(QStringLiteral("away_score"));
    if (!home.isEmpty() || !away.isEmpty()) {
        parts << QStringLiteral("%1 \u2013 %2")
                     .arg(home.isEmpty() ? QStringLiteral("0") : home, away.isEmpty() ? QStringLiteral("0") : away);
    }
    for (const QString &field : detailFields()) {
        const QString value = live.value(field);
        if (!value.isEmpty())
            parts << value;
    }
    if (parts.isEmpty()) {
        for (const QString &name : names.mid(0, kFallbackPairs))
            parts << name + QStringLiteral(": ") + live.value(name);
    }
    return parts.join(QStringLiteral("   \u00b7   ")).toHtmlEscaped();
}

QString dockStatusHtml(bool live, const QString &message)
{
    const QString text = message.isEmpty() ? QStringLiteral("Pick a scoreboard above.") : message;
    return QStringLiteral("<span style=\"color:%1\">\u25cf</span> %2")
        .arg(live ? QStringLiteral("#3cb371") : QStringLiteral("#d9a441"), text.toHtmlEscaped());
}

QString dockChapterHint(bool obsAddsMarkers)
{
    const QString naming = QStringLiteral("Chapters are named like a score text, with live fields in braces. ");
    const QString gameLog = QStringLiteral("a game log beside it (same name, .scores.txt) that a video site reads as chapters.");
    if (!obsAddsMarkers)
        return naming + QStringLiteral("This OBS cannot add chapter markers (OBS 30.2 and later can); every recording gets ")
               + gameLog;
    return naming + QStringLiteral("Hybrid MP4 and MOV recordings get them as chapter markers; every recording gets ") + gameLog;
}

QString dockServerText(const ServerView &view)
{
    if (!view.enabled)
        return QStringLiteral("Off.");
    if (!view.listening)
        return QStringLiteral("Could not start - port %1 may be in use. Try another port.").arg(view.configuredPort);
    return QStringLiteral("Connect to %1:%2 and read one JSON line per update. %3 connected.")
        .arg(view.allowNetwork ? QStringLiteral("this computer's address") : QStringLiteral("127.0.0.1"))
        .arg(view.listeningPort)
        .arg(view.clients);
}

QString dockOverlayText(const OverlayView &view)
{
    if (!view.enabled)
        return QStringLiteral("Not serving overlays.");
    if (!view.listening)
        return QStringLiteral("Could not serve overlays on port %1 - it may be in use. Try another port.").arg(view.configuredPort);
    return QStringLiteral("Serving http://127.0.0.1:%1/ to this computer; live scores at ws://127.0.0.1:%1/live. %2 connected.")
        .arg(view.listeningPort)
        .arg(view.pages);
}

QString followedRouteText(const FollowedRoute &route)
{
    switch (route.kind) {
    case FollowedRoute::Lan:
        return route.lan.port == 0 ? QStringLiteral("network %1").arg(route.lan.host)
                                   : QStringLiteral("network %1, feed port %2").arg(route.lan.host).arg(route.lan.port);
    case FollowedRoute::Usb:
        return QStringLiteral("USB %1").arg(route.usbPort);
    case FollowedRoute::Ble:
        return QStringLiteral("Bluetooth %1").arg(route.bleAddress);
    case FollowedRoute::Cloud:
        break;
    }
    return QStringLiteral("cloud");
}

QString uniqueSourceName(const QString &base, const std::function<bool(const QString &name)> &taken)
{
    QString name = base;
    for (int n = 2; taken(name); ++n)
        name = QStringLiteral("%1 %2").arg(base).arg(n);
    return name;
}

} // namespace corvane
