#include "core/App.h"

#include "core/Log.h"
#include "core/Origins.h"

#include <QEventLoop>
#include <QTimer>

#include <memory>

namespace corvane {

namespace {

App *g_instance = nullptr;

const char kSignInForGraphics[] = "Sign in from the Corvane dock to see your graphics.";
const char kGraphicsNeedPlan[] = "Graphics need an active Corvane cloud plan.";

} // namespace

App::App(const AppEnvironment &environment)
{
    m_settings.load(environment.settingsPath);
    m_portal.setBaseUrl(chooseOrigin(m_settings.portalUrl(), QString::fromLatin1(kPortalOrigin)));
    m_portal.jar().setPath(environment.sessionPath);
    m_portal.jar().load();

    connect(&m_portal, &PortalClient::signedInChanged, this, &App::onSignedInChanged);

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

App *App::instance() { return g_instance; }

void App::setInstance(App *app) { g_instance = app; }

QString App::downloadsOrigin() const
{
    return chooseOrigin(m_settings.downloadsUrl(), QString::fromLatin1(kDownloadsOrigin));
}

void App::refreshDevices(DoneCallback callback)
{
    m_portal.listDevices([this, callback](const PortalResult &result) {
        if (result.ok) {
            m_devices = parseDevices(result.data);
            Q_EMIT devicesChanged();
        }
        if (callback)
            callback(result.ok, result.message);
    });
}

void App::refreshOutputs(DoneCallback callback)
{
    if (!m_portal.isSignedIn()) {
        m_outputsError = QString::fromUtf8(kSignInForGraphics);
        if (callback)
            callback(false, m_outputsError);
        return;
    }
    m_portal.listOutputs([this, callback](const PortalResult &result) {
        if (result.ok) {
            m_outputs = parseOutputs(result.data, m_portal.baseUrl());
            m_outputsError.clear();
            Q_EMIT outputsChanged();
        } else if (result.code == QLatin1String("cloud_subscription_required") || result.status == 402) {
            m_outputsError = QString::fromUtf8(kGraphicsNeedPlan);
        } else {
            m_outputsError = result.message;
        }
        if (callback)
            callback(result.ok, m_outputsError);
    });
}

bool App::refreshOutputsBlocking(int timeoutMs)
{
    // The answer may come after we stopped waiting; the shared record outlives this frame
    // and the loop pointer is cleared before the loop goes away.
    struct Wait {
        bool done = false;
        bool ok = false;
        QEventLoop *loop = nullptr;
    };
    const auto wait = std::make_shared<Wait>();
    refreshOutputs([wait](bool ok, const QString &) {
        wait->done = true;
        wait->ok = ok;
        if (wait->loop)
            wait->loop->quit();
    });
    if (!wait->done) {
        QEventLoop loop;
        wait->loop = &loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        wait->loop = nullptr;
    }
    return wait->done && wait->ok;
}

void App::onSignedInChanged(bool signedIn)
{
    if (signedIn) {
        // Picking the live device once the list is in waits for the source manager.
        refreshDevices();
        refreshOutputs();
        return;
    }
    m_devices.clear();
    m_outputs.clear();
    Q_EMIT devicesChanged();
    Q_EMIT outputsChanged();
}

} // namespace corvane
