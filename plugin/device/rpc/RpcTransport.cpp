#include "device/rpc/RpcTransport.h"

namespace corvane {

RpcTransport::~RpcTransport() = default;

} // namespace corvane
