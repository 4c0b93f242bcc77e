// Random sequences of what the storage meets in use (store, batch, upload success and
// failure, a failed move back, the expiry sweep, a restart from disk, a damaged counter),
// checking after every step that each event is in exactly one place (the store or one batch
// on disk, uploaded, or expired by its own date) and that the size tracker equals the bytes
// on disk.
#include <cstring>
#include <map>
#include <random>

#include "transport/events/files.h"
#include "transport_test_support.h"

namespace et_testing {
namespace {

class StoragePropertyTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    delegate_ = std::make_shared<RecordingDelegate>();
    storage_->setDelegate(delegate_);
  }

  // Every event file on disk: event ID → how many files hold it. Batch IDs of the batch
  // directories go to `batchIDs` (one entry per directory).
  std::map<std::string, int> onDisk(std::vector<ETBatchID>& batchIDs) {
    std::map<std::string, int> found;
    auto count = [&](const fs::path& directory) {
      for (const std::string& name : namesIn(directory)) {
        if (name[0] == '.') continue;
        auto event = ETUnarchiveFile<ETEvent>(directory / name, nullptr);
        if (!event) {
          ADD_FAILURE() << "not an event: " << (directory / name);
          continue;
        }
        EXPECT_TRUE(ETFlatFileStorage::eventComponentsFromFilename(name)) << name;
        ++found[event->eventID()];
      }
    };
    for (const std::string& target : namesIn(storage_->eventDataStoragePath())) {
      count(storage_->eventDataStoragePath() / target);
    }
    for (const std::string& name : namesIn(storage_->batchDataStoragePath())) {
      auto components = ETFlatFileStorage::batchComponentsFromFilename(name);
      EXPECT_TRUE(components) << name;
      if (components) batchIDs.push_back(components->batchID);
      count(storage_->batchDataStoragePath() / name);
    }
    return found;
  }

  std::shared_ptr<RecordingDelegate> delegate_;
};

TEST_F(StoragePropertyTest, EveryEventIsInExactlyOnePlaceAfterEveryStep) {
  enum class Place { Stored, Uploaded, Expired };
  for (unsigned seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    std::map<std::string, Place> places;
    std::map<std::string, bool> pastDue;  // the event's own expiry has passed
    int made = 0;
    const fs::path counter = storage_->libraryDataStoragePath() / ETFlatFileStorageBatchIDCounterKey;

    for (int step = 0; step < 60; ++step) {
      const int operation = static_cast<int>(random() % 100);
      if (operation < 40) {  // store
        auto event = makeEvent(1001 + static_cast<long>(random() % 2), "1974", 50 + random() % 300,
                               static_cast<long>(random() % 6) - 1);
        const bool expired = random() % 4 == 0;
        // Some IDs hold "-", as IDs from an archive may.
        event->setEventID("e" + std::to_string(seed) + (random() % 2 ? "-" : "x") + std::to_string(made++));
        event->setExpirationDate(expired ? platform::Date::fromTimeIntervalSince1970(100)
                                         : platform::Date::now().addingTimeInterval(3600));
        ASSERT_TRUE(store(event).written);
        places[event->eventID()] = Place::Stored;
        pastDue[event->eventID()] = expired;
      } else if (operation < 70) {  // an upload: batch, then success, failure or a failed move back
        const long target = 1001 + static_cast<long>(random() % 2);
        const bool batchExpired = random() % 3 == 0;
        platform::Error error;
        auto value = PRMPromiseAwait(
            storage_->batchWithEventSelector(ETStorageEventSelector::eventSelectorForTarget(target),
                                             batchExpired ? platform::Date::fromTimeIntervalSince1970(100)
                                                          : platform::Date::now().addingTimeInterval(600)),
            &error);
        const auto* batch = value.get<std::shared_ptr<ETUploadBatch>>();
        if (!batch) continue;
        const int outcome = static_cast<int>(random() % 3);
        if (outcome == 0) {
          await(storage_->removeBatchWithID((*batch)->batchID, true));
          for (const auto& event : (*batch)->events) places[event->eventID()] = Place::Uploaded;
        } else if (outcome == 1) {
          await(storage_->removeBatchWithID((*batch)->batchID, false));
        } else {
          storage_->setMoveFault([](const fs::path&, const fs::path&) { return true; });
          await(storage_->removeBatchWithID((*batch)->batchID, false));
          storage_->setMoveFault(nullptr);
        }
      } else if (operation < 82) {  // the sweep
        delegate_->expiredIDs.clear();
        storage_->checkForExpirations();
        drain();
        for (const std::string& id : delegate_->expiredIDs) {
          EXPECT_TRUE(pastDue[id]) << id << " expired before its time";
          EXPECT_EQ(places[id], Place::Stored) << id;
          places[id] = Place::Expired;
        }
      } else if (operation < 92) {  // a restart from what is on disk
        drain();
        storage_ = ETFlatFileStorage::make(root_ / "events", application_);
        storage_->setUploadCoordinator(coordinator_);
        storage_->setDelegate(delegate_);
      } else if (fs::exists(counter)) {  // a damaged counter: negative, or naming a batch on disk
        std::vector<ETBatchID> batchIDs;
        onDisk(batchIDs);
        const int32_t value = batchIDs.empty() || random() % 2 ? -1 - static_cast<int32_t>(random() % 5)
                                                               : static_cast<int32_t>(batchIDs.front());
        ETBytes bytes(4);
        std::memcpy(bytes.data(), &value, 4);
        ASSERT_TRUE(ETWriteFileAtomically(bytes, counter, nullptr));
      }

      drain();
      std::vector<ETBatchID> batchIDs;
      const std::map<std::string, int> found = onDisk(batchIDs);
      for (const auto& [id, place] : places) {
        const auto it = found.find(id);
        const int copies = it == found.end() ? 0 : it->second;
        EXPECT_EQ(copies, place == Place::Stored ? 1 : 0) << id << " after step " << step;
      }
      EXPECT_EQ(found.size(), static_cast<size_t>(std::count_if(places.begin(), places.end(), [](const auto& entry) {
                  return entry.second == Place::Stored;
                })));
      std::sort(batchIDs.begin(), batchIDs.end());
      EXPECT_EQ(std::adjacent_find(batchIDs.begin(), batchIDs.end()), batchIDs.end()) << "two batches of one ID";
      uint64_t tracked = 0, walked = 0;
      storage_->storageQueue()->sync([&] {
        tracked = storage_->sizeTracker().directoryContentSize();
        walked = storage_->sizeTracker().calculateDirectoryContentSize();
      });
      EXPECT_EQ(tracked, walked) << "after step " << step;
      if (HasFailure()) return;
    }
    // The next seed starts from nothing.
    drain();
    fs::remove_all(root_ / "events");
    storage_ = ETFlatFileStorage::make(root_ / "events", application_);
    storage_->setUploadCoordinator(coordinator_);
    storage_->setDelegate(delegate_);
  }
}

}  // namespace
}  // namespace et_testing
