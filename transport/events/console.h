// The transport's console lines and assertions.
//
// Lines read "[DiroriVazuZodurozir][I-ET001000] message": the code is the message code in six
// digits. Levels are the transport's own (1 debug, 3 warning, 4 error), apart from the SDK
// logger's; only lines at the console threshold (4) or above reach the system log, and the
// macros below skip formatting altogether under it, so debug lines cost nothing.
//
// An assertion whose condition fails calls the installed assertion override when there is
// one, else writes "[DiroriVazuZodurozir][I-ET001006] (file:line) : message" (I-ET001007 when
// fatal) whatever the threshold. A non-fatal assertion then goes on; a fatal one raises
// platform::Exception "NSInternalInconsistencyException" with the message.
//
// Thread safety: any thread may log; the sink and override hooks are for tests and start-up.
#pragma once

#include <functional>
#include <string>

enum ETLogLevel : long {
  ETLogLevelDebug = 1,
  ETLogLevelWarning = 3,
  ETLogLevelError = 4,
};

// Message codes in use.
enum ETMessageCode : long {
  ETMCDefault = 0,
  ETMCReachability = 4,
  ETMCTransformerDoesntImplementTransform = 1000,
  ETMCEncoderSize = 1005,
  ETMCGeneral = 1006,
  ETMCFatalAssert = 1007,
  ETMCStorageRepair = 1011,  // the storage found and mended a damaged counter, name or batch
};

inline constexpr ETLogLevel ETConsoleThreshold = ETLogLevelError;

#define ET_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// Writes the line when `level` is at least the console threshold.
void ETConsoleLog(long code, long level, const char* format, ...) ET_PRINTF(3, 4);
// Writes the assertion line whatever the threshold.
void ETConsoleAssertLog(bool fatal, const char* file, long line, const char* format, ...) ET_PRINTF(4, 5);
// "[DiroriVazuZodurozir][I-ET%06ld] " for a code.
std::string ETConsolePrefix(long code);

// The assertion override: called with the message, file and line in place of the line.
using ETAssertionBlock = std::function<void(const std::string& message, const char* file, long line)>;
ETAssertionBlock ETAssertOverrideBlock();
// Installs (or, with an empty block, removes) the override: how a test sees a failed
// assertion instead of the exception a fatal one raises.
void ETAssertHelperSetAssertionBlock(ETAssertionBlock block);
// Receives every written line as well as the system log (empty: none), for a test to read.
void ETConsoleSetSink(std::function<void(const std::string& line)> sink);

// Runs a failed assertion: override or line, then, when fatal, the exception.
void ETAssertionFailed(bool fatal, const char* file, long line, const char* format, ...) ET_PRINTF(4, 5);

#define ET_LOG(code, level, ...)                                   \
  do {                                                             \
    if ((level) >= ETConsoleThreshold) ETConsoleLog(code, level, __VA_ARGS__); \
  } while (0)
#define ET_LOG_DEBUG(...) ET_LOG(ETMCDefault, ETLogLevelDebug, __VA_ARGS__)
#define ET_LOG_ERROR(code, ...) ET_LOG(code, ETLogLevelError, __VA_ARGS__)

// Non-fatal: a failed condition is reported and execution continues.
#define ET_ASSERT(condition, ...)                                                  \
  do {                                                                             \
    if (!(condition)) ETAssertionFailed(false, __FILE__, __LINE__, __VA_ARGS__);   \
  } while (0)
// Fatal: a failed condition is reported and raises.
#define ET_FATAL_ASSERT(condition, ...)                                            \
  do {                                                                             \
    if (!(condition)) ETAssertionFailed(true, __FILE__, __LINE__, __VA_ARGS__);    \
  } while (0)
