// The setup wizard over a real App, corvane-devsim (pty, web API and Bluetooth through the real
// helper) and the portal simulator, driven as an operator would.
#include "app/App.h"
#include "app/FollowedDevices.h"
#include "device/ble/BleBridge.h"
#include "device/lan/TlsFeed.h"
#include "device/usb/RelayTargets.h"
#include "live/SourceManager.h"
#include "support/DevSimProcess.h"
#include "support/PortalSimProcess.h"
#include "support/TestSettings.h"
#include "support/WidgetLookup.h"
#include "ui/Prompter.h"
#include "ui/SecurityPanel.h"
#include "ui/SetupDialog.h"
#include "ui/SharePanel.h"

#include <QDir>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace corvane;
using corvane::test::byText;
using corvane::test::byPlaceholder;
using corvane::test::PortalSimProcess;

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

// The group whose explanation reads `text`.
QGroupBox *groupSaying(QWidget *root, const QString &text)
{
    for (QGroupBox *box : root->findChildren<QGroupBox *>()) {
        if (byText<QLabel>(box, text))
            return box;
    }
    return nullptr;
}

bool visibleLabel(QWidget *root, const QString &text)
{
    QLabel *label = byText<QLabel>(root, text);
    return label && label->isVisible();
}

const QString kRed = QStringLiteral("color: #d9534f;");
const QString kPasswordGroup = QStringLiteral("Enter this device's admin password. The factory password did not work.");
const QString kNewPasswordGroup =
    QStringLiteral("This device still has its factory password. Choose a new admin password (at least 8 characters).");

// One device on a pty, an App on the portal simulator, and the wizard listing that pty as the
// only (Corvane) port.
struct Wizard {
    Wizard(PortalSimProcess &portal, QStringList simArguments, const QJsonObject &deviceState = {})
        : sim(withDefaults(simArguments, deviceState))
    {
        const QString settingsPath = dir.filePath(QStringLiteral("settings.json"));
        if (!corvane::test::writeTestSettings(settingsPath, QJsonObject{{key("portal_url"), portal.url()}}))
            qFatal("cannot write settings");
        app = std::make_unique<App>(AppEnvironment{settingsPath, dir.filePath(QStringLiteral("session.json"))});
        dialog = std::make_unique<SetupDialog>(app.get());
        const QString pty = sim.ptyPath();
        dialog->setPortListerForTesting([pty] { return QList<UsbPortInfo>{UsbPortInfo{pty, pty, true}}; });
        dialog->setTimingForTesting(SetupDialog::Timing{300, 0});
        dialog->show();
    }

    QStringList withDefaults(QStringList arguments, const QJsonObject &deviceState)
    {
        if (!deviceState.isEmpty()) {
            QFile file(dir.filePath(QStringLiteral("device.json")));
            if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(deviceState).toJson()) <= 0)
                qFatal("cannot write the device's state");
            arguments << QStringLiteral("--state") << file.fileName();
        }
        return arguments << QStringLiteral("--live-ms") << QStringLiteral("0") << QStringLiteral("--feed-port") << QStringLiteral("0")
                         << QStringLiteral("--scan-ms") << QStringLiteral("30");
    }

    bool signIn(const QString &email = QStringLiteral("operator@example.com"))
    {
        bool answered = false;
        app->portal().signIn(email, QStringLiteral("correct horse battery"), [&answered](const PortalResult &) { answered = true; });
        return QTest::qWaitFor([&answered] { return answered; }, 10000) && app->portal().isSignedIn();
    }

    DeviceSession::State state() const
    {
        const DeviceSession *session = dialog->session();
        return session ? session->state() : DeviceSession::Idle;
    }
    QString firmware() const
    {
        const DeviceSession *session = dialog->session();
        return session ? session->firmwareVersion() : QString();
    }

    QPushButton *button(const QString &text) { return byText<QPushButton>(dialog.get(), text); }
    QLineEdit *field(const QString &placeholder) { return byPlaceholder(dialog.get(), placeholder); }
    // The sign-in page's heading and red message line.
    QString heading() { return headingOf(SetupDialog::SignInPage); }
    QString headingOf(int page)
    {
        QLabel *first = dialog->findChild<QStackedWidget *>()->widget(page)->findChild<QLabel *>();
        return first ? first->text() : QString();
    }
    QString redText()
    {
        QWidget *page = dialog->findChild<QStackedWidget *>()->currentWidget();
        for (QLabel *label : page->findChildren<QLabel *>()) {
            if (label->styleSheet() == kRed && label->isVisible())
                return label->text();
        }
        return {};
    }
    bool waitPage(int page, int timeoutMs = 15000)
    {
        return QTest::qWaitFor([&] { return dialog->currentPage() == page; }, timeoutMs);
    }
    // Waits for the zero-delay listing and presses "Connect" on the preselected row.
    bool connectUsb()
    {
        if (!QTest::qWaitFor([&] { return dialog->findChild<QListWidget *>()->count() == 1; }, 5000))
            return false;
        button(QStringLiteral("Connect"))->click();
        return true;
    }

    QTemporaryDir dir;
    DevSimProcess sim;
    std::unique_ptr<App> app;
    std::unique_ptr<SetupDialog> dialog;
};

} // namespace

