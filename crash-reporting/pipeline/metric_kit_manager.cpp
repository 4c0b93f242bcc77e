#include "crash-reporting/pipeline/metric_kit_manager.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/mach_exception.h"
#include "crash-reporting/core/section_reader.h"
#include "crash-reporting/core/signals.h"
#include "crash-reporting/reports/file_manager.h"
#include "sdk-core/utilities/json_nesting.h"

namespace {

int64_t integerOf(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return 0;
  const auto found = object.find(key);
  return found != object.end() ? CRJSONInt64(*found).value_or(0) : 0;
}

bool boolOf(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return false;
  const auto found = object.find(key);
  if (found == object.end()) return false;
  if (found->is_boolean()) return found->get<bool>();
  return found->is_number() && found->get<double>() != 0;
}

int64_t secondsSince1970(std::chrono::system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
}

// Closes the descriptor when it goes.
struct FileHandle {
  int fd = -1;
  explicit FileHandle(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {}
  ~FileHandle() {
    if (fd >= 0) ::close(fd);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
};

}  // namespace

// ---- CRCallStackTree ----------------------------------------------------------------------

std::optional<CRCallStackTree> CRCallStackTree::initWithMXCallStackTree(const platform::MXCallStackTree& tree) {
  const std::string text = tree.JSONRepresentation();
  if (text.empty()) return std::nullopt;
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded()) {
    CRConsoleError("Vuzirerered: error creating json");
    return std::nullopt;
  }
  CRCallStackTree result;
  result.callStackPerThread = boolOf(json, "callStackPerThread");
  if (json.is_object() && json.contains("callStacks") && json["callStacks"].is_array()) {
    const nlohmann::json noFrames = nlohmann::json::array();
    for (const auto& element : json["callStacks"]) {
      CRThread thread;
      thread.threadBlamed = boolOf(element, "threadAttributed");
      // By reference: a copy of the tree would recurse once per level.
      flattenSubFrames(element.is_object() && element.contains("callStackRootFrames") ? element["callStackRootFrames"]
                                                                                     : noFrames,
                       thread.frames);
      result.threads.push_back(std::move(thread));
    }
  }
  return result;
}

void CRCallStackTree::flattenSubFrames(const nlohmann::json& subFrames, std::vector<CRFrame>& frames) {
  // Iterative, so that a deep tree cannot exhaust the stack.
  const nlohmann::json* level = &subFrames;
  while (true) {
    const nlohmann::json empty = nlohmann::json::object();
    const nlohmann::json& first = level->is_array() && !level->empty() ? level->front() : empty;
    CRFrame frame;
    frame.offsetIntoBinaryTextSegment = integerOf(first, "offsetIntoBinaryTextSegment");
    frame.address = integerOf(first, "address");
    frame.sampleCount = integerOf(first, "sampleCount");
    if (first.contains("binaryUUID") && first["binaryUUID"].is_primitive()) frame.binaryUUID = first["binaryUUID"];
    if (first.contains("binaryName") && first["binaryName"].is_string()) {
      frame.binaryName = first["binaryName"].get<std::string>();
    }
    frames.push_back(std::move(frame));
    if (!first.is_object() || !first.contains("subFrames")) return;
    level = &first["subFrames"];
  }
}

nlohmann::json CRCallStackTree::getArrayRepresentation() const {
  nlohmann::json threadsArray = nlohmann::json::array();
  for (const auto& thread : threads) threadsArray.push_back(getDictionaryRepresentation(thread));
  return threadsArray;
}

nlohmann::json CRCallStackTree::getDictionaryRepresentation(const CRThread& thread) {
  nlohmann::json stacktrace = nlohmann::json::array();
  for (const auto& frame : thread.frames) stacktrace.push_back(frame.address);
  return {{"registers", nlohmann::json::object()}, {"stacktrace", stacktrace}, {"crashed", thread.threadBlamed}};
}

nlohmann::json CRCallStackTree::getFramesOfBlamedThread() const {
  for (const auto& thread : threads) {
    if (thread.threadBlamed) return convertFramesFor(thread);
  }
  return threads.empty() ? nlohmann::json::array() : convertFramesFor(threads.front());
}

nlohmann::json CRCallStackTree::convertFramesFor(const CRThread& thread) {
  nlohmann::json frames = nlohmann::json::array();
  for (const auto& frame : thread.frames) {
    frames.push_back({{"pc", frame.address}, {"offset", frame.offsetIntoBinaryTextSegment}, {"line", 0}});
  }
  return frames;
}

// ---- CRMetricKitManager -------------------------------------------------------------------

CRMetricKitManager::CRMetricKitManager(std::shared_ptr<const CRFileManager> fileManager, std::string executionID,
                                       std::shared_ptr<platform::DispatchQueue> dispatchQueue,
                                       NewestUnsentReport newestUnsentReport)
    : fileManager_(std::move(fileManager)),
      executionID_(std::move(executionID)),
      dispatchQueue_(std::move(dispatchQueue)),
      newestUnsentReport_(std::move(newestUnsentReport)) {}

void CRMetricKitManager::registerMetricKitManager() {
  platform::MXMetricManager::sharedManager().addSubscriber(weak_from_this());
  {
    std::lock_guard lock(lock_);
    metricKitDataAvailable_ = PRMPromise::pendingPromise();
    if (!(fileManager_->didCrashOnPreviousExecution() && fileManager_->metricKitDiagnosticFileExists())) {
      fulfillMetricKitPromise();
    }
  }
  std::weak_ptr<CRMetricKitManager> weakSelf = weak_from_this();
  dispatchQueue_->asyncAfter(std::chrono::seconds(3), [weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    std::lock_guard lock(self->lock_);
    if (!self->metricKitPromiseFulfilled_) {
      CRConsoleDebug("Resolving MetricKit promise after three seconds");
      self->fulfillMetricKitPromise();
    }
  });
  CRConsoleDebug("Finished registering metrickit manager");
}

PRMPromise::Ptr CRMetricKitManager::waitForMetricKitDataAvailable() const {
  std::lock_guard lock(lock_);
  return metricKitDataAvailable_;
}

void CRMetricKitManager::fulfillMetricKitPromise() {
  if (metricKitPromiseFulfilled_ || !metricKitDataAvailable_) return;
  metricKitDataAvailable_->fulfill(PRMObject());
  metricKitPromiseFulfilled_ = true;
}

void CRMetricKitManager::didReceiveDiagnosticPayloads(
    const std::vector<std::shared_ptr<platform::MXDiagnosticPayload>>& payloads) {
  bool skipCrash = false;
  for (const auto& payload : payloads) {
    if (!payload) continue;
    bool crashWritten = false;
    processMetricKitPayload(*payload, skipCrash, &crashWritten);
    if (crashWritten) skipCrash = true;
  }
  std::lock_guard lock(lock_);
  fulfillMetricKitPromise();
}

bool CRMetricKitManager::processMetricKitPayload(const platform::MXDiagnosticPayload& payload, bool skipCrashEvent,
                                                 bool* crashWritten) {
  if (crashWritten != nullptr) *crashWritten = false;
  const bool hasCrash = !payload.crashDiagnostics.empty();
  const bool hasNonfatal = !payload.hangDiagnostics.empty() || !payload.cpuExceptionDiagnostics.empty() ||
                           !payload.diskWriteExceptionDiagnostics.empty();
  if (!hasCrash && !hasNonfatal) return false;

  const int64_t beginTime = secondsSince1970(payload.timeStampBegin);
  const int64_t endTime = secondsSince1970(payload.timeStampEnd);

  const std::string base = fileManager_->activePath() + "/";
  const std::string current = executionID_ + "/";
  std::optional<std::string> newest;
  if (newestUnsentReport_) {
    if (auto reportID = newestUnsentReport_()) newest = *reportID + "/";
  }
  const std::string fatalFolder =
      hasCrash && newest && fileManager_->fileExistsAtPath(base + *newest) ? *newest : current;
  if (executionID_.empty()) {
    CRConsoleDebug("Error finding MetricKit files");
    return false;
  }
  const std::string fatalPath = base + fatalFolder + "metric_kit_fatal.crrecord";
  const std::string nonfatalPath = base + current + "metric_kit_nonfatal.crrecord";
  CRConsoleDebug("File paths for MetricKit report:  %s, %s", fatalPath.c_str(), nonfatalPath.c_str());

  if (hasCrash && !fileManager_->fileExistsAtPath(fatalPath)) fileManager_->createFileAtPath(fatalPath);
  if (hasNonfatal && !fileManager_->fileExistsAtPath(nonfatalPath)) fileManager_->createFileAtPath(nonfatalPath);

  FileHandle nonfatalFile(nonfatalPath);
  if (hasNonfatal && nonfatalFile.fd < 0) {
    CRConsoleDebug("Unable to create or open nonfatal MetricKit file.");
    return false;
  }
  FileHandle fatalFile(fatalPath);
  if (hasCrash && fatalFile.fd < 0) {
    CRConsoleDebug("Unable to create or open fatal MetricKit file.");
    return false;
  }

  bool lastWritten = true;
  if (hasCrash && !skipCrashEvent) {
    const platform::MXCrashDiagnostic& crash = payload.crashDiagnostics.front();
    const int exceptionType = crash.exceptionType.value_or(0);
    const int64_t exceptionCode = crash.exceptionCode.value_or(0);
    const int signal = crash.signal.value_or(0);
    const char* machName = nullptr;
    const char* machCodeName = nullptr;
    if (crash.exceptionType) CRMachExceptionNames(exceptionType, exceptionCode, &machName, &machCodeName);
    const char* signalName = nullptr;
    const char* signalCodeName = nullptr;
    CRSignalNames(signal, &signalName, &signalCodeName);
    std::string name = "UNKNOWN";
    std::string codeName;
    if (machName != nullptr) {
      name = machName;
      codeName = machCodeName != nullptr ? machCodeName : "";
    } else {
      if (signalName != nullptr) name = signalName;
      codeName = signalCodeName != nullptr ? signalCodeName : "";
    }
    const nlohmann::json fatal = {
        {"metric_kit_fatal",
         {{"time", beginTime},
          {"end_time", endTime},
          {"metadata", convertMetadataToDictionary(crash.metaData)},
          {"termination_reason", crash.terminationReason.value_or("")},
          {"virtual_memory_region_info", crash.virtualMemoryRegionInfo.value_or("")},
          {"exception_type", exceptionType},
          {"exception_code", exceptionCode},
          {"signal", signal},
          {"app_version", crash.applicationVersion},
          {"name", name},
          {"code_name", codeName}}}};
    const nlohmann::json threads = {{"threads", convertThreadsToArray(crash.callStackTree)}};
    lastWritten = writeDictionaryToFile(fatal, fatalFile.fd) && writeDictionaryToFile(threads, fatalFile.fd);
    if (crashWritten != nullptr) *crashWritten = lastWritten;
  }

  const auto nonfatal = [&](const platform::MXDiagnostic& diagnostic, const char* name, nlohmann::json extra) {
    nlohmann::json exception = {{"type", "metrickit_nonfatal"},
                                {"name", name},
                                {"time", beginTime},
                                {"end_time", endTime},
                                {"threads", convertThreadsToArray(diagnostic.callStackTree)},
                                {"metadata", convertMetadataToDictionary(diagnostic.metaData)},
                                {"app_version", diagnostic.applicationVersion}};
    exception.update(extra);
    lastWritten = writeDictionaryToFile({{"exception", exception}}, nonfatalFile.fd);
  };
  if (!payload.hangDiagnostics.empty()) {
    const auto& hang = payload.hangDiagnostics.front();
    nonfatal(hang, "hang_event", {{"hang_duration", hang.hangDuration}});
  }
  if (!payload.cpuExceptionDiagnostics.empty()) {
    const auto& cpu = payload.cpuExceptionDiagnostics.front();
    nonfatal(cpu, "cpu_exception_event",
             {{"total_cpu_time", cpu.totalCPUTime}, {"total_sampled_time", cpu.totalSampledTime}});
  }
  if (!payload.diskWriteExceptionDiagnostics.empty()) {
    const auto& disk = payload.diskWriteExceptionDiagnostics.front();
    nonfatal(disk, "disk_write_exception_event", {{"total_writes_caused", disk.totalWritesCaused}});
  }
  return lastWritten;
}

bool CRMetricKitManager::writeDictionaryToFile(const nlohmann::json& dictionary, int fd) {
  std::string text;
  try {
    text = dictionary.dump();
  } catch (const nlohmann::json::exception&) {
    CRConsoleDebug("Unable to write out dictionary.");
    return false;
  }
  if (::lseek(fd, 0, SEEK_END) < 0) return false;
  return CRWriteAll(fd, text) && CRWriteAll(fd, "\n");
}

nlohmann::json CRMetricKitManager::convertThreadsToArray(const platform::MXCallStackTree& tree) {
  auto converted = CRCallStackTree::initWithMXCallStackTree(tree);
  return converted ? converted->getArrayRepresentation() : nlohmann::json::array();
}

nlohmann::json CRMetricKitManager::convertMetadataToDictionary(const platform::MXMetaData& metadata) {
  // The record line is printed by recursion over the levels.
  const std::string text = metadata.JSONRepresentation();
  if (!UTLJSONNestingWithin(text)) return nlohmann::json::object();
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  return json.is_discarded() ? nlohmann::json::object() : json;
}

nlohmann::json CRMetricKitManager::convertThreadsToArrayForNonfatal(const platform::MXCallStackTree& tree) {
  auto converted = CRCallStackTree::initWithMXCallStackTree(tree);
  return converted ? converted->getFramesOfBlamedThread() : nlohmann::json::array();
}

std::string CRMetricKitManager::getSignalName(int signal) {
  switch (signal) {
    case 4: return "SIGILL";
    case 5: return "SIGTRAP";
    case 6: return "SIGABRT";
    case 8: return "SIGFPE";
    case 10: return "SIGBUS";
    case 11: return "SIGSEGV";
    case 12: return "SIGSYS";
    case 15: return "SIGTERM";
    default: return "UNKNOWN";
  }
}
