// What one live update costs the user-interface thread when several devices are followed:
// 50 corvane_text sources (inside the real libobs, wrapping OBS's FreeType text source) and
// the plugin's own wiring (Module::load, App, the hosted and overlay servers listening with
// no client). Three layouts, measured in alternating blocks of the same run:
//   one:    the main device alone, every source on it (the plugin before followed devices);
//   main:   the main device and 7 followed ones, every source still on the main device;
//   spread: the same 8 devices, the sources spread over them in turn.
// Every device gets one update per round. An update is timed around LiveData::apply, which
// runs the refreshes and server hand-offs bound to that device on this thread.
#include "Figures.h"
#include "LiveUpdates.h"
#include "app/App.h"
#include "app/FollowedDevices.h"
#include "live/HostedServer.h"
#include "live/OverlayServer.h"
#include "obs/ObsFixture.h"
#include "obs/TextSource.h"

#include <obs.h>

#include <QCoreApplication>
#include <QJsonObject>
#include <QThread>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <time.h>
#include <vector>

using namespace corvane;
using corvane::bench::Figures;
using corvane::bench::message;
using corvane::bench::summarize;
using corvane::bench::threadCpuNs;

namespace {

constexpr int kSources = 50;
constexpr int kFollowed = 7;
constexpr int kBlocks = 15;
constexpr int kRoundsPerBlock = 60;
constexpr int kWarmUpRounds = 20;

struct Layout {
    const char *name;
    int followed;
    bool spread;
};

// Per layout, every update's cost in microseconds.
struct Samples {
    std::vector<double> mainCpu;     // the main device's updates, this thread's CPU time
    std::vector<double> mainWall;    // the same, wall-clock
    std::vector<double> followedCpu; // the followed devices' updates, CPU time
    std::vector<double> anyCpu;      // every update of any device, CPU time
    std::vector<double> roundCpu;    // one round (an update of every device), CPU time
    qint64 followedBytes = 0;        // serialised by the hosted and overlay servers for followed updates
};

qint64 wallNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

QString followedId(int i) { return QStringLiteral("bench-court-%1").arg(i + 1); }

// The device each source shows in this layout: "" is the main device.
QString bindingOf(const Layout &layout, int source)
{
    const int device = layout.spread ? source % (layout.followed + 1) : 0;
    return device == 0 ? QString() : followedId(device - 1);
}

class Bench {
public:
    explicit Bench(App *app) : m_app(app) {}
    ~Bench()
    {
        for (obs_source_t *source : m_sources)
            obs_source_release(source);
    }

    void createSources()
    {
        const char *templates[] = {"{home_score}", "{away_score}", "{home_score} - {away_score}", "{clock}", "Q{period} {clock}"};
        for (int i = 0; i < kSources; ++i) {
            obs_data_t *settings = obs_data_create();
            obs_data_set_string(settings, "template", templates[i % 5]);
            m_sources.push_back(obs_source_create_private("corvane_text", "bench", settings));
            obs_data_release(settings);
        }
    }

    // Follows or unfollows devices and binds the sources as the layout says. Sources leave
    // a device before it is unfollowed, and a device is followed before sources bind to it.
    void arrange(const Layout &layout)
    {
        for (int i = 0; i < kFollowed; ++i) {
            if (i < layout.followed && !m_app->followed()->contains(followedId(i)))
                m_app->followDevice(FollowedRoute{followedId(i), FollowedRoute::Cloud, QStringLiteral("Court %1").arg(i + 2)});
        }
        for (int i = 0; i < kSources; ++i)
            bind(m_sources[size_t(i)], bindingOf(layout, i));
        waitForBindings(layout);
        for (int i = layout.followed; i < kFollowed; ++i)
            m_app->followed()->unfollow(followedId(i));
        m_devices.clear();
        m_devices.push_back(&m_app->live());
        for (int i = 0; i < layout.followed; ++i)
            m_devices.push_back(m_app->liveOf(followedId(i)));
    }

    void run(int rounds, Samples *samples)
    {
        for (int r = 0; r < rounds; ++r) {
            qint64 round = 0;
            for (size_t d = 0; d < m_devices.size(); ++d) {
                const QJsonObject next = message(++m_counters[d]);
                const qint64 bytesBefore = serialised();
                const qint64 cpuStart = threadCpuNs();
                const qint64 wallStart = wallNs();
                m_devices[d]->apply(next);
                const double wall = double(wallNs() - wallStart) / 1000.0;
                const qint64 cpu = threadCpuNs() - cpuStart;
                round += cpu;
                if (!samples)
                    continue;
                if (d > 0)
                    samples->followedBytes += serialised() - bytesBefore;
                const double cpuUs = double(cpu) / 1000.0;
                (d == 0 ? samples->mainCpu : samples->followedCpu).push_back(cpuUs);
                if (d == 0)
                    samples->mainWall.push_back(wall);
                samples->anyCpu.push_back(cpuUs);
            }
            if (samples)
                samples->roundCpu.push_back(double(round) / 1000.0);
            QCoreApplication::processEvents();
        }
    }

private:
    qint64 serialised() const { return m_app->server()->bytesSerialised() + m_app->overlayServer()->bytesSerialised(); }

