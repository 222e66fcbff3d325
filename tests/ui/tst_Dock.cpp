// The dock over a real App and the portal simulator, driven the way an operator would.
#include "app/App.h"
#include "app/FollowedDevices.h"
#include "live/HostedServer.h"
#include "live/OverlayServer.h"
#include "live/SourceManager.h"
#include "support/DevSimProcess.h"
#include "support/PortalSimProcess.h"
#include "support/TestNetwork.h"
#include "support/TestSettings.h"
#include "support/WidgetLookup.h"
#include "ui/Dock.h"
#include "ui/DockHost.h"
#include "ui/DockText.h"
#include "ui/FollowDialog.h"
#include "ui/FollowedRow.h"
#include "ui/ServerGroup.h"
#include "ui/SetupDialog.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QGroupBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace corvane;
using corvane::test::byText;
using corvane::test::byPlaceholder;
using corvane::test::groupTitled;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

// The rows the "Followed devices" group shows now (a removed one may wait to be deleted).
QList<FollowedRow *> shownRows(QWidget *root)
{
    QList<FollowedRow *> rows;
    for (FollowedRow *row : root->findChildren<FollowedRow *>()) {
        if (!row->isHidden())
            rows << row;
    }
    return rows;
}

FollowedRow *rowOf(QWidget *root, const QString &deviceId)
{
    for (FollowedRow *row : shownRows(root)) {
        if (row->deviceId() == deviceId)
            return row;
    }
    return nullptr;
}

// A row's texts, top to bottom: title, status, score.
QStringList rowTexts(FollowedRow *row)
{
    QStringList texts;
    for (const QLabel *label : row->findChildren<QLabel *>())
        texts << label->text();
    return texts;
}

bool visibleLabel(QWidget *root, const QString &text)
{
    const QLabel *label = byText<QLabel>(root, text);
    return label && label->isVisible();
}

QComboBox *comboNamed(QWidget *root, const QString &name)
{
    for (QComboBox *box : root->findChildren<QComboBox *>()) {
        if (box->accessibleName() == name)
            return box;
    }
    return nullptr;
}

const QString kSignInHint = QStringLiteral("Sign in to your Corvane account in the dock to choose one of its devices.");

const QString kFollowedHint = QStringLiteral(
    "Follow other devices to show several games at once: choose one in a score text's or \"show when\" filter's properties.");

} // namespace

