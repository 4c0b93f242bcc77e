#include "sdk-core/utilities/logger.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/dispatch/once.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/defaults.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/utilities/environment.h"

namespace {

constexpr const char* kFacility = "ziz.ozudor.utilities.logger";

struct UtilityState {
  std::atomic<int> maximumLevel{static_cast<int>(UTLLoggerLevel::Notice)};
  std::atomic<bool> debugMode{false};
  // The client's filter: levels 0 up to it reach the outputs. Changed on the queue only.
  std::atomic<int> filterLevel{static_cast<int>(UTLLoggerLevel::Notice)};
  std::atomic<bool> standardError{false};
  std::mutex mutex;  // guards versionPrefix and sink
  std::string versionPrefix;
  UTLLoggerSink sink;
  platform::OnceFlag setUp;
  std::shared_ptr<platform::DispatchQueue> queue;
};

void resetLogger();

UtilityState& utility() {
  static UtilityState* state = [] {
    platform::addProcessStateReset(&resetLogger);
    return new UtilityState();  // lives until the process ends
  }();
  return *state;
}

struct SdkState {
  platform::OnceFlag setUp;
};

SdkState& sdk() {
  static SdkState* state = new SdkState();
  return *state;
}

// Back to the state of a fresh process: both set-ups undone, level 5, debug off, no prefix,
// no standard error, no sink.
void resetLogger() {
  UTLLoggerFlush();
  auto& state = utility();
  state.setUp.reset();
  sdk().setUp.reset();
  state.maximumLevel = static_cast<int>(UTLLoggerLevel::Notice);
  state.filterLevel = static_cast<int>(UTLLoggerLevel::Notice);
  state.debugMode = false;
  state.standardError = false;
  std::lock_guard lock(state.mutex);
  state.versionPrefix.clear();
  state.sink = nullptr;
}

void utilitySetUpOnce() {
  auto& state = utility();
  state.setUp.call([&state] {
    // The ident must outlive the connection: a string literal does.
    ::openlog(kFacility, LOG_PID, LOG_USER);
    std::lock_guard lock(state.mutex);
    if (!state.queue) state.queue = platform::DispatchQueue::makeSerial("UTLLoggingClientQueue");
    state.filterLevel = state.maximumLevel.load();
  });
}

std::shared_ptr<platform::DispatchQueue> loggingQueue() {
  auto& state = utility();
  std::lock_guard lock(state.mutex);
  return state.queue;
}

std::string formatted(const char* format, va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
  return std::string(buffer.data(), static_cast<size_t>(length));
}

// Set-up, then the drop rule of a write.
bool shouldWrite(UTLLoggerLevel level, bool force) {
  utilitySetUpOnce();
  auto& state = utility();
  return static_cast<int>(level) <= state.maximumLevel.load() || state.debugMode.load() || force;
}

// Builds the line and hands it to the outputs on the logging queue.
void emit(UTLLoggerLevel level, std::string_view service, std::string_view code, std::string_view text) {
  auto& state = utility();
  const int value = static_cast<int>(level);
  std::string line;
  {
    std::lock_guard lock(state.mutex);
    line = state.versionPrefix;
  }
  line.append(" - ").append(service).append("[").append(code).append("] ").append(text);

  loggingQueue()->async([value, line = std::move(line)] {
    auto& s = utility();
    if (value > s.filterLevel.load()) return;
    // Levels outside error...debug never reach the system log as alerts or as facility bits.
    ::syslog(std::clamp(value, LOG_ERR, LOG_DEBUG), "%s", line.c_str());
    if (s.standardError.load()) {
      std::string copy = line + "\n";
      [[maybe_unused]] ssize_t ignored = ::write(STDERR_FILENO, copy.data(), copy.size());
    }
    UTLLoggerSink sink;
    {
      std::lock_guard lock(s.mutex);
      sink = s.sink;
    }
    if (sink) sink(static_cast<UTLLoggerLevel>(value), line);
  });
}

bool isValidLevel(int level) { return level >= 3 && level <= 7; }

void setFilterLevel(int level) {
  loggingQueue()->async([level] { utility().filterLevel = level; });
}

void sdkSetUpOnce() {
  sdk().setUp.call([] {
    UTLLoggerSetVersionPrefix(TELSDKVersionString());
    const bool debugEnabled = UTLLaunchArguments::contains("-TELDebugEnabled");
    const bool debugDisabled = UTLLaunchArguments::contains("-TELDebugDisabled");
    const bool forceStandardError = UTLLaunchArguments::contains("-TELLoggerForceSTDERR");
    auto defaults = platform::UserDefaults::standard();
    bool enterDebugMode = false;
    if (debugDisabled) {
      (void)defaults->remove(TELLoggerDebugModeKey);
    } else if (debugEnabled || defaults->boolean(TELLoggerDebugModeKey).value_or(false)) {
      (void)defaults->set(TELLoggerDebugModeKey, true);
      enterDebugMode = true;
    }
    utilitySetUpOnce();
    if (forceStandardError) UTLLoggerAddStandardError();
    if (enterDebugMode) UTLLoggerEnterDebugMode();
  });
}

}  // namespace

// ---- Utility layer ------------------------------------------------------------------------

