#include "update/UpdateManifest.h"

#include "base/Origins.h"
#include "update/PluginVersion.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace corvane {

namespace {

QString key(const char *name) { return QString::fromLatin1(name); }

ManifestResult failure(const char *code, const QString &message)
{
    ManifestResult result;
    result.code = QString::fromLatin1(code);
    result.message = message;
    return result;
}

QString readNotes(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    QStringList lines;
    for (const QJsonValue &line : value.toArray())
        lines.append(line.toString());
    return lines.join(QLatin1Char('\n'));
}

bool isLowerHexDigest(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{64}$"));
    return pattern.match(text).hasMatch();
}

// "size" as a whole number of bytes; anything else (text, negative, absurd) counts as unknown.
qint64 readSize(const QJsonValue &value)
{
    const double size = value.toDouble(0);
    if (!std::isfinite(size) || size < 1 || size > 9.0e15)
        return 0;
    return static_cast<qint64>(size);
}

} // namespace

bool isAllowedUpdateUrl(const QString &url) { return isAllowedAddress(url); }

ManifestResult parseManifest(const QByteArray &body, const QString &currentVersion, const QString &platform,
                             const QString &obsVersion)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return failure("manifest_unreadable", QStringLiteral("The update information was not readable."));
    const QJsonObject root = document.object();

    const QJsonValue schema = root.value(key("schema"));
    if (!schema.isUndefined() && !(schema.isDouble() && schema.toDouble() == 1.0))
        return failure("manifest_schema", QStringLiteral("This update needs a newer Corvane plugin than the one installed. "
                                                         "Download the installer from the Corvane website."));

    static const QRegularExpression versionPattern(QStringLiteral("^\\d+\\.\\d+\\.\\d+(-[0-9A-Za-z.]+)?$"));
    const QString version = root.value(key("version")).toString();
    if (!versionPattern.match(version).hasMatch())
        return failure("manifest_version", QStringLiteral("The update information has no valid version."));

    ManifestResult result;
    result.ok = true;
    UpdateManifest &manifest = result.manifest;
    manifest.version = version;
    manifest.released = root.value(key("released")).toString();
    manifest.minObs = root.value(key("min_obs")).toString();
    manifest.notes = readNotes(root.value(key("notes")));
    if (compareVersions(version, currentVersion) < 1)
        return result;

    const QJsonObject package = root.value(key("packages")).toObject().value(platform).toObject();
    if (package.isEmpty()) {
        return failure("not_for_this_platform",
                       QStringLiteral("Version %1 is out, but not available for this computer yet.").arg(version));
    }
    manifest.url = package.value(key("url")).toString();
    manifest.sha256 = package.value(key("sha256")).toString().toLower();
    manifest.size = readSize(package.value(key("size")));
    if (!isAllowedUpdateUrl(manifest.url) || !isLowerHexDigest(manifest.sha256))
        return failure("manifest_incomplete", QStringLiteral("The update information is incomplete."));

    if (!manifest.minObs.isEmpty() && !obsVersion.isEmpty() && compareVersions(obsVersion, manifest.minObs) < 0) {
        return failure("obs_too_old", QStringLiteral("Version %1 needs OBS %2 or newer (this is OBS %3).")
                                          .arg(version, manifest.minObs, obsVersion));
    }
    manifest.updateApplies = true;
    return result;
}

} // namespace corvane
