#include "device/ble/BleBridge.h"

#include "base/Log.h"
#include "base/OrderedJson.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace corvane {

namespace {

// The helper writes Qt's diagnostics to standard error; each line goes to OBS's log, cut
// short so that a runaway helper cannot flood it with one line. The rest of a longer line
// is read and dropped as it comes, so that no more than a line waits unread; `inLongLine`
// carries that across calls.
void logHelperOutput(QProcess *process, bool &inLongLine)
{
    constexpr qint64 kLongestLine = 1000;
    while (process->canReadLine() || process->bytesAvailable() >= kLongestLine) {
        // readLine(n) takes at most n - 1 bytes, up to and with the line's end.
        const QByteArray chunk = process->readLine(kLongestLine + 1);
        const bool ended = chunk.endsWith('\n');
        const QByteArray line = chunk.trimmed();
        if (!inLongLine && !line.isEmpty())
            CORVANE_LOG_INFO("Bluetooth helper: %s%s", line.constData(), ended ? "" : " [cut]");
        inLongLine = !ended;
    }
}

// The helper's read buffer once it is accepted: the line bound applies to the bridge's own.
constexpr qint64 kHelperReadBufferBytes = 64 * 1024;

// Whether a hello says the token, taking as long wherever it first differs, so that timing
// its refusal tells a guesser nothing.
bool sameToken(const QByteArray &said, const QByteArray &token)
{
    if (said.size() != token.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(said.at(i) ^ token.at(i));
    return difference == 0;
}

} // namespace

BleBridge *BleBridge::instance()
{
    static QMutex lock;
    static BleBridge *bridge = nullptr;
    QMutexLocker guard(&lock);
    if (!bridge)
        bridge = new BleBridge;
    return bridge;
}

BleBridge::BleBridge(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_startTimer(new QTimer(this))
{
    m_startTimer->setSingleShot(true);
    m_startTimer->setInterval(kStartTimeoutMs);
    connect(m_startTimer, &QTimer::timeout, this, [this] { failStart(didNotStartText()); });
    connect(m_server, &QTcpServer::newConnection, this, &BleBridge::onNewConnection);
}

BleBridge::~BleBridge()
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

QString BleBridge::missingText()
{
    return QStringLiteral("The Bluetooth helper is missing from this install. Reinstall the Corvane plugin.");
}

QString BleBridge::noPortText()
{
    return QStringLiteral("Could not open a local port for the Bluetooth helper.");
}

QString BleBridge::didNotStartText()
{
    return QStringLiteral("The Bluetooth helper did not start. Bluetooth setup is unavailable on this system.");
}

QString BleBridge::stoppedText()
{
    return QStringLiteral("The Bluetooth helper stopped.");
}

QString BleBridge::timeoutText()
{
    return QStringLiteral("Bluetooth did not respond in time.");
}

qint64 BleBridge::helperProcessId() const
{
    return m_process && m_process->state() != QProcess::NotRunning ? m_process->processId() : 0;
}

void BleBridge::setStartTimeoutForTesting(int ms)
{
    m_startTimer->setInterval(ms);
}

void BleBridge::start(ReplyCallback callback)
{
    if (m_started) {
        BleReply reply;
        reply.ok = true;
        callback(reply);
        return;
    }
    request(QStringLiteral("start"), {}, [this, callback = std::move(callback)](const BleReply &reply) {
        if (reply.ok)
            m_started = true;
        callback(reply);
    }, kStartRequestTimeoutMs);
}

void BleBridge::scan(int ms, ScanCallback callback)
{
    start([this, ms, callback = std::move(callback)](const BleReply &started) {
        if (!started.ok) {
            callback(false, {}, 0, started.code, started.message);
            return;
        }
        request(QStringLiteral("scan"), QJsonObject{{QStringLiteral("ms"), ms}}, [callback](const BleReply &reply) {
            if (!reply.ok) {
                callback(false, {}, 0, reply.code, reply.message);
                return;
            }
            QList<BleDeviceInfo> devices;
            const QJsonArray list = reply.result.value(QLatin1String("devices")).toArray();
            for (const QJsonValue &entry : list) {
                const QJsonObject device = entry.toObject();
                devices << BleDeviceInfo{device.value(QLatin1String("id")).toString(), device.value(QLatin1String("name")).toString(),
                                         device.value(QLatin1String("rssi")).toInt(0)};
            }
            callback(true, devices, reply.result.value(QLatin1String("seen")).toInt(0), QString(), QString());
        }, ms + kScanExtraMs);
    });
}

void BleBridge::request(const QString &op, const QJsonObject &args, ReplyCallback callback, int timeoutMs)
{
    ensureHelper([this, op, args, callback = std::move(callback), timeoutMs](bool ok, const QString &error) {
        if (!ok) {
            if (callback)
                callback(BleReply{false, {}, QStringLiteral("bluetooth_unavailable"), error});
            return;
        }
        const int reqId = m_nextReqId++;
        // "op", then "reqId", then the op's own fields, as the helper's protocol writes them.
        QJsonObject body = args;
        body.insert(QStringLiteral("op"), op);
        body.insert(QStringLiteral("reqId"), reqId);
        const QByteArray line = OrderedJson(body, {QStringLiteral("op"), QStringLiteral("reqId")}).toJson() + '\n';
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, reqId] { onRequestTimeout(reqId); });
        timer->start(timeoutMs);
        m_pending.insert(reqId, Pending{callback, timer});
        if (QTcpSocket *socket = m_socket.data())
            socket->write(line);
    });
}

