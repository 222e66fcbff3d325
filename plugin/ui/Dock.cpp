#include "ui/Dock.h"

#include "app/App.h"
#include "base/Version.h"
#include "live/ChapterMaker.h"
#include "live/HostedServer.h"
#include "live/OverlayServer.h"
#include "live/SourceManager.h"
#include "ui/DockText.h"
#include "ui/ManageDialog.h"
#include "ui/ObsFrontend.h"
#include "ui/SetupDialog.h"
#include "update/PluginUpdater.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QGuiApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

namespace corvane {

namespace {

constexpr int kRelayRefreshMs = 2000;
const char kErrorStyle[] = "color: #d9534f;";
const char kHintStyle[] = "color: palette(placeholder-text);";
const char kBannerStyle[] =
    "QFrame#corvaneUpdateBanner { border: 2px solid #3d8bdb; border-radius: 8px; background: rgba(61, 139, 219, 0.14); }";
const char kRestartBannerStyle[] =
    "QFrame#corvaneUpdateBanner { border: 3px solid #e8a317; border-radius: 8px; background: rgba(232, 163, 23, 0.18); }";

QLabel *hintLabel(const QString &text = QString())
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.92);
    label->setFont(font);
    label->setStyleSheet(QString::fromLatin1(kHintStyle));
    return label;
}

QLabel *wrappedLabel()
{
    auto *label = new QLabel;
    label->setWordWrap(true);
    return label;
}

QGroupBox *group(const QString &title, QLayout *layout)
{
    auto *box = new QGroupBox(title);
    box->setLayout(layout);
    return box;
}

} // namespace

Dock::Dock(App *app, QWidget *parent)
    : QWidget(parent)
    , m_app(app)
{
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    column->addWidget(buildUpdateBanner());
    column->addWidget(buildAccountBox());
    column->addWidget(buildSignedInRow());
    column->addWidget(buildScoreboardBox());
    column->addWidget(buildSourcesBox());
    column->addWidget(buildRecordingBox());
    column->addWidget(buildDevicesBox());
    column->addWidget(buildServerBox());
    column->addWidget(buildOverlaysBox());
    column->addWidget(buildPluginBox());
    column->addStretch();

    auto *scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(content);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    connectApp();
    showAccount();
    showUpdate();
    // The relay row starts hidden unless something is relayed, not after the first tick.
    showRelays();
    showHeld();
    m_relayTimer.start(kRelayRefreshMs);
}

QWidget *Dock::buildUpdateBanner()
{
    m_banner = new QFrame;
    m_banner->setObjectName(QStringLiteral("corvaneUpdateBanner"));
    m_bannerTitle = wrappedLabel();
    QFont bold = m_bannerTitle->font();
    bold.setBold(true);
    m_bannerTitle->setFont(bold);
    m_bannerDetail = hintLabel();
    m_bannerProgress = new QProgressBar;
    m_bannerProgress->setRange(0, 100);
    m_bannerProgress->setTextVisible(false);
    m_bannerProgress->setMaximumHeight(8);
    m_updateNow = new QPushButton(tr("Update now"));
    m_downloadPage = new QPushButton(tr("Open the download page"));
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_updateNow);
    buttons->addWidget(m_downloadPage);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(m_banner);
    layout->addWidget(m_bannerTitle);
    layout->addWidget(m_bannerDetail);
    layout->addWidget(m_bannerProgress);
    layout->addLayout(buttons);
    m_banner->hide();
    return m_banner;
}