class TestSetupDialog : public QObject {
    Q_OBJECT
private:
    PortalSimProcess m_portal;

    int portalRequests(const QString &method, const QString &target)
    {
        int n = 0;
        for (const QJsonValue &value : m_portal.requests()) {
            const QJsonObject request = value.toObject();
            n += request.value(key("method")).toString() == method && request.value(key("target")).toString() == target ? 1 : 0;
        }
        return n;
    }

    QJsonObject lastRequestTo(const QString &target)
    {
        QJsonObject found;
        for (const QJsonValue &value : m_portal.requests()) {
            if (value.toObject().value(key("target")).toString() == target)
                found = value.toObject();
        }
        return found;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(!m_portal.start().isEmpty());
        // The devices' cloud stand-ins listen on loopback.
        RelayTargets::setLoopbackAllowedForTesting(true);
    }
    void init() { QVERIFY(m_portal.reset()); }

    // The whole path of a device at its factory password: no prompt, Wi-Fi, scoreboard, the
    // summary, the account, and the USB session kept for its cloud relay after closing.
    void factoryPasswordToDoneAndAccount()
    {
        Wizard w(m_portal, {QStringLiteral("--tunnel"), QStringLiteral("127.0.0.1:9")},
                 QJsonObject{{key("device_id"), QStringLiteral("CV-2001")}, {key("password"), QStringLiteral("mapleguard")},
                             {key("must_change_password"), false}});
        QVERIFY(w.signIn());
        auto *list = w.dialog->findChild<QListWidget *>();
        QTRY_COMPARE(list->count(), 1);
        QCOMPARE(list->item(0)->text(), w.sim.ptyPath() + QStringLiteral("  \u2013 likely a Corvane device"));
        QVERIFY(list->item(0)->isSelected());
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("1 USB port(s) found. Pick the Corvane device.")));

        w.button(QStringLiteral("Connect"))->click();
        QCOMPARE(w.dialog->currentPage(), int(SetupDialog::SignInPage));
        QCOMPARE(w.heading(), QStringLiteral("<b>Connecting to %1</b>").arg(w.sim.ptyPath()));
        QCOMPARE(w.app->settings().lastUsbPort(), w.sim.ptyPath());
        QVERIFY(w.waitPage(SetupDialog::WifiPage));
        QCOMPARE(w.headingOf(SetupDialog::WifiPage), QStringLiteral("<b>Connect the device to Wi-Fi</b>"));
        QVERIFY(!groupSaying(w.dialog.get(), kPasswordGroup)->isVisibleTo(w.dialog.get()));
        QVERIFY(!groupSaying(w.dialog.get(), kNewPasswordGroup)->isVisibleTo(w.dialog.get()));
        QCOMPARE(w.sim.take(QStringLiteral("PARAMS login ")).size(), 1);

        w.button(QStringLiteral("Skip \u2013 use this computer's internet over USB, or the device already has Wi-Fi"))->click();
        QVERIFY(w.waitPage(SetupDialog::ScoreboardPage));
        w.button(QStringLiteral("Skip"))->click();
        QVERIFY(w.waitPage(SetupDialog::DonePage));
        // With the fingerprint of the certificate the device's network route will trust.
        QVERIFY(byText<QLabel>(w.dialog.get(), QStringLiteral("Device: CV-2001\nFirmware: %1\nWi-Fi: not connected\nSecurity fingerprint (SHA-256): %2")
                                                   .arg(w.firmware(), w.sim.waitFor(QStringLiteral("FEED-CERT ")).mid(10))));

        // A wrong claim code is the portal's to refuse; the right one adds the device.
        QLineEdit *claim = w.field(QStringLiteral("Claim code from the device's box or account email"));
        QPushButton *add = w.button(QStringLiteral("Add this device to my account"));
        claim->setText(QStringLiteral("WRONG-0000"));
        add->click();
        QVERIFY(!add->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(add->isEnabled(), 10000);
        QVERIFY(!w.redText().isEmpty());
        claim->setText(QStringLiteral("  ABCD-1234 "));
        add->click();
        QTRY_VERIFY_WITH_TIMEOUT(visibleLabel(w.dialog.get(), QStringLiteral("Added to your account.")), 10000);
        QCOMPARE(portalRequests(QStringLiteral("POST"), QStringLiteral("/devices/link")), 2);
        QCOMPARE(QJsonDocument::fromJson(lastRequestTo(QStringLiteral("/devices/link")).value(key("body")).toString().toUtf8()).object(),
                 (QJsonObject{{key("device_id"), QStringLiteral("CV-2001")}, {key("via"), QStringLiteral("usb")},
                              {key("code"), QStringLiteral("ABCD-1234")}}));
        QVERIFY(!claim->isVisible() && !add->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(w.app->devices().cbegin(), w.app->devices().cend(),
                                             [](const CloudDevice &d) { return d.deviceId == QLatin1String("CV-2001"); }),
                                 10000);

        // Followed beside the main device over the cable it was set up on; made main after
        // that, it is followed no more.
        w.button(QStringLiteral("Follow it beside the main device"))->click();
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("Followed beside the main device. Choose it in a score text's or "
                                                            "\"show when\" filter's properties.")));
        QCOMPARE(w.app->settings().followedRoutes().size(), 1);
        QCOMPARE(w.app->settings().followedRoutes().first().toJson(),
                 (QJsonObject{{key("device"), QStringLiteral("CV-2001")}, {key("route"), QStringLiteral("usb")},
                              {key("port_name"), w.sim.ptyPath()}}));
        QVERIFY(w.app->followed()->contains(QStringLiteral("CV-2001")));
        w.button(QStringLiteral("Use this device's live scores in OBS"))->click();
        QCOMPARE(w.app->sourceManager()->device(), QStringLiteral("CV-2001"));
        QVERIFY(!w.app->followed()->contains(QStringLiteral("CV-2001")));
        QVERIFY(w.app->settings().followedRoutes().isEmpty());
        w.button(QStringLiteral("Follow it beside the main device"))->click();
        QCOMPARE(w.redText(), QStringLiteral("This device is the main one, so it is not followed as well."));

        // Its device names a cloud host, so closing leaves the session with App, still open.
        const QPointer<DeviceSession> kept = w.dialog->session();
        w.button(QStringLiteral("Close"))->click();
        QCOMPARE(w.app->relayStatusLines().size(), 1);
        const DeviceSession *session = kept.data();
        QVERIFY(session && session->state() == DeviceSession::Ready);
    }

    void newPasswordRefusalsThenAcceptance_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("signed out") << false;
        QTest::newRow("signed in: saved to the account") << true;
    }
    void newPasswordRefusalsThenAcceptance()
    {
        QFETCH(bool, signedIn);
        // password, repeat, the refusal
        const QStringList refused{QStringLiteral("abc1234"), QStringLiteral("abc1234"),
                                  QStringLiteral("Use at least 8 characters, and not the factory password."),
                                  QStringLiteral("MAPLEGUARD"), QStringLiteral("MAPLEGUARD"),
                                  QStringLiteral("Use at least 8 characters, and not the factory password."),
                                  QStringLiteral("courtside-9"), QStringLiteral("courtside-8"),
                                  QStringLiteral("The two passwords do not match.")};
        // CV-1002: the portal simulator keeps what is saved for a device until it exits.
        Wizard w(m_portal, {}, QJsonObject{{key("device_id"), QStringLiteral("CV-1002")}});
        if (signedIn)
            QVERIFY(w.signIn());
        QVERIFY(w.connectUsb());
        QTRY_COMPARE_WITH_TIMEOUT(w.heading(), QStringLiteral("<b>Choose a new device password</b>"), 15000);
        QGroupBox *group = groupSaying(w.dialog.get(), kNewPasswordGroup);
        QVERIFY(group->isVisible());
        QVERIFY(!groupSaying(w.dialog.get(), kPasswordGroup)->isVisible());
        QLineEdit *next = w.field(QStringLiteral("New admin password"));
        QLineEdit *repeat = w.field(QStringLiteral("Type it again"));
        for (int i = 0; i + 2 < refused.size(); i += 3) {
            next->setText(refused.at(i));
            repeat->setText(refused.at(i + 1));
            w.button(QStringLiteral("Set password"))->click();
            QCOMPARE(w.redText(), refused.at(i + 2));
        }
        QCOMPARE(w.sim.count(QStringLiteral("PARAMS changePassword ")), 0);

        next->setText(QStringLiteral("courtside-9"));
        repeat->setText(QStringLiteral("courtside-9"));
        w.button(QStringLiteral("Set password"))->click();
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("Saving the new password\u2026")));
        QVERIFY(w.waitPage(SetupDialog::WifiPage));
        const QString params = w.sim.waitFor(QStringLiteral("PARAMS changePassword "));
        QCOMPARE(QJsonDocument::fromJson(params.section(QLatin1Char(' '), 2).toUtf8()).object(),
                 (QJsonObject{{key("current_password"), QStringLiteral("mapleguard")},
                              {key("new_password"), QStringLiteral("courtside-9")},
                              {key("confirm_password"), QStringLiteral("courtside-9")}}));
        const QString pairing = QStringLiteral("/devices/CV-1002/pairing");
        QTRY_COMPARE_WITH_TIMEOUT(portalRequests(QStringLiteral("PUT"), pairing), signedIn ? 1 : 0, 10000);
        if (signedIn)
            QCOMPARE(lastRequestTo(pairing).value(key("body")).toString(), QStringLiteral("{\"admin_password\":\"courtside-9\"}"));
        QCOMPARE(portalRequests(QStringLiteral("POST"), pairing + QStringLiteral("/reveal")), 0);
    }

    void deviceOnWifiGoesToManagePage()
    {
        Wizard w(m_portal, {QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--wifi"), QStringLiteral("Gym")});
        QVERIFY(w.signIn());
        QVERIFY(w.connectUsb());
        QVERIFY(w.waitPage(SetupDialog::ManagePage));
        QCOMPARE(w.headingOf(SetupDialog::ManagePage), QStringLiteral("<b>CVSIM-0001</b>"));
        auto *tabs = w.dialog->findChild<QTabWidget *>();
        QVERIFY(tabs);
        // Reached over USB with a station address: the device's network route is remembered.
        QTRY_VERIFY_WITH_TIMEOUT(!w.app->settings().lanRoute(QStringLiteral("CVSIM-0001")).token.isEmpty(), 10000);
        QCOMPARE(w.app->settings().lanRoute(QStringLiteral("CVSIM-0001")).host, QStringLiteral("192.168.1.57"));
        // Its live feed's certificate is pinned as the device reported it over the cable.
        const QString reported = w.sim.waitFor(QStringLiteral("FEED-CERT ")).mid(10);
        QVERIFY(!reported.isEmpty());
        QCOMPARE(w.app->settings().lanRoute(QStringLiteral("CVSIM-0001")).certificateSha256, TlsFeed::normalizedFingerprint(reported));

        // A new access token made on the Security tab replaces the route's token; it is no
        // password, so the account is not given it as one.
        const QString first = w.app->settings().lanRoute(QStringLiteral("CVSIM-0001")).token;
        Prompter::setHandlersForTesting([](QWidget *, const Prompter::Question &) { return true; }, {});
        tabs->setCurrentIndex(3);
        auto *security = qobject_cast<SecurityPanel *>(tabs->currentWidget());
        QVERIFY(security);
        byText<QPushButton>(security, QStringLiteral("Make a new access token"))->click();
        Prompter::setHandlersForTesting({}, {});
        QTRY_VERIFY_WITH_TIMEOUT(w.app->settings().lanRoute(QStringLiteral("CVSIM-0001")).token != first, 10000);
        QCOMPARE(w.app->settings().lanRoute(QStringLiteral("CVSIM-0001")).token, security->tokenField()->text());
        QTest::qWait(500); // time for a request that must not come
        QCOMPARE(portalRequests(QStringLiteral("PUT"), QStringLiteral("/devices/CVSIM-0001/pairing")), 0);

        w.button(QStringLiteral("Disconnect"))->click();
        QCOMPARE(w.dialog->currentPage(), int(SetupDialog::ConnectPage));
        QVERIFY(!w.dialog->session());
        QTRY_COMPARE(w.dialog->findChild<QListWidget *>()->count(), 1);
    }

    void networkAddressGoesToManagePage()
    {
        Wizard w(m_portal, {QStringLiteral("--password"), QStringLiteral("mapleguard"), QStringLiteral("--wifi"), QStringLiteral("Gym"),
                            QStringLiteral("--http-port"), QStringLiteral("0")});
        // A pin learned over a cable before.
        const QString pin(64, QLatin1Char('c'));
        w.app->settings().setLanRoute(QStringLiteral("CVSIM-0001"), LanRoute{QStringLiteral("192.168.1.57"), QStringLiteral("old"), QStringLiteral("Gym"), pin});
        const QString address = w.sim.waitFor(QStringLiteral("HTTP ")).mid(5);
        QVERIFY(!address.isEmpty());
        byText<QRadioButton>(w.dialog.get(), QStringLiteral("Local network"))->click();
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("The admin password is sent over your local network without encryption. "
                                                            "Use USB when you can.")));
        w.field(QStringLiteral("Device number or address, e.g. 0029 or 192.168.1.20"))->setText(QStringLiteral(" %1 ").arg(address));
        w.button(QStringLiteral("Connect"))->click();
        QCOMPARE(w.dialog->kind(), QStringLiteral("lan"));
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("Contacting the device on your network\u2026")));
        QVERIFY(w.waitPage(SetupDialog::ManagePage));

        // A new access token made over the network replaces the route's token, not its pin:
        // the fingerprint in a plain-HTTP answer could come from anyone on the network.
        auto *tabs = w.dialog->findChild<QTabWidget *>();
        QVERIFY(tabs);
        Prompter::setHandlersForTesting([](QWidget *, const Prompter::Question &) { return true; }, {});
        tabs->setCurrentIndex(3);
        auto *security = qobject_cast<SecurityPanel *>(tabs->currentWidget());
        QVERIFY(security);
        byText<QPushButton>(security, QStringLiteral("Make a new access token"))->click();
        Prompter::setHandlersForTesting({}, {});
        QTRY_COMPARE_WITH_TIMEOUT(w.app->settings().lanRoute(QStringLiteral("CVSIM-0001")).token, security->tokenField()->text(), 10000);
        QVERIFY(!security->tokenField()->text().isEmpty());
        QCOMPARE(w.app->settings().lanRoute(QStringLiteral("CVSIM-0001")).certificateSha256, pin);
    }

    void portalPassword_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<QString>("devicePassword");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("reveals");
        QTest::newRow("signed out: asks the operator") << false << "admin-1001" << int(SetupDialog::SignInPage) << 0;
        QTest::newRow("signed in: the saved password works") << true << "admin-1001" << int(SetupDialog::WifiPage) << 1;
        QTest::newRow("signed in: the saved password fails") << true << "changed-since" << int(SetupDialog::SignInPage) << 1;
    }
    void portalPassword()
    {
        QFETCH(bool, signedIn);
        QFETCH(QString, devicePassword);
        QFETCH(int, page);
        QFETCH(int, reveals);
        Wizard w(m_portal, {},
                 QJsonObject{{key("device_id"), QStringLiteral("CV-1001")}, {key("password"), devicePassword},
                             {key("must_change_password"), false}});
        if (signedIn)
            QVERIFY(w.signIn());
        QVERIFY(w.connectUsb());
        QVERIFY(w.dialog->session());
        QSignalSpy states(w.dialog->session(), &DeviceSession::stateChanged);
        const auto asks = [&states] {
            return std::count_if(states.cbegin(), states.cend(), [](const QList<QVariant> &arguments) {
                return arguments.at(0).value<DeviceSession::State>() == DeviceSession::NeedsPassword;
            });
        };
        const QString reveal = QStringLiteral("/devices/CV-1001/pairing/reveal");
        // The factory password fails first; a revealed password that fails too asks once more.
        QTRY_VERIFY_WITH_TIMEOUT(page == SetupDialog::WifiPage ? w.state() == DeviceSession::Ready
                                                               : w.state() == DeviceSession::NeedsPassword && asks() == 1 + reveals,
                                 15000);
        QCOMPARE(portalRequests(QStringLiteral("POST"), reveal), reveals);
        QVERIFY(w.waitPage(page));
        if (page == SetupDialog::WifiPage)
            return;
        QCOMPARE(w.heading(), QStringLiteral("<b>Device password needed</b>"));
        QVERIFY(groupSaying(w.dialog.get(), kPasswordGroup)->isVisible());

        // A wrong typed password asks again, and the account is not asked a second time.
        QLineEdit *field = w.field(QStringLiteral("Device admin password"));
        field->setText(QStringLiteral("not-it-either"));
        w.button(QStringLiteral("Sign in to device"))->click();
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("Signing in\u2026")));
        QTRY_VERIFY_WITH_TIMEOUT(w.state() == DeviceSession::NeedsPassword
                                     && !visibleLabel(w.dialog.get(), QStringLiteral("Signing in\u2026")),
                                 15000);
        QCOMPARE(portalRequests(QStringLiteral("POST"), reveal), reveals);
        field->setText(devicePassword);
        w.button(QStringLiteral("Sign in to device"))->click();
        QVERIFY(w.waitPage(SetupDialog::WifiPage));
    }

    void lossOnlyShownAwayFromTheConnectPage()
    {
        {
            Wizard w(m_portal, {});
            QVERIFY(w.connectUsb());
            QTRY_COMPARE_WITH_TIMEOUT(w.heading(), QStringLiteral("<b>Choose a new device password</b>"), 15000);
            QVERIFY(w.sim.command(QStringLiteral("unplug")));
            QTRY_COMPARE_WITH_TIMEOUT(w.heading(), QStringLiteral("<b>Connection lost</b>"), 10000);
            QVERIFY(!w.redText().isEmpty());
        }
        Wizard w(m_portal, {});
        QVERIFY(w.connectUsb());
        QTRY_COMPARE_WITH_TIMEOUT(w.heading(), QStringLiteral("<b>Choose a new device password</b>"), 15000);
        w.button(QStringLiteral("Cancel"))->click();
        QCOMPARE(w.dialog->currentPage(), int(SetupDialog::ConnectPage));
        QVERIFY(w.sim.command(QStringLiteral("unplug")));
        QTest::qWait(500);
        QCOMPARE(w.dialog->currentPage(), int(SetupDialog::ConnectPage));
        QVERIFY(w.heading() != QStringLiteral("<b>Connection lost</b>"));
    }

    // A port that cannot be opened ends on "Could not connect" with the link's reason, and
    // the spinner stops.
    void unopenablePortCannotConnect()
    {
        Wizard w(m_portal, {});
        const QString missing = w.dir.filePath(QStringLiteral("no-such-tty"));
        w.dialog->setPortListerForTesting([missing] { return QList<UsbPortInfo>{UsbPortInfo{missing, missing, false}}; });
        byText<QPushButton>(w.dialog.get(), QStringLiteral("Scan again"))->click();
        QVERIFY(w.connectUsb());
        QTRY_COMPARE_WITH_TIMEOUT(w.heading(), QStringLiteral("<b>Could not connect</b>"), 10000);
        QCOMPARE(w.dialog->currentPage(), int(SetupDialog::SignInPage));
        QVERIFY(!w.redText().isEmpty());
        QVERIFY(!w.dialog->findChild<QProgressBar *>()->isVisible());
    }

    void receiverPageAndSignInThroughIt()
    {
        Wizard w(m_portal, {QStringLiteral("--mode"), QStringLiteral("receiver"), QStringLiteral("--relay-ms"), QStringLiteral("20"),
                            QStringLiteral("--password"), QStringLiteral("mapleguard")});
        QVERIFY(w.connectUsb());
        QVERIFY(w.waitPage(SetupDialog::ReceiverPage));
        QCOMPARE(w.headingOf(SetupDialog::ReceiverPage), QStringLiteral("<b>Wireless receiver</b>"));
        QVERIFY(byText<QLabel>(w.dialog.get(), QStringLiteral("Not paired yet.\nReceiving from the device now.\nSignal: -48 dBm\n"
                                                              "Channel: 6\nFirmware: rx-1.1.0-sim")));
        // The receiver can share this computer's internet with the device behind it.
        auto *share = w.dialog->findChild<QStackedWidget *>()->widget(SetupDialog::ReceiverPage)->findChild<SharePanel *>();
        QVERIFY(share);
        QVERIFY(share->isVisible());
        QVERIFY2(share->statusLabel()->text().startsWith(QStringLiteral("Waiting for the paired device to ask for the cloud.")),
                 qPrintable(share->statusLabel()->text()));

        w.button(QStringLiteral("Make a new pairing key"))->click();
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("Sending to the receiver\u2026")));
        const QString prefix = QStringLiteral("New pairing key (write this down and enter it on the sending device):\n");
        const auto newKeyShown = [&] {
            const QList<QLabel *> labels = w.dialog->findChildren<QLabel *>();
            return std::any_of(labels.cbegin(), labels.cend(),
                               [&](QLabel *l) { return l->text().startsWith(prefix) && l->text().size() == prefix.size() + 32; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(newKeyShown(), 10000);
        // The receiver's new status came in on its own and the page follows it.
        QTRY_VERIFY_WITH_TIMEOUT(byText<QLabel>(w.dialog.get(), QStringLiteral("Paired with a device.\nReceiving from the device now.\n"
                                                                               "Signal: -48 dBm\nChannel: 6\nFirmware: rx-1.1.0-sim")),
                                 10000);
        QVERIFY(w.sim.waitFor(QStringLiteral("CTRL {\"generate_key\":true")).size() > 0);

        w.button(QStringLiteral("Set up or manage the paired Corvane device through this receiver\u2026"))->click();
        QCOMPARE(w.dialog->currentPage(), int(SetupDialog::SignInPage));
        QCOMPARE(w.heading(), QStringLiteral("<b>Connecting to the paired device through the receiver</b>"));
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("Asking the device over the wireless link. This can take up to a minute.")));
        QVERIFY(w.waitPage(SetupDialog::WifiPage, 20000));
        const DeviceSession *session = w.dialog->session();
        QVERIFY(session && session->viaReceiver());
    }

    void bluetoothScanAndSignIn()
    {
        Wizard w(m_portal, {QStringLiteral("--ble-port"), QStringLiteral("0"), QStringLiteral("--password"), QStringLiteral("mapleguard")});
        qputenv("CORVANE_BLE_SIM", w.sim.waitFor(QStringLiteral("BLE ")).mid(4).toLatin1());
        BleBridge::instance()->setHelperPath(QStringLiteral(CORVANE_BLE_HELPER));
        QPushButton *scanAgain = w.button(QStringLiteral("Scan again"));
        byText<QRadioButton>(w.dialog.get(), QStringLiteral("Bluetooth"))->click();
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("Looking for devices\u2026 (about 6 seconds)")));
        QVERIFY(!scanAgain->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(scanAgain->isEnabled(), 20000);
        QVERIFY(visibleLabel(w.dialog.get(), QStringLiteral("3 device(s) found.")));
        auto *list = w.dialog->findChild<QListWidget *>();
        QStringList names;
        for (int i = 0; i < list->count(); ++i)
            names << list->item(i)->text() + QLatin1Char('=') + list->item(i)->data(Qt::UserRole).toString();
        names.sort();
        QCOMPARE(names, (QStringList{QStringLiteral("00A1B2C3D4E5=00A1B2C3D4E5"), QStringLiteral("Corvane-0029=C0FFEE000029"),
                                     QStringLiteral("Rink 2=0E0E0E0E0E0E")}));

        // Three found: the operator picks one.
        w.button(QStringLiteral("Connect"))->click();
        QCOMPARE(w.dialog->currentPage(), int(SetupDialog::ConnectPage));
        list->setCurrentItem(list->findItems(QStringLiteral("Corvane-0029"), Qt::MatchExactly).first());
        w.button(QStringLiteral("Connect"))->click();
        QCOMPARE(w.dialog->kind(), QStringLiteral("ble"));
        QCOMPARE(w.heading(), QStringLiteral("<b>Connecting to Corvane-0029</b>"));
        QVERIFY(w.waitPage(SetupDialog::WifiPage, 30000));
        QCOMPARE(w.state(), DeviceSession::Ready);
        w.dialog.reset();
        BleBridge::instance()->stop();
        qunsetenv("CORVANE_BLE_SIM");
    }
};

QTEST_MAIN(TestSetupDialog)
#include "tst_SetupDialog.moc"