void BleBridge::ensureHelper(ReadyCallback callback)
{
    // Unloading: a late caller must not bring the port or a helper back.
    if (m_stopped) {
        callback(false, stoppedText());
        return;
    }
    if (m_socket) {
        callback(true, QString());
        return;
    }
    if (m_helperPath.isEmpty() || !QFileInfo::exists(m_helperPath)) {
        callback(false, missingText());
        return;
    }
    m_startWaiters << std::move(callback);
    if (m_startWaiters.size() == 1)
        launchHelper();
}

void BleBridge::launchHelper()
{
    if (!m_server->isListening() && !m_server->listen(QHostAddress::LocalHost, 0)) {
        const QList<ReadyCallback> waiters = std::exchange(m_startWaiters, {});
        for (const ReadyCallback &waiter : waiters)
            waiter(false, noPortText());
        return;
    }
    QRandomGenerator *random = QRandomGenerator::system();
    m_token = QString::number(random->generate64(), 16) + QString::number(random->generate64(), 16);

    if (QProcess *old = m_process.data()) {
        old->disconnect(this);
        old->kill();
        old->waitForFinished(3000);
        old->deleteLater();
    }
    auto *process = new QProcess(this);
    m_process = process;
    // A helper that dies before its hello (a crash, a missing library) ends the wait at
    // once rather than after the whole start timeout.
    connect(process, &QProcess::finished, this, [this, process] { onHelperExited(process); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onHelperExited(process);
    });
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setReadChannel(QProcess::StandardError);
    connect(process, &QProcess::readyReadStandardError, this,
            [process, inLongLine = false]() mutable { logHelperOutput(process, inLongLine); });
    // Another user can read a process's command line, not its environment.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(kTokenVariable), m_token);
    process->setProcessEnvironment(environment);
    process->start(m_helperPath, {QStringLiteral("--port"), QString::number(m_server->serverPort())}, QIODevice::ReadWrite);
    m_startTimer->start();
}

bool BleBridge::launchPending() const
{
    return !m_token.isEmpty();
}

void BleBridge::onHelperExited(QProcess *process)
{
    if (process == m_process && launchPending())
        failStart(didNotStartText());
}

void BleBridge::failStart(const QString &error)
{
    m_startTimer->stop();
    m_token.clear();
    dropCandidates();
    const QList<ReadyCallback> waiters = std::exchange(m_startWaiters, {});
    for (const ReadyCallback &waiter : waiters)
        waiter(false, error);
    if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->kill();
}

void BleBridge::closeLater(QTcpSocket *socket, QObject *owner)
{
    socket->disconnect(owner);
    socket->abort();
    socket->deleteLater();
}

// A few connections may wait for their hello while a launch is pending; none is taken at
// other times.
void BleBridge::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_socket || !launchPending() || m_candidates.size() >= kMaxCandidates) {
            closeLater(socket, this);
            continue;
        }
        // Qt itself then holds no more than one byte past what a hello may take.
        socket->setReadBufferSize(kMaxHelloBytes + 1);
        m_candidates.append(Candidate{socket, {}, 0});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onCandidateReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { dropCandidate(socket); });
    }
}

