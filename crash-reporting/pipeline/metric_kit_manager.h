// CRMetricKitManager: turns the platform's diagnostic payloads into crash records.
//
// Each delivery's first crash diagnostic becomes "metric_kit_fatal.crrecord" (in the folder
// of the newest unsent report when that folder exists under active, else in this launch's
// folder); the first hang, CPU-exception and disk-write-exception diagnostics become lines of
// "metric_kit_nonfatal.crrecord" in this launch's folder. CRCallStackTree turns a call-stack
// tree into the "threads" form of crash records, so that symbolication and the report message
// treat a MetricKit crash like any other crash file.
//
// The data-available promise is fulfilled once: at registration unless the previous launch
// crashed and diagnostic files are waiting, else at the first delivery, else three seconds
// after registration on the manager-data queue, whichever comes first. Report sending waits
// on it.
//
// Within one delivery a crash is skipped only after an earlier payload's crash record was
// really written, so a failed write does not lose the next payload's crash.
//
// Threads: payloads arrive on the delivering thread; the promise state is guarded by the
// object's lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/queue.h"
#include "platform/metrickit/metrickit.h"
#include "sdk-core/promises/promise.h"

class CRFileManager;

struct CRFrame {
  int64_t address = 0;
  int64_t sampleCount = 0;
  int64_t offsetIntoBinaryTextSegment = 0;
  std::optional<std::string> binaryName;
  nlohmann::json binaryUUID;  // as given when text, a number or a boolean; else null
};

struct CRThread {
  std::optional<std::string> threadName;
  bool threadBlamed = false;
  std::vector<CRFrame> frames;
};

class CRCallStackTree {
 public:
  // nullopt for an empty or unparsable tree.
  static std::optional<CRCallStackTree> initWithMXCallStackTree(const platform::MXCallStackTree& tree);
  // Follows the first element of `subFrames` down its chain of first children.
  static void flattenSubFrames(const nlohmann::json& subFrames, std::vector<CRFrame>& frames);

  nlohmann::json getArrayRepresentation() const;
  static nlohmann::json getDictionaryRepresentation(const CRThread& thread);
  nlohmann::json getFramesOfBlamedThread() const;
  static nlohmann::json convertFramesFor(const CRThread& thread);

  bool callStackPerThread = false;
  std::vector<CRThread> threads;
};

class CRMetricKitManager : public platform::MXMetricManagerSubscriber,
                           public std::enable_shared_from_this<CRMetricKitManager> {
 public:
  // The report ID (folder name) of the newest unsent report, if any.
  using NewestUnsentReport = std::function<std::optional<std::string>()>;

  CRMetricKitManager(std::shared_ptr<const CRFileManager> fileManager, std::string executionID,
                     std::shared_ptr<platform::DispatchQueue> dispatchQueue, NewestUnsentReport newestUnsentReport);

  void registerMetricKitManager();
  PRMPromise::Ptr waitForMetricKitDataAvailable() const;

  void didReceiveDiagnosticPayloads(const std::vector<std::shared_ptr<platform::MXDiagnosticPayload>>& payloads) override;
  // Whether the last record written was written (true when nothing was); `crashWritten`
  // tells whether the fatal record was.
  bool processMetricKitPayload(const platform::MXDiagnosticPayload& payload, bool skipCrashEvent,
                               bool* crashWritten = nullptr);

  static bool writeDictionaryToFile(const nlohmann::json& dictionary, int fd);
  static nlohmann::json convertThreadsToArray(const platform::MXCallStackTree& tree);
  static nlohmann::json convertMetadataToDictionary(const platform::MXMetaData& metadata);
  static nlohmann::json convertThreadsToArrayForNonfatal(const platform::MXCallStackTree& tree);
  static std::string getSignalName(int signal);

 private:
  void fulfillMetricKitPromise();  // under lock_

  mutable std::mutex lock_;
  bool metricKitPromiseFulfilled_ = false;
  PRMPromise::Ptr metricKitDataAvailable_;
  std::shared_ptr<const CRFileManager> fileManager_;
  std::string executionID_;
  std::shared_ptr<platform::DispatchQueue> dispatchQueue_;
  NewestUnsentReport newestUnsentReport_;
};