QWidget *Dock::buildAccountBox()
{
    m_email = new QLineEdit;
    m_email->setPlaceholderText(tr("Email"));
    m_email->setAccessibleName(tr("Email"));
    m_password = new QLineEdit;
    m_password->setPlaceholderText(tr("Password"));
    m_password->setAccessibleName(tr("Password"));
    m_password->setEchoMode(QLineEdit::Password);
    m_code = new QLineEdit;
    m_code->setPlaceholderText(tr("6-digit code from your authenticator app"));
    m_code->setAccessibleName(tr("Authenticator code"));
    m_code->setMaxLength(12);
    m_code->hide();
    m_signIn = new QPushButton(tr("Sign in"));
    m_signIn->setDefault(true);
    m_signInMessage = wrappedLabel();
    auto *links = new QLabel(QStringLiteral("<a href=\"signup\">%1</a> &nbsp;·&nbsp; <a href=\"reset\">%2</a>")
                                 .arg(tr("Create an account"), tr("Forgot password?")));
    auto *layout = new QVBoxLayout;
    layout->addWidget(hintLabel(tr("Sign in to see your account's devices and graphics. Not needed to set up or manage a "
                                   "device, or to show scores from one connected to this computer.")));
    layout->addWidget(m_email);
    layout->addWidget(m_password);
    layout->addWidget(m_code);
    layout->addWidget(m_signIn);
    layout->addWidget(m_signInMessage);
    layout->addWidget(links);
    m_accountBox = group(tr("Corvane account (optional)"), layout);

    connect(m_signIn, &QPushButton::clicked, this, &Dock::doSignIn);
    connect(m_password, &QLineEdit::returnPressed, this, &Dock::doSignIn);
    connect(m_code, &QLineEdit::returnPressed, this, &Dock::doSignIn);
    connect(links, &QLabel::linkActivated, this, [this](const QString &link) {
        openPortalPage(link == QLatin1String("signup") ? QStringLiteral("/signup.html") : QStringLiteral("/reset.html"));
    });
    return m_accountBox;
}

QWidget *Dock::buildSignedInRow()
{
    m_signedInRow = new QWidget;
    m_signedInLabel = new QLabel;
    m_signedInLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *signOut = new QPushButton(tr("Sign out"));
    signOut->setFlat(true);
    auto *row = new QHBoxLayout(m_signedInRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_signedInLabel, 1);
    row->addWidget(signOut);
    connect(signOut, &QPushButton::clicked, this, [this] { m_app->portal().signOut(); });
    return m_signedInRow;
}

QWidget *Dock::buildScoreboardBox()
{
    m_picker = new QComboBox;
    m_picker->setAccessibleName(tr("Scoreboard device"));
    m_localNetwork = new QCheckBox(tr("Use my local network (works without internet)"));
    m_status = wrappedLabel();
    m_score = wrappedLabel();
    m_score->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_held = wrappedLabel();
    m_held->setStyleSheet(QStringLiteral("color: #e8a317; font-weight: bold;"));
    m_hold = new QPushButton;
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_picker);
    layout->addWidget(m_localNetwork);
    layout->addWidget(m_status);
    layout->addWidget(m_score);
    layout->addWidget(m_held);
    layout->addWidget(m_hold);
    connect(m_hold, &QPushButton::clicked, this, [this] { m_app->shown().setHeld(!m_app->shown().isHeld()); });
    connect(m_picker, &QComboBox::activated, this, &Dock::onDeviceActivated);
    connect(m_localNetwork, &QCheckBox::toggled, this, &Dock::onLocalNetworkToggled);
    return group(tr("Scoreboard"), layout);
}

QWidget *Dock::buildSourcesBox()
{
    auto *addText = new QPushButton(tr("Add live score text to this scene"));
    auto *addGraphic = new QPushButton(tr("Add a graphic to this scene"));
    auto *layout = new QVBoxLayout;
    layout->addWidget(addText);
    layout->addWidget(addGraphic);
    layout->addWidget(hintLabel(tr("Graphics come from your Corvane account. Pick one from the list in the source's properties.")));
    connect(addText, &QPushButton::clicked, this, [] { ObsFrontend::addSourceToScene("corvane_text", QStringLiteral("Corvane Score")); });
    connect(addGraphic, &QPushButton::clicked, this,
            [] { ObsFrontend::addSourceToScene("corvane_graphics", QStringLiteral("Corvane Graphics")); });
    return group(tr("Show it in OBS"), layout);
}