    static void bind(obs_source_t *source, const QString &deviceId)
    {
        obs_data_t *settings = obs_source_get_settings(source);
        obs_data_set_string(settings, "device", deviceId.toUtf8().constData());
        obs_source_update(source, settings);
        obs_data_release(settings);
    }

    // OBS hands a video source its new settings on the video thread's next tick (30 fps
    // here): the settings must say the device at once, and ten frames let every source
    // take it before the next block is timed.
    void waitForBindings(const Layout &layout)
    {
        for (int attempt = 0; attempt < 500; ++attempt) {
            QThread::msleep(10);
            QCoreApplication::processEvents();
            bool bound = true;
            for (int i = 0; i < kSources && bound; ++i) {
                obs_data_t *settings = obs_source_get_settings(m_sources[size_t(i)]);
                bound = QString::fromUtf8(obs_data_get_string(settings, "device")) == bindingOf(layout, i);
                obs_data_release(settings);
            }
            if (bound && attempt >= 33)
                return;
        }
        std::fprintf(stderr, "the sources did not take their devices\n");
        std::exit(1);
    }

    App *m_app;
    std::vector<obs_source_t *> m_sources;
    std::vector<LiveData *> m_devices;
    int m_counters[kFollowed + 1] = {};
};

void quietLog(int level, const char *format, va_list args, void *)
{
    if (level <= LOG_WARNING) {
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
    }
}

void printRow(const char *layout, const char *updates, const std::vector<double> &values, const Figures &today)
{
    const Figures f = summarize(values);
    std::printf("%-7s %-22s %9.1f %9.1f %9.2f %9.2f %8zu\n", layout, updates, f.median, f.p99,
                today.median > 0 ? f.median / today.median : 0.0, today.p99 > 0 ? f.p99 / today.p99 : 0.0, values.size());
}

} // namespace

int main(int argc, char **argv)
{
    base_set_log_handler(quietLog, nullptr);
    QCoreApplication qtApp(argc, argv);
    test::ObsFixture obs;
    const QString failed = obs.start();
    if (!failed.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(failed));
        return 1;
    }
    App *app = App::instance();
    QString error;
    // Listening with no client: what a user who never opened them has running.
    if (!app->server()->start(0, false, &error) || !app->overlayServer()->start(0, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    const Layout layouts[] = {{"one", 0, false}, {"main", kFollowed, false}, {"spread", kFollowed, true}};
    Samples samples[3];
    {
        Bench bench(app);
        bench.createSources();
        for (int block = 0; block < kBlocks; ++block) {
            for (int l = 0; l < 3; ++l) {
                bench.arrange(layouts[l]);
                bench.run(kWarmUpRounds, nullptr);
                bench.run(kRoundsPerBlock, &samples[l]);
            }
        }
        bench.arrange(layouts[0]);
    }

    std::printf("One live update on the user-interface thread with %d corvane_text sources; this thread's CPU time in\n"
                "microseconds, except where it says wall; ratios against the main device's update in layout \"one\"\n"
                "(the same measure), all from this run (%d blocks of %d rounds per layout, alternating).\n"
                "  one:    the main device alone, every source on it\n"
                "  main:   main + %d followed devices, every source on the main device\n"
                "  spread: main + %d followed devices, the sources spread over all %d in turn\n",
                kSources, kBlocks, kRoundsPerBlock, kFollowed, kFollowed, kFollowed + 1);
    std::printf("%-7s %-22s %9s %9s %9s %9s %8s\n", "layout", "updates", "median", "p99", "x median", "x p99", "count");
    const Figures today = summarize(samples[0].mainCpu);
    const Figures todayWall = summarize(samples[0].mainWall);
    for (int l = 0; l < 3; ++l) {
        const char *name = layouts[l].name;
        printRow(name, "main device", samples[l].mainCpu, today);
        printRow(name, "main device (wall)", samples[l].mainWall, todayWall);
        if (layouts[l].followed == 0)
            continue;
        printRow(name, "each followed device", samples[l].followedCpu, today);
        printRow(name, "any device", samples[l].anyCpu, today);
        printRow(name, "round of all 8", samples[l].roundCpu, today);
        std::printf("%-7s bytes the hosted and overlay servers serialised for the followed devices' updates: %lld\n", name,
                    static_cast<long long>(samples[l].followedBytes));
    }

    app->overlayServer()->stop();
    app->server()->stop();
    obs.stop();
    return 0;
}
