#include "app/App.h"
#include "cloud/PortalClientJar.h"
#include "obs/Module.h"

#include <obs-frontend-api.h>
#include <obs.h>

#include <cstdarg>

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QPointer>
#include <QTest>
#include <QVariant>

using namespace corvane;

namespace {

// Lines as they reach OBS's log: the module points the plugin's log there when it loads.
QStringList s_log;
void captureObsLog(int, const char *format, va_list args, void *)
{
    s_log << QString::vasprintf(format, args);
}

// The front end's event callbacks as this process registered them: the test program stands
// in for OBS's front end, which would call a callback left behind after the module is gone.
QList<QPair<obs_frontend_event_cb, void *>> g_frontendCallbacks;

// libobs's global procedures, which this program stands in for (libobs has none unless it
// runs, and running it needs a display).
proc_handler_t *g_globalProcedures = nullptr;

// The vendor events emitted, by name.
QStringList g_vendorEvents;

// obs-websocket as a vendor sees it, through the global procedures: registering gives a
// vendor, every vendor procedure succeeds, and emitted events are kept by name.
class StandInWebSocket {
public:
    StandInWebSocket()
    {
        g_globalProcedures = m_global;
        proc_handler_add(m_global, "void obs_websocket_api_get_ph(out ptr ph)", &giveHandler, m_handler);
        proc_handler_add(m_handler, "void vendor_register(in string name, out ptr vendor)", &registerVendor, this);
        for (const char *declaration : {"void vendor_request_register(in ptr vendor)", "void vendor_request_unregister(in ptr vendor)"})
            proc_handler_add(m_handler, declaration, &succeed, nullptr);
        proc_handler_add(m_handler, "void vendor_event_emit(in ptr vendor)", &emitEvent, nullptr);
    }
    ~StandInWebSocket()
    {
        g_globalProcedures = nullptr;
        proc_handler_destroy(m_handler);
        proc_handler_destroy(m_global);
    }

private:
    static void giveHandler(void *handler, calldata_t *data) { calldata_set_ptr(data, "ph", handler); }
    static void registerVendor(void *self, calldata_t *data) { calldata_set_ptr(data, "vendor", self); }
    static void succeed(void *, calldata_t *data) { calldata_set_bool(data, "success", true); }
    static void emitEvent(void *, calldata_t *data)
    {
        g_vendorEvents << QString::fromUtf8(calldata_string(data, "type"));
        succeed(nullptr, data);
    }

    proc_handler_t *m_global = proc_handler_create();
    proc_handler_t *m_handler = proc_handler_create();
};

// obs-websocket keeps its procedures for the whole run, as the vendor's code does.
StandInWebSocket &webSocket()
{
    static StandInWebSocket standIn;
    return standIn;
}

} // namespace

extern "C" {
proc_handler_t *obs_get_proc_handler(void)
{
    return g_globalProcedures;
}
void obs_frontend_add_event_callback(obs_frontend_event_cb callback, void *data)
{
    g_frontendCallbacks.append({callback, data});
}
void obs_frontend_remove_event_callback(obs_frontend_event_cb callback, void *data)
{
    g_frontendCallbacks.removeOne({callback, data});
}
}