// Lines before the hello: blank and non-object lines are skipped; the first object is the
// hello, right or wrong. More than kMaxHelloBytes before it closes the connection.
void BleBridge::onCandidateReadable(QTcpSocket *socket)
{
    const auto found = std::find_if(m_candidates.begin(), m_candidates.end(),
                                    [socket](const Candidate &candidate) { return candidate.socket == socket; });
    if (found == m_candidates.end())
        return;
    Candidate &candidate = *found;
    // One byte past the bound is enough to know it was passed.
    candidate.buffer += socket->read(kMaxHelloBytes + 1 - candidate.received - candidate.buffer.size());
    qsizetype newline;
    while ((newline = candidate.buffer.indexOf('\n')) >= 0 && candidate.received + newline < kMaxHelloBytes) {
        const QByteArray line = candidate.buffer.left(newline).trimmed();
        candidate.received += newline + 1;
        candidate.buffer.remove(0, newline + 1);
        if (line.isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject())
            continue;
        if (launchPending() && sameToken(document.object().value(QLatin1String("hello")).toString().toUtf8(), m_token.toUtf8())) {
            const QByteArray rest = candidate.buffer;
            acceptHelper(socket, rest);
        } else {
            dropCandidate(socket);
        }
        return;
    }
    if (candidate.received + candidate.buffer.size() > kMaxHelloBytes)
        dropCandidate(socket);
}

void BleBridge::acceptHelper(QTcpSocket *socket, const QByteArray &rest)
{
    m_candidates.removeIf([socket](const Candidate &candidate) { return candidate.socket == socket; });
    socket->disconnect(this);
    // The token has done its work; the other connections were not the helper.
    m_token.clear();
    m_startTimer->stop();
    dropCandidates();
    m_socket = socket;
    m_buffer = rest;
    // Requests are small lines, each awaited: no merging delay.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket->setReadBufferSize(kHelperReadBufferBytes);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onSocketLost(socket); });
    const QList<ReadyCallback> waiters = std::exchange(m_startWaiters, {});
    for (const ReadyCallback &waiter : waiters)
        waiter(true, QString());
    if (socket == m_socket && (!m_buffer.isEmpty() || socket->bytesAvailable() > 0))
        onReadyRead(socket);
}

void BleBridge::dropCandidate(QTcpSocket *socket)
{
    m_candidates.removeIf([socket](const Candidate &candidate) { return candidate.socket == socket; });
    closeLater(socket, this);
}

void BleBridge::dropCandidates()
{
    const QList<Candidate> candidates = std::exchange(m_candidates, {});
    for (const Candidate &candidate : candidates)
        closeLater(candidate.socket, this);
}

// Reads no more than one byte past the line bound at a time, taking the lines out between.
void BleBridge::onReadyRead(QTcpSocket *socket)
{
    while (takeLines(socket)) {
        const QByteArray chunk = socket->read(kMaxLineBytes + 1 - m_buffer.size());
        if (chunk.isEmpty())
            return;
        m_buffer += chunk;
    }
}

