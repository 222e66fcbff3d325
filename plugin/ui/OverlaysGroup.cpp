#include "ui/OverlaysGroup.h"

#include "app/App.h"
#include "live/OverlayServer.h"
#include "ui/DockLabels.h"
#include "ui/DockText.h"
#include "ui/ObsFrontend.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileSystemWatcher>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

namespace corvane {

OverlaysGroup::OverlaysGroup(App *app, QWidget *parent)
    : QGroupBox(tr("Overlays"), parent)
    , m_app(app)
{
    m_enabled = new QCheckBox(tr("Serve overlay pages to browser sources"));
    m_port = new QSpinBox;
    m_port->setRange(1024, 65535);
    m_port->setAccessibleName(tr("Overlay port"));
    m_status = dock::hintLabel();
    m_list = new QWidget;
    m_rows = new QGridLayout(m_list);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_picker = new QComboBox;
    m_picker->setAccessibleName(tr("Overlay"));
    m_add = new QPushButton(tr("Add overlay to this scene"));
    m_noBrowser = dock::hintLabel(
        tr("This OBS has no browser source, so overlays cannot be added to a scene here. Open an overlay's address in a browser, "
           "or use an OBS build that includes the browser source."));
    auto *openFolder = new QPushButton(tr("Open overlays folder"));
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel(tr("Port")));
    portRow->addWidget(m_port);
    portRow->addStretch();
    auto *addRow = new QHBoxLayout;
    addRow->addWidget(m_picker, 1);
    addRow->addWidget(m_add);
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_enabled);
    layout->addLayout(portRow);
    layout->addWidget(m_status);
    layout->addWidget(m_list);
    layout->addLayout(addRow);
    layout->addWidget(m_noBrowser);
    layout->addWidget(openFolder);

    // The button is offered only where OBS can show a web page in a scene.
    const bool browser = ObsFrontend::hasSourceType("browser_source");
    m_add->setVisible(browser);
    m_picker->setVisible(browser);
    m_noBrowser->setVisible(!browser);

    // Folders the user adds or removes show up without a restart.
    m_watcher = new QFileSystemWatcher(this);
    const QString folder = m_app->overlayServer()->userOverlaysDir();
    if (!folder.isEmpty() && QDir().mkpath(folder))
        m_watcher->addPath(folder);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &OverlaysGroup::showOverlays);
    connect(m_enabled, &QCheckBox::toggled, this, &OverlaysGroup::writeSettings);
    connect(m_port, &QSpinBox::editingFinished, this, &OverlaysGroup::writeSettings);
    connect(m_add, &QPushButton::clicked, this, &OverlaysGroup::addOverlayToScene);
    connect(openFolder, &QPushButton::clicked, this, [folder] {
        if (!folder.isEmpty() && QDir().mkpath(folder))
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    });
    connect(m_app, &App::overlayStateChanged, this, &OverlaysGroup::showOverlays);
    showOverlays();
    setLayout(layout);
}

void OverlaysGroup::showOverlays()
{
    const SettingsStore &settings = m_app->settings();
    const OverlayServer *server = m_app->overlayServer();
    const QSignalBlocker blockEnabled(m_enabled);
    const QSignalBlocker blockPort(m_port);
    m_enabled->setChecked(settings.overlayServerEnabled());
    m_port->setValue(settings.overlayServerPort());
    m_status->setText(dockOverlayText({settings.overlayServerEnabled(), server->isListening(), settings.overlayServerPort(),
                                       server->port(), server->clientCount()}));

    const QString picked = m_picker->currentText();
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_picker->clear();
    const QStringList names = server->isListening() ? server->overlayNames() : QStringList();
    for (int row = 0; row < names.size(); ++row) {
        const QString address = server->overlayAddress(names.at(row));
        auto *field = new QLineEdit(address);
        field->setReadOnly(true);
        field->setAccessibleName(tr("Address of %1").arg(names.at(row)));
        auto *copy = new QPushButton(tr("Copy"));
        copy->setAccessibleName(tr("Copy the address of %1").arg(names.at(row)));
        connect(copy, &QPushButton::clicked, this, [address] { QGuiApplication::clipboard()->setText(address); });
        m_rows->addWidget(new QLabel(names.at(row)), row, 0);
        m_rows->addWidget(field, row, 1);
        m_rows->addWidget(copy, row, 2);
        m_picker->addItem(names.at(row));
    }
    m_list->setVisible(!names.isEmpty());
    if (const int index = m_picker->findText(picked); index >= 0)
        m_picker->setCurrentIndex(index);
    m_add->setEnabled(!names.isEmpty());
}

void OverlaysGroup::writeSettings()
{
    SettingsStore &settings = m_app->settings();
    settings.setOverlayServerEnabled(m_enabled->isChecked());
    settings.setOverlayServerPort(m_port->value());
    m_app->applyOverlaySettings();
}

void OverlaysGroup::addOverlayToScene()
{
    const QString name = m_picker->currentText();
    const QString address = m_app->overlayServer()->overlayAddress(name);
    if (!address.isEmpty())
        ObsFrontend::addBrowserSourceToScene(address, QStringLiteral("Corvane overlay: %1").arg(name));
}

} // namespace corvane
