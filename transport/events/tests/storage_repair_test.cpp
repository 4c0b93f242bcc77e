// Damage the storage meets on disk: event IDs and tiers that hold "-", names written by older
// builds, a damaged batch-ID counter, batch directories whose names do not parse and batches
// whose events could not be moved back.
#include <fstream>

#include "transport/events/files.h"
#include "transport_test_support.h"

namespace et_testing {
namespace {

class StorageRepairTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    delegate_ = std::make_shared<RecordingDelegate>();
    storage_->setDelegate(delegate_);
    ETConsoleSetSink([this](const std::string& line) {
      std::lock_guard lock(linesMutex_);
      lines_.push_back(line);
    });
  }
  void TearDown() override {
    ETConsoleSetSink(nullptr);
    TransportTest::TearDown();
  }

  void sweep() {
    storage_->checkForExpirations();
    drain();
  }
  std::optional<ETBatchID> nextBatchID() {
    std::optional<ETBatchID> value;
    storage_->nextBatchID([&value](std::optional<ETBatchID> id) { value = id; });
    drain();
    return value;
  }
  std::set<std::string> selectedIDs(std::optional<std::set<std::string>> eventIDs, std::optional<std::set<long>> tiers) {
    auto selector = std::make_shared<ETStorageEventSelector>(1001, std::move(eventIDs), std::nullopt, std::move(tiers));
    auto value = PRMPromiseAwait(storage_->batchWithEventSelector(selector, platform::Date::now().addingTimeInterval(60)));
    std::set<std::string> ids;
    if (const auto* batch = value.get<std::shared_ptr<ETUploadBatch>>()) {
      for (const auto& event : (*batch)->events) ids.insert(event->eventID());
      await(storage_->removeBatchWithID((*batch)->batchID, false));
    }
    return ids;
  }
  // The event's archive under a name of the caller's choosing, as an older build or a
  // damaged disk leaves it.
  void writeAs(const std::shared_ptr<ETEvent>& event, const fs::path& path) {
    std::optional<platform::Error> error;
    ETArchiveObject(event, path, &error);
    ASSERT_FALSE(error);
  }
  std::shared_ptr<ETEvent> eventWithID(std::string id, long tier, platform::Date expiration) {
    auto event = ETEvent::initWithMappingID("1974", 1001);
    event->setEventID(std::move(id));
    event->setDataObject(std::make_shared<BytesObject>(payload(100)));
    event->setQosTier(tier);
    event->setExpirationDate(expiration);
    return event;
  }
  size_t repairLines() {
    std::lock_guard lock(linesMutex_);
    return static_cast<size_t>(std::count_if(lines_.begin(), lines_.end(), [](const std::string& line) {
      return line.find("[I-ET001011]") != std::string::npos;
    }));
  }

  const platform::Date week_ = platform::Date::now().addingTimeInterval(7 * 24 * 3600);
  const platform::Date past_ = platform::Date::fromTimeIntervalSince1970(100);
  std::shared_ptr<RecordingDelegate> delegate_;
  std::mutex linesMutex_;
  std::vector<std::string> lines_;
};

// IDs and tiers holding "-" are named so that they parse back; names of older builds that
// do not parse are read and put back under their proper names, never taken as expired.
TEST_F(StorageRepairTest, NamesParseBackExactlyAndOldNamesAreRepairedNotExpired) {
  auto dashed = eventWithID("a-b", 3, week_);
  auto negative = eventWithID("neg", -1, week_);
  ASSERT_TRUE(store(dashed).written);
  ASSERT_TRUE(store(negative).written);
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 2u);

  // Written by an older build: a "-" in the ID, a negative tier, and an expired one.
  auto oldDashed = eventWithID("c-d", 3, week_);
  auto oldNegative = eventWithID("old", -5, week_);
  auto oldExpired = eventWithID("e-f", 3, past_);
  const std::string seconds = std::to_string(static_cast<uint64_t>(week_.timeIntervalSince1970()));
  writeAs(oldDashed, eventDirectory(1001) / ("c-d-3-" + seconds + "-1974"));
  writeAs(oldNegative, eventDirectory(1001) / ("old--5-" + seconds + "-1974"));
  writeAs(oldExpired, eventDirectory(1001) / "e-f-3-100-1974");
  std::ofstream(eventDirectory(1001) / "x-y-1-100") << "no event";

  sweep();
  EXPECT_EQ(delegate_->expiredIDs, std::vector<std::string>{"e-f"});
  std::vector<std::string> expected;
  for (const auto& event : {dashed, negative, oldDashed, oldNegative}) {
    expected.push_back(storage_->pathForTarget(1001, event->eventID(), event->qosTier(), event->expirationDate(), "1974")
                           .filename()
                           .string());
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(namesIn(eventDirectory(1001)), expected);
  EXPECT_GE(repairLines(), 4u);

  EXPECT_EQ(selectedIDs(std::set<std::string>{"a-b", "c-d"}, std::nullopt), (std::set<std::string>{"a-b", "c-d"}));
  EXPECT_EQ(selectedIDs(std::nullopt, std::set<long>{-1, -5}), (std::set<std::string>{"neg", "old"}));
}

