// Renders every tab of the device manager to a PNG file, each filled from corvane-devsim
// signed in over its pseudo-terminal, the way an operator would see it after using the tab.
//   corvane-screenshots OUTPUT_DIR

#include "support/DevSimProcess.h"

#include "base/SettingsStore.h"
#include "device/DeviceSession.h"
#include "device/rpc/RpcClient.h"
#include "device/usb/RelayTargets.h"
#include "device/usb/UsbLink.h"
#include "ui/AdvancedPanel.h"
#include "ui/CloudPanel.h"
#include "ui/DeviceManager.h"
#include "ui/SecurityPanel.h"
#include "ui/SettingsPanel.h"
#include "ui/SharePanel.h"
#include "ui/StatusPanel.h"
#include "ui/UpdatesPanel.h"
#include "ui/WifiPanel.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTabBar>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace corvane;

namespace {

constexpr int WaitMs = 20000;

bool settled(DeviceSession &session)
{
    return QTest::qWaitFor([&session] { return session.rpc()->pendingCount() == 0; }, WaitMs);
}

template <typename Panel>
Panel *panelOf(DeviceManager &manager, int tab)
{
    return qobject_cast<Panel *>(manager.widget(tab));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setStyle(QStringLiteral("Fusion"));
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: corvane-screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(args.at(1));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(out.path()));
        return 1;
    }

    // The simulator's cloud stand-in listens on loopback.
    RelayTargets::setLoopbackAllowedForTesting(true);
    QTemporaryDir dir;
    DevSimProcess sim({QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--wifi"), QStringLiteral("Arena-Staff"),
                       QStringLiteral("--paired-receiver"), QStringLiteral("a4:cf:12:9e:40:7b"), QStringLiteral("--sport"),
                       QStringLiteral("basketball"), QStringLiteral("--live-ms"), QStringLiteral("500"), QStringLiteral("--cloud-echo"),
                       QStringLiteral("--ota-size"), QStringLiteral("200000"), QStringLiteral("--scan-ms"), QStringLiteral("200"),
                       QStringLiteral("--nettest-polls"), QStringLiteral("2"), QStringLiteral("--feed-port"), QStringLiteral("0"),
                       QStringLiteral("--pty-link"), dir.filePath(QStringLiteral("ttyCORVANE0"))});
    DeviceSession session(new UsbLink(sim.ptyPath()));
    session.start();
    if (!QTest::qWaitFor([&session] { return session.state() == DeviceSession::Ready; }, WaitMs)) {
        std::fprintf(stderr, "the simulated device did not sign in\n");
        return 1;
    }

    SettingsStore settings;
    DeviceManager manager(&session, nullptr, &settings);
    manager.setWindowTitle(QStringLiteral("Corvane device CVSIM-0001"));
    manager.resize(720, 600);
    manager.show();

    // What the operator does on each tab before looking at it.
    const QList<std::pair<QString, std::function<bool()>>> tabs{
        {QStringLiteral("status"), [&] {
             StatusPanel *panel = panelOf<StatusPanel>(manager, 0);
             panel->testButton()->click();
             return QTest::qWaitFor([panel] { return panel->testButton()->isEnabled(); }, WaitMs)
                 && QTest::qWaitFor([panel] { return panel->liveView()->text().startsWith(QStringLiteral("Sport:")); }, WaitMs);
         }},
        {QStringLiteral("wifi"), [&] {
             WifiPanel *panel = panelOf<WifiPanel>(manager, 1);
             panel->scanButton()->click();
             const bool ok = QTest::qWaitFor([panel] { return panel->scanButton()->isEnabled(); }, WaitMs);
             panel->networkBox()->setCurrentIndex(panel->networkBox()->findData(QStringLiteral("Arena-Staff")));
             return ok;
         }},
        {QStringLiteral("settings"), [] { return true; }},
        {QStringLiteral("security"), [&] {
             panelOf<SecurityPanel>(manager, 3)->passkeyButton()->click();
             return true;
         }},
        {QStringLiteral("updates"), [&] {
             panelOf<UpdatesPanel>(manager, 4)->checkButton()->click();
             return true;
         }},
        {QStringLiteral("cloud"), [&] {
             CloudPanel *panel = panelOf<CloudPanel>(manager, 5);
             QLabel *share = panel->sharePanel()->statusLabel();
             return sim.command(QStringLiteral("tunnel 3000"))
                 && QTest::qWaitFor([share] { return share->text().contains(QStringLiteral("received 2.9 KB")); }, WaitMs);
         }},
        {QStringLiteral("advanced"), [&] {
             panelOf<AdvancedPanel>(manager, 6)->logButton()->click();
             return true;
         }},
    };
    for (int tab = 0; tab < tabs.size(); ++tab) {
        manager.setCurrentIndex(tab);
        if (!settled(session) || !tabs.at(tab).second() || !settled(session)) {
            std::fprintf(stderr, "tab %s did not fill\n", qPrintable(tabs.at(tab).first));
            return 1;
        }
        QTest::qWait(300);
        // Each picture as tall as its tab needs, so that short tabs carry no empty space.
        QWidget *page = manager.currentWidget();
        int contentHeight = page->sizeHint().height();
        if (const auto *scroll = page->findChild<QScrollArea *>())
            contentHeight = qMax(contentHeight, scroll->widget()->sizeHint().height() + 60);
        const int pageHeight = contentHeight + manager.tabBar()->sizeHint().height() + 16;
        manager.resize(720, qBound(360, pageHeight, 900));
        QTest::qWait(100);
        const QString path = out.filePath(QStringLiteral("%1-%2.png").arg(tab + 1).arg(tabs.at(tab).first));
        if (!manager.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
