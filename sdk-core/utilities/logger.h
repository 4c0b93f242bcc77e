// The SDK's console logger, in two layers.
//
// The utility layer (UTLLogger*) owns the output: the system log (syslog, ident
// "ziz.ozudor.utilities.logger"), standard error when asked, and a sink that tests read.
// It keeps the maximum level (initially notice, 5), the debug-mode flag and the version
// prefix. Every line is "<version prefix> - <service>[<code>] <text>", for example
//   10.27.0 - [TelemetryCore][I-COR000001] Configuring the default app.
// A message is dropped when its level is above the maximum level, debug mode is off and the
// message is not forced. Lines pass to the outputs in call order on the serial queue
// "UTLLoggingClientQueue", behind the client's level filter.
//
// The SDK layer (TELLogger*) is what SDK code calls. On its first use it sets the version
// prefix to the SDK version and applies the launch arguments "-TELDebugEnabled",
// "-TELDebugDisabled" and "-TELLoggerForceSTDERR" and the persisted debug mode (the BOOL
// "/zideza/telemetry/debug_mode" in the standard defaults).
//
// Formats are printf formats (strings are passed as "%s"). The wrapper calls without an
// argument list write the message as it is, '%' included.
//
// Thread safety: any thread may log or change the level at any time; the maximum level and
// the debug flag are atomics.
#pragma once

#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

// Levels of the system log.
enum class UTLLoggerLevel : int {
  Error = 3,
  Warning = 4,
  Notice = 5,
  Info = 6,
  Debug = 7,
};
using TELLoggerLevel = UTLLoggerLevel;

#define UTL_LOGGER_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// ---- Utility layer ------------------------------------------------------------------------

void UTLLoggerWrite(UTLLoggerLevel level, std::string_view service, bool force, std::string_view code,
                    const char* format, ...) UTL_LOGGER_PRINTF(5, 6);
void UTLLoggerWriteV(UTLLoggerLevel level, std::string_view service, bool force, std::string_view code,
                     const char* format, va_list arguments) UTL_LOGGER_PRINTF(5, 0);
// The message is written as it is, without format processing.
void UTLLoggerWriteMessage(UTLLoggerLevel level, std::string_view service, bool force, std::string_view code,
                           std::string_view message);
void UTLLoggerWriteError(std::string_view service, bool force, std::string_view code, const char* format, ...)
    UTL_LOGGER_PRINTF(4, 5);
void UTLLoggerWriteWarning(std::string_view service, bool force, std::string_view code, const char* format,
                           ...) UTL_LOGGER_PRINTF(4, 5);

// Sets the maximum level. A level outside 3...7 is refused with an error line; levels 5 to
// 7 are ignored in a store build.
void UTLLoggerSetMaximumLevel(UTLLoggerLevel level);
// Debug mode (maximum level 7, every level written); never entered in a store build.
void UTLLoggerEnterDebugMode();
// Also copy every line to standard error.
void UTLLoggerAddStandardError();
void UTLLoggerSetVersionPrefix(std::string prefix);

UTLLoggerLevel UTLLoggerMaximumLevel();
bool UTLLoggerIsInDebugMode();

struct UTLLoggerWrapper {
  static void logWithLevel(UTLLoggerLevel level, std::string_view service, std::string_view code,
                           const char* message, va_list arguments);
};

// ---- SDK layer ----------------------------------------------------------------------------

inline constexpr const char* TELLoggerDebugModeKey = "/zideza/telemetry/debug_mode";

void TELLoggerLogWithLevel(TELLoggerLevel level, std::string_view service, std::string_view code,
                           const char* format, ...) UTL_LOGGER_PRINTF(4, 5);
void TELLoggerLogWithLevelV(TELLoggerLevel level, std::string_view service, std::string_view code,
                            const char* format, va_list arguments) UTL_LOGGER_PRINTF(4, 0);
void TELLoggerLogError(std::string_view service, std::string_view code, const char* format, ...)
    UTL_LOGGER_PRINTF(3, 4);
void TELLoggerLogWarning(std::string_view service, std::string_view code, const char* format, ...)
    UTL_LOGGER_PRINTF(3, 4);
void TELLoggerLogInfo(std::string_view service, std::string_view code, const char* format, ...)
    UTL_LOGGER_PRINTF(3, 4);
void TELLoggerLogDebug(std::string_view service, std::string_view code, const char* format, ...)
    UTL_LOGGER_PRINTF(3, 4);
void TELLoggerSetLevel(TELLoggerLevel level);

struct TELLoggerWrapper {
  static void logWithLevel(TELLoggerLevel level, std::string_view service, std::string_view code,
                           const char* message, va_list arguments);
  // Writes `message` as it is, without format processing.
  static void logWithLevel(TELLoggerLevel level, std::string_view service, std::string_view code,
                           std::string_view message);
};

// ---- Sink and flush ------------------------------------------------------------------------

// Receives every line the client passes on (level, full line), on the logging queue, besides
// the system log: how a test reads what the SDK told its console (nullptr: none).
using UTLLoggerSink = std::function<void(UTLLoggerLevel level, const std::string& line)>;
void UTLLoggerSetSink(UTLLoggerSink sink);
// Waits until every line logged so far has reached the outputs.
void UTLLoggerFlush();
