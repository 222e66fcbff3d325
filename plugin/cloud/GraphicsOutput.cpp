#include "cloud/GraphicsOutput.h"

#include <QJsonArray>
#include <QUrl>

#include <limits>

namespace corvane {

namespace {

// A JSON number that fits an int; anything else reads as the default.
int integer(const QJsonValue &value, int fallback)
{
    if (!value.isDouble())
        return fallback;
    const double d = value.toDouble();
    if (d < std::numeric_limits<int>::min() || d > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(d);
}

} // namespace

QList<GraphicsOutput> parseOutputs(const QJsonObject &data, const QString &baseUrl)
{
    QList<GraphicsOutput> outputs;
    const QJsonArray entries = data.value(QLatin1String("outputs")).toArray();
    for (const QJsonValue &entry : entries) {
        const QJsonObject o = entry.toObject();
        GraphicsOutput output;
        output.id = o.value(QLatin1String("id")).toString();
        output.name = o.value(QLatin1String("name")).toString();
        output.shareToken = o.value(QLatin1String("share_token")).toString();
        output.deviceId = o.value(QLatin1String("device_id")).toString();
        output.width = integer(o.value(QLatin1String("width")), 1920);
        output.height = integer(o.value(QLatin1String("height")), 1080);
        if (output.id.isEmpty() || output.shareToken.isEmpty())
            continue;
        if (output.name.isEmpty())
            output.name = output.id;
        // Escaped so that a token can only ever name a page, never add a path or a query.
        output.url = baseUrl + QStringLiteral("/graphics/o/")
            + QString::fromLatin1(QUrl::toPercentEncoding(output.shareToken));
        outputs.append(output);
    }
    return outputs;
}

} // namespace corvane
