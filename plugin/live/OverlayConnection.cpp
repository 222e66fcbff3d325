#include "live/OverlayConnection.h"

#include "live/OverlayAccess.h"
#include "live/OverlayHost.h"
#include "live/OverlayResponse.h"
#include "live/SocketReset.h"

#include <QFile>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

namespace corvane {

using Header = OverlayResponse::Header;

OverlayConnection::OverlayConnection(QTcpSocket *socket, OverlayHost *host)
    : QObject(host)
    , m_host(host)
    , m_socket(socket)
{
    m_socket->setParent(this);
    // Connected first, so that it counts what a WebSocket client sends before Qt reads it.
    connect(m_socket, &QTcpSocket::readyRead, this, &OverlayConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &OverlayConnection::onBytesWritten);
    connect(m_socket, &QTcpSocket::disconnected, this, &OverlayConnection::close);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &OverlayConnection::drop);
    m_timer.start(m_host->timeouts().head);
}

OverlayConnection::~OverlayConnection()
{
    m_host->forget(this);
    m_socket->disconnect(this);
    if (m_webSocket) {
        m_webSocket->disconnect(this);
        delete m_webSocket;
    }
    m_socket->abort();
}

qint64 OverlayConnection::pendingOutput() const { return m_socket->bytesToWrite(); }

bool OverlayConnection::sendText(const QString &text)
{
    m_webSocket->sendTextMessage(text);
    return m_socket->bytesToWrite() <= OverlayAccess::kMaxPendingOutput;
}

void OverlayConnection::drop()
{
    if (m_state == State::Closed)
        return;
    // A graceful close would wait for a reader that is not reading.
    resetConnection(m_socket);
    close();
}

void OverlayConnection::close()
{
    if (m_state == State::Closed)
        return;
    m_state = State::Closed;
    m_timer.stop();
    m_file.reset();
    m_host->forget(this);
    deleteLater();
}

void OverlayConnection::onReadyRead()
{
    const qint64 available = m_socket->bytesAvailable();
    m_received += qMax<qint64>(0, available - m_counted);
    m_counted = available;
    switch (m_state) {
    case State::Head:
        readHead();
        return;
    case State::WebSocket:
        if (m_received > OverlayAccess::kMaxRequestBytes)
            drop();
        return;
    case State::Closing:
        m_counted -= m_socket->skip(available);
        return;
    case State::Waiting:
    case State::Streaming:
        // The next request waits its turn, but not without bound.
        if (available > OverlayRequest::kMaxHeadBytes)
            drop();
        return;
    case State::Upgrading:
    case State::Closed:
        return;
    }
}

void OverlayConnection::afterWebSocketRead()
{
    m_counted = m_socket->bytesAvailable();
    // Qt answers every ping with a pong: a client that pings but never reads fills this.
    if (m_socket->bytesToWrite() > OverlayAccess::kMaxPendingOutput)
        drop();
}

void OverlayConnection::onBytesWritten()
{
    if (m_state != State::Streaming)
        return;
    m_timer.start(m_host->timeouts().idle);
    pump();
}

void OverlayConnection::readHead()
{
    if (m_state != State::Head)
        return;
    const qint64 available = m_socket->bytesAvailable();
    if (available == 0)
        return;
    const OverlayRequest request = OverlayRequest::parse(m_socket->peek(qMin<qint64>(available, OverlayRequest::kMaxHeadBytes + 1)));
    switch (request.state()) {
    case OverlayRequest::State::Incomplete:
        // Idle until the first byte; from then on the head has a few seconds to arrive.
        if (!m_headStarted) {
            m_headStarted = true;
            m_timer.start(m_host->timeouts().head);
        }
        return;
    case OverlayRequest::State::Refused:
        refuse(request.status());
        return;
    case OverlayRequest::State::Complete:
        answer(request);
        return;
    }
}

bool OverlayConnection::isAllowed(const OverlayRequest &request) const
{
    const quint16 port = m_host->port();
    return OverlayAccess::isHostAllowed(request.host(), request.hasHost(), port)
           && OverlayAccess::isOriginAllowed(request.origin(), request.hasOrigin(), port)
           && OverlayAccess::isFetchSiteAllowed(request.fetchSite());
}

void OverlayConnection::answer(const OverlayRequest &request)
{
    // A client that asks again and again without reading the answers.
    if (m_socket->bytesToWrite() > OverlayAccess::kMaxPendingOutput) {
        drop();
        return;
    }
    if (!isAllowed(request)) {
        refuse(403);
        return;
    }
    m_device = request.device();
    if (!m_device.isEmpty() && !m_host->isFollowed(m_device) && !m_host->isMain(m_device)) {
        refuse(404);
        return;
    }
    if (request.path() == "/live" && request.wantsWebSocket()) {
        upgrade(request);
        return;
    }
    m_counted -= m_socket->skip(request.headSize());
    m_keepAlive = request.keepAlive();
    if (request.path() == "/live") {
        refuse(426);
    } else if (request.path() == "/live.json") {
        m_state = State::Waiting;
        if (m_device.isEmpty() || m_host->isMain(m_device)) {
            answerSnapshot(m_host->snapshot());
        } else {
            // Until its device's state comes from the user-interface thread.
            m_timer.start(m_host->timeouts().idle);
            m_host->requestSnapshot(this);
        }
    } else {
        serveOverlay(request);
    }
}

