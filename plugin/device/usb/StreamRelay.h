#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class QTcpSocket;

namespace corvane {

// Named TCP streams for a USB device, multiplexed by a one-byte id in type-5 frames. The
// device announces its routes (name to host and port) in its hello answer, asks for a
// stream by route name, and grants credit: the relay sends it stream bytes only within
// that credit, in messages of at most 512 bytes. A route to this computer or its local network
// is refused as a failed dial (RelayTargets).
class StreamRelay : public QObject {
    Q_OBJECT
public:
    using SocketFactory = std::function<QTcpSocket *()>;

    struct Route {
        QString host;
        quint16 port = 0;
    };

    explicit StreamRelay(QObject *parent = nullptr);
    ~StreamRelay() override;

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }
    // Closes every stream, then loads the routes of a hello "streams" object.
    void configure(const QJsonObject &streams);
    // Closes every stream without telling the device.
    void reset();
    // One stream message from a type-5 frame.
    void fromDevice(const QByteArray &payload);

    QStringList routeNames() const { return m_routeNames; }
    Route route(const QString &name) const { return m_routes.value(name); }
    int openCount() const { return m_openCount; }
    int streamCount() const { return int(m_streams.size()); }
    quint64 bytesFromDevice() const { return m_bytesFromDevice; }
    quint64 bytesToDevice() const { return m_bytesToDevice; }
    QString lastError() const { return m_lastError; }
    // Bytes the relay may still send the device on stream `id` (0 for no such stream).
    quint32 credit(quint8 id) const { return m_streams.value(id).credit; }

    void setSocketFactory(SocketFactory factory) { m_socketFactory = std::move(factory); }

    static constexpr quint32 MaxCredit = 16777216;
    static constexpr qsizetype MaxPending = 65536;

Q_SIGNALS:
    // One stream message for the device.
    void toDevice(const QByteArray &payload);
    void statusChanged();

private:
    struct Stream {
        QPointer<QTcpSocket> socket;
        bool connected = false;
        bool peerClosed = false;
        quint32 credit = 0;
        QByteArray pending;
    };

    void openStream(quint8 id, const QString &name);
    void closeStream(quint8 id, bool tellDevice);
    void pumpStream(quint8 id);
    void sendError(quint8 id, const QByteArray &reason);
    void recount();
    bool owns(quint8 id, const QTcpSocket *socket) const;
    void onConnected(quint8 id);
    void failDial(quint8 id, const QString &error);

    bool m_enabled = true;
    QHash<QString, Route> m_routes;
    QStringList m_routeNames;
    QHash<quint8, Stream> m_streams;
    int m_openCount = 0;
    quint64 m_bytesFromDevice = 0;
    quint64 m_bytesToDevice = 0;
    QString m_lastError;
    QSet<QString> m_refusalsLogged; // refused targets, logged once each
    SocketFactory m_socketFactory;
};

} // namespace corvane
