#include "live/SocketReset.h"

#include <QTcpSocket>

#ifdef Q_OS_WIN
#include <winsock2.h>
using NativeSocket = SOCKET;
#else
#include <sys/socket.h>
using NativeSocket = int;
#endif

namespace corvane {

void resetConnection(QTcpSocket *socket)
{
    linger now{};
    now.l_onoff = 1;
    now.l_linger = 0;
    setsockopt(static_cast<NativeSocket>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER,
               reinterpret_cast<const char *>(&now), sizeof now);
    socket->abort();
}

} // namespace corvane
