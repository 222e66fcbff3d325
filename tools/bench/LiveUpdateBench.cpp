// What one live update costs the user-interface thread: LiveData::apply re-renders every
// corvane_text source (inside the real libobs, wrapping OBS's FreeType text source) and the
// hosted server writes the snapshot to every connected client. Clients are plain loopback
// sockets drained by a separate thread, as other programs would be.
#include "app/App.h"
#include "live/HostedServer.h"
#include "obs/ObsFixture.h"
#include "obs/TextSource.h"

#include <obs.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdarg>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace corvane;

namespace {

// Connects `count` loopback clients and counts the lines each has received.
class Readers {
public:
    // Connects from the reading thread, so that the caller's event loop can accept them.
    Readers(quint16 port, int count)
    {
        m_thread = std::thread([this, port, count] {
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
                m_fds.push_back({fd, POLLIN, 0});
            }
            run();
        });
    }
    ~Readers()
    {
        m_stop = true;
        m_thread.join();
        for (const pollfd &p : m_fds)
            ::close(p.fd);
    }
    // Lines that every client has received.
    long completeLines() const { return m_minLines.load(); }

private:
    void run()
    {
        std::vector<long> lines(m_fds.size(), 0);
        std::vector<char> buffer(1 << 16);
        while (!m_stop) {
            if (::poll(m_fds.data(), m_fds.size(), 20) <= 0)
                continue;
            for (size_t i = 0; i < m_fds.size(); ++i) {
                if (!(m_fds[i].revents & POLLIN))
                    continue;
                const ssize_t got = ::recv(m_fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                for (ssize_t b = 0; b < got; ++b)
                    lines[i] += buffer[b] == '\n';
            }
            m_minLines = *std::min_element(lines.begin(), lines.end());
        }
    }

    std::vector<pollfd> m_fds;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_minLines{0};
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

QJsonObject message(int n)
{
    return {{QStringLiteral("sport"), QStringLiteral("basketball")},
            {QStringLiteral("fields"),
             QJsonObject{{QStringLiteral("home_score"), n},
                         {QStringLiteral("away_score"), n / 2},
                         {QStringLiteral("clock"), QStringLiteral("%1:%2").arg(11 - n % 12).arg(59 - n % 60, 2, 10, QLatin1Char('0'))},
                         {QStringLiteral("period"), 1 + n % 4},
                         {QStringLiteral("shot_clock"), 24 - n % 24},
                         {QStringLiteral("home_fouls"), n % 7},
                         {QStringLiteral("away_fouls"), n % 5}}}};
}

struct Figures {
    double applyUs;   // LiveData::apply: renders, pushes and queues the writes
    double deliverUs; // until every client has read the line
    double serialisedBytes;
    qint64 lineBytes;
};

// Waits (running the event loop, so the server's sockets flush) until every client holds
// `lines` lines.
bool waitForLines(const Readers &readers, long lines)
{
    QElapsedTimer timer;
    timer.start();
    while (readers.completeLines() < lines) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (timer.elapsed() > 30000)
            return false;
    }
    return true;
}

Figures measure(HostedServer *server, int clientCount, int updates, int &n)
{
    Readers readers(server->port(), clientCount);
    QElapsedTimer timer;
    timer.start();
    while (server->clientCount() < clientCount && timer.elapsed() < 30000)
        QCoreApplication::processEvents();
    long expected = 1; // the snapshot on connect
    if (!waitForLines(readers, expected)) {
        std::fprintf(stderr, "clients did not connect\n");
        std::exit(1);
    }

    LiveData &live = App::instance()->live();
    std::vector<double> applyUs;
    std::vector<double> deliverUs;
    const qint64 serialisedBefore = server->bytesSerialised();
    for (int i = 0; i < updates; ++i) {
        QElapsedTimer t;
        t.start();
        live.apply(message(++n));
        applyUs.push_back(t.nsecsElapsed() / 1000.0);
        if (!waitForLines(readers, ++expected)) {
            std::fprintf(stderr, "an update did not reach every client\n");
            std::exit(1);
        }
        deliverUs.push_back(t.nsecsElapsed() / 1000.0);
    }
    const double perUpdate = double(server->bytesSerialised() - serialisedBefore) / updates;
    return {median(applyUs), median(deliverUs), perUpdate, qint64(QJsonDocument(live.snapshot()).toJson(QJsonDocument::Compact).size() + 1)};
}

void quietLog(int level, const char *format, va_list args, void *)
{
    if (level <= LOG_WARNING) {
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
    }
}

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
    HostedServer *server = App::instance()->server();
    QString error;
    if (!server->start(0, false, &error)) {
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

    int n = 0;
    const Figures hundred = measure(server, 100, 500, n);
    std::printf("50 text sources, 100 clients, 500 updates (median):\n");
    std::printf("  LiveData::apply (render 50 sources, queue 100 writes): %8.1f us\n", hundred.applyUs);
    std::printf("  until all 100 clients have read the line:             %8.1f us\n", hundred.deliverUs);
    server->stop();
    server->start(0, false, &error);

    for (obs_source_t *source : sources)
        obs_source_release(source);
    sources.clear();

    const Figures thousand = measure(server, 1000, 200, n);
    std::printf("no text sources, 1000 clients, 200 updates (median):\n");
    std::printf("  LiveData::apply (serialise once, queue 1000 writes):  %8.1f us\n", thousand.applyUs);
    std::printf("  until all 1000 clients have read the line:            %8.1f us\n", thousand.deliverUs);
    std::printf("  snapshot bytes serialised per update:                 %8.0f (one line is %lld bytes; %lld bytes written per update)\n",
                thousand.serialisedBytes, thousand.lineBytes, thousand.lineBytes * 1000);
    server->stop();
    obs.stop();
    return 0;
}
