#pragma once

namespace corvane {

// Severity of a log line; the values are libobs's, so the OBS floor passes them through.
// Debug lines reach OBS's log file only when OBS runs with --verbose.
enum class LogLevel : int { Error = 100, Warning = 200, Info = 300, Debug = 400 };

// Where finished lines go. The OBS floor points this at OBS's log at load; until then, and in
// tests and tools, lines go to standard error.
using LogSink = void (*)(LogLevel level, const char *line);

// Installs a sink (nullptr restores standard error) and returns the one it replaces.
LogSink setLogSink(LogSink sink);

// Writes one line with the plugin's "[corvane] " prefix.
void logLine(LogLevel level, const char *format, ...) __attribute__((format(printf, 2, 3)));

} // namespace corvane

#define CORVANE_LOG_INFO(...) ::corvane::logLine(::corvane::LogLevel::Info, __VA_ARGS__)
#define CORVANE_LOG_WARNING(...) ::corvane::logLine(::corvane::LogLevel::Warning, __VA_ARGS__)
#define CORVANE_LOG_ERROR(...) ::corvane::logLine(::corvane::LogLevel::Error, __VA_ARGS__)
#define CORVANE_LOG_DEBUG(...) ::corvane::logLine(::corvane::LogLevel::Debug, __VA_ARGS__)
