#pragma once

#include "app/AppEnvironment.h"
#include "support/TestSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace corvane::test {

inline void writeFile(const QString &path, const QByteArray &content = "x")
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A plugin folder and configuration folder as OBS gives them to a per-user install.
struct PluginHome {
    QTemporaryDir temp;
    QString root = temp.filePath(QStringLiteral("plugins/corvane-obs"));
    QString config = temp.filePath(QStringLiteral("plugin_config/corvane-obs"));

    PluginHome() { writeFile(root + QStringLiteral("/bin/64bit/corvane-obs.so"), "old library"); }

    AppEnvironment environment(const QJsonObject &settings) const
    {
        QDir().mkpath(config);
        if (!corvane::test::writeTestSettings(config + QStringLiteral("/settings.json"), settings))
            qFatal("cannot write settings");
        AppEnvironment environment;
        environment.settingsPath = config + QStringLiteral("/settings.json");
        environment.obsVersion = QStringLiteral("30.2.3");
        environment.installRoot = root;
        environment.updateWorkDir = config + QStringLiteral("/update");
        return environment;
    }

    QJsonObject storedSettings() const
    {
        QFile file(config + QStringLiteral("/settings.json"));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
    }
};

} // namespace corvane::test
