#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace corvane {

// The head of one HTTP request to the overlay server, read from the bytes a client has sent
// so far (nothing consumed, so that a WebSocket upgrade can leave them for Qt's handshake).
// Only what the server serves is understood: GET over HTTP/1.0 or 1.1, without a body, its
// header lines plain "Name: value" ended by CRLF. Anything else is refused with the status
// to answer before closing, never guessed at: a server and a proxy or browser that read an
// odd request differently are how requests get smuggled past checks.
class OverlayRequest {
public:
    enum class State { Incomplete, Complete, Refused };

    // The whole head, request line to the empty line, may be this long.
    static constexpr qsizetype kMaxHeadBytes = 64 * 1024;

    static OverlayRequest parse(const QByteArray &received);

    State state() const { return m_state; }
    // For Refused: 400, 405, 413, 431, 501 or 505.
    int status() const { return m_status; }
    // For Complete: the bytes the head takes, its empty line included.
    qsizetype headSize() const { return m_headSize; }

    // The target's path and query (after "?", without it), both still percent-encoded.
    QByteArray path() const { return m_path; }
    QByteArray query() const { return m_query; }
    // The query's "device" parameter, decoded as a browser's URLSearchParams reads it; empty
    // when absent. A query naming it twice is refused (400): two readers could each take a
    // different one.
    QString device() const { return m_device; }
    // Header values, spaces around them removed; has*() tells an empty one from none.
    QByteArray host() const { return m_host; }
    bool hasHost() const { return m_hasHost; }
    QByteArray origin() const { return m_origin; }
    bool hasOrigin() const { return m_hasOrigin; }
    // Sec-Fetch-Site, lower case; empty when not sent.
    QByteArray fetchSite() const { return m_fetchSite; }
    // Asks to become a WebSocket ("Upgrade: websocket" with "Connection: upgrade").
    bool wantsWebSocket() const { return m_wantsWebSocket; }
    // The connection may carry another request after this one is answered.
    bool keepAlive() const { return m_keepAlive; }

private:
    bool readRequestLine(const QByteArray &line);
    bool readDevice();
    bool readHeader(const QByteArray &line);
    bool finish();
    OverlayRequest &refuse(int status);

    State m_state = State::Incomplete;
    int m_status = 0;
    qsizetype m_headSize = 0;
    bool m_http10 = false;
    QByteArray m_path;
    QByteArray m_query;
    QString m_device;
    QByteArray m_host;
    bool m_hasHost = false;
    QByteArray m_origin;
    bool m_hasOrigin = false;
    QByteArray m_fetchSite;
    bool m_hasFetchSite = false;
    QByteArray m_connection;
    QByteArray m_upgrade;
    bool m_hasBody = false;
    bool m_hasTransferEncoding = false;
    bool m_wantsWebSocket = false;
    bool m_keepAlive = false;
};

} // namespace corvane
