#include "BlePeripheral.h"

#include "DeviceState.h"

#include "device/ble/BleAssembler.h"


#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdio>

namespace corvane::devsim {

namespace {

const QString ServiceUuid = QStringLiteral("6E400001-B5A3-F393-E0A9-E50E24DCCA9E");
const QString WriteUuid = QStringLiteral("6E400003-B5A3-F393-E0A9-E50E24DCCA9E");
const QString NotifyUuid = QStringLiteral("6E400004-B5A3-F393-E0A9-E50E24DCCA9E");

struct Advert {
    quint64 address;
    int rssi;
    const char *uuids; // comma-separated, "" for none
    const char *name;
};

// What a scan hears, in this order, every round: the device by its service alone, the same
// device by its name alone, a look-alike name in lower case, unrelated devices, the first
// two heard again (stronger, and later without a name), and a second device with both, heard
// again without its name.
const Advert Adverts[] = {
    {0x00A1B2C3D4E5ull, -61, "6E400001-B5A3-F393-E0A9-E50E24DCCA9E", ""},
    {0xC0FFEE000029ull, -70, "", "Corvane-0029"},
    {0xC0FFEE00002Aull, -45, "", "corvane-x"},
    {0x5A5A5A5A5A5Aull, -80, "0000180F-0000-1000-8000-00805F9B34FB", "Headphones"},
    {0x1234567890ABull, -88, "", ""},
    {0x00A1B2C3D4E5ull, -55, "6E400001-B5A3-F393-E0A9-E50E24DCCA9E", ""},
    {0xC0FFEE000029ull, -66, "", ""},
    {0x0E0E0E0E0E0Eull, -72, "6E400001-B5A3-F393-E0A9-E50E24DCCA9E", "Rink 2"},
    {0x0E0E0E0E0E0Eull, -68, "6E400001-B5A3-F393-E0A9-E50E24DCCA9E", ""},
};

// Devices that accept a connection, and whether they carry the Corvane service.
struct Peer {
    quint64 address;
    bool corvane;
};
const Peer Peers[] = {
    {0x00A1B2C3D4E5ull, true},
    {0xC0FFEE000029ull, true},
    {0x0E0E0E0E0E0Eull, true},
    {0x5A5A5A5A5A5Aull, false},
};

QString addressText(quint64 address)
{
    return QStringLiteral("%1").arg(address, 12, 16, QLatin1Char('0')).toUpper();
}

void report(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Chunks of one notified message. Above the 8192 bytes the 0xFF form can describe, the
// device falls back to the short header with its 8-bit index.
QList<QByteArray> notificationChunks(const QByteArray &message, int size, quint8 sequence)
{
    QList<QByteArray> chunks = fragmentForBle(message, size, sequence);
    if (!chunks.isEmpty())
        return chunks;
    const int piece = size - 3;
    for (qsizetype offset = 0, index = 0; offset < message.size(); offset += piece, ++index) {
        QByteArray chunk;
        chunk.append(char((message.size() >> 8) & 0xFF)).append(char(message.size() & 0xFF)).append(char(index & 0xFF));
        chunks << chunk + message.mid(offset, piece);
    }
    return chunks;
}

} // namespace

struct BlePeripheral::Radio {
    QTcpSocket *socket = nullptr;
    QByteArray buffer;
    bool scanning = false;
    quint64 device = 0;     // the open device, 0 for none
    bool corvane = false;   // it has the service
    bool serviceFound = false;
    bool subscribed = false;
    bool lost = false;      // the link dropped; the device object stays until CLOSE or OPEN
    quint64 linkGeneration = 0;
    BleAssembler assembler;
    AdminSession admin;
};

BlePeripheral::BlePeripheral(DeviceState *state, int pduSize, quint64 address, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_methods(state)
    , m_server(new QTcpServer(this))
    , m_advertTimer(new QTimer(this))
    , m_pduSize(pduSize)
    , m_address(address)
{
    connect(m_server, &QTcpServer::newConnection, this, &BlePeripheral::onNewConnection);
    m_advertTimer->setInterval(400);
    connect(m_advertTimer, &QTimer::timeout, this, [this] {
        for (Radio *radio : std::as_const(m_radios)) {
            if (radio->scanning)
                advertise(radio);
        }
    });
    m_advertTimer->start();
    connect(m_state, &DeviceState::wentDown, this, [this] { dropLinks(QStringLiteral("restart")); });
}

BlePeripheral::~BlePeripheral()
{
    qDeleteAll(m_radios);
}

bool BlePeripheral::listen(quint16 port, QString *error)
{
    if (m_server->listen(QHostAddress::LocalHost, port))
        return true;
    *error = m_server->errorString();
    return false;
}

quint16 BlePeripheral::serverPort() const
{
    return m_server->serverPort();
}

int BlePeripheral::payloadSize() const
{
    if (m_pduSize <= 0)
        return 20;
    return qBound(20, m_pduSize < 248 ? m_pduSize - 3 : 244, 244);
}

QString BlePeripheral::commands()
{
    return QStringLiteral(
        "Bluetooth side (with --ble-port):\n"
        "  ble-deny service|subscribe|write|off   refuse that step with AccessDenied\n"
        "  ble-away on|off     the device is out of range: opening any address finds nothing\n"
        "  ble-drop            drop every open link (the radios hear LOST)\n"
        "  ble-pdu <n>|none    the PDU size of later links (none: it cannot be read)\n"
        "  ble-names on|off    advertise names, or no names at all\n"
        "Lines on stdout: BLE 127.0.0.1:<port>, BLE-SCAN start|stop, BLE-OPEN <address> found|none,\n"
        "BLE-SUBSCRIBE <status>, BLE-WRITE <size> <sequence|-> <index|-> <status>, BLE-RPC <id> <method> <size>,\n"
        "BLE-CLOSE, BLE-LOST.\n");
}

bool BlePeripheral::command(const QString &line)
{
    const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty() || !words.first().startsWith(QLatin1String("ble-")))
        return false;
    const QString name = words.first();
    const QString arg = words.value(1);
    bool ok = true;
    if (name == QLatin1String("ble-deny")) {
        ok = arg == QLatin1String("service") || arg == QLatin1String("subscribe") || arg == QLatin1String("write")
            || arg == QLatin1String("off");
        if (ok)
            m_deny = arg == QLatin1String("off") ? QString() : arg;
    } else if (name == QLatin1String("ble-away")) {
        m_away = arg != QLatin1String("off");
    } else if (name == QLatin1String("ble-drop")) {
        dropLinks(QStringLiteral("command"));
    } else if (name == QLatin1String("ble-pdu")) {
        m_pduSize = arg == QLatin1String("none") ? 0 : arg.toInt(&ok);
        ok = ok && m_pduSize >= 0;
    } else if (name == QLatin1String("ble-names")) {
        m_names = arg != QLatin1String("off");
    } else {
        ok = false;
    }
    report(QStringLiteral("%1 %2").arg(ok ? QStringLiteral("OK") : QStringLiteral("ERR"), line));
    return true;
}

void BlePeripheral::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto *radio = new Radio;
        radio->socket = socket;
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_radios << radio;
        connect(socket, &QTcpSocket::readyRead, this, [this, radio] { onReadyRead(radio); });
        connect(socket, &QTcpSocket::disconnected, this, [this, radio] {
            m_radios.removeOne(radio);
            radio->socket->deleteLater();
            delete radio;
        });
    }
}

