#include "DeviceSimulator.h"
#include "DeviceState.h"
#include "EchoServer.h"
#include "FileServer.h"
#include "LiveFeedServer.h"
#include "PtyEndpoint.h"
#include "device/usb/FrameProtocol.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace corvane::devsim {

namespace {

// Milliseconds on the system's monotonic clock, comparable across processes.
qint64 monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

QString compact(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

const char *streamOpName(quint8 op)
{
    static const char *const names[] = {"?", "open", "opened", "error", "data", "close", "credit"};
    return op < 7 ? names[op] : "?";
}

} // namespace

DeviceSimulator::DeviceSimulator(const Options &options, DeviceState *state, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_pty(new PtyEndpoint(this))
    , m_liveTimer(new QTimer(this))
    , m_state(state)
    , m_methods(state)
    , m_random(7)
{
    connect(m_pty, &PtyEndpoint::received, this, &DeviceSimulator::onBytes);
    connect(m_liveTimer, &QTimer::timeout, this, [this] {
        m_state->game().advance(m_liveTimer->interval());
        sendLive();
    });
    connect(m_state, &DeviceState::wentDown, this, &DeviceSimulator::onWentDown);
    connect(m_state, &DeviceState::cameUp, this, &DeviceSimulator::onCameUp);
}

bool DeviceSimulator::openLine(QString *error)
{
    if (!m_pty->open(error))
        return false;
    m_receiveBuffer.clear();
    m_assembler = RpcAssembler();
    m_admin = AdminSession{};
    if (!m_options.ptyLink.isEmpty()) {
        QFile::remove(m_options.ptyLink);
        if (!QFile::link(m_pty->slavePath(), m_options.ptyLink)) {
            *error = QStringLiteral("cannot link %1 to %2").arg(m_options.ptyLink, m_pty->slavePath());
            return false;
        }
    }
    return true;
}

void DeviceSimulator::onWentDown()
{
    // A receiver stays on the line while the device it relays to restarts.
    if (m_options.receiver) {
        report(QStringLiteral("DOWN"));
        return;
    }
    m_liveTimer->stop();
    m_pty->unplug();
    if (!m_options.ptyLink.isEmpty())
        QFile::remove(m_options.ptyLink);
    report(QStringLiteral("DOWN"));
}

void DeviceSimulator::onCameUp()
{
    if (m_options.receiver) {
        report(QStringLiteral("UP"));
        return;
    }
    QString error;
    if (!openLine(&error)) {
        report(QStringLiteral("FAILED %1").arg(error));
        return;
    }
    if (m_options.liveMs > 0)
        m_liveTimer->start(m_options.liveMs);
    report(QStringLiteral("PTS %1").arg(m_pty->slavePath()));
    report(QStringLiteral("PTY %1").arg(m_options.ptyLink.isEmpty() ? m_pty->slavePath() : m_options.ptyLink));
}

QString DeviceSimulator::commands()
{
    return QStringLiteral(
        "Commands on stdin, one per line (each answered with \"OK <command>\" or \"ERR <command>\"):\n"
        "  hello               send a hello answer now (a late answer)\n"
        "  rxstatus            send an rx_status message now\n"
        "  silent on|off       stop or resume answering hello, receiver and RPC requests\n"
        "  noise on|off        put random bytes between outgoing frames\n"
        "  stall on|off        stop or resume reading the line\n"
        "  live                send one live message now\n"
        "  rate <ms>           live message interval, 0 stops them\n"
        "  tunnel <n>          send n tunnel bytes towards the cloud\n"
        "  open <id> <route>   ask the relay to open a stream\n"
        "  credit <id> <n>     grant n bytes of stream credit\n"
        "  sdata <id> <n>      send n bytes on a stream\n"
        "  sclose <id>         close a stream\n"
        "  raw <type> <text>   send one frame with the text as payload\n"
        "  unplug              close the pty master, as if the cable were pulled\n"
        "  drop <n>            leave the next n RPC requests unanswered\n"
        "  fail <method> [<n>] answer the next n (default 1) requests for method with an error\n"
        "  logout              drop every admin sign-in (the next call is \"unauthorized\")\n"
        "  password <text>     the admin password changed elsewhere; sign-ins dropped\n"
        "  paired on|off       receiver mode: the paired device answers, or is out of reach\n"
        "  restart             restart the device: the line drops and comes back\n"
        "  restart-ms <ms>     how long a restart keeps the device away\n"
        "  feed-fail           live feed: send auth_fail to signed-in clients and close them\n"
        "  feed-drop           live feed: drop every connection\n"
        "  feed-newcert        live feed: a new certificate, as after a reset; connections dropped\n"
        "  quit                exit\n"
        "Lines on stdout: FEED-CERT <sha256> (at start and after feed-newcert), FEED <port> (or FEED-FAILED <why>), PTY <path> (again after each restart), PTS <pty>, DOWN, UP, CLOUD <port>, OTA <port> <size> <sha1>, CTRL <json>,\n"
        "RPC <id> <method> <size>, PARAMS <method> <json>, DROPPED <method>, FAILED-BY-COMMAND <method>, LIVE <seq>, TUNNEL <size> <monotonic ms> <base64>,\n"
        "STREAM <id> <op> <size> <monotonic ms> [<base64>], STREAM-DONE <id> <bytes> <sha1>,\n"
        "UNPLUGGED, OK/ERR <command>.\n");
}

bool DeviceSimulator::start(QString *error)
{
    if (!openLine(error))
        return false;
    m_state->setExtraStatus(QJsonObject{
        {QStringLiteral("transport"), QStringLiteral("usb")},
        {QStringLiteral("cloud"), QJsonObject{{QStringLiteral("via_usb"), !m_options.tunnel.host.isEmpty()}}},
    });
    if (m_options.cloudEcho || m_options.echoStream) {
        m_echo = new EchoServer(this);
        if (!m_echo->start()) {
            *error = m_echo->errorString();
            return false;
        }
        report(QStringLiteral("CLOUD %1").arg(m_echo->serverPort()));
        if (m_options.cloudEcho)
            m_options.tunnel = Route{QStringLiteral("127.0.0.1"), m_echo->serverPort()};
        if (m_options.echoStream)
            m_options.streams.insert(QStringLiteral("echo"), Route{QStringLiteral("127.0.0.1"), m_echo->serverPort()});
    }
    if (m_options.otaSize >= 0 || !m_options.otaContent.isEmpty()) {
        const QByteArray content = m_options.otaContent.isEmpty() ? FileServer::pattern(m_options.otaSize) : m_options.otaContent;
        m_files = new FileServer(content, this);
        if (!m_files->start()) {
            *error = m_files->errorString();
            return false;
        }
        m_options.streams.insert(QStringLiteral("ota"), Route{QStringLiteral("127.0.0.1"), m_files->serverPort()});
        report(QStringLiteral("OTA %1 %2 %3")
                   .arg(m_files->serverPort())
                   .arg(content.size())
                   .arg(QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex())));
    }
    // The feed is one front end among several: a port in use (or 1010 without the right to
    // it) leaves the simulator running without it.
    if (!m_options.receiver) {
        m_feed = new LiveFeedServer([this] { return m_state->apiToken; }, this);
        QString feedError;
        const bool listening = m_feed->start(quint16(m_options.feedPort), &feedError);
        noteFeedCertificate();
        if (listening) {
            report(QStringLiteral("FEED %1").arg(m_feed->serverPort()));
        } else {
            report(QStringLiteral("FEED-FAILED %1").arg(feedError));
            delete m_feed;
            m_feed = nullptr;
        }
    }
    if (m_options.liveMs > 0)
        m_liveTimer->start(m_options.liveMs);
    // The path goes last: a reader that sees it knows the servers above are listening.
    report(QStringLiteral("PTS %1").arg(m_pty->slavePath()));
    report(QStringLiteral("PTY %1").arg(m_options.ptyLink.isEmpty() ? m_pty->slavePath() : m_options.ptyLink));
    return true;
}

// The device reports its feed certificate's fingerprint in its status.
void DeviceSimulator::noteFeedCertificate()
{
    const QString fingerprint = m_feed ? m_feed->fingerprint() : QString();
    if (fingerprint.isEmpty())
        return;
    m_state->tlsFingerprint = fingerprint;
    report(QStringLiteral("FEED-CERT %1").arg(fingerprint));
}

void DeviceSimulator::report(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QByteArray DeviceSimulator::noiseBytes()
{
    // No zero byte, so that noise can never begin a frame and hold back the next real one.
    QByteArray bytes(1 + int(m_random.bounded(24)), Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(1 + m_random.bounded(255));
    return bytes;
}

void DeviceSimulator::sendFrame(quint8 type, const QByteArray &payload)
{
    if (m_options.noise)
        m_pty->write(noiseBytes());
    m_pty->write(encodeFrame(type, payload));
}

void DeviceSimulator::sendControl(const QJsonObject &message)
{
    sendFrame(quint8(UsbFrameType::Control), QJsonDocument(message).toJson(QJsonDocument::Compact));
}

void DeviceSimulator::sendHelloAnswer()
{
    QJsonObject streams;
    for (auto it = m_options.streams.cbegin(); it != m_options.streams.cend(); ++it)
        streams.insert(it.key(), QJsonObject{{QStringLiteral("host"), it->host}, {QStringLiteral("port"), it->port}});
    sendControl(QJsonObject{
        {QStringLiteral("t"), QStringLiteral("hello")},
        {QStringLiteral("device_id"), m_state->deviceId},
        {QStringLiteral("model"), m_state->model},
        {QStringLiteral("fw"), m_state->firmwareVersion},
        {QStringLiteral("fw_version"), m_state->firmwareVersion},
        {QStringLiteral("tunnel"), QJsonObject{{QStringLiteral("host"), m_options.tunnel.host}, {QStringLiteral("port"), m_options.tunnel.port}}},
        {QStringLiteral("streams"), streams},
    });
}

void DeviceSimulator::sendReceiverStatus()
{
    sendControl(QJsonObject{
        {QStringLiteral("t"), QStringLiteral("rx_status")},
        {QStringLiteral("fw"), QStringLiteral("rx-1.1.0-sim")},
        {QStringLiteral("fw_version"), QStringLiteral("rx-1.1.0-sim")},
        {QStringLiteral("configured"), !m_receiverKey.isEmpty()},
        {QStringLiteral("paired"), !m_receiverKey.isEmpty()},
        // Whether the device's radio is heard right now.
        {QStringLiteral("link"), !m_state->options().pairedSilent},
        {QStringLiteral("channel"), m_receiverChannel},
        {QStringLiteral("rssi"), -48},
    });
}

void DeviceSimulator::sendLive()
{
    // Every tenth message is a keep-alive, as the firmware sends between updates.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QJsonObject message = m_random.bounded(10) == 0 ? m_state->game().heartbeat(now) : m_state->game().message(now);
    if (m_options.liveStamp && message.contains(QLatin1String("fields"))) {
        timespec clock{};
        clock_gettime(CLOCK_MONOTONIC, &clock);
        QJsonObject fields = message.value(QLatin1String("fields")).toObject();
        fields.insert(QStringLiteral("sim_sent_us"), QString::number(qint64(clock.tv_sec) * 1000000 + clock.tv_nsec / 1000));
        message.insert(QStringLiteral("fields"), fields);
    }
    sendFrame(quint8(UsbFrameType::Live), QJsonDocument(message).toJson(QJsonDocument::Compact));
    if (m_feed)
        m_feed->broadcast(message);
}

void DeviceSimulator::sendTunnel(qsizetype size)
{
    const QByteArray bytes = FileServer::pattern(size);
    for (qsizetype offset = 0; offset < bytes.size(); offset += kMaxFramePayload)
        sendFrame(quint8(UsbFrameType::Tunnel), bytes.mid(offset, kMaxFramePayload));
}

void DeviceSimulator::onBytes(const QByteArray &bytes)
{
    const QList<UsbFrame> frames = decodeFrames(m_receiveBuffer, bytes);
    for (const UsbFrame &frame : frames) {
        switch (static_cast<UsbFrameType>(frame.type)) {
        case UsbFrameType::Control: {
            const QJsonObject message = parseControl(frame.payload);
            report(QStringLiteral("CTRL %1").arg(compact(message)));
            onControl(message);
            break;
        }
        case UsbFrameType::Rpc:
            onRpc(frame.payload);
            break;
        case UsbFrameType::Tunnel:
            report(QStringLiteral("TUNNEL %1 %2 %3")
                       .arg(frame.payload.size())
                       .arg(monotonicMs())
                       .arg(QString::fromLatin1(frame.payload.toBase64())));
            break;
        case UsbFrameType::Stream:
            onStream(frame.payload);
            break;
        default:
            break;
        }
        if (!m_pty->isOpen())
            return;
    }
}

void DeviceSimulator::onControl(const QJsonObject &message)
{
    if (m_options.silent)
        return;
    const QString type = message.value(QLatin1String("t")).toString();
    if (type == QLatin1String("hello")) {
        if (m_options.receiver)
            sendReceiverStatus();
        else
            sendHelloAnswer();
    } else if (type == QLatin1String("rx_set") && m_options.receiver) {
        onReceiverSet(message);
    }
}

void DeviceSimulator::onReceiverSet(const QJsonObject &message)
{
    const auto answer = [this](const QString &t, bool ok, const QString &key, const QString &error) {
        QJsonObject reply{{QStringLiteral("t"), t}, {QStringLiteral("ok"), ok}};
        if (!key.isEmpty())
            reply.insert(QStringLiteral("key"), key);
        if (!error.isEmpty())
            reply.insert(QStringLiteral("error"), error);
        sendControl(reply);
    };
    if (message.value(QLatin1String("generate_key")).toBool()) {
        QString key;
        for (int i = 0; i < 32; ++i)
            key += QLatin1Char("0123456789abcdef"[m_random.bounded(16)]);
        m_receiverKey = key;
        answer(QStringLiteral("rx_set"), true, key, QString());
        sendReceiverStatus();
        return;
    }
    const QString key = message.value(QLatin1String("key")).toString();
    if (key.size() < 8) {
        answer(QStringLiteral("rx_error"), false, QString(), QStringLiteral("The key must have at least 8 characters"));
        return;
    }
    m_receiverKey = key;
    answer(QStringLiteral("rx_set"), true, key, QString());
    sendReceiverStatus();
}

void DeviceSimulator::onRpc(const QByteArray &payload)
{
    const QByteArray request = m_assembler.feed(payload);
    if (request.isEmpty() || m_options.silent)
        return;
    const QJsonObject envelope = QJsonDocument::fromJson(request).object();
    const QString method = envelope.value(QLatin1String("method")).toString();
    report(QStringLiteral("RPC %1 %2 %3").arg(envelope.value(QLatin1String("id")).toInteger()).arg(method).arg(request.size()));
    if (request.size() < 2048)
        report(QStringLiteral("PARAMS %1 %2").arg(method, compact(envelope.value(QLatin1String("params")).toObject())));
    if (m_dropRequests > 0) {
        --m_dropRequests;
        report(QStringLiteral("DROPPED %1").arg(method));
        return;
    }
    if (const auto failing = m_failures.find(method); failing != m_failures.end()) {
        if (--*failing <= 0)
            m_failures.erase(failing);
        report(QStringLiteral("FAILED-BY-COMMAND %1").arg(method));
        const RpcMethods::Reply failure = RpcMethods::Reply::failure(QStringLiteral("internal_error"),
                                                                     QStringLiteral("The device could not answer %1.").arg(method));
        for (const QByteArray &frame : fragmentRpc(RpcMethods::encodeReply(envelope.value(QLatin1String("id")), failure)))
            m_pty->write(frame);
        return;
    }
    // An answer that comes later must not reach a line that has been replaced since. Late
    // answers run from timers of the state, which main() keeps alive longer than this.
    const int boot = m_state->boots;
    m_methods.handleEnvelope(request, m_admin, [this, boot](const QByteArray &reply) {
        if (boot != m_state->boots || !m_pty->isOpen())
            return;
        const QList<QByteArray> frames = fragmentRpc(reply);
        for (const QByteArray &frame : frames) {
            if (m_options.noise)
                m_pty->write(noiseBytes());
            m_pty->write(frame);
        }
    });
}

void DeviceSimulator::onStream(const QByteArray &payload)
{
    StreamMessage message;
    if (!parseStreamMessage(payload, message))
        return;
    const quint8 op = quint8(message.op);
    QString line = QStringLiteral("STREAM %1 %2 %3 %4")
                       .arg(message.id)
                       .arg(QLatin1String(streamOpName(op)))
                       .arg(message.data.size())
                       .arg(monotonicMs());
    if (!message.data.isEmpty())
        line += QLatin1Char(' ') + QString::fromLatin1(message.data.toBase64());
    report(line);
    switch (message.op) {
    case StreamOp::Opened:
        m_streams.insert(message.id, StreamState{});
        if (m_options.streamCredit > 0)
            sendFrame(quint8(UsbFrameType::Stream), streamCreditMessage(message.id, m_options.streamCredit));
        break;
    case StreamOp::Data: {
        StreamState &state = m_streams[message.id];
        state.received += message.data.size();
        state.digestInput += message.data;
        if (m_options.streamCredit > 0)
            sendFrame(quint8(UsbFrameType::Stream), streamCreditMessage(message.id, quint32(message.data.size())));
        break;
    }
    case StreamOp::Close:
    case StreamOp::Error: {
        const StreamState state = m_streams.take(message.id);
        if (message.op == StreamOp::Close)
            report(QStringLiteral("STREAM-DONE %1 %2 %3")
                       .arg(message.id)
                       .arg(state.received)
                       .arg(QString::fromLatin1(QCryptographicHash::hash(state.digestInput, QCryptographicHash::Sha1).toHex())));
        break;
    }
    default:
        break;
    }
}

bool DeviceSimulator::command(const QString &line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    const QString name = words.first();
    const auto arg = [&words](int i) { return i < words.size() ? words.at(i) : QString(); };
    const auto flag = [&arg] { return arg(1) != QLatin1String("off"); };
    const auto number = [&arg](int i) { return arg(i).toLongLong(); };

    using Command = std::function<bool()>;
    const QHash<QString, Command> table = {
        {QStringLiteral("hello"), [this] { sendHelloAnswer(); return true; }},
        {QStringLiteral("rxstatus"), [this] { sendReceiverStatus(); return true; }},
        {QStringLiteral("silent"), [this, &flag] { m_options.silent = flag(); return true; }},
        {QStringLiteral("noise"), [this, &flag] { m_options.noise = flag(); return true; }},
        {QStringLiteral("stall"), [this, &flag] { m_pty->setReading(!flag()); return true; }},
        {QStringLiteral("live"), [this] { sendLive(); return true; }},
        {QStringLiteral("rate"), [this, &number] {
             const int ms = int(number(1));
             if (ms > 0)
                 m_liveTimer->start(ms);
             else
                 m_liveTimer->stop();
             return true;
         }},
        {QStringLiteral("tunnel"), [this, &number] { sendTunnel(qMax<qint64>(0, number(1))); return true; }},
        {QStringLiteral("open"), [this, &number, &arg] {
             sendFrame(quint8(UsbFrameType::Stream), encodeStreamMessage(quint8(number(1)), StreamOp::Open, arg(2).toUtf8()));
             return true;
         }},
        {QStringLiteral("credit"), [this, &number] {
             sendFrame(quint8(UsbFrameType::Stream), streamCreditMessage(quint8(number(1)), quint32(number(2))));
             return true;
         }},
        {QStringLiteral("sdata"), [this, &number] {
             const QByteArray bytes = FileServer::pattern(number(2));
             for (qsizetype offset = 0; offset < bytes.size(); offset += 1024)
                 sendFrame(quint8(UsbFrameType::Stream), encodeStreamMessage(quint8(number(1)), StreamOp::Data, bytes.mid(offset, 1024)));
             return true;
         }},
        {QStringLiteral("sclose"), [this, &number] {
             m_streams.remove(int(number(1)));
             sendFrame(quint8(UsbFrameType::Stream), encodeStreamMessage(quint8(number(1)), StreamOp::Close));
             return true;
         }},
        {QStringLiteral("raw"), [this, &number, &line] {
             const QString text = line.section(QLatin1Char(' '), 2);
             sendFrame(quint8(number(1)), text.toUtf8());
             return true;
         }},
        {QStringLiteral("unplug"), [this] {
             m_pty->unplug();
             report(QStringLiteral("UNPLUGGED"));
             return true;
         }},
        {QStringLiteral("logout"), [this] { m_state->dropSessions(); return true; }},
        {QStringLiteral("drop"), [this, &number] { m_dropRequests = int(qMax<qint64>(0, number(1))); return true; }},
        {QStringLiteral("fail"), [this, &number, &arg] {
             m_failures.insert(arg(1), int(qMax<qint64>(1, number(2))));
             return !arg(1).isEmpty();
         }},
        {QStringLiteral("password"), [this, &arg] {
             m_state->password = arg(1);
             m_state->mustChangePassword = false;
             m_state->dropSessions();
             return !arg(1).isEmpty();
         }},
        {QStringLiteral("paired"), [this, &flag] { m_state->setPairedSilent(!flag()); return true; }},
        {QStringLiteral("restart"), [this] { m_state->scheduleRestart(QStringLiteral("restart command")); return true; }},
        {QStringLiteral("restart-ms"), [this, &number] { m_state->setRestartMs(int(qMax<qint64>(0, number(1)))); return true; }},
        {QStringLiteral("feed-fail"), [this] {
             if (m_feed)
                 m_feed->failAuthenticated();
             return m_feed != nullptr;
         }},
        {QStringLiteral("feed-newcert"), [this] {
             QString error;
             if (!m_feed || !m_feed->renewCertificate(&error))
                 return false;
             noteFeedCertificate();
             return true;
         }},
        {QStringLiteral("feed-drop"), [this] {
             if (m_feed)
                 m_feed->dropAll();
             return m_feed != nullptr;
         }},
        {QStringLiteral("quit"), [this] { Q_EMIT quitRequested(); return true; }},
    };
    const auto it = table.constFind(name);
    const bool ok = it != table.cend() && (*it)();
    report(QStringLiteral("%1 %2").arg(ok ? QStringLiteral("OK") : QStringLiteral("ERR"), line));
    return ok;
}

} // namespace corvane::devsim
