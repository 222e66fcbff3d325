#include "base/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace corvane {
namespace {

void standardError(LogLevel, const char *line)
{
    std::fprintf(stderr, "%s\n", line);
}

// OBS threads log too (the text sources), so the sink is swapped atomically.
std::atomic<LogSink> g_sink{standardError};

} // namespace

LogSink setLogSink(LogSink sink)
{
    return g_sink.exchange(sink ? sink : standardError);
}

void logLine(LogLevel level, const char *format, ...)
{
    std::string line = "[corvane] ";
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        const size_t prefix = line.size();
        line.resize(prefix + size_t(length) + 1);
        std::vsnprintf(line.data() + prefix, size_t(length) + 1, format, args);
        line.resize(prefix + size_t(length));
    }
#pragma GCC diagnostic pop
    va_end(args);
    g_sink.load()(level, line.c_str());
}

} // namespace corvane
