// Contract: CRInternalLog is crash-time safe: open/write only, a stack buffer, one write(2)
// a line, and a compare-and-swap instead of a once-token. The console helpers are not.
#include "crash-reporting/core/internal_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "crash-reporting/core/context.h"
#include "sdk-core/utilities/logger.h"

namespace {

// Appends to a fixed line buffer; a full buffer is written out and reused, so an overlong
// line takes more than one write but is never cut.
struct LineWriter {
  int fd = -1;
  char buffer[1024] = {};
  size_t used = 0;

  void flush() {
    size_t at = 0;
    for (int attempt = 0; attempt < 50 && at < used; ++attempt) {
      const ssize_t written = write(fd, buffer + at, used - at);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) break;
      at += static_cast<size_t>(written);
    }
    used = 0;
  }
  void put(char character) {
    if (used == sizeof buffer) flush();
    buffer[used++] = character;
  }
  void put(const char* text) {
    for (; *text != '\0'; ++text) put(*text);
  }
  void putNumber(uint64_t value, unsigned base) {
    static const char kDigits[] = "0123456789abcdef";
    char digits[21];
    size_t at = sizeof digits;
    do {
      digits[--at] = kDigits[value % base];
      value /= base;
    } while (value != 0);
    while (at < sizeof digits) put(digits[at++]);
  }
};

int openLogOnce(CRContextReadOnly* readOnly, CRContextWritable* writable) {
  int fd = writable->internalLogging.logFd.load();
  if (fd != -1) return fd;
  const int opened = open(readOnly->logPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (opened < 0) return -1;
  int expected = -1;
  if (writable->internalLogging.logFd.compare_exchange_strong(expected, opened)) return opened;
  close(opened);  // another thread opened it first
  return expected;
}

void consoleLog(UTLLoggerLevel level, const char* format, va_list arguments) {
  TELLoggerLogWithLevelV(level, "[RiridodeZavadividov]", "I-CR000000", format, arguments);
}

}  // namespace

void CRInternalLog(uint32_t level, const char* format, ...) {
  CRContextReadOnly* readOnly = crReadOnlyContext;
  CRContextWritable* writable = crWritableContext;
  if (readOnly == nullptr || writable == nullptr || readOnly->logPath == nullptr || format == nullptr) return;
  if (level < writable->internalLogging.logLevel) return;
  const int fd = openLogOnce(readOnly, writable);
  if (fd < 0) return;

  LineWriter line;
  line.fd = fd;
  va_list arguments;
  va_start(arguments, format);
  for (const char* at = format; *at != '\0'; ++at) {
    if (*at != '%' || at[1] == '\0') {
      line.put(*at);
      continue;
    }
    const char conversion = *++at;
    switch (conversion) {
      case 'd': {
        const int value = va_arg(arguments, int);
        if (value < 0) line.put('-');
        line.putNumber(value < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(value)) : static_cast<uint64_t>(value), 10);
        break;
      }
      case 'u':
        line.putNumber(va_arg(arguments, unsigned), 10);
        break;
      case 'x':
        line.putNumber(va_arg(arguments, unsigned), 16);
        break;
      case 'p':
        line.put("0x");
        line.putNumber(reinterpret_cast<uintptr_t>(va_arg(arguments, void*)), 16);
        break;
      case 's': {
        const char* text = va_arg(arguments, const char*);
        line.put(text != nullptr ? text : "(null)");
        break;
      }
      default:
        line.put('%');
        line.put(conversion);
        break;
    }
  }
  va_end(arguments);
  if (line.used == 0 || line.buffer[line.used - 1] != '\n') line.put('\n');
  line.flush();
}

void CRConsoleDebug(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  consoleLog(UTLLoggerLevel::Debug, format, arguments);
  va_end(arguments);
}

void CRConsoleInfo(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  consoleLog(UTLLoggerLevel::Info, format, arguments);
  va_end(arguments);
}

void CRConsoleWarning(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  consoleLog(UTLLoggerLevel::Warning, format, arguments);
  va_end(arguments);
}

void CRConsoleError(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  consoleLog(UTLLoggerLevel::Error, format, arguments);
  va_end(arguments);
}
