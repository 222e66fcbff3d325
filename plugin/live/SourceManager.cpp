#include "live/SourceManager.h"

#include "base/Log.h"
#include "cloud/PortalClient.h"
#include "device/lan/TlsFeed.h"
#include "live/LiveData.h"

namespace corvane {

namespace {

const char kConnecting[] = "Connecting to %1";
const char kConnectingLan[] = "Connecting to %1 on your network";
const char kWaitingForData[] = "Connected to %1, waiting for scoreboard data";
const char kLive[] = "Live from %1";
const char kLiveLan[] = "Live from %1 over your network";
const char kOffline[] = "%1 is offline. Showing its last scores.";
const char kPending[] = "%1 has not sent any scoreboard data yet.";
const char kSignIn[] = "Sign in to see live scores.";
const char kSignedOut[] = "Signed out. Sign in to see live scores.";
const char kReconnecting[] = "Reconnecting to %1";
const char kRestarting[] = "%1 is restarting. Reopen the setup window to reconnect.";
const char kLost[] = "Lost the connection to %1";
// A serial port's name moves when devices are plugged in again: the one answering there may
// be another than the one chosen. Said, not refused: the operator decides.
const char kOtherDevice[] = "The device there says it is %1, not %2.";
const char kNeedsPassword[] = "%1 needs its admin password: sign in to the Corvane account its setup saved it to.";

// Cloud errors that no amount of polling will mend.
const char *const kPermanentCloudErrors[] = {"cloud_subscription_required", "device_not_found_or_not_owned"};

bool isPermanentCloudError(const QString &code)
{
    for (const char *permanent : kPermanentCloudErrors) {
        if (code == QLatin1String(permanent))
            return true;
    }
    return false;
}

} // namespace

SourceManager::SourceManager(PortalClient *portal, LiveData *liveData, QObject *parent)
    : QObject(parent)
    , m_portal(portal)
    , m_liveData(liveData)
    , m_feed(new TlsFeed(this))
    , m_feedPort(TlsFeed::kPort)
{
    m_pollTimer.setInterval(m_timing.pollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &SourceManager::pollCloud);
    connect(m_portal, &PortalClient::signedInChanged, this, &SourceManager::onSignedInChanged);
    connect(m_feed, &TlsFeed::connectedChanged, this, &SourceManager::onFeedConnected);
    connect(m_feed, &TlsFeed::envelope, this, &SourceManager::onFeedEnvelope);
    connect(m_feed, &TlsFeed::certificatePinned, this, [this](const QString &sha256) {
        if (m_mode == Lan)
            Q_EMIT lanCertificatePinned(m_device, sha256);
    });
}

SourceManager::~SourceManager() { stop(); }

void SourceManager::setTimingForTests(const Timing &timing)
{
    m_timing = timing;
    m_pollTimer.setInterval(m_failures >= kFailuresBeforeSlowPolling ? timing.slowPollIntervalMs : timing.pollIntervalMs);
}

void SourceManager::setStatus(bool live, const QString &said)
{
    const QString message = m_answering.isEmpty() || m_answering == m_device
        ? said
        : said + QLatin1String(said.endsWith(QLatin1Char('.')) ? " " : ". ") + QString::fromUtf8(kOtherDevice).arg(m_answering, m_device);
    if (live == m_live && message == m_message)
        return;
    m_live = live;
    m_message = message;
    Q_EMIT statusChanged();
}

QString SourceManager::routeKind() const
{
    static const char *const kinds[] = {"", "cloud", "lan"};
    if (m_mode != Session)
        return QString::fromLatin1(kinds[m_mode]);
    const DeviceSession *session = m_session.data();
    const DeviceLink *link = session != nullptr ? session->link() : m_link.data();
    return link ? link->kind() : QString();
}

QString SourceManager::text(const char *pattern) const { return QString::fromUtf8(pattern).arg(m_source); }

void SourceManager::stopPolling()
{
    m_pollTimer.stop();
    // A poll already on its way is dropped when it answers.
    ++m_generation;
    m_pollInFlight = false;
}

void SourceManager::stop()
{
    stopPolling();
    m_feed->stop();
    if (m_session) {
        m_session->disconnect(this);
        m_session = nullptr;
    }
    if (m_link) {
        m_link->disconnect(this);
        m_link = nullptr;
    }
}

void SourceManager::setRoute(int mode, const QString &device, const QString &source)
{
    stop();
    m_liveData->clear();
    m_endedBySignOut = false;
    m_mode = mode;
    m_device = device;
    m_answering.clear();
    m_source = source;
    m_liveData->setSource(source);
    Q_EMIT routeChanged();
}

void SourceManager::useCloud(const QString &deviceId, const QString &label)
{
    setRoute(Cloud, deviceId, label.isEmpty() ? deviceId : label);
    setStatus(false, text(kConnecting));
    m_failures = 0;
    m_pollTimer.setInterval(m_timing.pollIntervalMs);
    m_pollTimer.start();
    pollCloud();
}

void SourceManager::useLan(const QString &deviceId, const LanRoute &route)
{
    setRoute(Lan, deviceId, route.name.isEmpty() ? deviceId : route.name);
    setStatus(false, text(kConnectingLan));
    // TlsFeed reconnects by itself, starting at one second.
    m_feed->stop();
    m_feed->setPort(route.port != 0 ? route.port : m_feedPort);
    m_feed->start(route.host, route.token, route.certificateSha256);
}

void SourceManager::useDevice(DeviceSession *session, const QString &label, bool reconnects)
{
    setRoute(Session, session ? session->deviceId() : QString(), label);
    m_session = session;
    m_sessionReconnects = reconnects;
    if (session) {
        connect(session, &DeviceSession::envelope, this, &SourceManager::onSessionEnvelope);
        connect(session, &DeviceSession::stateChanged, this, &SourceManager::onSessionState);
        // A session closed and deleted without a last state (the setup window went away)
        // must not leave its "Live from" behind.
        connect(session, &QObject::destroyed, this, [this] {
            if (m_mode == Session)
                setStatus(false, text(kLost));
        });
    }
    setStatus(false, text(kWaitingForData));
}

void SourceManager::useLink(const QString &deviceId, DeviceLink *link, const QString &label)
{
    setRoute(Session, deviceId, label);
    m_link = link;
    if (!link) {
        setStatus(false, text(kLost));
        return;
    }
    connect(link, &DeviceLink::envelope, this, &SourceManager::onSessionEnvelope);
    connect(link, &DeviceLink::opened, this, [this](const QJsonObject &info) {
        m_answering = info.value(QLatin1String("device_id")).toString();
        if (!m_live)
            setStatus(false, text(kWaitingForData));
    });
    connect(link, &DeviceLink::closed, this, [this](const QString &reason) { setStatus(false, reason.isEmpty() ? text(kLost) : reason); });
    connect(link, &DeviceLink::failed, this, [this](const QString &, const QString &message) { setStatus(false, message); });
    setStatus(false, text(kWaitingForData));
}

void SourceManager::pollCloud()
{
    if (m_mode != Cloud || m_pollInFlight)
        return;
    if (!m_portal->isSignedIn()) {
        setStatus(false, QString::fromUtf8(kSignIn));
        return;
    }
    m_pollInFlight = true;
    const int generation = m_generation;
    const QPointer<SourceManager> self(this);
    m_portal->getDeviceState(m_device, [self, generation](const PortalResult &result) {
        SourceManager *manager = self.data();
        if (manager == nullptr || generation != manager->m_generation)
            return;
        manager->onPollReply(result.ok, result.data, result.code, result.message);
    });
}

void SourceManager::onPollReply(bool ok, const QJsonObject &body, const QString &code, const QString &message)
{
    m_pollInFlight = false;
    if (ok) {
        if (m_failures > 0)
            CORVANE_LOG_INFO("cloud state of %s answers again after %d failed polls", qUtf8Printable(m_device), m_failures);
        m_failures = 0;
        m_pollTimer.setInterval(m_timing.pollIntervalMs);
        if (body.value(QStringLiteral("type")).toString() == QLatin1String("pending")) {
            setStatus(false, text(kPending));
            return;
        }
        const bool online = body.value(QStringLiteral("online")).toBool(true);
        // A body the live data rejects says nothing about the device, so the status stays.
        if (!m_liveData->apply(body))
            return;
        if (online)
            setStatus(true, text(kLive));
        else
            setStatus(false, text(kOffline));
        return;
    }
    ++m_failures;
    // One line per run of failures, not one per second.
    if (m_failures == 1 || isPermanentCloudError(code))
        CORVANE_LOG_INFO("portal error polling %s: %s (%s)", qUtf8Printable(m_device),
                         qUtf8Printable(code.isEmpty() ? QStringLiteral("no code") : code), qUtf8Printable(message));
    if (isPermanentCloudError(code)) {
        m_pollTimer.stop();
        setStatus(false, message);
        return;
    }
    setStatus(false, message);
    if (m_failures >= kFailuresBeforeSlowPolling)
        m_pollTimer.setInterval(m_timing.slowPollIntervalMs);
}

void SourceManager::onSignedInChanged(bool signedIn)
{
    if (signedIn || m_mode != Cloud)
        return;
    // A poll already on its way would otherwise overwrite the sign-out text.
    stopPolling();
    m_endedBySignOut = true;
    setStatus(false, QString::fromUtf8(kSignedOut));
}

void SourceManager::onFeedConnected(bool connected, const QString &detail)
{
    if (m_mode != Lan)
        return;
    if (connected)
        setStatus(false, text(kWaitingForData));
    else if (!detail.isEmpty())
        setStatus(false, detail);
    else
        setStatus(false, text(kReconnecting));
}

void SourceManager::onFeedEnvelope(const QJsonObject &message)
{
    if (m_mode != Lan)
        return;
    if (m_liveData->apply(message) && !m_live)
        setStatus(true, text(kLiveLan));
}

void SourceManager::onSessionEnvelope(const QJsonObject &message)
{
    if (m_mode != Session)
        return;
    if (m_liveData->apply(message) && !m_live)
        setStatus(true, text(kLive));
}

void SourceManager::onSessionState(DeviceSession::State state, const QString &detail)
{
    if (m_mode != Session)
        return;
    switch (state) {
    case DeviceSession::Restarting:
        setStatus(false, text(m_sessionReconnects ? kReconnecting : kRestarting));
        break;
    case DeviceSession::NeedsPassword:
        if (m_sessionReconnects)
            setStatus(false, text(kNeedsPassword));
        break;
    case DeviceSession::Lost:
    case DeviceSession::Error:
        setStatus(false, detail.isEmpty() ? text(kLost) : detail);
        break;
    case DeviceSession::Ready:
        if (!m_live)
            setStatus(false, text(kWaitingForData));
        break;
    default:
        break;
    }
}

} // namespace corvane
