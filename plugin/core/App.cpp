#include "core/App.h"

#include "cloud/HostedServer.h"
#include "cloud/PortalClientJar.h"
#include "core/Log.h"

#include <QJsonArray>

#include <atomic>
#include <utility>

namespace corvane {

namespace {

// Read by the sources on OBS's threads, written on the user-interface thread at load and
// unload.
std::atomic<App *> g_instance{nullptr};

QJsonObject failure(const char *code)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QString::fromLatin1(code)}};
}

// The requests of hosted-server clients that App answers, by operation name.
struct ServerCommand {
    const char *op;
    QJsonObject (App::*answer)(const QJsonObject &request);
};

} // namespace

App::App(const AppEnvironment &environment)
    : m_sessionJar(new PortalClientJar(this))
    , m_server(new HostedServer(&m_live, this))
{
    m_settings.load(environment.settingsPath);
    m_sessionJar->setPath(environment.sessionPath);
    m_sessionJar->load();

    connect(&m_live, &LiveData::changed, m_server, &HostedServer::broadcast);
    m_server->setHandler([this](const QString &op, const QJsonObject &request) { return handleServerCommand(op, request); });
    connect(m_server, &HostedServer::clientsChanged, this, &App::serverStateChanged);
    applyServerSettings();
}

App::~App()
{
    // Children go first, while the members they may refer to are still alive.
    qDeleteAll(children());
}

App *App::instance() { return g_instance.load(); }

void App::setInstance(App *app) { g_instance.store(app); }

void App::applyServerSettings()
{
    if (m_settings.serverEnabled()) {
        const int port = m_settings.serverPort();
        QString error;
        // A port outside 1..65535 would otherwise wrap around to some other port.
        if (port < 1 || port > 65535) {
            m_server->stop();
            error = QStringLiteral("Could not listen on port %1: the port must be between 1 and 65535").arg(port);
        } else {
            m_server->start(static_cast<quint16>(port), m_settings.serverAllowNetwork(), &error);
        }
        if (!error.isEmpty())
            CORVANE_LOG_WARNING("%s", error.toUtf8().constData());
    } else {
        m_server->stop();
    }
    Q_EMIT serverStateChanged();
}

QJsonObject App::handleServerCommand(const QString &op, const QJsonObject &request)
{
    static const ServerCommand commands[] = {
        {"status", &App::serverStatus},
        {"devices", &App::serverDevices},
        {"use", &App::serverUse},
    };
    for (const ServerCommand &command : commands) {
        if (op == QLatin1String(command.op))
            return (this->*command.answer)(request);
    }
    return failure("unknown_op");
}

// Sign-in, route and device list join App with the portal client and the source manager;
// until then nothing is signed in, no route is in use and the account has no devices.
QJsonObject App::serverStatus(const QJsonObject &)
{
    return {{QStringLiteral("signed_in"), false},
            {QStringLiteral("account"), QString()},
            {QStringLiteral("source"), QString()},
            {QStringLiteral("device"), QString()},
            {QStringLiteral("live"), false},
            {QStringLiteral("message"), QString()},
            {QStringLiteral("sport"), m_live.sport()}};
}

QJsonObject App::serverDevices(const QJsonObject &)
{
    return {{QStringLiteral("devices"), QJsonArray()}};
}

QJsonObject App::serverUse(const QJsonObject &)
{
    return failure("unknown_device");
}

} // namespace corvane
