#pragma once

#include "device/DeviceSession.h"
#include "device/rpc/RpcClient.h"
#include "device/usb/UsbLink.h"
#include "support/DevSimProcess.h"

#include <QJsonDocument>
#include <QList>
#include <QPair>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <tuple>
#include <type_traits>

// Every call of one callback, with its arguments, so that a test can insist on exactly one.
template <typename... Args>
struct Calls {
    QList<std::tuple<std::decay_t<Args>...>> log;

    std::function<void(Args...)> make()
    {
        return [this](Args... args) { log.append(std::make_tuple(std::decay_t<Args>(args)...)); };
    }
    bool wait(int timeoutMs = 15000)
    {
        return QTest::qWaitFor([this] { return !log.isEmpty(); }, timeoutMs);
    }
    // The arguments of the only call; fails the test when there were none or more.
    std::tuple<std::decay_t<Args>...> only() const
    {
        if (log.size() != 1)
            qFatal("expected exactly one callback, got %d", int(log.size()));
        return log.first();
    }
};

// A DeviceSession on corvane-devsim over a real pty, with every state change recorded. The
// simulator keeps a stable link to its pty (as a re-enumerated USB device keeps its name),
// so that the session's link can be opened again after a restart.
struct SessionFixture {
    using State = corvane::DeviceSession::State;

    using LinkFactory = std::function<corvane::DeviceLink *(const QString &port)>;

    explicit SessionFixture(QStringList simArguments, corvane::DeviceSession::Timing timing = {},
                            const LinkFactory &makeLink = {})
        : sim(withLink(simArguments, dir))
        , session(makeLink ? makeLink(sim.ptyPath()) : new corvane::UsbLink(sim.ptyPath()))
    {
        session.setTimingForTests(timing);
        QObject::connect(&session, &corvane::DeviceSession::stateChanged, &session,
                         [this](State state, const QString &detail) { states.append({state, detail}); });
    }

    static QStringList withLink(QStringList arguments, QTemporaryDir &dir)
    {
        return arguments << QStringLiteral("--live-ms") << QStringLiteral("0") << QStringLiteral("--pty-link")
                         << dir.filePath(QStringLiteral("ttyCORVANE0"));
    }

    bool waitState(State state, int timeoutMs = 15000)
    {
        return QTest::qWaitFor([&] { return session.state() == state; }, timeoutMs);
    }
    QList<State> stateSequence() const
    {
        QList<State> out;
        for (const auto &entry : states)
            out << entry.first;
        return out;
    }
    // After a restart: waits for the simulator's pty to come back and opens the link on it.
    bool reopenAfterRestart()
    {
        if (sim.waitFor(QStringLiteral("DOWN"), 10000).isEmpty() || sim.waitFor(QStringLiteral("PTY "), 10000).isEmpty())
            return false;
        session.link()->open();
        return true;
    }
    // The params of each request for `method` the simulator received, oldest first.
    QList<QJsonObject> paramsOf(const QString &method)
    {
        QList<QJsonObject> out;
        const QString prefix = QStringLiteral("PARAMS %1 ").arg(method);
        for (const QString &line : sim.take(prefix))
            out << QJsonDocument::fromJson(line.mid(prefix.size()).toUtf8()).object();
        return out;
    }
    int requestsOf(const QString &method)
    {
        return paramsOf(method).size();
    }

    QTemporaryDir dir;
    DevSimProcess sim;
    corvane::DeviceSession session;
    QList<QPair<State, QString>> states;
};
