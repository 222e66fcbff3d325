#include "ui/ServerGroup.h"

#include "app/App.h"
#include "live/HostedServer.h"
#include "ui/DockLabels.h"
#include "ui/DockText.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace corvane {

ServerGroup::ServerGroup(App *app, QWidget *parent)
    : QGroupBox(tr("Share live data with other programs"), parent)
    , m_app(app)
{
    m_enabled = new QCheckBox(tr("Send scores over TCP"));
    m_port = new QSpinBox;
    m_port->setRange(1024, 65535);
    m_port->setAccessibleName(tr("Port"));
    m_network = new QCheckBox(tr("Let other computers on my network connect"));
    m_status = dock::hintLabel();
    auto *portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel(tr("Port")));
    portRow->addWidget(m_port);
    portRow->addStretch();
    auto *layout = new QVBoxLayout;
    layout->addWidget(m_enabled);
    layout->addLayout(portRow);
    layout->addWidget(m_network);
    layout->addWidget(m_status);
    connect(m_enabled, &QCheckBox::toggled, this, &ServerGroup::writeSettings);
    connect(m_network, &QCheckBox::toggled, this, &ServerGroup::writeSettings);
    connect(m_port, &QSpinBox::editingFinished, this, &ServerGroup::writeSettings);
    setLayout(layout);

    connect(m_app, &App::serverStateChanged, this, &ServerGroup::showServer);
}

void ServerGroup::showServer()
{
    const SettingsStore &settings = m_app->settings();
    const QSignalBlocker blockEnabled(m_enabled);
    const QSignalBlocker blockPort(m_port);
    const QSignalBlocker blockNetwork(m_network);
    m_enabled->setChecked(settings.serverEnabled());
    m_port->setValue(settings.serverPort());
    m_network->setChecked(settings.serverAllowNetwork());
    const HostedServer *server = m_app->server();
    m_status->setText(dockServerText({settings.serverEnabled(), server->isListening(), settings.serverAllowNetwork(),
                                      settings.serverPort(), server->port(), server->clientCount()}));
}

void ServerGroup::writeSettings()
{
    SettingsStore &settings = m_app->settings();
    settings.setServerEnabled(m_enabled->isChecked());
    settings.setServerPort(m_port->value());
    settings.setServerAllowNetwork(m_network->isChecked());
    m_app->applyServerSettings();
}

} // namespace corvane
