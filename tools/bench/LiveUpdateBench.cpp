// What one live update costs the user-interface thread, and where the time goes:
// LiveData::apply re-renders 50 corvane_text sources (inside the real libobs, wrapping OBS's
// FreeType text source) and hands the snapshot to the hosted server, with 0, 100 and 1000
// loopback clients drained by a separate thread, as other programs would be. Each row is
// measured twice in the same run: with the current code, and with the code as it was before
// client writes left this thread and unchanged text stopped being pushed again (the old
// server compiled in from legacy/, the old refresh by forgetting what each source shows).
#include "LiveUpdates.h"
#include "app/App.h"
#include "legacy/LegacyHostedServer.h"
#include "live/HostedServer.h"
#include "obs/ObsFixture.h"
#include "obs/TextSource.h"

#include <obs.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace corvane;
using corvane::bench::message;
using corvane::bench::threadCpuNs;

namespace {

// Connects `count` loopback clients and counts the lines each has received. One epoll set,
// so that reading costs in proportion to the clients that have something to read, as it
// does for separate programs each waiting on its own socket.
class Readers {
public:
    // Connects from the reading thread, so that the caller's event loop can accept them.
    Readers(quint16 port, int count)
    {
        m_thread = std::thread([this, port, count] {
            m_epoll = epoll_create1(0);
            for (int i = 0; i < count; ++i) {
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(port);
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
                    std::perror("connect");
                    std::exit(1);
                }
                epoll_event event{};
                event.events = EPOLLIN;
                event.data.u32 = uint32_t(i);
                epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
                m_fds.push_back(fd);
            }
            run();
        });
    }
    ~Readers()
    {
        m_stop = true;
        m_thread.join();
        for (int fd : m_fds)
            ::close(fd);
        ::close(m_epoll);
    }
    // Lines that every client has received.
    long completeLines() const { return m_minLines.load(); }

private:
    void run()
    {
        std::vector<long> lines(m_fds.size(), 0);
        std::vector<char> buffer(1 << 16);
        std::vector<epoll_event> events(1024);
        while (!m_stop) {
            const int ready = epoll_wait(m_epoll, events.data(), int(events.size()), 20);
            for (int e = 0; e < ready; ++e) {
                const uint32_t i = events[e].data.u32;
                const ssize_t got = ::recv(m_fds[i], buffer.data(), buffer.size(), MSG_DONTWAIT);
                for (ssize_t b = 0; b < got; ++b)
                    lines[i] += buffer[b] == '\n';
            }
            if (ready > 0 && !lines.empty())
                m_minLines = *std::min_element(lines.begin(), lines.end());
        }
    }

    int m_epoll = -1;
    std::vector<int> m_fds;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_minLines{0};
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Row {
    double applyUs = 0;   // all of LiveData::apply
    double applyCpuUs = 0; // the same in this thread's CPU time
    double sourcesUs = 0; // of which: rendering and pushing the text sources
    double serverUs = 0;  // of which: the hosted server's share
    double deliverUs = 0; // from the start of apply until every client has read the line
};

// One way of handling LiveData::changed: the server's broadcast and the text sources'
// refresh, each timed.
struct Path {
    const char *name;
    std::function<void()> broadcast;
    std::function<void()> beforeUpdate; // outside the timed section
    std::function<quint16()> port;
    std::function<int()> clientCount;
};

// Waits (running the event loop, so that a server on this thread flushes) until every
// client holds `lines` lines. The loop sleeps between events rather than spinning, so that
// it does not take a core from the threads it waits for.
bool waitForLines(const Readers &readers, long lines)
{
    QTimer tick;
    tick.start(1);
    QElapsedTimer timer;
    timer.start();
    while (readers.completeLines() < lines) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (timer.elapsed() > 30000)
            return false;
    }
    return true;
}

Row measure(const Path &path, int clientCount, int updates, int &n)
{
    LiveData &live = App::instance()->live();
    qint64 marks[3] = {};
    QElapsedTimer clock;
    clock.start();
    QObject::disconnect(&live, &LiveData::changed, nullptr, nullptr);
    QObject context;
    QObject::connect(&live, &LiveData::changed, &context, [&] {
        marks[0] = clock.nsecsElapsed();
        path.broadcast();
        marks[1] = clock.nsecsElapsed();
        TextSource::refreshAll();
        marks[2] = clock.nsecsElapsed();
    });

    std::unique_ptr<Readers> readers;
    if (clientCount > 0) {
        readers = std::make_unique<Readers>(path.port(), clientCount);
        QElapsedTimer timer;
        timer.start();
        while (path.clientCount() < clientCount && timer.elapsed() < 30000)
            QCoreApplication::processEvents();
        if (!waitForLines(*readers, 1)) {
            std::fprintf(stderr, "clients did not connect\n");
            std::exit(1);
        }
    }

    std::vector<double> applyUs, applyCpuUs, sourcesUs, serverUs, deliverUs;
    for (int i = 0; i < updates; ++i) {
        path.beforeUpdate();
        const qint64 cpuStart = threadCpuNs();
        const qint64 start = clock.nsecsElapsed();
        live.apply(message(++n));
        const qint64 end = clock.nsecsElapsed();
        applyCpuUs.push_back((threadCpuNs() - cpuStart) / 1000.0);
        applyUs.push_back((end - start) / 1000.0);
        serverUs.push_back((marks[1] - marks[0]) / 1000.0);
        sourcesUs.push_back((marks[2] - marks[1]) / 1000.0);
        if (readers) {
            if (!waitForLines(*readers, 2 + i)) {
                std::fprintf(stderr, "an update did not reach every client\n");
                std::exit(1);
            }
            deliverUs.push_back((clock.nsecsElapsed() - start) / 1000.0);
        }
        QCoreApplication::processEvents();
    }
    return {median(applyUs), median(applyCpuUs), median(sourcesUs), median(serverUs), median(deliverUs)};
}