class TestModule : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadingTwiceKeepsTheFirstApp()
    {
        QTemporaryDir dir;
        QFile settings(dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        // Sign-in restore goes to a closed local port rather than the real portal.
        settings.write(QJsonDocument(QJsonObject{{QStringLiteral("server_port"), 9123},
                                                 {QStringLiteral("portal_url"), QStringLiteral("http://127.0.0.1:9")}})
                           .toJson());
        settings.close();

        int asked = 0;
        const auto environment = [&] {
            ++asked;
            return AppEnvironment{dir.filePath(QStringLiteral("settings.json")), dir.filePath(QStringLiteral("session.json"))};
        };
        QVERIFY(!App::instance());
        QVERIFY(Module::load(environment));
        App *first = App::instance();
        QVERIFY(first);
        QCOMPARE(first->settings().serverPort(), 9123);
        QCOMPARE(first->portal().jar().path(), dir.filePath(QStringLiteral("session.json")));

        QVERIFY(Module::load(environment));
        QCOMPARE(App::instance(), first);
        QCOMPARE(asked, 1);

        QPointer<QObject> child = new QObject(first);
        // OBS threads may look at the instance at any moment of the unload: while App is being
        // destroyed they must already find none.
        bool instanceGoneFirst = false;
        QObject::connect(child, &QObject::destroyed, [&] { instanceGoneFirst = App::instance() == nullptr; });
        Module::unload();
        QVERIFY(!App::instance());
        QVERIFY(child.isNull());
        QVERIFY(instanceGoneFirst);

        QVERIFY(Module::load(environment));
        QVERIFY(App::instance());
        QCOMPARE(asked, 2);
        Module::unload();
    }

    // A system copy and a per-user copy loaded into one OBS: the second must not compete for
    // the sources, the dock or the servers' ports.
    void secondCopyStaysInert()
    {
        QTemporaryDir dir;
        QFile settings(dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QJsonDocument(QJsonObject{{QStringLiteral("server_enabled"), false},
                                                 {QStringLiteral("portal_url"), QStringLiteral("http://127.0.0.1:9")}})
                           .toJson());
        settings.close();
        int asked = 0;
        const auto environment = [&] {
            ++asked;
            return AppEnvironment{dir.filePath(QStringLiteral("settings.json")), dir.filePath(QStringLiteral("session.json"))};
        };
        // What the copy loaded first leaves on the process's one application object.
        QCoreApplication::instance()->setProperty("corvane-obs.loadedCopy", qulonglong(1));
        QCoreApplication::instance()->setProperty("corvane-obs.loadedCopyPath", QStringLiteral("/usr/lib/x86_64-linux-gnu/obs-plugins/corvane-obs.so"));
        s_log.clear();
        log_handler_t previous = nullptr;
        void *previousParam = nullptr;
        base_get_log_handler(&previous, &previousParam);
        base_set_log_handler(captureObsLog, nullptr);
        QVERIFY(Module::load(environment));
        Module::start();
        Module::postLoad();
        QVERIFY(!App::instance());
        QCOMPARE(asked, 0);
        QVERIFY2(s_log.filter(QStringLiteral("another copy of this plugin is already loaded "
                                             "(/usr/lib/x86_64-linux-gnu/obs-plugins/corvane-obs.so); this copy ("))
                         .size() == 1,
                 qPrintable(s_log.join(QLatin1Char('\n'))));
        Module::unload();
        QVERIFY(s_log.filter(QStringLiteral("plugin unloaded")).isEmpty());
        QCOMPARE(QCoreApplication::instance()->property("corvane-obs.loadedCopy").toULongLong(), qulonglong(1));

        // With the first copy gone, this one loads as usual and claims the process itself;
        // nothing of its inactive time remains (OBS has not yet said every module loaded, so
        // no obs-websocket vendor is offered).
        s_log.clear();
        QCoreApplication::instance()->setProperty("corvane-obs.loadedCopy", QVariant());
        QVERIFY(Module::load(environment));
        QVERIFY(App::instance());
        QVERIFY(QCoreApplication::instance()->property("corvane-obs.loadedCopy").isValid());
        Module::unload();
        base_set_log_handler(previous, previousParam);
        QVERIFY(!QCoreApplication::instance()->property("corvane-obs.loadedCopy").isValid());
        QVERIFY2(s_log.filter(QStringLiteral("obs-websocket")).isEmpty(), qPrintable(s_log.join(QLatin1Char('\n'))));
    }

    // OBS may unload the module without saying it exits first: every front-end callback the
    // module added, the obs-websocket vendor's included, is gone afterwards. Meanwhile the
    // vendor sends the main device's events as before, a followed device's under their own.
    void unloadWithoutExitLeavesNoFrontendCallback()
    {
        QTemporaryDir dir;
        QFile settings(dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QJsonDocument(QJsonObject{{QStringLiteral("portal_url"), QStringLiteral("http://127.0.0.1:9")}}).toJson());
        settings.close();
        webSocket();
        const auto environment = [&] {
            return AppEnvironment{dir.filePath(QStringLiteral("settings.json")), dir.filePath(QStringLiteral("session.json"))};
        };
        QVERIFY(Module::load(environment));
        const qsizetype beforeVendor = g_frontendCallbacks.size();
        Module::postLoad();
        QCOMPARE(g_frontendCallbacks.size(), beforeVendor + 1);
        QVERIFY(App::instance()->followDevice({QStringLiteral("CV-7"), FollowedRoute::Cloud}));
        g_vendorEvents.clear();
        App::instance()->live().apply({{QStringLiteral("home_score"), 1}});
        App::instance()->liveOf(QStringLiteral("CV-7"))->apply({{QStringLiteral("home_score"), 2}});
        QCOMPARE(g_vendorEvents, QStringList({"LiveDataChanged", "DeviceLiveDataChanged"}));
        Module::unload();
        QVERIFY(g_frontendCallbacks.isEmpty());
    }

    void missingTextReadsAsKey()
    {
        QCOMPARE(QByteArray(Module::text("CorvaneText")), QByteArray("CorvaneText"));
        const char *out = nullptr;
        QVERIFY(!Module::getString("CorvaneText", &out));
    }
};

QTEST_GUILESS_MAIN(TestModule)
#include "tst_Module.moc"
