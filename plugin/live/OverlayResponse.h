#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace corvane {

// The head of one answer of the overlay server. Every answer carries its length, says
// whether the connection stays open, and keeps other sites from embedding it as a script,
// image, style or video (those loads send no Origin to check).
class OverlayResponse {
public:
    struct Header {
        QByteArray name;
        QByteArray value;
    };
    using Headers = QList<Header>;

    static QByteArray head(int status, const Headers &headers, qint64 contentLength, bool keepAlive);
    // A short text answer, such as a refusal; `keepAlive` false says the connection closes.
    static QByteArray text(int status, bool keepAlive, const Headers &extra = {});
    static QByteArray reason(int status);
};

} // namespace corvane
