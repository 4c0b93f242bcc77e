// Diagnostic payloads: the metric manager that hands the system's diagnostic reports (crashes,
// hangs, CPU and disk-write exceptions) to its subscribers.
//
// Linux has no such service, so nothing delivers payloads on its own: deliver() hands a
// payload list to every subscriber, as the service's delivery thread would, and tests call
// it. A call-stack tree and the metadata carry their JSON as the service shows it: the tree
// as {"callStackPerThread": bool, "callStacks": [{"threadAttributed": bool,
// "callStackRootFrames": [{"address", "offsetIntoBinaryTextSegment", "sampleCount",
// "binaryUUID", "binaryName", "subFrames": [...]}]}]}.
//
// Threads: addSubscriber() and deliver() may be called from any thread; subscribers are
// called on the delivering thread, without the manager's lock held.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The JSON text of a call-stack tree or of diagnostic metadata, as given.
struct MXCallStackTree {
  std::string json;
  std::string JSONRepresentation() const { return json; }
};
struct MXMetaData {
  std::string json;
  std::string JSONRepresentation() const { return json; }
};

struct MXDiagnostic {
  MXCallStackTree callStackTree;
  MXMetaData metaData;
  std::string applicationVersion;
};
struct MXCrashDiagnostic : MXDiagnostic {
  std::optional<int> signal;
  std::optional<int> exceptionType;
  std::optional<long long> exceptionCode;
  std::optional<std::string> terminationReason;
  std::optional<std::string> virtualMemoryRegionInfo;
};
struct MXHangDiagnostic : MXDiagnostic {
  double hangDuration = 0;  // seconds
};
struct MXCPUExceptionDiagnostic : MXDiagnostic {
  double totalCPUTime = 0;
  double totalSampledTime = 0;
};
struct MXDiskWriteExceptionDiagnostic : MXDiagnostic {
  double totalWritesCaused = 0;  // bytes
};

struct MXDiagnosticPayload {
  std::vector<MXCrashDiagnostic> crashDiagnostics;
  std::vector<MXHangDiagnostic> hangDiagnostics;
  std::vector<MXCPUExceptionDiagnostic> cpuExceptionDiagnostics;
  std::vector<MXDiskWriteExceptionDiagnostic> diskWriteExceptionDiagnostics;
  std::chrono::system_clock::time_point timeStampBegin;
  std::chrono::system_clock::time_point timeStampEnd;
};

// Metric payloads are not modelled: nobody reads them.
struct MXMetricPayload {};

class MXMetricManagerSubscriber {
 public:
  virtual ~MXMetricManagerSubscriber() = default;
  virtual void didReceiveDiagnosticPayloads(const std::vector<std::shared_ptr<MXDiagnosticPayload>>& payloads) = 0;
  virtual void didReceiveMetricPayloads(const std::vector<std::shared_ptr<MXMetricPayload>>& /*payloads*/) {}
};

class MXMetricManager {
 public:
  static MXMetricManager& sharedManager();

  // Subscribers are held weakly; one that has gone is skipped and forgotten.
  void addSubscriber(std::weak_ptr<MXMetricManagerSubscriber> subscriber);
  size_t subscriberCount() const;

  // For tests: delivers the payloads to every subscriber on the calling thread.
  void deliver(const std::vector<std::shared_ptr<MXDiagnosticPayload>>& payloads);

 private:
  MXMetricManager() = default;
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<MXMetricManagerSubscriber>> subscribers_;
};

}  // namespace platform
