#include "device/RpcTransport.h"

namespace corvane {

RpcTransport::~RpcTransport() = default;

} // namespace corvane
