#include "app/App.h"
#include "live/HostedServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

using namespace corvane;

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "hosted server: %s\n", what);
    std::abort();
}

// The plugin's App with its hosted server on a free loopback port and one client, for the
// whole run. The portal and the download server are a closed local port, so nothing leaves
// the machine; the update check 20 s after start would otherwise load Qt's TLS backend,
// which is torn down at exit before this world and crashes its teardown.
struct World {
    int argc = 1;
    char name[16] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication qapp{argc, argv};
    QTemporaryDir dir;
    App *app = nullptr;
    QTcpSocket client;
    QByteArray received;

    World()
    {
        QFile settings(dir.filePath(QStringLiteral("settings.json")));
        if (!settings.open(QIODevice::WriteOnly))
            fail("cannot write settings");
        const QString closed = QStringLiteral("http://127.0.0.1:9");
        const QJsonObject values{{QStringLiteral("portal_url"), closed}, {QStringLiteral("downloads_url"), closed}};
        settings.write(QJsonDocument(values).toJson());
        settings.close();
        app = new App({settings.fileName(), dir.filePath(QStringLiteral("session.json"))});
        QString error;
        if (!app->server()->start(0, false, &error))
            fail("cannot listen");
    }
    ~World() { delete app; }

    bool connectClient()
    {
        client.abort();
        received.clear();
        client.connectToHost(QHostAddress::LocalHost, app->server()->port());
        return waitForLines(1); // the snapshot every new client gets
    }

    // Pumps the event loop until `count` answer lines have arrived or the server hung up.
    // The limit is wall time and generous: on a busy machine a niced run can wait seconds
    // for a core, which is no lost answer.
    bool waitForLines(int count)
    {
        QElapsedTimer clock;
        clock.start();
        while (received.count('\n') < count && clock.elapsed() < 30000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            received += client.readAll();
            if (client.state() == QAbstractSocket::UnconnectedState)
                return false;
        }
        return received.count('\n') >= count;
    }
};

World &world()
{
    static World w;
    if (w.client.state() != QAbstractSocket::ConnectedState && !w.connectClient())
        fail("client cannot connect");
    return w;
}

} // namespace

// Request lines from a hosted-server client: the input, cut into lines, must get one
// answer line per non-blank line, each a JSON object that says whether it went through.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    w.received.clear();
    const QByteArray request = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)) + '\n';
    int expected = 0;
    for (const QByteArray &line : request.split('\n'))
        expected += !line.trimmed().isEmpty();
    w.client.write(request);
    if (!w.waitForLines(expected))
        fail("fewer answers than requests");
    const QList<QByteArray> answers = w.received.split('\n');
    for (int i = 0; i < expected; ++i) {
        const QJsonDocument doc = QJsonDocument::fromJson(answers.at(i));
        if (!doc.isObject())
            fail("answer is not a JSON object");
        const QJsonObject answer = doc.object();
        if (!answer.contains(QLatin1String("ok")) && !answer.contains(QLatin1String("fields")))
            fail("answer neither a result nor a snapshot");
    }
    return 0;
}
