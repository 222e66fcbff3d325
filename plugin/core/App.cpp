#include "core/App.h"

#include "cloud/PortalClientJar.h"

namespace corvane {

namespace {
App *g_instance = nullptr;
}

App::App(const AppEnvironment &environment)
    : m_sessionJar(new PortalClientJar(this))
{
    m_settings.load(environment.settingsPath);
    m_sessionJar->setPath(environment.sessionPath);
    m_sessionJar->load();
}

App::~App()
{
    // Children go first, while the members they may refer to are still alive.
    qDeleteAll(children());
}

App *App::instance() { return g_instance; }

void App::setInstance(App *app) { g_instance = app; }

} // namespace corvane
