#pragma once

#include "support/SessionFixture.h"

#include "ui/PanelBase.h"
#include "ui/Prompter.h"

#include <QJsonDocument>
#include <QLabel>

#include <optional>

// A signed-in device for a panel: corvane-devsim over a pty, a real UsbLink, RpcClient and
// DeviceSession, and the password already changed so that every admin method answers.
struct PanelDevice : SessionFixture {
    explicit PanelDevice(const QStringList &extra = {}, corvane::DeviceSession::Timing timing = {})
        : SessionFixture(QStringList{QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--scan-ms"),
                                     QStringLiteral("30"), QStringLiteral("--restart-ms"), QStringLiteral("300"),
                                     QStringLiteral("--feed-port"), QStringLiteral("0")}
                             + extra,
                         timing)
    {
        session.start();
        ready = waitState(State::Ready);
    }

    // The params of the only request for `method` so far, as compact JSON ("" when none).
    QString onlyParams(const QString &method)
    {
        const QList<QJsonObject> all = paramsOf(method);
        if (all.size() != 1)
            return QStringLiteral("%1 requests").arg(all.size());
        return QString::fromUtf8(QJsonDocument(all.first()).toJson(QJsonDocument::Compact));
    }
    // Every method the device was asked for since the last call, in order.
    QStringList methodsAsked()
    {
        QStringList methods;
        for (const QString &line : sim.take(QStringLiteral("RPC ")))
            methods << line.section(QLatin1Char(' '), 2, 2);
        return methods;
    }
    // Waits until the device has answered everything the session asked so far.
    bool settle(int timeoutMs = 15000)
    {
        return QTest::qWaitFor([this] { return session.rpc()->pendingCount() == 0; }, timeoutMs);
    }

    bool ready = false;
};

// Answers the panels' questions instead of the operator, and remembers what was asked.
struct Prompts {
    Prompts()
    {
        corvane::Prompter::setHandlersForTesting(
            [this](QWidget *, const corvane::Prompter::Question &question) {
                asked << question;
                return confirmAnswer;
            },
            [this](QWidget *, const corvane::Prompter::Question &question) {
                asked << question;
                return typedAnswer;
            });
    }
    ~Prompts() { corvane::Prompter::setHandlersForTesting({}, {}); }
    Prompts(const Prompts &) = delete;
    Prompts &operator=(const Prompts &) = delete;

    // "title | text" of each question, oldest first.
    QStringList questions() const
    {
        QStringList out;
        for (const auto &question : asked)
            out << question.title + QStringLiteral(" | ") + question.text;
        return out;
    }

    QList<corvane::Prompter::Question> asked;
    bool confirmAnswer = true;
    std::optional<QString> typedAnswer;
};

inline bool isRed(const QLabel *label)
{
    return label->styleSheet() == corvane::PanelBase::errorStyle();
}