void UTLLoggerWriteMessage(UTLLoggerLevel level, std::string_view service, bool force, std::string_view code,
                           std::string_view message) {
  if (shouldWrite(level, force)) emit(level, service, code, message);
}

void UTLLoggerWriteV(UTLLoggerLevel level, std::string_view service, bool force, std::string_view code,
                     const char* format, va_list arguments) {
  if (shouldWrite(level, force)) emit(level, service, code, formatted(format, arguments));
}

void UTLLoggerWrite(UTLLoggerLevel level, std::string_view service, bool force, std::string_view code,
                    const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  UTLLoggerWriteV(level, service, force, code, format, arguments);
  va_end(arguments);
}

void UTLLoggerWriteError(std::string_view service, bool force, std::string_view code, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  UTLLoggerWriteV(UTLLoggerLevel::Error, service, force, code, format, arguments);
  va_end(arguments);
}

void UTLLoggerWriteWarning(std::string_view service, bool force, std::string_view code, const char* format,
                           ...) {
  va_list arguments;
  va_start(arguments, format);
  UTLLoggerWriteV(UTLLoggerLevel::Warning, service, force, code, format, arguments);
  va_end(arguments);
}

void UTLLoggerSetMaximumLevel(UTLLoggerLevel level) {
  const int value = static_cast<int>(level);
  if (!isValidLevel(value)) {
    UTLLoggerWrite(UTLLoggerLevel::Error, "[UTLLogger]", false, "I-COR000023", "Invalid logger level, %ld",
                   static_cast<long>(value));
    return;
  }
  utilitySetUpOnce();
  if (value >= static_cast<int>(UTLLoggerLevel::Notice) && UTLAppEnvironmentUtil::isFromAppStore()) return;
  utility().maximumLevel = value;
  setFilterLevel(value);
}

void UTLLoggerEnterDebugMode() {
  if (UTLAppEnvironmentUtil::isFromAppStore()) return;
  utilitySetUpOnce();
  auto& state = utility();
  state.debugMode = true;
  state.maximumLevel = static_cast<int>(UTLLoggerLevel::Debug);
  setFilterLevel(static_cast<int>(UTLLoggerLevel::Debug));
}

void UTLLoggerAddStandardError() {
  utilitySetUpOnce();
  loggingQueue()->async([] { utility().standardError = true; });
}

void UTLLoggerSetVersionPrefix(std::string prefix) {
  auto& state = utility();
  std::lock_guard lock(state.mutex);
  state.versionPrefix = std::move(prefix);
}

UTLLoggerLevel UTLLoggerMaximumLevel() { return static_cast<UTLLoggerLevel>(utility().maximumLevel.load()); }

bool UTLLoggerIsInDebugMode() { return utility().debugMode.load(); }

void UTLLoggerWrapper::logWithLevel(UTLLoggerLevel level, std::string_view service, std::string_view code,
                                    const char* message, va_list arguments) {
  UTLLoggerWriteV(level, service, false, code, message, arguments);
}

// ---- SDK layer ----------------------------------------------------------------------------

void TELLoggerLogWithLevelV(TELLoggerLevel level, std::string_view service, std::string_view code,
                            const char* format, va_list arguments) {
  sdkSetUpOnce();
  UTLLoggerWriteV(level, service, false, code, format, arguments);
}

void TELLoggerLogWithLevel(TELLoggerLevel level, std::string_view service, std::string_view code,
                           const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  TELLoggerLogWithLevelV(level, service, code, format, arguments);
  va_end(arguments);
}

#define TEL_LOGGER_AT_LEVEL(name, level)                                                        \
  void name(std::string_view service, std::string_view code, const char* format, ...) {         \
    va_list arguments;                                                                          \
    va_start(arguments, format);                                                                \
    TELLoggerLogWithLevelV(level, service, code, format, arguments);                            \
    va_end(arguments);                                                                          \
  }
TEL_LOGGER_AT_LEVEL(TELLoggerLogError, TELLoggerLevel::Error)
TEL_LOGGER_AT_LEVEL(TELLoggerLogWarning, TELLoggerLevel::Warning)
TEL_LOGGER_AT_LEVEL(TELLoggerLogInfo, TELLoggerLevel::Info)
TEL_LOGGER_AT_LEVEL(TELLoggerLogDebug, TELLoggerLevel::Debug)
#undef TEL_LOGGER_AT_LEVEL

void TELLoggerSetLevel(TELLoggerLevel level) {
  sdkSetUpOnce();
  UTLLoggerSetMaximumLevel(level);
}

void TELLoggerWrapper::logWithLevel(TELLoggerLevel level, std::string_view service, std::string_view code,
                                    const char* message, va_list arguments) {
  TELLoggerLogWithLevelV(level, service, code, message, arguments);
}

void TELLoggerWrapper::logWithLevel(TELLoggerLevel level, std::string_view service, std::string_view code,
                                    std::string_view message) {
  sdkSetUpOnce();
  UTLLoggerWriteMessage(level, service, false, code, message);
}

// ---- Sink and flush ------------------------------------------------------------------------

void UTLLoggerSetSink(UTLLoggerSink sink) {
  auto& state = utility();
  std::lock_guard lock(state.mutex);
  state.sink = std::move(sink);
}

void UTLLoggerFlush() {
  if (auto queue = loggingQueue()) queue->sync([] {});
}