class TestDock : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_sim;
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString m_settingsPath;

    std::unique_ptr<App> makeApp(const QJsonObject &extra = {})
    {
        QJsonObject settings = extra;
        settings.insert(key("portal_url"), m_sim.url());
        const QString folder = m_dir.filePath(QString::number(++m_serial));
        QDir().mkpath(folder);
        m_settingsPath = folder + QStringLiteral("/settings.json");
        if (!corvane::test::writeTestSettings(m_settingsPath, settings))
            return nullptr;
        return std::make_unique<App>(AppEnvironment{m_settingsPath, folder + QStringLiteral("/session.json")});
    }

    // The routes the last App's settings file holds now.
    QJsonObject storedRoutes() const
    {
        QFile file(m_settingsPath);
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object().value(key("routes")).toObject()
                                              : QJsonObject();
    }

    // Types into the account box and presses "Sign in"; waits for the button to come back.
    static void signIn(Dock &dock, const QString &email, const QString &password)
    {
        byPlaceholder(&dock, QStringLiteral("Email"))->setText(email);
        byPlaceholder(&dock, QStringLiteral("Password"))->setText(password);
        QPushButton *button = byText<QPushButton>(&dock, QStringLiteral("Sign in"));
        button->click();
        QVERIFY(!button->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10000);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(!m_sim.start().isEmpty()); }
    void init() { QVERIFY(m_sim.reset()); }

    void hostIsFilledOnceBeforeItIsFirstMeasuredOrShown_data()
    {
        QTest::addColumn<bool>("shownFirst");
        QTest::newRow("measured first") << false;
        QTest::newRow("shown first, floating as OBS adds it") << true;
    }

    void hostIsFilledOnceBeforeItIsFirstMeasuredOrShown()
    {
        QFETCH(bool, shownFirst);
        auto app = makeApp();
        QVERIFY(app);
        int asked = 0;
        DockHost *host = nullptr;
        QDockWidget frame;
        host = new DockHost([&] {
            ++asked;
            host->setContent(new Dock(app.get()));
        });
        frame.setWidget(host);
        frame.setFloating(true);
        QCOMPARE(asked, 0);
        if (shownFirst)
            frame.show();
        else
            (void)host->sizeHint();
        QCOMPARE(asked, 1);
        QVERIFY(host->content());
        QVERIFY(byText<QPushButton>(host, QStringLiteral("Sign in")));
        // Measured with its content: the floating frame OBS sizes on its first show is as
        // large as with the content made at once.
        QDockWidget reference;
        reference.setWidget(new Dock(app.get()));
        reference.setFloating(true);
        reference.show();
        frame.show();
        QCOMPARE(frame.size(), reference.size());
        QCOMPARE(asked, 1);
    }

    void signInFillsThePickerAndSignOutEmptiesIt()
    {
        auto app = makeApp();
        QVERIFY(app);
        Dock dock(app.get());
        dock.show();
        auto *picker = dock.findChild<QComboBox *>();
        auto *manage = byText<QPushButton>(&dock, QStringLiteral("Manage the selected device through my account…"));
        QVERIFY(groupTitled(&dock, QStringLiteral("Corvane account (optional)"))->isVisible());
        QVERIFY(!picker->isVisible());
        QVERIFY(!manage->isVisible());
        // No USB device shares this computer's internet: no relay line, not even for a moment.
        QVERIFY(!groupTitled(&dock, QStringLiteral("Devices"))->findChild<QLabel *>()->isVisible());
        QVERIFY(!byText<QPushButton>(&dock, QStringLiteral("Stop sharing this computer's internet with USB devices"))->isVisible());

        signIn(dock, QStringLiteral("operator@example.com"), QStringLiteral("wrong"));
        QLabel *message = nullptr;
        for (QLabel *label : dock.findChildren<QLabel *>())
            if (label->styleSheet() == QLatin1String("color: #d9534f;"))
                message = label;
        QVERIFY(message && !message->text().isEmpty());

        signIn(dock, QStringLiteral("operator@example.com"), QStringLiteral("correct horse battery"));
        QTRY_VERIFY_WITH_TIMEOUT(picker->count() == 5, 10000);
        QVERIFY(!groupTitled(&dock, QStringLiteral("Corvane account (optional)"))->isVisible());
        QVERIFY(byText<QLabel>(&dock, QStringLiteral("Signed in as <b>operator@example.com</b>")));
        QVERIFY(picker->isVisible());
        QCOMPARE(picker->itemText(0), QStringLiteral("Main gym (CV-1001)"));
        QCOMPARE(picker->itemText(1), QStringLiteral("CV-1002"));
        QVERIFY(manage->isVisible() && manage->isEnabled());
        QVERIFY(byPlaceholder(&dock, QStringLiteral("Password"))->text().isEmpty());

        // Picking a device routes it through the cloud and the status line follows.
        picker->setCurrentIndex(2);
        Q_EMIT picker->activated(2);
        QCOMPARE(app->settings().selectedDevice(), QStringLiteral("CV-1003"));
        QTRY_VERIFY_WITH_TIMEOUT(byText<QLabel>(&dock, QStringLiteral("<span style=\"color:#d9a441\">\u25cf</span> "
                                                                      "CV-1003 has not sent any scoreboard data yet.")),
                                 10000);

        byText<QPushButton>(&dock, QStringLiteral("Sign out"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(groupTitled(&dock, QStringLiteral("Corvane account (optional)"))->isVisible(), 10000);
        QVERIFY(!picker->isVisible());
    }

    void authenticatorCodeIsAskedAndSent()
    {
        auto app = makeApp();
        QVERIFY(app);
        Dock dock(app.get());
        dock.show();
        signIn(dock, QStringLiteral("totp@example.com"), QStringLiteral("correct horse battery"));
        QLineEdit *code = byPlaceholder(&dock, QStringLiteral("6-digit code from your authenticator app"));
        QVERIFY(code->isVisible());
        QVERIFY(byText<QLabel>(&dock, QStringLiteral("Enter the code from your authenticator app.")));
        QCOMPARE(byPlaceholder(&dock, QStringLiteral("Password"))->text(), QStringLiteral("correct horse battery"));

        const int before = int(m_sim.requests().size());
        code->setText(QStringLiteral(" 424242 "));
        Q_EMIT code->returnPressed();
        QTRY_VERIFY_WITH_TIMEOUT(app->portal().isSignedIn(), 10000);
        QCOMPARE(m_sim.requests().at(before).toObject().value(key("target")).toString(), QStringLiteral("/auth/login/totp"));
        QVERIFY(!code->isVisible());
        // This account has no devices.
        QTRY_COMPARE_WITH_TIMEOUT(dock.findChild<QComboBox *>()->itemText(0), QStringLiteral("No devices on this account yet"), 10000);
        QVERIFY(!byText<QPushButton>(&dock, QStringLiteral("Manage the selected device through my account…"))->isEnabled());
    }

    void localNetworkChoiceIsStoredOnlyByTheOperator()
    {
        const QJsonObject lanRoute{{key("host"), QStringLiteral("127.0.0.1")}, {key("token"), QStringLiteral("t0k")}};
        auto app = makeApp({{key("selected_device"), QStringLiteral("CV-1001")},
                            {key("lan"), QJsonObject{{QStringLiteral("CV-1001"), lanRoute}, {QStringLiteral("CV-1002"), lanRoute}}},
                            {key("routes"), QJsonObject{{QStringLiteral("CV-1001"), QStringLiteral("lan")}}}});
        QVERIFY(app);
        Dock dock(app.get());
        dock.show();
        signIn(dock, QStringLiteral("operator@example.com"), QStringLiteral("correct horse battery"));
        auto *picker = dock.findChild<QComboBox *>();
        QTRY_VERIFY_WITH_TIMEOUT(picker->count() == 5, 10000);
        auto *lan = byText<QCheckBox>(&dock, QStringLiteral("Use my local network (works without internet)"));
        QCOMPARE(picker->currentData().toString(), QStringLiteral("CV-1001"));
        QVERIFY(lan->isVisible());
        QVERIFY(lan->isChecked());

        // Another device with a local route: the box is filled for it, and nothing is written.
        picker->setCurrentIndex(1);
        Q_EMIT picker->activated(1);
        QVERIFY(lan->isVisible());
        QVERIFY(!lan->isChecked());
        QCOMPARE(storedRoutes(), (QJsonObject{{QStringLiteral("CV-1001"), QStringLiteral("lan")}}));

        picker->setCurrentIndex(0);
        Q_EMIT picker->activated(0);
        QVERIFY(lan->isChecked());
        lan->click();
        QCOMPARE(app->settings().routeFor(QStringLiteral("CV-1001")), QStringLiteral("cloud"));
        QCOMPARE(storedRoutes(), (QJsonObject{{QStringLiteral("CV-1001"), QStringLiteral("cloud")}}));

        // A device without a stored host and token has no such choice.
        picker->setCurrentIndex(2);
        Q_EMIT picker->activated(2);
        QVERIFY(!lan->isVisible());
    }

    void serverControlsWriteTheSettings()
    {
        auto app = makeApp();
        QVERIFY(app);
        Dock dock(app.get());
        dock.show();
        auto *enabled = byText<QCheckBox>(&dock, QStringLiteral("Send scores over TCP"));
        QVERIFY(byText<QLabel>(&dock, QStringLiteral("Off.")));
        QCOMPARE(dock.findChild<ServerGroup *>()->findChild<QSpinBox *>()->value(), 9001);

        const quint16 port = corvane::test::unusedLocalPort();
        dock.findChild<ServerGroup *>()->findChild<QSpinBox *>()->setValue(port);
        enabled->click();
        QVERIFY(app->settings().serverEnabled());
        QCOMPARE(app->settings().serverPort(), int(port));
        QVERIFY(app->server()->isListening());
        QVERIFY(byText<QLabel>(&dock, QStringLiteral("Connect to 127.0.0.1:%1 and read one JSON line per update. 0 connected.").arg(port)));

        enabled->click();
        QVERIFY(!app->server()->isListening());
        QVERIFY(byText<QLabel>(&dock, QStringLiteral("Off.")));

        // A port another program holds: the dock says so and the server stays stopped.
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::LocalHost, 0));
        dock.findChild<ServerGroup *>()->findChild<QSpinBox *>()->setValue(squatter.serverPort());
        enabled->click();
        QVERIFY(!app->server()->isListening());
        QVERIFY(byText<QLabel>(&dock, QStringLiteral("Could not start - port %1 may be in use. Try another port.").arg(squatter.serverPort())));
    }

    // The overlay switch and port reach the settings and the server; each overlay's address
    // is listed with a copy button; without a browser source type (no OBS here) the add
    // button is not offered and the group says why.
    void overlayControlsServeAndListTheOverlays()
    {
        auto app = makeApp();
        QVERIFY(app);
        Dock dock(app.get());
        dock.show();
        QGroupBox *box = groupTitled(&dock, QStringLiteral("Overlays"));
        QVERIFY(box);
        auto *enabled = byText<QCheckBox>(box, QStringLiteral("Serve overlay pages to browser sources"));
        QVERIFY(enabled);
        QVERIFY(byText<QLabel>(box, QStringLiteral("Not serving overlays.")));
        auto *port = box->findChild<QSpinBox *>();
        QCOMPARE(port->value(), 9002);
        // The listed addresses: read-only fields (the port's spin box has an editable one).
        const auto addresses = [box] {
            QStringList texts;
            for (const QLineEdit *field : box->findChildren<QLineEdit *>()) {
                if (field->isReadOnly())
                    texts << field->text();
            }
            return texts;
        };
        QVERIFY(addresses().isEmpty());

        const quint16 chosen = corvane::test::unusedLocalPort();
        port->setValue(chosen);
        enabled->click();
        QVERIFY(app->settings().overlayServerEnabled());
        QCOMPARE(app->settings().overlayServerPort(), int(chosen));
        QVERIFY(app->overlayServer()->isListening());
        const QString base = QStringLiteral("http://127.0.0.1:%1/overlays/").arg(chosen);
        QCOMPARE(addresses(), (QStringList{base + QStringLiteral("lower-third/"), base + QStringLiteral("scoreboard/"), base + QStringLiteral("scorebug/")}));
        const QList<QPushButton *> copies = [&] {
            QList<QPushButton *> found;
            for (QPushButton *button : box->findChildren<QPushButton *>())
                if (button->text() == QStringLiteral("Copy"))
                    found << button;
            return found;
        }();
        QCOMPARE(copies.size(), 3);
        copies.at(1)->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), base + QStringLiteral("scoreboard/"));

        QVERIFY(!byText<QPushButton>(box, QStringLiteral("Add overlay to this scene"))->isVisibleTo(&dock));
        QVERIFY(byText<QLabel>(box, QStringLiteral("This OBS has no browser source, so overlays cannot be added to a scene here. Open an "
                                                   "overlay's address in a browser, or use an OBS build that includes the browser source."))
                    ->isVisibleTo(&dock));

        enabled->click();
        QVERIFY(!app->overlayServer()->isListening());
        QVERIFY(!app->settings().overlayServerEnabled());
        QVERIFY(addresses().isEmpty());
    }

    // However often it is pressed, the setup button leaves one wizard; a closed one goes away
    // and the next press makes a new one.
    void heldScoresAreShownUntilResumed()
    {
        auto app = makeApp();
        QVERIFY(app);
        Dock dock(app.get());
        dock.show();
        const QString heldText = QStringLiteral(
            "Scores held: score texts, \"show when\" filters and chapters keep what they showed until you resume.");
        auto *hold = byText<QPushButton>(&dock, QStringLiteral("Hold live scores"));
        QVERIFY(hold);
        QVERIFY(!byText<QLabel>(&dock, heldText));
        hold->click();
        QVERIFY(app->shown().isHeld());
        QVERIFY(byText<QLabel>(&dock, heldText) && byText<QLabel>(&dock, heldText)->isVisible());
        QCOMPARE(hold->text(), QStringLiteral("Resume live scores"));
        // A resume from elsewhere (the hotkey) shows in the dock too.
        app->shown().resume();
        QVERIFY(!byText<QLabel>(&dock, heldText));
        QCOMPARE(hold->text(), QStringLiteral("Hold live scores"));
    }

    void chapterOptionsWriteTheSettings()
    {
        auto app = makeApp();
        QVERIFY(app);
        Dock dock(app.get());
        QGroupBox *box = groupTitled(&dock, QStringLiteral("Recordings"));
        QVERIFY(box);
        auto *enabled = box->findChild<QCheckBox *>();
        QVERIFY(enabled->isChecked());
        enabled->click();
        QVERIFY(!app->settings().chaptersEnabled());
        auto *changes = box->findChild<QComboBox *>();
        changes->setCurrentIndex(changes->findData(QStringLiteral("period")));
        Q_EMIT changes->activated(changes->currentIndex());
        QCOMPARE(app->settings().chapterChanges(), QStringLiteral("period"));
        auto *templateEdit = box->findChild<QLineEdit *>();
        templateEdit->setText(QStringLiteral("{home_score}:{away_score}"));
        Q_EMIT templateEdit->editingFinished();
        QCOMPARE(app->settings().chapterTemplate(), QStringLiteral("{home_score}:{away_score}"));

        // The device chapters follow: the main one, each followed one, and the chosen one
        // still listed, and still chosen, once it is no longer followed.
        QVERIFY(app->followDevice({QStringLiteral("CV-7"), FollowedRoute::Cloud, QStringLiteral("Court 2")}));
        QComboBox *device = nullptr;
        for (QComboBox *combo : box->findChildren<QComboBox *>())
            device = combo->accessibleName() == QLatin1String("Chapters follow") ? combo : device;
        QVERIFY(device);
        const auto items = [device] {
            QStringList list;
            for (int i = 0; i < device->count(); ++i)
                list << device->itemText(i);
            return list;
        };
        QCOMPARE(items(), (QStringList{App::mainDeviceLabel(), "Court 2"}));
        QCOMPARE(device->currentIndex(), 0);
        device->setCurrentIndex(1);
        Q_EMIT device->activated(1);
        QCOMPARE(app->settings().chapterDevice(), QStringLiteral("CV-7"));
        QVERIFY(app->followed()->unfollow(QStringLiteral("CV-7")));
        QCOMPARE(items(), (QStringList{App::mainDeviceLabel(), "CV-7 (not followed)"}));
        QCOMPARE(device->currentIndex(), 1);
        QCOMPARE(app->settings().chapterDevice(), QStringLiteral("CV-7"));
        // Followed again and made main: chapters follow it there.
        QVERIFY(app->followDevice({QStringLiteral("CV-7"), FollowedRoute::Cloud, QStringLiteral("Court 2")}));
        app->selectDevice(QStringLiteral("CV-7"));
        QCOMPARE(items(), (QStringList{App::mainDeviceLabel(), "CV-7 (the main device now)"}));
        QCOMPARE(device->currentIndex(), 1);
    }

    // The group lists what App follows, row by row; the dialog refuses what cannot be
    // followed and stays open saying why; a row holds its own device and makes it main,
    // the former main device taking its place among the followed.
    void followedDevicesAreFollowedHeldAndMadeMain()
    {
        auto app = makeApp();
        QVERIFY(app);
        Dock dock(app.get());
        dock.show();
        QGroupBox *group = groupTitled(&dock, QStringLiteral("Followed devices"));
        QVERIFY(group);
        QVERIFY(visibleLabel(group, kFollowedHint));

        // Opened signed out, the dialog says to sign in in the dock; done while it stays
        // open, the account's devices appear in it.
        byText<QPushButton>(group, QStringLiteral("Follow another device…"))->click();
        QPointer<FollowDialog> dialog = dock.findChild<FollowDialog *>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QComboBox *accountDevice = comboNamed(dialog, QStringLiteral("Device on my account"));
        QVERIFY(accountDevice && !accountDevice->isVisible());
        QVERIFY(visibleLabel(dialog, kSignInHint));
        signIn(dock, QStringLiteral("operator@example.com"), QStringLiteral("correct horse battery"));
        auto *picker = dock.findChild<QComboBox *>();
        QTRY_VERIFY_WITH_TIMEOUT(picker->count() == 5, 10000);
        app->selectDevice(QStringLiteral("CV-1001"));
        QCOMPARE(accountDevice->count(), 5);
        QVERIFY(accountDevice->isVisible());
        QVERIFY(!visibleLabel(dialog, kSignInHint));
        QPushButton *follow = byText<QPushButton>(dialog, QStringLiteral("Follow"));
        accountDevice->setCurrentIndex(accountDevice->findData(QStringLiteral("CV-1001")));
        follow->click();
        QVERIFY(dialog->isVisible());
        QVERIFY(byText<QLabel>(dialog, QStringLiteral("CV-1001 is the main device (the one the dock picks), so it cannot be "
                                                      "followed beside itself.")));
        QVERIFY(shownRows(&dock).isEmpty());
        accountDevice->setCurrentIndex(accountDevice->findData(QStringLiteral("gym/court 2")));
        // The account's list fetched again meanwhile keeps the choice.
        QSignalSpy listed(app.get(), &App::devicesChanged);
        app->refreshDevices();
        QVERIFY(listed.wait(10000));
        QCOMPARE(accountDevice->currentData().toString(), QStringLiteral("gym/court 2"));
        follow->click();
        QTRY_VERIFY(!dialog);
        QCOMPARE(app->followed()->ids(), QStringList{QStringLiteral("gym/court 2")});
        QVERIFY(!visibleLabel(group, kFollowedHint));

        // Its row fills from its own device's updates.
        FollowedRow *court = rowOf(&dock, QStringLiteral("gym/court 2"));
        QVERIFY(court);
        QCOMPARE(rowTexts(court).first(), QStringLiteral("<b>Court 2</b> \u00b7 cloud"));
        QTRY_VERIFY_WITH_TIMEOUT(!app->liveOf(QStringLiteral("gym/court 2"))->fieldNames().isEmpty(), 10000);
        QCOMPARE(rowTexts(court).last(), dockScoreText(*app->liveOf(QStringLiteral("gym/court 2"))));
        QVERIFY(rowTexts(court).at(1).startsWith(QStringLiteral("<span style=\"color:#3cb371\">")));
        byText<QPushButton>(court, QStringLiteral("Hold"))->click();
        QVERIFY(app->shownOf(QStringLiteral("gym/court 2"))->isHeld());
        QVERIFY(!app->shown().isHeld());
        QVERIFY(byText<QPushButton>(court, QStringLiteral("Resume")));

        // Following from elsewhere adds a row, unfollowing takes it away.
        QVERIFY(app->followDevice({QStringLiteral("CV-1003"), FollowedRoute::Cloud}));
        QCOMPARE(shownRows(&dock).size(), 2);
        QVERIFY(app->followed()->unfollow(QStringLiteral("CV-1003")));
        QCOMPARE(shownRows(&dock).size(), 1);

        // A second follow of the same device is refused in the dialog.
        byText<QPushButton>(group, QStringLiteral("Follow another device…"))->click();
        dialog = dock.findChild<FollowDialog *>();
        QVERIFY(dialog);
        accountDevice = comboNamed(dialog, QStringLiteral("Device on my account"));
        accountDevice->setCurrentIndex(accountDevice->findData(QStringLiteral("gym/court 2")));
        byText<QPushButton>(dialog, QStringLiteral("Follow"))->click();
        QVERIFY(byText<QLabel>(dialog, QStringLiteral("gym/court 2 is followed already.")));
        dialog->reject();

        // Made main, the two trade places: the dock's picker shows the new main device.
        byText<QPushButton>(court, QStringLiteral("Make main"))->click();
        QCOMPARE(app->sourceManager()->device(), QStringLiteral("gym/court 2"));
        QCOMPARE(app->settings().selectedDevice(), QStringLiteral("gym/court 2"));
        QCOMPARE(app->followed()->ids(), QStringList{QStringLiteral("CV-1001")});
        QCOMPARE(picker->currentData().toString(), QStringLiteral("gym/court 2"));
        QCOMPARE(shownRows(&dock).size(), 1);
        FollowedRow *former = rowOf(&dock, QStringLiteral("CV-1001"));
        QVERIFY(former);

        byText<QPushButton>(former, QStringLiteral("Remove"))->click();
        QVERIFY(app->followed()->ids().isEmpty());
        QVERIFY(shownRows(&dock).isEmpty());
        QVERIFY(visibleLabel(group, kFollowedHint));
        QVERIFY(app->settings().followedRoutes().isEmpty());

        // Signed out while it is open, it no longer offers the account's devices.
        QTRY_VERIFY(!dialog);
        byText<QPushButton>(group, QStringLiteral("Follow another device…"))->click();
        dialog = dock.findChild<FollowDialog *>();
        QVERIFY(dialog);
        accountDevice = comboNamed(dialog, QStringLiteral("Device on my account"));
        QVERIFY(accountDevice->isVisible());
        byText<QPushButton>(&dock, QStringLiteral("Sign out"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(visibleLabel(dialog, kSignInHint), 10000);
        QCOMPARE(accountDevice->count(), 0);
        QVERIFY(!accountDevice->isVisible());
        byText<QPushButton>(dialog, QStringLiteral("Follow"))->click();
        QVERIFY(byText<QLabel>(dialog, QStringLiteral("Choose or type the device to follow.")));
        QVERIFY(app->followed()->ids().isEmpty());
        dialog->reject();
    }

    // A USB device sending every 50 ms, removed from its row while it sends: the row goes at
    // once and is deleted after, and the device's data is let go.
    void removeWhileUpdatesArrive()
    {
        DevSimProcess sim({QStringLiteral("--live-ms"), QStringLiteral("50"), QStringLiteral("--device-id"), QStringLiteral("CV-6001")});
        auto app = makeApp();
        QVERIFY(app);
        Dock dock(app.get());
        dock.show();
        FollowedRoute route{QStringLiteral("CV-6001"), FollowedRoute::Usb, QStringLiteral("Court 6")};
        route.usbPort = sim.ptyPath();
        QVERIFY(app->followDevice(route));
        QPointer<FollowedRow> row = rowOf(&dock, QStringLiteral("CV-6001"));
        QVERIFY(row);
        QCOMPARE(rowTexts(row).first(), QStringLiteral("<b>Court 6</b> \u00b7 USB %1").arg(sim.ptyPath()));
        // Its route lives only as long as the wizard's or a relay's: not one for the main device.
        QVERIFY(!byText<QPushButton>(row, QStringLiteral("Make main"))->isEnabled());
        LiveData *live = app->liveOf(QStringLiteral("CV-6001"));
        QSignalSpy changed(live, &LiveData::changed);
        QVERIFY(changed.wait(15000));
        QVERIFY(changed.wait(5000));
        QCOMPARE(rowTexts(row).last(), dockScoreText(*live));

        const std::weak_ptr<DeviceLive> data = app->followed()->dataOf(QStringLiteral("CV-6001"));
        byText<QPushButton>(row, QStringLiteral("Remove"))->click();
        QVERIFY(shownRows(&dock).isEmpty());
        QTRY_VERIFY(!row);
        QTRY_VERIFY(data.expired());
    }

    void setupButtonOpensOneWizard()
    {
        auto app = makeApp();
        QVERIFY(app);
        Dock dock(app.get());
        dock.show();
        QGroupBox *devices = groupTitled(&dock, QStringLiteral("Devices"));
        auto *setUp = qobject_cast<QPushButton *>(devices->layout()->itemAt(0)->widget());
        QVERIFY(setUp);
        QCOMPARE(setUp->text(), QStringLiteral("Set up or manage a device…"));
        setUp->click();
        setUp->click();
        const QList<SetupDialog *> open = dock.findChildren<SetupDialog *>();
        QCOMPARE(open.size(), 1);
        QPointer<SetupDialog> first = open.first();
        QVERIFY(first->isVisible());
        QCOMPARE(first->windowTitle(), QStringLiteral("Set up or manage a Corvane device"));

        first->close();
        QTRY_VERIFY(!first);
        setUp->click();
        QCOMPARE(dock.findChildren<SetupDialog *>().size(), 1);
        QVERIFY(dock.findChild<SetupDialog *>()->isVisible());
    }
};

QTEST_MAIN(TestDock)
#include "tst_Dock.moc"