TEST_F(StorageRepairTest, ADamagedBatchIDCounterGoesOnAfterTheBatchesOnDisk) {
  const fs::path counter = storage_->libraryDataStoragePath() / ETFlatFileStorageBatchIDCounterKey;
  auto stored = [&] { return *ETReadFile(counter, nullptr); };
  struct Case {
    std::vector<ETBatchID> onDisk;
    ETBytes file;
    ETBatchID handedOut;
    ETBytes next;
  };
  const std::vector<Case> cases = {
      {{}, {0xFF, 0xFF, 0xFF, 0xFF}, 0, {1, 0, 0, 0}},                   // -1
      {{3, 7}, {0xFB, 0xFF, 0xFF, 0xFF}, 8, {9, 0, 0, 0}},               // -5
      {{3, 7}, {3, 0, 0, 0}, 8, {9, 0, 0, 0}},                           // a batch still has 3
      {{3, 7}, {5, 0, 0, 0}, 5, {6, 0, 0, 0}},                           // sound: kept
      {{0, 1, INT32_MAX}, {0, 0, 0, 0}, 2, {3, 0, 0, 0}},                // wrapped onto batch 0
  };
  size_t repairs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handedOut);
    fs::remove_all(storage_->batchDataStoragePath());
    for (ETBatchID id : c.onDisk) fs::create_directories(storage_->batchPathForTarget(1001, id, week_));
    ASSERT_TRUE(ETWriteFileAtomically(c.file, counter, nullptr));
    EXPECT_EQ(nextBatchID(), c.handedOut);
    EXPECT_EQ(stored(), c.next);
    const bool damaged = c.file != ETBytes{5, 0, 0, 0};
    repairs += damaged;
    EXPECT_EQ(repairLines(), repairs);
  }
}

// Batch directories with negative IDs (from a damaged counter) or other names that do not
// parse give their events back to the store; what holds no event goes.
TEST_F(StorageRepairTest, BatchDirectoriesWhoseNamesDoNotParseGiveTheirEventsBack) {
  auto inNegative = eventWithID("n1", 3, week_);
  auto inOdd = eventWithID("n2", 4, week_);
  const fs::path negative = storage_->batchDataStoragePath() / "1001--1-9999999999";
  const fs::path odd = storage_->batchDataStoragePath() / "junk";
  writeAs(inNegative, negative / storage_->pathForTarget(1001, "n1", 3, week_, "1974").filename());
  writeAs(inOdd, odd / "whatever-name");
  std::ofstream(odd / "not-an-event-3-1-1974") << "x";
  std::ofstream(storage_->batchDataStoragePath() / "stray-file") << "x";

  sweep();
  EXPECT_TRUE(namesIn(storage_->batchDataStoragePath()).empty());
  EXPECT_EQ(selectedIDs(std::nullopt, std::nullopt), (std::set<std::string>{"n1", "n2"}));
  EXPECT_GE(repairLines(), 3u);
  EXPECT_TRUE(delegate_->expiredIDs.empty());
}

// A batch whose events cannot be moved back is retried by every sweep, and its events
// expire by their own age meanwhile.
TEST_F(StorageRepairTest, AKeptBatchIsRetriedAndItsEventsExpireByTheirOwnAge) {
  auto old = eventWithID("old", 3, platform::Date::now().addingTimeInterval(2));
  auto young = eventWithID("young", 3, week_);
  ASSERT_TRUE(store(old).written);
  ASSERT_TRUE(store(young).written);
  auto value = await(storage_->batchWithEventSelector(ETStorageEventSelector::eventSelectorForTarget(1001), past_));
  ASSERT_TRUE(value.get<std::shared_ptr<ETUploadBatch>>());
  storage_->setMoveFault([](const fs::path&, const fs::path&) { return true; });
  sweep();  // the batch has expired; nothing can be moved back, nothing has expired yet
  ASSERT_EQ(namesIn(storage_->batchDataStoragePath()).size(), 1u);
  EXPECT_TRUE(delegate_->expiredIDs.empty());

  // "old" passes its own expiry while the moves still fail: it goes, "young" waits.
  fs::path batch = storage_->batchDataStoragePath() / namesIn(storage_->batchDataStoragePath())[0];
  const fs::path oldFile = batch / storage_->pathForTarget(1001, "old", 3, old->expirationDate(), "1974").filename();
  fs::rename(oldFile, batch / storage_->pathForTarget(1001, "old", 3, past_, "1974").filename());
  sweep();
  EXPECT_EQ(delegate_->expiredIDs, std::vector<std::string>{"old"});
  ASSERT_EQ(namesIn(batch).size(), 1u);

  storage_->setMoveFault(nullptr);
  sweep();
  EXPECT_TRUE(namesIn(storage_->batchDataStoragePath()).empty());
  EXPECT_EQ(selectedIDs(std::nullopt, std::nullopt), std::set<std::string>{"young"});
}

}  // namespace
}  // namespace et_testing
