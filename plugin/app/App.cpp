#include "app/App.h"

#include "app/FollowedDevice.h"
#include "app/FollowedDevices.h"
#include "app/RelayHolder.h"
#include "app/UsbPortShare.h"
#include "base/Log.h"
#include "base/Origins.h"
#include "base/Version.h"
#include "device/usb/UsbLink.h"
#include "live/HostedServer.h"
#include "live/OverlayServer.h"
#include "live/SourceManager.h"

#include <QDateTime>
#include <QJsonArray>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

namespace corvane {

namespace {

// Read by the sources on OBS's threads, written on the user-interface thread at load and
// unload.
std::atomic<App *> g_instance{nullptr};

const char kSignInForGraphics[] = "Sign in from the Corvane dock to see your graphics.";
const char kGraphicsNeedPlan[] = "Graphics need an active Corvane cloud plan.";
const char kSignedOutMeanwhile[] = "You have been signed out. Sign in again.";

constexpr int kFirstUpdateCheckMs = 20000;
constexpr int kUpdateCheckIntervalMs = 86400000;

// The requests of hosted-server clients that App answers, by operation name.
struct ServerCommand {
    const char *op;
    QJsonObject (App::*answer)(const QJsonObject &request);
};

} // namespace

App::App(const AppEnvironment &environment)
    : m_relays(nullptr)
    , m_sourceManager(nullptr)
    , m_usbPorts(nullptr)
    , m_followed(nullptr)
    , m_server(nullptr)
    , m_overlayServer(nullptr)
    , m_firstUpdateCheck(nullptr)
    , m_dailyUpdateCheck(nullptr)
{
    m_settings.load(environment.settingsPath);
    m_portal.setBaseUrl(chooseOrigin(m_settings.portalUrl(), QString::fromLatin1(kPortalOrigin)));
    m_portal.jar().setPath(environment.sessionPath);
    m_portal.jar().load();

    m_relays = new RelayHolder(&m_settings, this);
    connect(m_relays, &RelayHolder::changed, this, &App::usbRelaysChanged);
    m_sourceManager = new SourceManager(&m_portal, &m_live, this);
    connect(m_sourceManager, &SourceManager::lanCertificatePinned, this,
            [this](const QString &deviceId, const QString &sha256) { m_settings.pinLanCertificate(deviceId, sha256); });
    connect(m_sourceManager, &SourceManager::routeChanged, this, &App::onMainRouteChanged);
    m_usbPorts = new UsbPortShare(this);
    m_followed = new FollowedDevices(&m_portal, &m_settings, m_usbPorts, this);
    m_server = new HostedServer(&m_live, this);

    connect(&m_live, &LiveData::changed, m_server, &HostedServer::broadcast);
    m_server->setHandler([this](const QString &op, const QJsonObject &request) { return handleServerCommand(op, request); });
    m_server->setFeeds(followedFeeds());
    connect(m_followed, &FollowedDevices::followed, m_server, &HostedServer::deviceFollowed);
    connect(m_followed, &FollowedDevices::unfollowed, m_server, &HostedServer::deviceUnfollowed);
    connect(m_sourceManager, &SourceManager::routeChanged, m_server, &HostedServer::mainDeviceChanged);
    connect(m_server, &HostedServer::clientsChanged, this, &App::serverStateChanged);
    m_overlayServer = new OverlayServer(&m_live, &m_shown, environment.overlaysDir, this);
    // Overlays are part of the picture: they hold with the score texts.
    connect(&m_shown, &ShownScores::changed, m_overlayServer, &OverlayServer::broadcast);
    connect(m_overlayServer, &OverlayServer::clientsChanged, this, &App::overlayStateChanged);
    m_overlayServer->setFeeds(followedFeeds());
    connect(m_followed, &FollowedDevices::followed, m_overlayServer, &OverlayServer::deviceFollowed);
    connect(m_followed, &FollowedDevices::unfollowed, m_overlayServer, &OverlayServer::deviceUnfollowed);
    connect(m_sourceManager, &SourceManager::routeChanged, m_overlayServer, &OverlayServer::mainDeviceChanged);
    connect(&m_portal, &PortalClient::signedInChanged, this, &App::onSignedInChanged);
    applyServerSettings();
    applyOverlaySettings();
    m_followed->restore();
    setUpUpdater(environment);
    publishOutputs();

    m_portal.restoreSession([](const PortalResult &result) {
        if (!result.ok && result.status != 0 && result.status != 401)
            CORVANE_LOG_WARNING("could not restore sign-in: HTTP %d", result.status);
    });
}

App::~App()
{
    // Children go first, while the members they may refer to are still alive.
    qDeleteAll(children());
}

App *App::instance() { return g_instance.load(); }

void App::setUpUpdater(const AppEnvironment &environment)
{
    UpdaterConfig config;
    config.manifestUrl = downloadsOrigin() + QStringLiteral("/downloads/obs/latest.json");
    config.currentVersion = QStringLiteral(CORVANE_PLUGIN_VERSION);
    config.platform = defaultUpdatePlatform();
    config.obsVersion = environment.obsVersion;
    config.installRoot = environment.installRoot;
    config.modulePath = environment.modulePath;
    config.workDir = environment.updateWorkDir;
    config.downloadPage = downloadsOrigin() + QStringLiteral("/download");
    m_updater.setConfig(config);
    m_updater.removeLeftovers();

    connect(&m_updater, &PluginUpdater::stateChanged, this, &App::onUpdaterStateChanged);
    m_firstUpdateCheck = new QTimer(this);
    m_firstUpdateCheck->setSingleShot(true);
    m_dailyUpdateCheck = new QTimer(this);
    connect(m_firstUpdateCheck, &QTimer::timeout, this, &App::backgroundUpdateCheck);
    connect(m_dailyUpdateCheck, &QTimer::timeout, this, &App::backgroundUpdateCheck);
    m_firstUpdateCheck->start(int(std::clamp<qint64>(kFirstUpdateCheckMs - environment.loadedMsAgo, 0, kFirstUpdateCheckMs)));
    m_dailyUpdateCheck->start(kUpdateCheckIntervalMs);
}

void App::setUpdateCheckTimingForTesting(int firstDelayMs, int intervalMs)
{
    m_firstUpdateCheck->start(firstDelayMs);
    m_dailyUpdateCheck->start(intervalMs);
}

void App::backgroundUpdateCheck()
{
    if (m_settings.autoCheckUpdates())
        m_updater.check(false);
}

void App::onUpdaterStateChanged()
{
    const PluginUpdater::State state = m_updater.state();
    if (state == PluginUpdater::UpToDate || state == PluginUpdater::Available)
        m_settings.setLastUpdateCheck(QDateTime::currentSecsSinceEpoch());
    if (state == PluginUpdater::Available)
        CORVANE_LOG_INFO("plugin %s is available (this is %s)", qUtf8Printable(m_updater.version()), CORVANE_PLUGIN_VERSION);
    else if (state == PluginUpdater::Installed)
        CORVANE_LOG_INFO("plugin %s installed; takes effect on the next OBS start", qUtf8Printable(m_updater.version()));
}

void App::setInstance(App *app) { g_instance.store(app); }

namespace {

// Why a server cannot listen on `port`, or nothing: a port outside 1..65535 would otherwise
// wrap around to some other port.
QString portOutOfRange(int port)
{
    if (port >= 1 && port <= 65535)
        return {};
    return QStringLiteral("Could not listen on port %1: the port must be between 1 and 65535").arg(port);
}

} // namespace

void App::applyServerSettings()
{
    if (m_settings.serverEnabled()) {
        const int port = m_settings.serverPort();
        QString error = portOutOfRange(port);
        if (!error.isEmpty()) {
            m_server->stop();
        } else if (m_server->start(static_cast<quint16>(port), m_settings.serverAllowNetwork(), &error)) {
            CORVANE_LOG_INFO("hosted server listening on port %d%s", port,
                             m_settings.serverAllowNetwork() ? " for the network" : " for this computer only");
        }
        if (!error.isEmpty())
            CORVANE_LOG_WARNING("%s", error.toUtf8().constData());
    } else if (m_server->isListening()) {
        m_server->stop();
        CORVANE_LOG_INFO("hosted server stopped");
    } else {
        m_server->stop();
    }
    Q_EMIT serverStateChanged();
}

void App::applyOverlaySettings()
{
    if (m_settings.overlayServerEnabled()) {
        const int port = m_settings.overlayServerPort();
        QString error = portOutOfRange(port);
        if (!error.isEmpty()) {
            m_overlayServer->stop();
        } else if (m_overlayServer->start(static_cast<quint16>(port), &error)) {
            CORVANE_LOG_INFO("overlay server listening on http://127.0.0.1:%d/", port);
        }
        if (!error.isEmpty())
            CORVANE_LOG_WARNING("overlay server: %s", error.toUtf8().constData());
    } else if (m_overlayServer->isListening()) {
        m_overlayServer->stop();
        CORVANE_LOG_INFO("overlay server stopped");
    }
    Q_EMIT overlayStateChanged();
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
    return HostedServer::failure(QStringLiteral("unknown_op"));
}

QJsonObject App::serverStatus(const QJsonObject &)
{
    return {{QStringLiteral("signed_in"), m_portal.isSignedIn()},
            {QStringLiteral("account"), m_portal.email()},
            {QStringLiteral("source"), m_sourceManager->source()},
            {QStringLiteral("device"), m_sourceManager->device()},
            {QStringLiteral("live"), m_sourceManager->isLive()},
            {QStringLiteral("message"), m_sourceManager->message()},
            {QStringLiteral("sport"), m_live.sport()}};
}

QJsonObject App::serverDevices(const QJsonObject &)
{
    QJsonArray list;
    for (const CloudDevice &device : m_devices)
        list.append(QJsonObject{{QStringLiteral("id"), device.deviceId}, {QStringLiteral("name"), device.displayName()}});
    return {{QStringLiteral("devices"), list}};
}

QJsonObject App::serverUse(const QJsonObject &request)
{
    const QString id = request.value(QStringLiteral("device")).toString();
    for (const CloudDevice &device : m_devices) {
        if (!id.isEmpty() && device.deviceId == id) {
            selectDevice(id);
            return {{QStringLiteral("device"), id}};
        }
    }
    return HostedServer::failure(QStringLiteral("unknown_device"));
}

bool App::adoptRelay(DeviceSession *session) { return m_relays->adopt(session); }

void App::releaseRelay(const QString &portName) { m_relays->release(portName); }

UsbLink *App::openUsbLink(const QString &portName)
{
    releaseRelay(portName);
    auto *link = new UsbLink(portName);
    m_usbPorts->attach(link);
    return link;
}

void App::releaseAllRelays() { m_relays->releaseAll(); }

QStringList App::relayStatusLines() const { return m_relays->statusLines(); }

QString App::mainDeviceLabel() { return QStringLiteral("the main device (follows the dock)"); }

QString App::mainDeviceId() const
{
    const std::lock_guard<std::mutex> guard(m_mainLock);
    return m_mainId;
}

bool App::isMainDevice(const QString &deviceId) const { return deviceId.isEmpty() || deviceId == mainDeviceId(); }

// A new route clears the main device's live data first, so those bound by id to the former
// main device are shown nothing before this changes; its next update reaches the new one's.
void App::onMainRouteChanged()
{
    const std::lock_guard<std::mutex> guard(m_mainLock);
    m_mainId = m_sourceManager->device();
}

LiveData *App::liveOf(const QString &deviceId)
{
    if (isMainDevice(deviceId))
        return &m_live;
    FollowedDevice *device = m_followed->device(deviceId);
    return device ? &device->live() : nullptr;
}

ShownScores *App::shownOf(const QString &deviceId)
{
    if (isMainDevice(deviceId))
        return &m_shown;
    FollowedDevice *device = m_followed->device(deviceId);
    return device ? &device->shown() : nullptr;
}

std::shared_ptr<ShownScores> App::shownScoresOf(const QString &deviceId)
{
    // The main device's lives as long as App: shared without an owner.
    if (isMainDevice(deviceId))
        return std::shared_ptr<ShownScores>(std::shared_ptr<ShownScores>(), &m_shown);
    const std::shared_ptr<DeviceLive> data = m_followed->dataOf(deviceId);
    return data ? std::shared_ptr<ShownScores>(data, &data->shown()) : nullptr;
}

DeviceFeeds App::followedFeeds() const
{
    FollowedDevices *followed = m_followed;
    return {[followed] { return followed->ids(); },
            [followed](const QString &deviceId) { return followed->dataOf(deviceId); },
            [followed](const QString &deviceId) {
                const FollowedDevice *device = followed->device(deviceId);
                return device ? device->route().label() : deviceId.isEmpty() ? mainDeviceLabel() : deviceId;
            },
            [this] { return mainDeviceId(); }};
}

bool App::followDevice(const FollowedRoute &route)
{
    // One device runs in one place: the main route already has this one.
    if (m_sourceManager->isRouteInUse() && m_sourceManager->device() == route.deviceId)
        return false;
    return m_followed->follow(route);
}

void App::selectDevice(const QString &deviceId)
{
    m_settings.setSelectedDevice(deviceId);
    const LanRoute route = m_settings.lanRoute(deviceId);
    if (m_settings.routeFor(deviceId) == QLatin1String("lan") && !route.host.isEmpty() && !route.token.isEmpty())
        m_sourceManager->useLan(deviceId, route);
    else
        m_sourceManager->useCloud(deviceId);
    // Made the main device, a followed one stops being followed: one device, one route.
    // The main route has it first, so that those bound to it find it there when told.
    m_followed->unfollow(deviceId);
}

void App::storeLanRoute(const QString &deviceId, const LanRoute &route)
{
    const bool changed = !(m_settings.lanRoute(deviceId) == route);
    m_settings.setLanRoute(deviceId, route);
    // The feed of the old route would otherwise keep refusing the certificate, or pin the
    // one it meets next onto the new route. An unchanged route leaves a working feed alone.
    if (changed && m_sourceManager->mode() == SourceManager::Lan && m_sourceManager->device() == deviceId)
        selectDevice(deviceId);
}

void App::autoSelectDevice()
{
    if (m_sourceManager->isRouteInUse())
        return;
    QString id = m_settings.selectedDevice();
    const bool known = std::any_of(m_devices.cbegin(), m_devices.cend(),
                                   [&id](const CloudDevice &device) { return device.deviceId == id; });
    if (!known)
        id = m_devices.size() == 1 ? m_devices.first().deviceId : QString();
    if (!id.isEmpty())
        selectDevice(id);
}

QString App::downloadsOrigin() const
{
    return chooseOrigin(m_settings.downloadsUrl(), QString::fromLatin1(kDownloadsOrigin));
}

bool App::isCurrentSignIn(quint64 epoch) const { return epoch == m_signInEpoch && m_portal.isSignedIn(); }

void App::refreshDevices(DoneCallback callback)
{
    const quint64 epoch = m_signInEpoch;
    m_portal.listDevices([this, callback, epoch](const PortalResult &result) {
        if (!isCurrentSignIn(epoch)) {
            if (callback)
                callback(false, QString::fromUtf8(kSignedOutMeanwhile));
            return;
        }
        if (result.ok) {
            m_devices = parseDevices(result.data);
            Q_EMIT devicesChanged();
        } else {
            CORVANE_LOG_INFO("portal error listing devices: HTTP %d (%s)", result.status, qUtf8Printable(result.code));
        }
        if (callback)
            callback(result.ok, result.message);
    });
}

void App::refreshOutputs(DoneCallback callback)
{
    if (!m_portal.isSignedIn()) {
        m_outputsError = QString::fromUtf8(kSignInForGraphics);
        publishOutputs();
        if (callback)
            callback(false, m_outputsError);
        return;
    }
    if (m_outputsFetch && m_outputsFetch->epoch == m_signInEpoch) {
        m_outputsFetch->waiters.append(std::move(callback));
        return;
    }
    const auto fetch = std::make_shared<OutputsFetch>();
    fetch->epoch = m_signInEpoch;
    fetch->waiters.append(std::move(callback));
    m_outputsFetch = fetch;
    m_portal.listOutputs([this, fetch](const PortalResult &result) {
        // Over before anyone hears of it, so that a waiter may start the next fetch.
        if (m_outputsFetch == fetch)
            m_outputsFetch.reset();
        bool ok = false;
        QString message;
        if (!isCurrentSignIn(fetch->epoch)) {
            message = QString::fromUtf8(kSignedOutMeanwhile);
        } else if (result.ok) {
            m_outputs = parseOutputs(result.data, m_portal.baseUrl());
            m_outputsError.clear();
            publishOutputs();
            Q_EMIT outputsChanged();
            ok = true;
        } else {
            CORVANE_LOG_INFO("portal error listing graphics outputs: HTTP %d (%s)", result.status, qUtf8Printable(result.code));
            const bool needsPlan = result.code == QLatin1String("cloud_subscription_required") || result.status == 402;
            m_outputsError = needsPlan ? QString::fromUtf8(kGraphicsNeedPlan) : result.message;
            publishOutputs();
            message = m_outputsError;
        }
        for (const DoneCallback &waiter : std::as_const(fetch->waiters)) {
            if (waiter)
                waiter(ok, message);
        }
    });
}

std::shared_ptr<const OutputsView> App::outputsView() const
{
    std::lock_guard<std::mutex> guard(m_viewLock);
    return m_outputsView;
}

void App::publishOutputs()
{
    auto view = std::make_shared<OutputsView>();
    view->signedIn = m_portal.isSignedIn();
    view->outputs = m_outputs;
    view->error = m_outputsError;
    std::lock_guard<std::mutex> guard(m_viewLock);
    m_outputsView = std::move(view);
}

void App::onSignedInChanged(bool signedIn)
{
    ++m_signInEpoch;
    if (signedIn) {
        publishOutputs();
        const QPointer<App> self(this);
        refreshDevices([self](bool ok, const QString &) {
            if (ok && self)
                self->autoSelectDevice();
        });
        refreshOutputs();
        return;
    }
    m_devices.clear();
    m_outputs.clear();
    publishOutputs();
    Q_EMIT devicesChanged();
    Q_EMIT outputsChanged();
}

} // namespace corvane
