#include "core/Log.h"

#include <cstdarg>
#include <string>

namespace corvane {

void logLine(int level, const char *format, ...)
{
    const std::string prefixed = std::string("[corvane] ") + format;
    va_list args;
    va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    blogva(level, prefixed.c_str(), args);
#pragma GCC diagnostic pop
    va_end(args);
}

} // namespace corvane
