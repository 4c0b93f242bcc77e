// The crash core's internal log, `sdk.log` in the report folder, and the SDK console
// helpers.
//
// Contract: `CRInternalLog` is safe at crash time: it formats into a stack buffer and writes
// each line with one `write(2)`; the file is opened once per process, by whichever thread
// first wins a compare-and-swap on the context's `logFd`. It writes nothing before the
// crash-time context exists or below the context's `logLevel`.
//
// Formats take "%d" (int), "%u" and "%x" (unsigned int), "%p" (pointer, "0x" and lowercase
// hex) and "%s" (C string, "(null)" for null). Any other "%" pair is written as it stands
// and takes no argument. Use the macros: each line begins with its level tag, the calling
// function and the source line ("WARN  [CRFileInit:42] ...").
//
// The console helpers (`CRConsole*`) go through the SDK logger; they allocate and lock and
// are never called at crash time.
#pragma once

#include <cstdint>

enum : uint32_t {
  CRLogLevelDebug = 1,
  CRLogLevelInfo = 2,
  CRLogLevelWarning = 3,
  CRLogLevelError = 4,
};

void CRInternalLog(uint32_t level, const char* format, ...);

#define CRLogDebug(format, ...) \
  CRInternalLog(CRLogLevelDebug, "DEBUG [%s:%d] " format, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define CRLogInfo(format, ...) \
  CRInternalLog(CRLogLevelInfo, "INFO  [%s:%d] " format, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define CRLogWarning(format, ...) \
  CRInternalLog(CRLogLevelWarning, "WARN  [%s:%d] " format, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define CRLogError(format, ...) \
  CRInternalLog(CRLogLevelError, "ERROR [%s:%d] " format, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

// Console lines with service "[RiridodeZavadividov]" and code "I-CR000000" at the SDK
// logger's levels 7, 6, 4 and 3. printf formats.
void CRConsoleDebug(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CRConsoleInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CRConsoleWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CRConsoleError(const char* format, ...) __attribute__((format(printf, 1, 2)));
