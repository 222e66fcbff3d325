#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

namespace corvane {

// One cloud graphics output: a page the cloud renders, shown by the graphics source.
struct GraphicsOutput {
    QString id;
    QString name;
    QString shareToken;
    QString deviceId;
    int width = 1920;
    int height = 1080;
    QString url; // the page: portal origin + "/graphics/o/" + share token
};

// The "outputs" array of a GET /api/graphics/outputs answer. Entries without an id or a
// share token are skipped; an output without a name is named by its id.
QList<GraphicsOutput> parseOutputs(const QJsonObject &data, const QString &baseUrl);

} // namespace corvane
