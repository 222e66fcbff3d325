#include "PortalSim.h"

#include <QDateTime>
#include <QHostAddress>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUrl>

#include <time.h>

namespace corvane::sim {

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

const QByteArray kCookieName = "corvane_session";

HttpResponse json(int status, const QJsonObject &body)
{
    HttpResponse r;
    r.status = status;
    r.addHeader("Content-Type", "application/json");
    r.body = QJsonDocument(body).toJson(QJsonDocument::Compact);
    return r;
}

// The portal's two error shapes: {"detail": {"error": code}} and {"detail": "text"}.
HttpResponse errorCode(int status, const QString &code)
{
    return json(status, {{key("detail"), QJsonObject{{key("error"), code}}}});
}

HttpResponse errorText(int status, const QString &text) { return json(status, {{key("detail"), text}}); }

QString randomToken()
{
    return QString::number(QRandomGenerator::global()->generate64(), 36)
        + QString::number(QRandomGenerator::global()->generate64(), 36);
}

// The game each device plays: the teams, and how long before the simulator's start it
// began. A device without a row plays the first one.
struct Game {
    const char *deviceId;
    const char *home;
    const char *away;
    int startedSecondsAgo;
};

const Game kGames[] = {
    {"", "Hawks", "Otters", 0},
    {"gym/court 2", "Lynx", "Herons", 400},
};

const Game &gameOf(const QString &deviceId)
{
    for (const Game &game : kGames) {
        if (deviceId == QLatin1String(game.deviceId))
            return game;
    }
    return kGames[0];
}

QString clockText(int seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

PortalSim::PortalSim(QObject *parent)
    : QObject(parent)
    , m_http([this](const HttpRequest &request) { return handle(request); }, this)
{
    const QString password = QStringLiteral("correct horse battery");
    m_accounts.insert(QStringLiteral("operator@example.com"), {password, QStringLiteral("owner"), false, true, {}});
    m_accounts.insert(QStringLiteral("totp@example.com"), {password, QStringLiteral("owner"), true, true, {}});
    m_accounts.insert(QStringLiteral("viewer@example.com"), {password, QStringLiteral("viewer"), false, true, QStringLiteral("operator@example.com")});
    m_accounts.insert(QStringLiteral("free@example.com"), {password, QStringLiteral("owner"), false, false, {}});
    m_accounts.insert(QStringLiteral("solo@example.com"), {password, QStringLiteral("owner"), false, true, {}});
    m_accounts.insert(QStringLiteral("spaces@example.com"), {QStringLiteral("  pass word  "), QStringLiteral("owner"), false, true, {}});

    const QString op = QStringLiteral("operator@example.com");
    m_devices.insert(QStringLiteral("CV-1001"), {QStringLiteral("Main gym"), QStringLiteral("online"), QStringLiteral("112233"), {}, op, QStringLiteral("admin-1001"), false});
    m_devices.insert(QStringLiteral("CV-1002"), {{}, QStringLiteral("offline"), QStringLiteral("445566"), {}, op, QStringLiteral("admin-1002"), false});
    m_devices.insert(QStringLiteral("CV-1003"), {QStringLiteral("Field house"), QStringLiteral("pending"), {}, {}, op, {}, false});
    m_devices.insert(QStringLiteral("CV-1004"), {QStringLiteral("Far pitch"), QStringLiteral("online"), {}, {}, op, {}, true});
    m_devices.insert(QStringLiteral("gym/court 2"), {QStringLiteral("Court 2"), QStringLiteral("online"), {}, {}, op, {}, false});
    m_devices.insert(QStringLiteral("CV-2001"), {{}, QStringLiteral("online"), QStringLiteral("778899"), QStringLiteral("ABCD-1234"), {}, {}, false});
    m_devices.insert(QStringLiteral("CV-2002"), {{}, QStringLiteral("online"), {}, {}, {}, {}, false});
    m_devices.insert(QStringLiteral("CV-4001"), {QStringLiteral("Solo court"), QStringLiteral("online"), {}, {}, QStringLiteral("solo@example.com"), {}, false});
    m_devices.insert(QStringLiteral("CV-3001"), {QStringLiteral("Free court"), QStringLiteral("online"), {}, {}, QStringLiteral("free@example.com"), {}, false});
    m_clock.start();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    m_clockStartUs = qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

bool PortalSim::listen(quint16 port) { return m_http.listen(QHostAddress::LocalHost, port); }

QString PortalSim::url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_http.port()); }

bool PortalSim::addSession(const QString &email, const QByteArray &cookieValue)
{
    if (!m_accounts.contains(email) || cookieValue.isEmpty())
        return false;
    m_sessions.insert(cookieValue, email);
    return true;
}

QStringList PortalSim::accountLines() const
{
    QStringList lines;
    for (auto it = m_accounts.cbegin(); it != m_accounts.cend(); ++it) {
        lines << QStringLiteral("%1 / \"%2\" (%3%4%5)")
                     .arg(it.key(), it.value().password, it.value().role,
                          it.value().totp ? QStringLiteral(", authenticator code %1").arg(m_totpCode) : QString(),
                          it.value().plan ? QString() : QStringLiteral(", no cloud plan"));
    }
    return lines;
}

HttpResponse PortalSim::handle(const HttpRequest &request)
{
    if (request.segments.value(0) == QLatin1String("_sim"))
        return control(request);
    record(request);

    const QString path = QString::fromUtf8(request.target);
    if (m_behaviour.times != 0 && path.startsWith(m_behaviour.pathPrefix)
        && (m_behaviour.status != 0 || m_behaviour.silent || m_behaviour.delayMs > 0)) {
        if (m_behaviour.times > 0)
            --m_behaviour.times;
        HttpResponse forced;
        if (m_behaviour.status != 0) {
            if (!m_behaviour.code.isEmpty())
                forced = errorCode(m_behaviour.status, m_behaviour.code);
            else if (!m_behaviour.detail.isEmpty())
                forced = errorText(m_behaviour.status, m_behaviour.detail);
            else
                forced.status = m_behaviour.status;
        } else {
            const QJsonObject body = QJsonDocument::fromJson(request.body).object();
            forced = serve(request, body);
        }
        forced.delayMs = m_behaviour.delayMs;
        forced.silent = m_behaviour.silent;
        return forced;
    }
    return serve(request, QJsonDocument::fromJson(request.body).object());
}

HttpResponse PortalSim::control(const HttpRequest &request)
{
    const QString what = request.segments.value(1);
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    if (what == QLatin1String("behaviour") && request.method == "POST") {
        Behaviour b;
        b.status = body.value(key("status")).toInt();
        b.code = body.value(key("code")).toString();
        b.detail = body.value(key("detail")).toString();
        b.pathPrefix = body.value(key("path")).toString();
        b.delayMs = body.value(key("delay_ms")).toInt();
        b.silent = body.value(key("silent")).toBool();
        b.times = body.value(key("times")).toInt(-1);
        m_behaviour = b;
        return json(200, {{key("ok"), true}});
    }
    if (what == QLatin1String("reset") && request.method == "POST") {
        m_behaviour = {};
        m_requests = {};
        return json(200, {{key("ok"), true}});
    }
    if (what == QLatin1String("requests"))
        return json(200, {{key("requests"), m_requests}});
    if (what == QLatin1String("expire-sessions") && request.method == "POST") {
        m_sessions.clear();
        return json(200, {{key("ok"), true}});
    }
    return errorText(404, QStringLiteral("Unknown control request."));
}

void PortalSim::record(const HttpRequest &request)
{
    // A long demo run polls every second; keep the log bounded.
    constexpr int kMaxRecorded = 1000;
    if (m_requests.size() >= kMaxRecorded)
        m_requests.removeFirst();
    m_requests.append(QJsonObject{
        {key("method"), QString::fromLatin1(request.method)},
        {key("target"), QString::fromUtf8(request.target)},
        {key("segments"), QJsonArray::fromStringList(request.segments)},
        {key("content_type"), QString::fromUtf8(request.header("content-type"))},
        {key("accept"), QString::fromUtf8(request.header("accept"))},
        {key("user_agent"), QString::fromUtf8(request.header("user-agent"))},
        {key("cookie"), QString::fromUtf8(request.header("cookie"))},
        {key("body"), QString::fromUtf8(request.body)},
    });
}

QString PortalSim::sessionEmail(const HttpRequest &request) const
{
    for (const QByteArray &part : request.header("cookie").split(';')) {
        const QByteArray trimmed = part.trimmed();
        if (trimmed.startsWith(kCookieName + '='))
            return m_sessions.value(trimmed.mid(kCookieName.size() + 1));
    }
    return {};
}

QString PortalSim::ownerOf(const QString &email) const
{
    const QString team = m_accounts.value(email).team;
    return team.isEmpty() ? email : team;
}

HttpResponse PortalSim::signedIn(const QString &email, const QByteArray &existingToken)
{
    HttpResponse r = json(200, {{key("user"), QJsonObject{{key("email"), email}, {key("role"), m_accounts.value(email).role}}}});
    if (existingToken.isEmpty()) {
        const QByteArray token = randomToken().toLatin1();
        m_sessions.insert(token, email);
        // Plain http here, so the cookie cannot be Secure; the real portal's is.
        const QByteArray expires = QDateTime::currentDateTimeUtc().addDays(30).toString(Qt::RFC2822Date).toLatin1();
        r.addHeader("Set-Cookie", kCookieName + '=' + token + "; Path=/; HttpOnly; Expires=" + expires);
    }
    return r;
}

HttpResponse PortalSim::serve(const HttpRequest &request, const QJsonObject &body)
{
    const QStringList &s = request.segments;
    const QByteArray &method = request.method;

    if (s == QStringList{QStringLiteral("auth"), QStringLiteral("login")} && method == "POST") {
        const QString email = body.value(key("email")).toString();
        const auto account = m_accounts.constFind(email);
        if (account == m_accounts.cend() || account->password != body.value(key("password")).toString())
            return errorCode(401, QStringLiteral("invalid_credentials"));
        if (account->totp) {
            const QString challenge = randomToken();
            m_challenges.insert(challenge, email);
            return json(200, {{key("totp_required"), true}, {key("challenge_id"), challenge}});
        }
        return signedIn(email);
    }
    if (s == QStringList{QStringLiteral("auth"), QStringLiteral("login"), QStringLiteral("totp")} && method == "POST") {
        const QString email = m_challenges.value(body.value(key("challenge_id")).toString());
        if (email.isEmpty())
            return errorText(400, QStringLiteral("That sign-in attempt has expired. Sign in again."));
        // The top-level form of the error code, as some portal routes answer.
        if (body.value(key("code")).toString() != m_totpCode)
            return json(401, {{key("error"), QStringLiteral("invalid_totp_code")}});
        m_challenges.remove(body.value(key("challenge_id")).toString());
        return signedIn(email);
    }

    const QString email = sessionEmail(request);
    if (s == QStringList{QStringLiteral("auth"), QStringLiteral("logout")} && method == "POST") {
        for (auto it = m_sessions.begin(); it != m_sessions.end();)
            it = it.value() == email ? m_sessions.erase(it) : std::next(it);
        HttpResponse r = json(200, {{key("ok"), true}});
        r.addHeader("Set-Cookie", kCookieName + "=; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
        return r;
    }
    if (s.value(0) == QLatin1String("graphics") && s.value(1) == QLatin1String("o") && s.size() == 3) {
        HttpResponse r;
        r.addHeader("Content-Type", "text/html; charset=utf-8");
        r.body = "<!doctype html><html><body style=\"background:transparent\"><div id=\"score\">Corvane graphics "
            + s.value(2).toHtmlEscaped().toUtf8() + "</div></body></html>";
        return r;
    }
    if (email.isEmpty())
        return errorCode(401, QStringLiteral("not_authenticated"));

    if (s == QStringList{QStringLiteral("auth"), QStringLiteral("me")} && method == "GET") {
        QByteArray token;
        for (auto it = m_sessions.cbegin(); it != m_sessions.cend(); ++it) {
            if (it.value() == email)
                token = it.key();
        }
        return signedIn(email, token);
    }
    if (s == QStringList{QStringLiteral("devices")} && method == "GET") {
        QJsonArray list;
        for (auto it = m_devices.cbegin(); it != m_devices.cend(); ++it) {
            if (it->owner != ownerOf(email))
                continue;
            list.append(QJsonObject{{key("device_id"), it.key()}, {key("nickname"), it->nickname},
                                    {key("status"), it->status}, {key("ble_passkey"), it->blePasskey}});
        }
        return json(200, {{key("devices"), list}});
    }
    if (s == QStringList{QStringLiteral("api"), QStringLiteral("graphics"), QStringLiteral("outputs")} && method == "GET") {
        if (!m_accounts.value(email).plan)
            return errorCode(402, QStringLiteral("cloud_subscription_required"));
        return json(200, {{key("outputs"), outputsOf(ownerOf(email))}});
    }
    if (s == QStringList{QStringLiteral("devices"), QStringLiteral("link")} && method == "POST") {
        const QString id = body.value(key("device_id")).toString();
        const auto device = m_devices.find(id);
        if (device == m_devices.end() || (!device->owner.isEmpty() && device->owner != ownerOf(email)))
            return errorCode(404, QStringLiteral("device_not_found_or_not_owned"));
        if (device->owner.isEmpty() && !device->claimCode.isEmpty()) {
            if (!body.contains(key("code")))
                return errorText(400, QStringLiteral("Enter the claim code printed on the device."));
            if (body.value(key("code")).toString() != device->claimCode)
                return errorCode(400, QStringLiteral("claim_code_device_mismatch"));
        }
        device->owner = ownerOf(email);
        return json(200, {{key("ok"), true}, {key("device_id"), id}, {key("via"), body.value(key("via"))}});
    }
    if (s.value(0) == QLatin1String("devices") && s.size() >= 3)
        return deviceRoute(request, body, email);
    return errorText(404, QStringLiteral("Not found."));
}

HttpResponse PortalSim::deviceRoute(const HttpRequest &request, const QJsonObject &body, const QString &email)
{
    const QStringList &s = request.segments;
    const QByteArray &method = request.method;
    const QString id = s.value(1);
    const auto device = m_devices.find(id);
    if (device == m_devices.end() || device->owner != ownerOf(email))
        return errorCode(404, QStringLiteral("device_not_found_or_not_owned"));
    const Account account = m_accounts.value(email);
    const bool offline = device->status == QLatin1String("offline");

    if (s.size() == 3 && s[2] == QLatin1String("state") && method == "GET") {
        if (!account.plan)
            return errorCode(402, QStringLiteral("cloud_subscription_required"));
        if (device->unreachable)
            return errorCode(502, QStringLiteral("gateway_unreachable"));
        if (device->status == QLatin1String("pending"))
            return json(200, {{key("type"), QStringLiteral("pending")}});
        return json(200, gameState(id, !offline));
    }
    const bool isCommand = s.size() == 4 && s[2] == QLatin1String("cmd") && method == "POST";
    const bool isConfig = s.size() == 3 && s[2] == QLatin1String("config") && method == "POST";
    if (isCommand || isConfig) {
        if (account.role == QLatin1String("viewer"))
            return errorText(403, QStringLiteral("Viewers cannot change devices."));
        if (device->unreachable)
            return errorCode(504, QStringLiteral("device_unreachable_or_timeout"));
        // An offline device gets it when it next connects.
        if (offline)
            return json(202, {{key("status"), QStringLiteral("queued")}, {key("queued"), true}});
        if (isCommand)
            return json(200, commandAnswer(id, s[3], body.value(key("args")).toObject()));
        return json(200, {{key("status"), QStringLiteral("applied")}, {key("config"), body.value(key("config"))}});
    }
    if (s.size() == 4 && s[2] == QLatin1String("pairing") && s[3] == QLatin1String("reveal") && method == "POST")
        return json(200, {{key("pairing"), QJsonObject{{key("ble_passkey"), device->blePasskey},
                                                        {key("admin_password"), device->adminPassword}}}});
    if (s.size() == 3 && s[2] == QLatin1String("pairing") && method == "PUT") {
        if (!body.value(key("admin_password")).isString())
            return errorText(400, QStringLiteral("admin_password is required."));
        device->adminPassword = body.value(key("admin_password")).toString();
        return json(200, {{key("ok"), true}});
    }
    return errorText(404, QStringLiteral("Not found."));
}

// What the device sends back through the portal for a relayed command.
QJsonObject PortalSim::commandAnswer(const QString &deviceId, const QString &command, const QJsonObject &args) const
{
    QJsonObject answer{{key("status"), QStringLiteral("done")}, {key("command"), command}, {key("args"), args}};
    if (command == QLatin1String("get_status")) {
        answer.insert(key("data"), QJsonObject{{key("device_id"), deviceId},
                                               {key("firmware_version"), QStringLiteral("2.3.1")},
                                               {key("wifi_sta_ip"), QStringLiteral("192.0.2.40")},
                                               {key("uptime_s"), 5400}});
    } else if (command == QLatin1String("ota_check")) {
        answer.insert(key("data"), QJsonObject{{key("update_available"), false}, {key("current"), QStringLiteral("2.3.1")}});
    }
    return answer;
}

QJsonObject PortalSim::gameState(const QString &deviceId, bool online) const
{
    // A basketball game that runs from its start (see kGames): the clock counts down a
    // 12-minute period; the scores move every few seconds, possession every five. An
    // offline device froze a minute in.
    const Game &game = gameOf(deviceId);
    const qint64 elapsed = (online ? m_clock.elapsed() / 1000 : 60) + game.startedSecondsAgo;
    const int period = static_cast<int>(elapsed / 720) % 4 + 1;
    const int remaining = 720 - static_cast<int>(elapsed % 720);
    QJsonObject fields{
        {key("home_score"), static_cast<int>(elapsed / 7 * 2 + elapsed / 29)},
        {key("away_score"), static_cast<int>(elapsed / 9 * 2 + elapsed / 23)},
        {key("clock"), clockText(remaining)},
        {key("period"), period},
        {key("home_name"), QString::fromLatin1(game.home)},
        {key("away_name"), QString::fromLatin1(game.away)},
        // The ball changes hands every five seconds.
        {key("possession"), elapsed / 5 % 2 == 0 ? QStringLiteral("home") : QStringLiteral("away")},
    };
    // The state changes once a second, with the clock.
    if (m_liveStamp && online)
        fields.insert(key("sim_sent_us"), QString::number(m_clockStartUs + (elapsed - game.startedSecondsAgo) * 1000000));
    return {{key("type"), QStringLiteral("state")}, {key("online"), online}, {key("sport"), QStringLiteral("basketball")},
            {key("device_id"), deviceId}, {key("fields"), fields},
            {key("ts_ms"), static_cast<double>(QDateTime::currentMSecsSinceEpoch())}};
}

QJsonArray PortalSim::outputsOf(const QString &email) const
{
    if (email != QLatin1String("operator@example.com"))
        return {};
    return {
        QJsonObject{{key("id"), QStringLiteral("out-main")}, {key("name"), QStringLiteral("Main scorebug")},
                    {key("share_token"), QStringLiteral("tok-main")}, {key("device_id"), QStringLiteral("CV-1001")},
                    {key("width"), 1920}, {key("height"), 1080}},
        QJsonObject{{key("id"), QStringLiteral("out-lower")}, {key("name"), QString()},
                    {key("share_token"), QStringLiteral("tok-lower")}, {key("device_id"), QStringLiteral("CV-1001")},
                    {key("width"), 1280}, {key("height"), 200}},
        QJsonObject{{key("id"), QStringLiteral("out-draft")}, {key("name"), QStringLiteral("Unpublished draft")},
                    {key("device_id"), QStringLiteral("CV-1001")}},
    };
}

} // namespace corvane::sim
