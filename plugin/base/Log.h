#pragma once

#include <util/base.h>

namespace corvane {

// Writes one line to the OBS log with the plugin's "[corvane] " prefix.
void logLine(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

#define CORVANE_LOG_INFO(...) ::corvane::logLine(LOG_INFO, __VA_ARGS__)
#define CORVANE_LOG_WARNING(...) ::corvane::logLine(LOG_WARNING, __VA_ARGS__)
#define CORVANE_LOG_ERROR(...) ::corvane::logLine(LOG_ERROR, __VA_ARGS__)

} // namespace corvane
