#include "transport/events/console.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/process_state/process_state.h"

namespace {

constexpr const char* kService = "[DiroriVazuZodurozir]";

platform::ProcessValue<ETAssertionBlock> gOverride;
platform::ProcessValue<std::function<void(const std::string&)>> gSink;

std::string formatV(const char* format, va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
  return std::string(buffer.data(), static_cast<size_t>(length));
}

void writeLine(int priority, const std::string& line) {
  syslog(priority, "%s", line.c_str());
  if (auto sink = gSink.get()) sink(line);
}

}  // namespace

std::string ETConsolePrefix(long code) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "[I-ET%06ld]", code);
  return std::string(kService) + buffer;
}

void ETConsoleLog(long code, long level, const char* format, ...) {
  if (level < ETConsoleThreshold) return;
  va_list arguments;
  va_start(arguments, format);
  std::string message = formatV(format, arguments);
  va_end(arguments);
  writeLine(level >= ETLogLevelError ? LOG_ERR : LOG_WARNING, ETConsolePrefix(code) + " " + message);
}

namespace {
std::string assertionLine(bool fatal, const char* file, long line, const std::string& message) {
  return ETConsolePrefix(fatal ? ETMCFatalAssert : ETMCGeneral) + " (" + file + ":" + std::to_string(line) +
         ") : " + message;
}
}  // namespace

void ETConsoleAssertLog(bool fatal, const char* file, long line, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string message = formatV(format, arguments);
  va_end(arguments);
  writeLine(LOG_ERR, assertionLine(fatal, file, line, message));
}

ETAssertionBlock ETAssertOverrideBlock() {
  return gOverride.get();
}

void ETAssertHelperSetAssertionBlock(ETAssertionBlock block) {
  gOverride.set(std::move(block));
}

void ETConsoleSetSink(std::function<void(const std::string& line)> sink) {
  gSink.set(std::move(sink));
}

void ETAssertionFailed(bool fatal, const char* file, long line, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string message = formatV(format, arguments);
  va_end(arguments);
  const char* source = file != nullptr && file[0] != '\0' ? file : "<Unknown File>";
  if (ETAssertionBlock override = ETAssertOverrideBlock()) {
    override(message, source, line);
  } else {
    writeLine(LOG_ERR, assertionLine(fatal, source, line, message));
  }
  if (fatal) throw platform::Exception(platform::kInternalInconsistencyException, message);
}
