// Download, hash and install of a plugin update of about 20 MB from corvane-update-sim on
// 127.0.0.1 into a plugin folder in a temporary directory: time per install and the peak
// resident memory of this process during it, which shows that the package is streamed and
// never held whole. Prints figures; never fails on them.

#include "update/PluginUpdater.h"

#include "Figures.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <vector>

using namespace corvane;
using bench::Figures;
using bench::summarize;

namespace {

// Resident-memory high-water mark of this process in KiB (VmHWM), from /proc.
long peakRssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Starts a new high-water mark from the current resident size.
void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

bool settle(const PluginUpdater &updater)
{
    QEventLoop loop;
    QObject::connect(&updater, &PluginUpdater::stateChanged, &loop, [&] {
        if (!updater.isBusy())
            loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    if (updater.isBusy())
        loop.exec();
    return !updater.isBusy();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Installs to time."), QStringLiteral("n"),
                                  QStringLiteral("5"));
    const QCommandLineOption megabytes(QStringLiteral("package-mb"), QStringLiteral("Package size in MB."),
                                       QStringLiteral("n"), QStringLiteral("20"));
    parser.addOptions({runs, megabytes});
    parser.process(app);

    const QString plugin = QStringLiteral(CORVANE_MODULE_PATH);
    const qint64 target = parser.value(megabytes).toLongLong() * 1000 * 1000;
    const qint64 filler = qMax<qint64>(0, target - QFileInfo(plugin).size());
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(QStringLiteral(CORVANE_UPDATE_SIM),
              {QStringLiteral("--plugin"), plugin, QStringLiteral("--filler-bytes"), QString::number(filler)});
    if (!sim.waitForReadyRead(30000)) {
        std::printf("update-install: the update simulator did not start\n");
        return 1;
    }
    const QString url = QString::fromUtf8(sim.readLine()).trimmed();

    std::vector<double> times;
    std::vector<double> growth;
    long baseline = 0;
    qint64 packageBytes = 0;
    for (int i = 0; i < parser.value(runs).toInt(); ++i) {
        QTemporaryDir temp;
        const QString root = temp.filePath(QStringLiteral("plugins/corvane-obs"));
        QDir().mkpath(root + QStringLiteral("/bin/64bit"));
        QDir().mkpath(temp.filePath(QStringLiteral("config")));
        QFile old(root + QStringLiteral("/bin/64bit/corvane-obs.so"));
        if (!old.open(QIODevice::WriteOnly) || old.write("old library") < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(old.fileName()));
            return 1;
        }
        old.close();

        UpdaterConfig config;
        config.manifestUrl = url + QStringLiteral("/downloads/obs/latest.json");
        config.currentVersion = QStringLiteral("1.0.1");
        config.platform = QStringLiteral("linux-x64");
        config.installRoot = root;
        config.workDir = temp.filePath(QStringLiteral("config/update"));
        PluginUpdater updater;
        updater.setConfig(config);
        updater.check(true);
        if (!settle(updater) || updater.state() != PluginUpdater::Available) {
            std::printf("update-install: check failed: %s\n", qPrintable(updater.message()));
            return 1;
        }

        resetPeakRss();
        const long before = peakRssKiB();
        QElapsedTimer clock;
        clock.start();
        updater.install();
        if (!settle(updater) || updater.state() != PluginUpdater::Installed) {
            std::printf("update-install: install failed: %s\n", qPrintable(updater.message()));
            return 1;
        }
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        growth.push_back(double(peakRssKiB() - before) / 1024.0);
        baseline = before;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        packageBytes = 0;
        while (it.hasNext())
            packageBytes += QFileInfo(it.next()).size();
    }
    sim.kill();
    sim.waitForFinished(5000);

    const Figures t = summarize(times);
    const Figures g = summarize(growth);
    std::printf("update install of %.1f MB of plugin files, n=%zu\n", double(packageBytes) / 1e6, times.size());
    std::printf("  time (download, hash, unpack, install)  median %8.1f ms  min %8.1f ms  max %8.1f ms\n", t.median,
                t.min, t.max);
    std::printf("  resident memory before the install      %8.1f MiB\n", double(baseline) / 1024.0);
    std::printf("  peak growth during the install          median %8.1f MiB  max %8.1f MiB\n", g.median, g.max);
    return 0;
}
