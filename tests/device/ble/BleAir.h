#pragma once

#include "support/DevSimProcess.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

// corvane-devsim's Bluetooth side, with this process pointing the helpers it starts at it,
// and a folder for helper wrapper scripts.
struct BleAir {
    explicit BleAir(QStringList extra = {})
        : sim(QStringList{QStringLiteral("--ble-port"), QStringLiteral("0"), QStringLiteral("--live-ms"), QStringLiteral("0"),
                          QStringLiteral("--feed-port"), QStringLiteral("0")}
              + extra)
    {
        qputenv("CORVANE_BLE_SIM", sim.waitFor(QStringLiteral("BLE ")).mid(4).toLatin1());
    }
    ~BleAir() { qunsetenv("CORVANE_BLE_SIM"); }

    // An executable shell script in the temporary folder; `body` follows the shebang.
    QString script(const QString &name, const QString &body)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write("#!/bin/bash\n" + body.toUtf8() + '\n');
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    // The real helper behind a script that logs each launch's arguments and the token it
    // was handed in its environment, as "ARGS... token=TOKEN".
    QString loggingHelper() { return script(QStringLiteral("logging-helper"), logLaunch() + execHelper()); }
    // The real helper, started only once the test calls release(): connections made before
    // it reach the bridge first.
    QString gatedHelper()
    {
        return script(QStringLiteral("gated-helper"),
                      logLaunch() + QStringLiteral("while [ ! -e '%1' ]; do sleep 0.02; done\n").arg(dir.filePath(QStringLiteral("go")))
                          + execHelper());
    }
    // The real helper after one line of 5000 bytes on standard error.
    QString noisyHelper()
    {
        return script(QStringLiteral("noisy-helper"),
                      logLaunch() + QStringLiteral("head -c 5000 /dev/zero | tr '\\0' x >&2; echo >&2\n") + execHelper());
    }
    // A helper that never connects.
    QString silentHelper() { return script(QStringLiteral("silent-helper"), logLaunch() + QStringLiteral("exec sleep 600")); }
    void release()
    {
        QFile go(dir.filePath(QStringLiteral("go")));
        if (!go.open(QIODevice::WriteOnly))
            qFatal("cannot write the release file");
    }
    QString logLaunch() const { return QStringLiteral("echo \"$@\" \"token=$CORVANE_BLE_TOKEN\" >> '%1'\n").arg(launchLog()); }
    static QString execHelper() { return QStringLiteral("exec '%1' \"$@\"").arg(QStringLiteral(CORVANE_BLE_HELPER)); }
    QString launchLog() const { return dir.filePath(QStringLiteral("launches")); }
    QStringList launches() const
    {
        QFile file(launchLog());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Waits for `done` in a running event loop, so that chains of socket round trips do not
    // pay QTest::qWaitFor's sleep on every step.
    static bool spin(const std::function<bool()> &done, int timeoutMs = 20000)
    {
        QEventLoop loop;
        QTimer poll;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done() || clock.elapsed() > timeoutMs)
                loop.quit();
        });
        poll.start(2);
        if (!done())
            loop.exec();
        return done();
    }

    QTemporaryDir dir;
    DevSimProcess sim;
};
