#include "device/DeviceLink.h"

namespace corvane {

DeviceLink::~DeviceLink() = default;

} // namespace corvane
