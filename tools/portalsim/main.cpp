// corvane-portal-sim: a stand-in for the Corvane cloud portal on 127.0.0.1.
#include "PortalSim.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace corvane::sim;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-portal-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stands in for the Corvane cloud portal on 127.0.0.1 over plain HTTP: cookie sign-in (with and\n"
        "without an authenticator code), device lists, live device state from a simulated game,\n"
        "graphics outputs, commands and configuration (queued for offline devices), claiming and\n"
        "pairing data. Prints its URL on the first line; set \"portal_url\" in settings.json to it.\n"
        "\n"
        "Tests steer it over HTTP as well:\n"
        "  POST /_sim/behaviour {\"status\", \"code\", \"detail\", \"path\", \"delay_ms\", \"silent\", \"times\"}\n"
        "  POST /_sim/reset            forget the behaviour and the request log\n"
        "  GET  /_sim/requests         every portal request received, with headers and body\n"
        "  POST /_sim/expire-sessions  forget every sign-in (the next call answers 401)"));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("TCP port (0 picks a free one)."),
                                  QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption failStatus(QStringLiteral("fail-status"),
                                        QStringLiteral("Answer every request with this HTTP status (401, 402, 429, 502, 504, ...)."),
                                        QStringLiteral("status"));
    const QCommandLineOption failCode(QStringLiteral("fail-code"),
                                      QStringLiteral("Error code to put in the forced answers' detail."), QStringLiteral("code"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"), QStringLiteral("Answer every request this much later."),
                                   QStringLiteral("ms"));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Accept requests but never answer them."));
    const QCommandLineOption totp(QStringLiteral("totp-code"),
                                  QStringLiteral("The authenticator code that totp@example.com must enter."),
                                  QStringLiteral("code"), QStringLiteral("424242"));
    const QCommandLineOption session(QStringLiteral("session"),
                                     QStringLiteral("Pre-create a sign-in: the cookie corvane_session=<value> acts as <email>."),
                                     QStringLiteral("email=value"));
    const QCommandLineOption liveStamp(QStringLiteral("live-stamp"),
                                       QStringLiteral("Add sim_sent_us, the monotonic clock in microseconds when the state took its value, to device states (for latency benchmarks)."));
    parser.addOptions({port, failStatus, failCode, delay, silent, totp, session, liveStamp});
    parser.process(app);

    PortalSim sim;
    sim.setTotpCode(parser.value(totp));
    sim.setLiveStamp(parser.isSet(liveStamp));
    Behaviour behaviour;
    behaviour.status = parser.value(failStatus).toInt();
    behaviour.code = parser.value(failCode);
    behaviour.delayMs = parser.value(delay).toInt();
    behaviour.silent = parser.isSet(silent);
    sim.setBehaviour(behaviour);
    for (const QString &entry : parser.values(session)) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        if (equals <= 0 || !sim.addSession(entry.left(equals), entry.mid(equals + 1).toUtf8())) {
            std::fprintf(stderr, "corvane-portal-sim: bad --session %s (expected a known email=value)\n", qPrintable(entry));
            return 1;
        }
    }

    if (!sim.listen(static_cast<quint16>(parser.value(port).toUInt()))) {
        std::fprintf(stderr, "corvane-portal-sim: cannot listen: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    std::printf("%s\n", qPrintable(sim.url()));
    for (const QString &line : sim.accountLines())
        std::printf("account %s\n", qPrintable(line));
    std::fflush(stdout);
    return app.exec();
}
