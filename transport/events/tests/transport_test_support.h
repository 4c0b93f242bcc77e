// Fixture of the transport tests: a fresh temporary root with its own storage, an
// application over a private background-task service, and helpers that wait for the
// storage's queue.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/background_tasks/background_tasks.h"
#include "platform/dispatch/semaphore.h"
#include "platform/foundation/uuid.h"
#include "platform/testing/environment.h"
#include "sdk-core/promises/promise.h"
#include "transport/events/application.h"
#include "transport/events/console.h"
#include "transport/events/event.h"
#include "transport/events/flat_file_storage.h"

namespace et_testing {

namespace fs = std::filesystem;

// A payload whose bytes the test sets and may change later.
struct BytesObject : ETEventDataObject {
  explicit BytesObject(std::optional<std::vector<uint8_t>> bytes) : bytes(std::move(bytes)) {}
  std::optional<std::vector<uint8_t>> transportBytes() const override { return bytes; }
  std::optional<std::vector<uint8_t>> bytes;
};

inline std::vector<uint8_t> payload(size_t size, uint8_t fill = 'p') { return std::vector<uint8_t>(size, fill); }

struct StoreResult {
  bool written = false;
  std::optional<platform::Error> error;
};

// Counts delegate calls; safe from the storage queue.
struct RecordingDelegate : ETMetricsControllerProtocol {
  void storageDidRemoveExpiredEvents(ETStorageProtocol&, const ETEventSet& events) override {
    std::lock_guard lock(mutex);
    for (const auto& event : events) expiredIDs.push_back(event->eventID());
  }
  void storageDidDropEvent(ETStorageProtocol&, const std::shared_ptr<ETEvent>& event) override {
    std::lock_guard lock(mutex);
    droppedIDs.push_back(event->eventID());
  }
  PRMPromise::Ptr logEventsDroppedForReason(long, const ETEventSet&) override { return PRMPromise::resolvedWith(nullptr); }
  PRMPromise::Ptr getAndResetMetrics() override { return PRMPromise::resolvedWith(nullptr); }
  PRMPromise::Ptr offerMetrics(const PRMObject&) override { return PRMPromise::resolvedWith(nullptr); }

  std::mutex mutex;
  std::vector<std::string> expiredIDs;
  std::vector<std::string> droppedIDs;
};

struct CountingCoordinator : ETUploadCoordinatorProtocol {
  void forceUploadForTarget(long target) override {
    std::lock_guard lock(mutex);
    forced.push_back(target);
  }
  std::mutex mutex;
  std::vector<long> forced;
};

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ETRegisterEventArchiveClasses();
    tasks_ = std::make_shared<platform::BackgroundTaskService>();
    application_ = ETApplication::make([tasks = tasks_] { return tasks; });
    storage_ = ETFlatFileStorage::make(root_ / "events", application_);
    coordinator_ = std::make_shared<CountingCoordinator>();
    storage_->setUploadCoordinator(coordinator_);
    ETAssertHelperSetAssertionBlock([this](const std::string& message, const char*, long) {
      std::lock_guard lock(assertionsMutex_);
      assertions_.push_back(message);
    });
  }

  std::vector<std::string> assertions() {
    std::lock_guard lock(assertionsMutex_);
    return assertions_;
  }

  // Waits until everything queued on the storage so far has run.
  void drain() { storage_->storageQueue()->sync([] {}); }

  fs::path eventDirectory(long target) const {
    return storage_->eventDataStoragePath() / std::to_string(target);
  }
  std::vector<std::string> namesIn(const fs::path& directory) const {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
      names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::shared_ptr<ETEvent> makeEvent(long target = 1001, std::string mappingID = "1974", size_t size = 500,
                                     long tier = 3) {
    auto event = ETEvent::initWithMappingID(mappingID, target);
    event->setDataObject(std::make_shared<BytesObject>(payload(size)));
    event->setQosTier(tier);
    return event;
  }

  StoreResult store(const std::shared_ptr<ETEvent>& event) {
    StoreResult result;
    platform::DispatchSemaphore done;
    storage_->storeEvent(event, [&](bool written, const std::optional<platform::Error>& error) {
      result = {written, error};
      done.signal();
    });
    done.wait();
    return result;
  }

  // The promise's value, failing the test when it was rejected.
  PRMObject await(const PRMPromise::Ptr& promise, platform::Error* error = nullptr) {
    return PRMPromiseAwait(promise, error);
  }

  // Declared first, so it goes last: every process-wide hook is put back and the folder removed.
  platform::testing::Environment environment_{"et-test"};
  const fs::path root_ = environment_.root();
  std::shared_ptr<platform::BackgroundTaskService> tasks_;
  std::shared_ptr<ETApplication> application_;
  std::shared_ptr<ETFlatFileStorage> storage_;
  std::shared_ptr<CountingCoordinator> coordinator_;
  std::mutex assertionsMutex_;
  std::vector<std::string> assertions_;
};

}  // namespace et_testing