QWidget *Dock::buildRecordingBox()
{
    const SettingsStore &settings = m_app->settings();
    m_chapters = new QCheckBox(tr("Add chapters and a game log to recordings"));
    m_chapters->setChecked(settings.chaptersEnabled());
    m_chapterChanges = new QComboBox;
    m_chapterChanges->setAccessibleName(tr("A chapter at each change of"));
    m_chapterChanges->addItem(tr("the score or the period"), QStringLiteral("both"));
    m_chapterChanges->addItem(tr("the score"), QStringLiteral("score"));
    m_chapterChanges->addItem(tr("the period"), QStringLiteral("period"));
    m_chapterChanges->setCurrentIndex(qMax(0, m_chapterChanges->findData(settings.chapterChanges())));
    m_chapterTemplate = new QLineEdit(settings.chapterTemplate());
    m_chapterTemplate->setPlaceholderText(QString::fromUtf8(ChapterMaker::kDefaultTemplate));
    m_chapterTemplate->setAccessibleName(tr("Chapter name"));
    auto *changesRow = new QHBoxLayout;
    changesRow->addWidget(new QLabel(tr("A chapter at each change of")));
    changesRow->addWidget(m_chapterChanges, 1);
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_chapters);
    layout->addLayout(changesRow);
    layout->addWidget(m_chapterTemplate);
    layout->addWidget(hintLabel(dockChapterHint(ObsFrontend::recordingChapterCall() != nullptr)));
    connect(m_chapters, &QCheckBox::toggled, this, [this](bool on) { m_app->settings().setChaptersEnabled(on); });
    connect(m_chapterChanges, &QComboBox::activated, this,
            [this] { m_app->settings().setChapterChanges(m_chapterChanges->currentData().toString()); });
    connect(m_chapterTemplate, &QLineEdit::editingFinished, this,
            [this] { m_app->settings().setChapterTemplate(m_chapterTemplate->text()); });
    return group(tr("Recordings"), layout);
}

QWidget *Dock::buildDevicesBox()
{
    auto *setUp = new QPushButton(tr("Set up or manage a device…"));
    m_manage = new QPushButton(tr("Manage the selected device through my account…"));
    m_relays = wrappedLabel();
    m_stopSharing = new QPushButton(tr("Stop sharing this computer's internet with USB devices"));
    auto *layout = new QVBoxLayout;
    layout->addWidget(setUp);
    layout->addWidget(m_manage);
    layout->addWidget(m_relays);
    layout->addWidget(m_stopSharing);
    connect(setUp, &QPushButton::clicked, this, &Dock::openSetupDialog);
    connect(m_manage, &QPushButton::clicked, this, &Dock::openManageDialog);
    connect(m_stopSharing, &QPushButton::clicked, this, [this] { m_app->releaseAllRelays(); });
    return group(tr("Devices"), layout);
}

QWidget *Dock::buildServerBox()
{
    m_serverEnabled = new QCheckBox(tr("Send scores over TCP"));
    m_serverPort = new QSpinBox;
    m_serverPort->setRange(1024, 65535);
    m_serverPort->setAccessibleName(tr("Port"));
    m_serverNetwork = new QCheckBox(tr("Let other computers on my network connect"));
    m_serverStatus = hintLabel();
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel(tr("Port")));
    portRow->addWidget(m_serverPort);
    portRow->addStretch();
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_serverEnabled);
    layout->addLayout(portRow);
    layout->addWidget(m_serverNetwork);
    layout->addWidget(m_serverStatus);
    connect(m_serverEnabled, &QCheckBox::toggled, this, &Dock::writeServerSettings);
    connect(m_serverNetwork, &QCheckBox::toggled, this, &Dock::writeServerSettings);
    connect(m_serverPort, &QSpinBox::editingFinished, this, &Dock::writeServerSettings);
    return group(tr("Share live data with other programs"), layout);
}

