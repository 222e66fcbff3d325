#include "FuzzInput.h"
#include "live/LiveData.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

using namespace corvane;

// Live messages as a device, the feed or the cloud sends them: any sequence must leave the
// live data answering with a snapshot that holds only text values.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    LiveData live;
    int pieces = 0;
    while (!input.atEnd() && pieces++ < 32) {
        const QJsonObject message = QJsonDocument::fromJson(input.nextPiece()).object();
        const bool accepted = live.apply(message);
        if (accepted && message.isEmpty()) {
            std::fprintf(stderr, "LiveData: accepted an empty message\n");
            std::abort();
        }
    }
    const QJsonObject snapshot = live.snapshot();
    const QJsonObject fields = snapshot.value(QLatin1String("fields")).toObject();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        if (!it.value().isString()) {
            std::fprintf(stderr, "LiveData: field %s is not text\n", qUtf8Printable(it.key()));
            std::abort();
        }
    }
    for (const QString &name : live.fieldNames())
        (void)live.value(name);
    return 0;
}