void quietLog(int level, const char *format, va_list args, void *)
{
    if (level <= LOG_WARNING) {
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
    }
}

double ratio(double after, double before) { return before > 0 ? after / before : 0; }

} // namespace

int main(int argc, char **argv)
{
    base_set_log_handler(quietLog, nullptr);
    QCoreApplication app(argc, argv);
    test::ObsFixture obs;
    const QString failed = obs.start();
    if (!failed.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(failed));
        return 1;
    }
    LiveData &live = App::instance()->live();
    HostedServer *server = App::instance()->server();
    LegacyHostedServer legacy(&live);
    QString error;
    if (!server->start(0, false, &error) || !legacy.start(0, false, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    const char *templates[] = {"{home_score}", "{away_score}", "{home_score} - {away_score}", "{clock}", "Q{period} {clock}"};
    std::vector<obs_source_t *> sources;
    obs_data_t *settings = obs_data_create();
    for (int i = 0; i < 50; ++i) {
        obs_data_set_string(settings, "template", templates[i % 5]);
        sources.push_back(obs_source_create_private("corvane_text", "bench", settings));
    }
    obs_data_release(settings);

    const Path before{"before",
                      [&] { legacy.broadcast(); },
                      [&] {
                          // The old refresh pushed every source every time.
                          for (obs_source_t *source : sources)
                              static_cast<TextSource *>(obs_obj_get_data(source))->shownText.clear();
                      },
                      [&] { return legacy.port(); },
                      [&] { return legacy.clientCount(); }};
    const Path after{"after", [&] { server->broadcast(); }, [] {}, [&] { return server->port(); }, [&] { return server->clientCount(); }};

    std::printf("One live update with 50 corvane_text sources (the clock changes every update, the score every\n"
                "tenth); medians in microseconds (apply cpu: the user-interface thread's own CPU time); ratio = after /\n"
                "before, measured in this run.\n");
    std::printf("%8s %-7s %10s %10s %10s %10s %12s\n", "clients", "code", "apply", "apply cpu", "sources", "server", "all read");
    int n = 0;
    for (const int clients : {0, 100, 1000}) {
        const int updates = clients == 1000 ? 150 : 400;
        Row rows[2];
        const Path *paths[2] = {&before, &after};
        for (int p = 0; p < 2; ++p) {
            rows[p] = measure(*paths[p], clients, updates, n);
            std::printf("%8d %-7s %10.1f %10.1f %10.1f %10.1f %12.1f\n", clients, paths[p]->name, rows[p].applyUs, rows[p].applyCpuUs,
                        rows[p].sourcesUs, rows[p].serverUs, rows[p].deliverUs);
            // Every client leaves before the next row.
            server->start(0, false, &error);
            legacy.start(0, false, &error);
        }
        std::printf("%8d %-7s %10.2f %10.2f %10.2f %10.2f %12.2f\n", clients, "ratio", ratio(rows[1].applyUs, rows[0].applyUs),
                    ratio(rows[1].applyCpuUs, rows[0].applyCpuUs), ratio(rows[1].sourcesUs, rows[0].sourcesUs), ratio(rows[1].serverUs, rows[0].serverUs),
                    ratio(rows[1].deliverUs, rows[0].deliverUs));
    }

    // The part of the server's share that no design can move: one serialisation per update.
    std::vector<double> serialiseUs;
    qint64 bytes = 0;
    for (int i = 0; i < 1000; ++i) {
        QElapsedTimer t;
        t.start();
        bytes += QJsonDocument(live.snapshot()).toJson(QJsonDocument::Compact).size();
        serialiseUs.push_back(t.nsecsElapsed() / 1000.0);
    }
    std::printf("of the server's share, serialising one snapshot (%lld bytes): %.1f us (median of 1000)\n", bytes / 1000,
                median(serialiseUs));

    for (obs_source_t *source : sources)
        obs_source_release(source);
    server->stop();
    legacy.stop();
    obs.stop();
    return 0;
}
