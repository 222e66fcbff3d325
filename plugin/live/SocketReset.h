#pragma once

class QTcpSocket;

namespace corvane {

// Closes `socket` at once with a reset: its unsent output is thrown away by the system too,
// instead of waiting there for a reader that is not reading.
void resetConnection(QTcpSocket *socket);

} // namespace corvane