QWidget *Dock::buildOverlaysBox()
{
    m_overlayEnabled = new QCheckBox(tr("Serve overlay pages to browser sources"));
    m_overlayPort = new QSpinBox;
    m_overlayPort->setRange(1024, 65535);
    m_overlayPort->setAccessibleName(tr("Overlay port"));
    m_overlayStatus = hintLabel();
    m_overlayList = new QWidget;
    m_overlayRows = new QGridLayout(m_overlayList);
    m_overlayRows->setContentsMargins(0, 0, 0, 0);
    m_overlayPicker = new QComboBox;
    m_overlayPicker->setAccessibleName(tr("Overlay"));
    m_addOverlay = new QPushButton(tr("Add overlay to this scene"));
    m_overlayNoBrowser = hintLabel(
        tr("This OBS has no browser source, so overlays cannot be added to a scene here. Open an overlay's address in a browser, "
           "or use an OBS build that includes the browser source."));
    auto *openFolder = new QPushButton(tr("Open overlays folder"));
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel(tr("Port")));
    portRow->addWidget(m_overlayPort);
    portRow->addStretch();
    auto *addRow = new QHBoxLayout;
    addRow->addWidget(m_overlayPicker, 1);
    addRow->addWidget(m_addOverlay);
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_overlayEnabled);
    layout->addLayout(portRow);
    layout->addWidget(m_overlayStatus);
    layout->addWidget(m_overlayList);
    layout->addLayout(addRow);
    layout->addWidget(m_overlayNoBrowser);
    layout->addWidget(openFolder);

    // The button is offered only where OBS can show a web page in a scene.
    const bool browser = ObsFrontend::hasSourceType("browser_source");
    m_addOverlay->setVisible(browser);
    m_overlayPicker->setVisible(browser);
    m_overlayNoBrowser->setVisible(!browser);

    // Folders the user adds or removes show up without a restart.
    m_overlayWatcher = new QFileSystemWatcher(this);
    const QString folder = m_app->overlayServer()->userOverlaysDir();
    if (!folder.isEmpty() && QDir().mkpath(folder))
        m_overlayWatcher->addPath(folder);
    connect(m_overlayWatcher, &QFileSystemWatcher::directoryChanged, this, &Dock::showOverlays);
    connect(m_overlayEnabled, &QCheckBox::toggled, this, &Dock::writeOverlaySettings);
    connect(m_overlayPort, &QSpinBox::editingFinished, this, &Dock::writeOverlaySettings);
    connect(m_addOverlay, &QPushButton::clicked, this, &Dock::addOverlayToScene);
    connect(openFolder, &QPushButton::clicked, this, [folder] {
        if (!folder.isEmpty() && QDir().mkpath(folder))
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    });
    connect(m_app, &App::overlayStateChanged, this, &Dock::showOverlays);
    showOverlays();
    return group(tr("Overlays"), layout);
}

QWidget *Dock::buildPluginBox()
{
    m_checkUpdates = new QPushButton(tr("Check for updates"));
    m_updateStatus = hintLabel();
    m_autoCheck = new QCheckBox(tr("Check for updates automatically"));
    m_autoCheck->setChecked(m_app->settings().autoCheckUpdates());
    auto *versionRow = new QHBoxLayout;
    versionRow->addWidget(new QLabel(tr("Version %1").arg(QStringLiteral(CORVANE_PLUGIN_VERSION))), 1);
    versionRow->addWidget(m_checkUpdates);
    auto *layout = new QVBoxLayout;
    layout->addLayout(versionRow);
    layout->addWidget(m_updateStatus);
    layout->addWidget(m_autoCheck);
    connect(m_checkUpdates, &QPushButton::clicked, this, [this] { m_app->updater().check(true); });
    connect(m_autoCheck, &QCheckBox::toggled, this, [this](bool on) { m_app->settings().setAutoCheckUpdates(on); });
    connect(m_updateNow, &QPushButton::clicked, this, [this] { m_app->updater().install(); });
    connect(m_downloadPage, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl(m_app->updater().config().downloadPage)); });
    return group(tr("Corvane plugin"), layout);
}