void OverlayConnection::answerSnapshot(const QByteArray &snapshot)
{
    if (m_state != State::Waiting)
        return;
    const OverlayResponse::Headers headers{Header{"Content-Type", "application/json"}, Header{"Cache-Control", "no-store"}};
    reply(OverlayResponse::head(200, headers, snapshot.size(), m_keepAlive) + snapshot, m_keepAlive);
}

void OverlayConnection::deviceGone()
{
    if (m_state == State::Waiting)
        refuse(404);
}

void OverlayConnection::serveOverlay(const OverlayRequest &request)
{
    const OverlayFile file = m_host->files().resolve(request.path());
    if (file.status == 301) {
        // The look of a built-in page is in its query: the redirect keeps it.
        const QByteArray location = request.query().isEmpty() ? file.location : file.location + '?' + request.query();
        reply(OverlayResponse::head(301, OverlayResponse::Headers{Header{"Location", location}}, 0, m_keepAlive), m_keepAlive);
        return;
    }
    if (file.status != 200) {
        refuse(404);
        return;
    }
    serveFile(file);
}

void OverlayConnection::serveFile(const OverlayFile &file)
{
    // Opened here, on the overlay thread: a slow disk never holds up the user interface.
    auto content = std::make_unique<QFile>(file.path);
    if (!content->open(QIODevice::ReadOnly) || content->size() > OverlayAccess::kMaxFileBytes) {
        refuse(404);
        return;
    }
    // The length is fixed now; a file that grows meanwhile is sent as it was this long.
    m_remaining = content->size();
    m_file = std::move(content);
    const OverlayResponse::Headers headers{Header{"Content-Type", file.contentType}, Header{"Cache-Control", "no-cache"}};
    m_socket->write(OverlayResponse::head(200, headers, m_remaining, m_keepAlive));
    m_state = State::Streaming;
    m_timer.start(m_host->timeouts().idle);
    pump();
}

void OverlayConnection::pump()
{
    while (m_file && m_remaining > 0 && m_socket->bytesToWrite() < kChunkBytes) {
        const QByteArray chunk = m_file->read(qMin(kChunkBytes, m_remaining));
        if (chunk.isEmpty()) {
            // The file shrank: the promised length can no longer be kept.
            drop();
            return;
        }
        m_remaining -= chunk.size();
        m_socket->write(chunk);
    }
    if (m_file && m_remaining == 0) {
        m_file.reset();
        finishAnswer();
    }
}

void OverlayConnection::reply(const QByteArray &bytes, bool keepAlive)
{
    m_keepAlive = keepAlive;
    m_socket->write(bytes);
    finishAnswer();
}

void OverlayConnection::refuse(int status)
{
    OverlayResponse::Headers extra;
    if (status == 405)
        extra.append(Header{"Allow", "GET"});
    m_keepAlive = false;
    m_socket->write(OverlayResponse::text(status, false, extra));
    finishAnswer();
}

void OverlayConnection::finishAnswer()
{
    m_headStarted = false;
    m_received = 0;
    if (!m_keepAlive) {
        // Whatever else the client sends is thrown away; one that does not read the answer
        // is reset when the deadline passes.
        m_state = State::Closing;
        m_counted -= m_socket->skip(m_socket->bytesAvailable());
        m_timer.start(m_host->timeouts().head);
        m_socket->disconnectFromHost();
        return;
    }
    m_state = State::Head;
    m_timer.start(m_host->timeouts().idle);
    // A request already sent behind this one is read once this call has returned.
    if (m_socket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &OverlayConnection::readHead, Qt::QueuedConnection);
}

void OverlayConnection::upgrade(const OverlayRequest &request)
{
    // What follows the head is the client's first WebSocket input.
    m_received = m_socket->bytesAvailable() - request.headSize();
    m_state = State::Upgrading;
    // One server per connection, so that the WebSocket it makes is known to be this one's.
    auto *server = new QWebSocketServer(QString(), QWebSocketServer::NonSecureMode, this);
    connect(server, &QWebSocketServer::newConnection, this, [this, server] { adoptWebSocket(server); });
    server->handleConnection(m_socket);
    // Its server would delete the socket once it disconnects; the socket is this object's.
    disconnect(m_socket, &QTcpSocket::disconnected, server, nullptr);
}

void OverlayConnection::adoptWebSocket(QWebSocketServer *server)
{
    QWebSocket *webSocket = server->nextPendingConnection();
    server->deleteLater();
    if (!webSocket || m_state != State::Upgrading) {
        delete webSocket;
        return;
    }
    m_webSocket = webSocket;
    m_webSocket->setParent(this);
    // A read-only feed: what a page sends is never read, and never allowed to pile up.
    m_webSocket->setMaxAllowedIncomingFrameSize(quint64(OverlayAccess::kMaxRequestBytes));
    m_webSocket->setMaxAllowedIncomingMessageSize(quint64(OverlayAccess::kMaxRequestBytes));
    // Connected after the WebSocket's own reader, so it runs once Qt has read.
    connect(m_socket, &QTcpSocket::readyRead, this, &OverlayConnection::afterWebSocketRead);
    m_counted = m_socket->bytesAvailable();
    m_state = State::WebSocket;
    m_timer.stop();
    m_host->adopt(this);
}

} // namespace corvane