// Handles the buffer's whole lines; false when the socket is no longer the helper's.
bool BleBridge::takeLines(QTcpSocket *socket)
{
    qsizetype newline;
    while (socket == m_socket && (newline = m_buffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_buffer.left(newline).trimmed();
        m_buffer.remove(0, newline + 1);
        if (line.isEmpty())
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (!document.isObject())
            continue;
        handleLine(document.object());
    }
    // No line of the protocol comes near this: the other end is not behaving as the helper.
    if (socket == m_socket && m_buffer.size() > kMaxLineBytes) {
        socket->disconnect(this);
        socket->abort();
        onSocketLost(socket);
    }
    return socket == m_socket;
}

void BleBridge::handleLine(const QJsonObject &object)
{
    if (object.contains(QLatin1String("ev"))) {
        const QString event = object.value(QLatin1String("ev")).toString();
        if (event == QLatin1String("data"))
            Q_EMIT dataReceived(QByteArray::fromBase64(object.value(QLatin1String("b64")).toString().toLatin1()));
        else if (event == QLatin1String("disconnected"))
            Q_EMIT disconnected(object.value(QLatin1String("reason")).toString());
        return;
    }
    const int reqId = object.value(QLatin1String("reqId")).toInt(-1);
    auto it = m_pending.find(reqId);
    if (it == m_pending.end())
        return;
    Pending pending = it.value();
    m_pending.erase(it);
    settle(pending);
    BleReply reply;
    reply.ok = object.value(QLatin1String("ok")).toBool(false);
    if (reply.ok) {
        reply.result = object.value(QLatin1String("result")).toObject();
    } else {
        const QJsonObject error = object.value(QLatin1String("error")).toObject();
        reply.code = error.value(QLatin1String("code")).toString(QStringLiteral("ble_error"));
        reply.message = error.value(QLatin1String("message")).toString(QStringLiteral("Bluetooth error"));
    }
    if (pending.callback)
        pending.callback(reply);
}

void BleBridge::onRequestTimeout(int reqId)
{
    auto it = m_pending.find(reqId);
    if (it == m_pending.end())
        return;
    Pending pending = it.value();
    m_pending.erase(it);
    settle(pending);
    if (pending.callback)
        pending.callback(BleReply{false, {}, QStringLiteral("timeout"), timeoutText()});
}

void BleBridge::onSocketLost(QTcpSocket *socket)
{
    socket->deleteLater();
    if (socket != m_socket)
        return;
    m_socket = nullptr;
    m_buffer.clear();
    m_started = false;
    failAll(QStringLiteral("bluetooth_unavailable"), stoppedText());
    Q_EMIT helperStopped(QStringLiteral("stopped"));
}

void BleBridge::settle(Pending &pending)
{
    pending.timer->stop();
    pending.timer->deleteLater();
}

void BleBridge::failAll(const QString &code, const QString &message)
{
    const QHash<int, Pending> pending = std::exchange(m_pending, {});
    // In request order, as the helper would have answered them.
    QList<int> ids = pending.keys();
    std::sort(ids.begin(), ids.end());
    for (int id : std::as_const(ids)) {
        Pending entry = pending.value(id);
        settle(entry);
        if (entry.callback)
            entry.callback(BleReply{false, {}, code, message});
    }
}

// The helper reads its next line only after the request it works on: one busy in a scan
// would outlive the plugin by half a minute. One still starting never said hello, so it
// cannot be asked at all.
void BleBridge::endHelperProcess(bool askedToQuit)
{
    QProcess *process = m_process.data();
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->disconnect(this);
    if (askedToQuit && process->waitForFinished(kQuitWaitMs))
        return;
    process->kill();
    process->waitForFinished(kQuitWaitMs);
}

void BleBridge::stop()
{
    endHelperProcess(quitTalking());
}

void BleBridge::stopWithoutWaiting(QObject *keeper)
{
    const bool asked = quitTalking();
    QProcess *process = m_process.data();
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->disconnect(this);
    process->setParent(keeper);
    m_process = nullptr;
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    if (asked)
        QTimer::singleShot(kQuitWaitMs, process, [process] { process->kill(); });
    else
        process->kill();
}

void BleBridge::endQuitting(QObject *keeper)
{
    const QList<QProcess *> processes = keeper->findChildren<QProcess *>(Qt::FindDirectChildrenOnly);
    for (QProcess *process : processes) {
        process->disconnect();
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished(kQuitWaitMs);
        }
        delete process;
    }
}

// Forgets every caller, asks a helper that said hello to quit and closes the port; true
// when the helper was asked.
bool BleBridge::quitTalking()
{
    m_stopped = true;
    const QHash<int, Pending> pending = std::exchange(m_pending, {});
    for (Pending entry : pending)
        settle(entry);
    m_startWaiters.clear();
    m_startTimer->stop();
    m_token.clear();
    dropCandidates();
    const bool asked = m_socket;
    if (QTcpSocket *socket = m_socket.data()) {
        socket->disconnect(this);
        socket->write("{\"op\":\"quit\",\"reqId\":0}\n");
        socket->flush();
        socket->close();
        m_socket = nullptr;
    }
    m_server->close();
    m_buffer.clear();
    m_started = false;
    return asked;
}

} // namespace corvane