void Dock::connectApp()
{
    connect(&m_app->portal(), &PortalClient::signedInChanged, this, &Dock::showAccount);
    connect(m_app, &App::devicesChanged, this, &Dock::showDevices);
    connect(m_app->sourceManager(), &SourceManager::statusChanged, this, &Dock::showStatus);
    connect(&m_app->live(), &LiveData::changed, this, &Dock::showScore);
    connect(&m_app->shown(), &ShownScores::heldChanged, this, &Dock::showHeld);
    connect(m_app, &App::serverStateChanged, this, &Dock::showServer);
    connect(m_app, &App::usbRelaysChanged, this, &Dock::showRelays);
    connect(&m_app->updater(), &PluginUpdater::stateChanged, this, &Dock::showUpdate);
    connect(&m_relayTimer, &QTimer::timeout, this, &Dock::showRelays);
}

void Dock::doSignIn()
{
    m_signInMessage->setStyleSheet(QString());
    m_signIn->setEnabled(false);
    const QPointer<Dock> self(this);
    auto answered = [self](const PortalResult &result) {
        if (Dock *dock = self.data())
            dock->onSignInAnswer(result);
    };
    if (!m_challengeId.isEmpty() && m_code->isVisibleTo(this))
        m_app->portal().signInWithCode(m_challengeId, m_code->text(), answered);
    else
        m_app->portal().signIn(m_email->text(), m_password->text(), answered);
}

void Dock::onSignInAnswer(const PortalResult &result)
{
    m_signIn->setEnabled(true);
    if (!result.ok) {
        m_signInMessage->setStyleSheet(QString::fromLatin1(kErrorStyle));
        m_signInMessage->setText(result.message);
        return;
    }
    if (result.data.value(QStringLiteral("totp_required")).toBool()) {
        m_challengeId = result.data.value(QStringLiteral("challenge_id")).toString();
        m_code->show();
        m_code->setFocus();
        m_signInMessage->setText(tr("Enter the code from your authenticator app."));
        return;
    }
    m_password->clear();
    m_code->clear();
    m_code->hide();
    m_challengeId.clear();
    m_signInMessage->clear();
}

void Dock::showAccount()
{
    const bool signedIn = m_app->portal().isSignedIn();
    m_accountBox->setVisible(!signedIn);
    m_signedInRow->setVisible(signedIn);
    m_picker->setVisible(signedIn);
    m_manage->setVisible(signedIn);
    m_signedInLabel->setText(signedIn ? tr("Signed in as <b>%1</b>").arg(m_app->portal().email().toHtmlEscaped()) : QString());
    showDevices();
    showStatus();
    showScore();
    showServer();
}

void Dock::showDevices()
{
    QString wanted = m_app->sourceManager()->device();
    if (wanted.isEmpty())
        wanted = m_app->settings().selectedDevice();
    m_picker->clear();
    for (const CloudDevice &device : m_app->devices())
        m_picker->addItem(device.displayName(), device.deviceId);
    if (m_app->devices().isEmpty())
        m_picker->addItem(tr("No devices on this account yet"), QString());
    const int index = m_picker->findData(wanted);
    if (index >= 0)
        m_picker->setCurrentIndex(index);
    m_manage->setEnabled(!pickedDevice().isEmpty());
    showRoute();
}

void Dock::showRoute()
{
    const QString id = pickedDevice();
    const LanRoute route = id.isEmpty() ? LanRoute{} : m_app->settings().lanRoute(id);
    const bool known = !route.host.isEmpty() && !route.token.isEmpty();
    m_fillingRoute = true;
    m_localNetwork->setVisible(known);
    m_localNetwork->setChecked(known && m_app->settings().routeFor(id) == QLatin1String("lan"));
    m_fillingRoute = false;
}

void Dock::showStatus()
{
    const SourceManager *manager = m_app->sourceManager();
    m_status->setText(dockStatusHtml(manager->isLive(), manager->message()));
}

void Dock::showScore()
{
    m_score->setText(dockScoreText(m_app->live()));
}

