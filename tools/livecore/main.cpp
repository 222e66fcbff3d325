// The plugin's core without OBS, fed by corvane-devsim over USB: a real App with its hosted
// TCP server and its overlay server on, and a USB device session on the simulator's
// pseudo-terminal in use as the live source. For the browser tests and the overlay
// benchmark, which drive it from outside like a browser or another program would.
//
// With --follow ID, a second simulator (device ID, playing --follow-sport) is followed beside
// the main device over its own USB pty, so that pages can read two games at once.
//
// Prints "OVERLAY <port>", "HOSTED <port>" and "READY" once the first score has arrived (from
// each device), then runs until its standard input closes. Arguments after "--" go to the
// main device's corvane-devsim.
#include "app/App.h"
#include "app/FollowedDevices.h"
#include "base/FollowedRoute.h"
#include "device/DeviceSession.h"
#include "device/usb/UsbLink.h"
#include "live/HostedServer.h"
#include "live/LiveData.h"
#include "live/OverlayServer.h"
#include "live/SourceManager.h"
#include "support/DevSimProcess.h"
#include "support/TestNetwork.h"
#include "support/TestSettings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace corvane;

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The plugin core fed by corvane-devsim over USB, with its servers on."));
    parser.addHelpOption();
    const QCommandLineOption overlays(QStringLiteral("overlays"), QStringLiteral("The user's overlays folder."), QStringLiteral("dir"));
    parser.addOption(overlays);
    const QCommandLineOption follow(QStringLiteral("follow"), QStringLiteral("Follow a second simulated device with this ID."), QStringLiteral("id"));
    const QCommandLineOption followSport(QStringLiteral("follow-sport"), QStringLiteral("The followed device's sport (default hockey)."),
                                         QStringLiteral("sport"), QStringLiteral("hockey"));
    parser.addOptions({follow, followSport});
    parser.addPositionalArgument(QStringLiteral("devsim-arguments"), QStringLiteral("After --: arguments for corvane-devsim."));
    parser.process(application);

    QStringList simArguments{QStringLiteral("--password"), QStringLiteral("mapleguard")};
    simArguments += parser.positionalArguments();
    DevSimProcess sim(simArguments);

    QTemporaryDir dir;
    const quint16 overlayPort = test::unusedLocalPort();
    const quint16 hostedPort = test::unusedLocalPort();
    const QString settings = dir.filePath(QStringLiteral("settings.json"));
    test::writeTestSettings(settings, {{QStringLiteral("server_enabled"), true},
                                       {QStringLiteral("server_port"), hostedPort},
                                       {QStringLiteral("overlay_server_enabled"), true},
                                       {QStringLiteral("overlay_server_port"), overlayPort}});
    AppEnvironment environment{settings, dir.filePath(QStringLiteral("session.json"))};
    environment.overlaysDir = parser.value(overlays);
    App app(environment);
    if (!app.server()->isListening() || !app.overlayServer()->isListening()) {
        std::fprintf(stderr, "the servers did not start\n");
        return 1;
    }

    DeviceSession session(new UsbLink(sim.ptyPath()));
    session.start();
    if (!QTest::qWaitFor([&] { return session.state() == DeviceSession::Ready; }, 20000)) {
        std::fprintf(stderr, "the USB session did not become ready\n");
        return 1;
    }
    app.sourceManager()->useDevice(&session, QStringLiteral("USB device"));
    if (!QTest::qWaitFor([&] { return !app.live().value(QStringLiteral("home_score")).isEmpty(); }, 20000)) {
        std::fprintf(stderr, "no score arrived from the device\n");
        return 1;
    }
    // The followed device plays its own game, at the main device's pace.
    std::unique_ptr<DevSimProcess> followedSim;
    const QString followedId = parser.value(follow);
    if (!followedId.isEmpty()) {
        followedSim = std::make_unique<DevSimProcess>(QStringList{QStringLiteral("--device-id"), followedId, QStringLiteral("--sport"),
                                                                  parser.value(followSport), QStringLiteral("--live-ms"), QStringLiteral("500")});
        FollowedRoute route{followedId, FollowedRoute::Usb};
        route.usbPort = followedSim->ptyPath();
        if (!app.followDevice(route)) {
            std::fprintf(stderr, "the second device could not be followed\n");
            return 1;
        }
        if (!QTest::qWaitFor([&] { return !app.liveOf(followedId)->value(QStringLiteral("home_score")).isEmpty(); }, 20000)) {
            std::fprintf(stderr, "no score arrived from the followed device\n");
            return 1;
        }
    }
    std::printf("OVERLAY %u\nHOSTED %u\nREADY\n", unsigned(app.overlayServer()->port()), unsigned(app.server()->port()));
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &application, [&] {
        char buffer[256];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            application.quit();
    });
    const int status = application.exec();
    if (!followedId.isEmpty())
        app.followed()->unfollow(followedId);
    app.sourceManager()->stop();
    return status;
}