void BlePeripheral::onReadyRead(Radio *radio)
{
    radio->buffer += radio->socket->readAll();
    qsizetype newline;
    while ((newline = radio->buffer.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(radio->buffer.left(newline));
        radio->buffer.remove(0, newline + 1);
        const QStringList words = line.split(QLatin1Char(' '));
        handle(radio, words.value(0).toULongLong(), words.value(1), words.value(2));
    }
}

void BlePeripheral::advertise(Radio *radio)
{
    if (m_address != 0) {
        const QString name = m_names ? QStringLiteral("Corvane-") + m_state->deviceId : QString();
        radio->socket->write(QStringLiteral("ADV %1 -58 %2 %3\n").arg(addressText(m_address), ServiceUuid, name).toUtf8());
        return;
    }
    QByteArray lines;
    for (const Advert &ad : Adverts) {
        const QString uuids = *ad.uuids ? QString::fromLatin1(ad.uuids) : QStringLiteral("-");
        const QString name = m_names ? QString::fromUtf8(ad.name) : QString();
        lines += QStringLiteral("ADV %1 %2 %3 %4\n").arg(addressText(ad.address)).arg(ad.rssi).arg(uuids, name).toUtf8();
    }
    radio->socket->write(lines);
}

void BlePeripheral::handle(Radio *radio, quint64 number, const QString &verb, const QString &argument)
{
    const auto answer = [radio, number](const QString &text) {
        radio->socket->write(QStringLiteral("%1 %2\n").arg(number).arg(text).toUtf8());
    };
    const auto status = [this](const char *step) {
        return m_deny == QLatin1String(step) ? QStringLiteral("AccessDenied") : QStringLiteral("Success");
    };
    if (verb == QLatin1String("ADAPTER")) {
        answer(QStringLiteral("OK READY"));
    } else if (verb == QLatin1String("SCAN")) {
        radio->scanning = argument == QLatin1String("START");
        report(QStringLiteral("BLE-SCAN %1").arg(radio->scanning ? QStringLiteral("start") : QStringLiteral("stop")));
        answer(QStringLiteral("OK"));
        if (radio->scanning)
            advertise(radio);
    } else if (verb == QLatin1String("OPEN")) {
        const quint64 address = argument.toULongLong(nullptr, 16);
        newLink(radio);
        if (!m_away && reachable(address, &radio->corvane))
            radio->device = address;
        report(QStringLiteral("BLE-OPEN %1 %2").arg(addressText(address), radio->device ? QStringLiteral("found") : QStringLiteral("none")));
        answer(radio->device ? QStringLiteral("OK FOUND") : QStringLiteral("OK NONE"));
    } else if (verb == QLatin1String("SERVICE")) {
        if (!radio->device)
            return answer(QStringLiteral("ERR No device is open."));
        const QString s = status("service");
        radio->serviceFound = s == QLatin1String("Success") && radio->corvane && argument == ServiceUuid;
        answer(QStringLiteral("OK %1 %2").arg(s).arg(radio->serviceFound ? 1 : 0));
    } else if (verb == QLatin1String("CHAR")) {
        if (!radio->serviceFound)
            return answer(QStringLiteral("ERR No service is open."));
        const bool known = argument == WriteUuid || argument == NotifyUuid;
        answer(QStringLiteral("OK Success %1").arg(known ? 1 : 0));
    } else if (verb == QLatin1String("SUBSCRIBE")) {
        const QString s = radio->serviceFound ? status("subscribe") : QStringLiteral("ProtocolError");
        radio->subscribed = s == QLatin1String("Success");
        report(QStringLiteral("BLE-SUBSCRIBE %1").arg(s));
        answer(QStringLiteral("OK %1").arg(s));
    } else if (verb == QLatin1String("PDU")) {
        if (!radio->device || m_pduSize <= 0)
            return answer(QStringLiteral("ERR The GATT session could not be opened."));
        answer(QStringLiteral("OK %1").arg(m_pduSize));
    } else if (verb == QLatin1String("WRITE")) {
        const QByteArray chunk = QByteArray::fromBase64(argument.toLatin1());
        const bool multi = chunk.size() >= 6 && quint8(chunk.at(0)) == 0xFF;
        const QString s = !radio->subscribed || radio->lost ? QStringLiteral("Unreachable") : status("write");
        report(QStringLiteral("BLE-WRITE %1 %2 %3 %4")
                   .arg(chunk.size())
                   .arg(multi ? QString::number(quint8(chunk.at(1))) : QStringLiteral("-"))
                   .arg(multi ? QString::number((quint8(chunk.at(4)) << 8) | quint8(chunk.at(5))) : QStringLiteral("-"), s));
        answer(QStringLiteral("OK %1").arg(s));
        if (s == QLatin1String("Success"))
            onWrite(radio, chunk);
    } else if (verb == QLatin1String("CLOSE")) {
        newLink(radio);
        report(QStringLiteral("BLE-CLOSE"));
        answer(QStringLiteral("OK"));
    } else {
        answer(QStringLiteral("ERR unknown request"));
    }
}

bool BlePeripheral::reachable(quint64 address, bool *corvane) const
{
    if (m_address != 0) {
        *corvane = address == m_address;
        return *corvane;
    }
    for (const Peer &peer : Peers) {
        if (peer.address == address) {
            *corvane = peer.corvane;
            return true;
        }
    }
    return false;
}

void BlePeripheral::newLink(Radio *radio)
{
    radio->device = 0;
    radio->corvane = false;
    radio->serviceFound = false;
    radio->subscribed = false;
    radio->lost = false;
    ++radio->linkGeneration;
    radio->assembler.reset();
    radio->admin = AdminSession{};
}

void BlePeripheral::onWrite(Radio *radio, const QByteArray &chunk)
{
    const QList<QByteArray> messages = radio->assembler.feed(chunk);
    for (const QByteArray &request : messages) {
        const QJsonObject envelope = QJsonDocument::fromJson(request).object();
        report(QStringLiteral("BLE-RPC %1 %2 %3")
                   .arg(envelope.value(QLatin1String("id")).toInteger())
                   .arg(envelope.value(QLatin1String("method")).toString())
                   .arg(request.size()));
        // The answer may come later: only to the same radio, on the same link.
        const QPointer<QTcpSocket> socket = radio->socket;
        const quint64 generation = radio->linkGeneration;
        m_methods.handleEnvelope(request, radio->admin, [this, socket, radio, generation](const QByteArray &reply) {
            if (!socket || !m_radios.contains(radio) || radio->linkGeneration != generation || radio->lost)
                return;
            notify(radio, reply);
        });
    }
}

void BlePeripheral::notify(Radio *radio, const QByteArray &message)
{
    if (!radio->subscribed)
        return;
    m_sequence = quint8(m_sequence % 255 + 1);
    QByteArray lines;
    for (const QByteArray &chunk : notificationChunks(message, payloadSize(), m_sequence))
        lines += "NOTIFY " + chunk.toBase64() + '\n';
    radio->socket->write(lines);
}

void BlePeripheral::dropLinks(const QString &why)
{
    for (Radio *radio : std::as_const(m_radios)) {
        if (!radio->device || radio->lost)
            continue;
        radio->lost = true;
        radio->socket->write("LOST\n");
        report(QStringLiteral("BLE-LOST %1").arg(why));
    }
}

} // namespace corvane::devsim