void Dock::showHeld()
{
    const bool held = m_app->shown().isHeld();
    // The dock keeps the live score above, so the operator sees the game move on.
    m_held->setText(held ? tr("Scores held: score texts, \"show when\" filters and chapters keep what they showed "
                              "until you resume.")
                         : QString());
    m_held->setVisible(held);
    m_hold->setText(held ? tr("Resume live scores") : tr("Hold live scores"));
}

void Dock::showRelays()
{
    const QStringList lines = m_app->relayStatusLines();
    m_relays->setVisible(!lines.isEmpty());
    m_stopSharing->setVisible(!lines.isEmpty());
    m_relays->setText(tr("USB cloud relay") + QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
}

void Dock::showServer()
{
    const SettingsStore &settings = m_app->settings();
    const QSignalBlocker blockEnabled(m_serverEnabled);
    const QSignalBlocker blockPort(m_serverPort);
    const QSignalBlocker blockNetwork(m_serverNetwork);
    m_serverEnabled->setChecked(settings.serverEnabled());
    m_serverPort->setValue(settings.serverPort());
    m_serverNetwork->setChecked(settings.serverAllowNetwork());
    const HostedServer *server = m_app->server();
    m_serverStatus->setText(dockServerText({settings.serverEnabled(), server->isListening(), settings.serverAllowNetwork(),
                                            settings.serverPort(), server->port(), server->clientCount()}));
}

void Dock::showOverlays()
{
    const SettingsStore &settings = m_app->settings();
    const OverlayServer *server = m_app->overlayServer();
    const QSignalBlocker blockEnabled(m_overlayEnabled);
    const QSignalBlocker blockPort(m_overlayPort);
    m_overlayEnabled->setChecked(settings.overlayServerEnabled());
    m_overlayPort->setValue(settings.overlayServerPort());
    m_overlayStatus->setText(dockOverlayText({settings.overlayServerEnabled(), server->isListening(), settings.overlayServerPort(),
                                             server->port(), server->clientCount()}));

    const QString picked = m_overlayPicker->currentText();
    while (QLayoutItem *item = m_overlayRows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_overlayPicker->clear();
    const QStringList names = server->isListening() ? server->overlayNames() : QStringList();
    for (int row = 0; row < names.size(); ++row) {
        const QString address = server->overlayAddress(names.at(row));
        auto *field = new QLineEdit(address);
        field->setReadOnly(true);
        field->setAccessibleName(tr("Address of %1").arg(names.at(row)));
        auto *copy = new QPushButton(tr("Copy"));
        copy->setAccessibleName(tr("Copy the address of %1").arg(names.at(row)));
        connect(copy, &QPushButton::clicked, this, [address] { QGuiApplication::clipboard()->setText(address); });
        m_overlayRows->addWidget(new QLabel(names.at(row)), row, 0);
        m_overlayRows->addWidget(field, row, 1);
        m_overlayRows->addWidget(copy, row, 2);
        m_overlayPicker->addItem(names.at(row));
    }
    m_overlayList->setVisible(!names.isEmpty());
    if (const int index = m_overlayPicker->findText(picked); index >= 0)
        m_overlayPicker->setCurrentIndex(index);
    m_addOverlay->setEnabled(!names.isEmpty());
}

void Dock::writeOverlaySettings()
{
    SettingsStore &settings = m_app->settings();
    settings.setOverlayServerEnabled(m_overlayEnabled->isChecked());
    settings.setOverlayServerPort(m_overlayPort->value());
    m_app->applyOverlaySettings();
}

void Dock::addOverlayToScene()
{
    const QString name = m_overlayPicker->currentText();
    const QString address = m_app->overlayServer()->overlayAddress(name);
    if (!address.isEmpty())
        ObsFrontend::addBrowserSourceToScene(address, QStringLiteral("Corvane overlay: %1").arg(name));
}

void Dock::showUpdate()
{
    const PluginUpdater &updater = m_app->updater();
    const PluginUpdater::State state = updater.state();
    const bool busy = state == PluginUpdater::Checking || state == PluginUpdater::Downloading || state == PluginUpdater::Installing;
    m_checkUpdates->setEnabled(!busy && state != PluginUpdater::Installed);

    QString status = updater.message();
    const qint64 checked = m_app->settings().lastUpdateCheck();
    if (state == PluginUpdater::UpToDate && checked > 0)
        status += tr(" Checked %1.").arg(QLocale().toString(QDateTime::fromSecsSinceEpoch(checked)));
    m_updateStatus->setText(status);
    m_updateStatus->setStyleSheet(QString::fromLatin1(state == PluginUpdater::Failed ? kErrorStyle : kHintStyle));

    const bool shown = state == PluginUpdater::Available || state == PluginUpdater::Downloading || state == PluginUpdater::Installing
                       || state == PluginUpdater::Installed || (state == PluginUpdater::Failed && updater.hasPackage());
    m_banner->setVisible(shown);
    if (!shown)
        return;
    m_banner->setStyleSheet(QString::fromLatin1(state == PluginUpdater::Installed ? kRestartBannerStyle : kBannerStyle));
    QString title;
    if (state == PluginUpdater::Installed) {
        title = tr("Restart OBS to finish updating to version %1.").arg(updater.version());
        if (ObsFrontend::isStreamingOrRecording())
            title += tr(" OBS is streaming or recording right now, so wait until you are done.");
    } else if (state == PluginUpdater::Failed) {
        title = tr("The update to version %1 did not finish.").arg(updater.version());
    } else if (busy) {
        title = updater.message();
    } else {
        title = tr("Corvane %1 is available (you have %2).").arg(updater.version(), QStringLiteral(CORVANE_PLUGIN_VERSION));
    }
    m_bannerTitle->setText(title);
    m_bannerDetail->setText(updater.notes());
    m_bannerDetail->setVisible(state == PluginUpdater::Available && !updater.notes().isEmpty());
    m_bannerProgress->setVisible(state == PluginUpdater::Downloading || state == PluginUpdater::Installing);
    m_bannerProgress->setRange(0, state == PluginUpdater::Installing ? 0 : 100);
    m_bannerProgress->setValue(updater.progress());
    const bool idle = state != PluginUpdater::Installed && !busy;
    m_updateNow->setVisible(idle && updater.canSelfUpdate());
    m_updateNow->setText(state == PluginUpdater::Failed ? tr("Try again") : tr("Update now"));
    m_downloadPage->setVisible(idle && !updater.canSelfUpdate());
}

QString Dock::pickedDevice() const
{
    return m_picker->currentData().toString();
}

void Dock::onDeviceActivated(int index)
{
    const QString id = m_picker->itemData(index).toString();
    if (id.isEmpty())
        return;
    m_app->selectDevice(id);
    showRoute();
}

void Dock::onLocalNetworkToggled(bool checked)
{
    const QString id = pickedDevice();
    if (m_fillingRoute || id.isEmpty())
        return;
    m_app->settings().setRoute(id, checked ? QStringLiteral("lan") : QStringLiteral("cloud"));
    m_app->selectDevice(id);
}

void Dock::writeServerSettings()
{
    SettingsStore &settings = m_app->settings();
    settings.setServerEnabled(m_serverEnabled->isChecked());
    settings.setServerPort(m_serverPort->value());
    settings.setServerAllowNetwork(m_serverNetwork->isChecked());
    m_app->applyServerSettings();
}

void Dock::openManageDialog()
{
    const QString id = pickedDevice();
    if (id.isEmpty())
        return;
    auto *dialog = new ManageDialog(&m_app->portal(), id, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

void Dock::openSetupDialog()
{
    if (!m_setupDialog) {
        m_setupDialog = new SetupDialog(m_app, this);
        m_setupDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_setupDialog->show();
    m_setupDialog->raise();
    m_setupDialog->activateWindow();
}

void Dock::openPortalPage(const QString &page)
{
    QDesktopServices::openUrl(QUrl(m_app->portal().baseUrl() + page));
}

} // namespace corvane
