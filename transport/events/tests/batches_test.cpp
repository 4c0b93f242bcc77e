#include <sys/stat.h>

#include <fstream>

#include "transport_test_support.h"

namespace et_testing {
namespace {

class BatchesTest : public TransportTest {
 protected:
  std::shared_ptr<ETUploadBatch> batchOf(std::shared_ptr<ETStorageEventSelector> selector,
                                         platform::Error* error = nullptr) {
    PRMObject value = await(storage_->batchWithEventSelector(selector, platform::Date::now().addingTimeInterval(600)), error);
    auto* batch = value.get<std::shared_ptr<ETUploadBatch>>();
    return batch ? *batch : nullptr;
  }
  static std::set<std::string> idsOf(const ETEventSet& events) {
    std::set<std::string> ids;
    for (const auto& event : events) ids.insert(event->eventID());
    return ids;
  }
  std::shared_ptr<ETEvent> stored(long target, const std::string& mappingID, long tier) {
    auto event = makeEvent(target, mappingID, 16, tier);
    EXPECT_TRUE(store(event).written);
    return event;
  }
};

TEST_F(BatchesTest, SelectorsPickByEventIDTierAndDecodedMappingID) {
  auto a = stored(1001, "1974", 3);
  auto b = stored(1001, "1974", 4);
  auto c = stored(1001, "a b", 3);
  stored(1002, "1206", 4);
  std::ofstream(eventDirectory(1001) / "unparsable") << "x";
  std::ofstream(eventDirectory(1001) / ".hidden") << "x";

  struct Case {
    std::optional<std::set<std::string>> eventIDs;
    std::optional<std::set<long>> tiers;
    std::optional<std::set<std::string>> mappingIDs;
    size_t selected;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, std::nullopt, 4},  // every non-hidden file, the unparsable one too
      {std::set<std::string>{}, std::set<long>{}, std::set<std::string>{}, 4},
      {std::nullopt, std::set<long>{4}, std::nullopt, 1},
      {std::set<std::string>{a->eventID()}, std::set<long>{3}, std::nullopt, 1},
      {std::set<std::string>{b->eventID()}, std::set<long>{3}, std::nullopt, 0},
      {std::nullopt, std::nullopt, std::set<std::string>{"a b"}, 1},
  };
  for (const Case& test : cases) {
    std::set<std::string> paths;
    storage_->pathsForTarget(1001, test.eventIDs, test.tiers, test.mappingIDs, [&](auto selected) { paths = selected; });
    drain();
    EXPECT_EQ(paths.size(), test.selected);
  }
  std::set<std::string> paths;
  storage_->pathsForTarget(1001, std::nullopt, std::nullopt, std::set<std::string>{"a b"}, [&](auto s) { paths = s; });
  drain();
  ASSERT_EQ(paths.size(), 1u);
  EXPECT_NE(paths.begin()->find(c->eventID() + "-3-"), std::string::npos);
  EXPECT_NE(paths.begin()->find("a%20b"), std::string::npos);
}

TEST_F(BatchesTest, ConsecutiveBatchesTakeNewIDsAndAnEmptyOneIsRejected) {
  auto a = stored(1001, "1974", 3);
  auto b = stored(1001, "1974", 4);
  auto first = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  ASSERT_TRUE(first);
  EXPECT_EQ(idsOf(first->events), (std::set<std::string>{a->eventID(), b->eventID()}));
  EXPECT_TRUE(namesIn(eventDirectory(1001)).empty());

  platform::Error error;
  EXPECT_FALSE(batchOf(ETStorageEventSelector::eventSelectorForTarget(1001), &error));
  EXPECT_EQ(error.domain, "ETFlatFileStorage");
  EXPECT_EQ(error.code, -1);
  EXPECT_EQ(*error.userInfo.at(platform::kErrorLocalizedFailureReasonKey).asString(), "There are no events for the selector.");

  stored(1001, "1974", 3);
  auto third = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  ASSERT_TRUE(third);
  EXPECT_EQ(third->batchID, first->batchID + 2);  // the empty batch used its ID up
  EXPECT_EQ(await(storage_->batchIDsForTarget(1001)).get<ETBatchIDSet>()->size(), 2u);
  EXPECT_TRUE(await(storage_->batchIDsForTarget(1002)).get<ETBatchIDSet>()->empty());
}

TEST_F(BatchesTest, RemovingABatchDeletesItsEventsOrPutsThemBackUnderTheirNames) {
  stored(1001, "1974", 3);
  stored(1001, "x-y", 4);
  const auto namesBefore = namesIn(eventDirectory(1001));

  auto restored = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  ASSERT_TRUE(restored);
  await(storage_->removeBatchWithID(restored->batchID, false));
  EXPECT_EQ(namesIn(eventDirectory(1001)), namesBefore);
  EXPECT_TRUE(namesIn(storage_->batchDataStoragePath()).empty());

  auto deleted = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  ASSERT_TRUE(deleted);
  await(storage_->removeBatchWithID(deleted->batchID, true));
  EXPECT_TRUE(namesIn(eventDirectory(1001)).empty());
  EXPECT_TRUE(namesIn(storage_->batchDataStoragePath()).empty());
  EXPECT_FALSE(await(storage_->hasEventsForTarget(1001)).number<bool>().value());
}

TEST_F(BatchesTest, RemoveAllBatchesForATargetAndTheEmptyCases) {
  EXPECT_FALSE(await(storage_->batchIDsForTarget(1001)));  // an empty batch directory gives none
  EXPECT_TRUE(await(storage_->removeAllBatchesForTarget(1001, true)).isNull());

  stored(1001, "1974", 3);
  auto one = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  stored(1001, "1974", 3);
  auto two = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  auto other = stored(1002, "1206", 4);
  auto kept = batchOf(ETStorageEventSelector::eventSelectorForTarget(1002));
  ASSERT_TRUE(one && two && kept);
  EXPECT_TRUE(await(storage_->removeAllBatchesForTarget(1001, false)).isNull());
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 2u);
  EXPECT_EQ(*await(storage_->batchIDsForTarget(1002)).get<ETBatchIDSet>(), ETBatchIDSet{kept->batchID});
  EXPECT_TRUE(await(storage_->hasEventsForTarget(1001)).number<bool>().value());
}

TEST_F(BatchesTest, InterleavedCreationsPutEachEventInAtMostOneBatch) {
  std::set<std::string> all;
  for (int i = 0; i < 20; ++i) all.insert(stored(1001, "1974", 3)->eventID());
  const auto selector = ETStorageEventSelector::eventSelectorForTarget(1001);
  const auto expiry = platform::Date::now().addingTimeInterval(600);
  // Both are queued before either runs, so their counter, selection and move steps interleave.
  auto first = storage_->batchWithEventSelector(selector, expiry);
  auto second = storage_->batchWithEventSelector(selector, expiry);
  std::set<std::string> seen;
  size_t total = 0;
  for (const auto& promise : {first, second}) {
    platform::Error error;
    PRMObject value = await(promise, &error);
    if (auto* batch = value.get<std::shared_ptr<ETUploadBatch>>()) {
      total += (*batch)->events.size();
      for (const auto& id : idsOf((*batch)->events)) seen.insert(id);
    }
  }
  EXPECT_EQ(total, all.size());
  EXPECT_EQ(seen, all);
}

TEST_F(BatchesTest, UnreadableFilesAreRemovedAndFailedMovesNeverLoseOrDuplicateAnEvent) {
  auto stays = stored(1001, "1974", 3);
  auto moves = stored(1001, "1974", 4);
  std::ofstream(eventDirectory(1001) / "BROKEN-3-9999999999-1974") << "not an archive";
  // The first event cannot be moved into the batch: it stays out of it, and where it was.
  // The directory cannot be taken whole either, so each file moves on its own.
  storage_->setMoveFault([&](const fs::path& from, const fs::path&) {
    return from == eventDirectory(1001) || from.filename().string().starts_with(stays->eventID());
  });
  auto batch = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  ASSERT_TRUE(batch);
  EXPECT_EQ(idsOf(batch->events), std::set<std::string>{moves->eventID()});
  const auto left = namesIn(eventDirectory(1001));
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0].starts_with(stays->eventID()));

  // Moving back fails: the batch directory stays for the next attempt, which succeeds.
  storage_->setMoveFault([](const fs::path&, const fs::path&) { return true; });
  await(storage_->removeBatchWithID(batch->batchID, false));
  EXPECT_EQ(namesIn(storage_->batchDataStoragePath()).size(), 1u);
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 1u);
  storage_->setMoveFault(nullptr);
  await(storage_->removeBatchWithID(batch->batchID, false));
  EXPECT_TRUE(namesIn(storage_->batchDataStoragePath()).empty());
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 2u);
}

TEST_F(BatchesTest, ABatchOfEveryEventIsOneMoveAndDeletingItIsOneMore) {
  std::vector<std::pair<fs::path, fs::path>> moves;
  storage_->setMoveFault([&moves](const fs::path& from, const fs::path& to) {
    moves.emplace_back(from, to);
    return false;
  });
  std::set<std::string> ids;
  for (int i = 0; i < 20; ++i) ids.insert(stored(1001, "1974", i % 2 ? 3 : 4)->eventID());
  std::ofstream(eventDirectory(1001) / ".hidden") << "x";

  // A selector of some tiers moves each file it takes.
  auto some = batchOf(std::make_shared<ETStorageEventSelector>(1001, std::nullopt, std::nullopt, std::set<long>{4}));
  ASSERT_TRUE(some);
  EXPECT_EQ(some->events.size(), 10u);
  EXPECT_EQ(moves.size(), 10u);
  EXPECT_EQ(storage_->eventFilesRead(), 0u);  // kept in memory since they were written
  await(storage_->removeBatchWithID(some->batchID, false));
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 21u);

  // Every event of the target: the directory is taken whole.
  moves.clear();
  auto all = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  ASSERT_TRUE(all);
  EXPECT_EQ(idsOf(all->events), ids);
  EXPECT_EQ(storage_->eventFilesRead(), 10u);  // those that came back from the first batch
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].first, eventDirectory(1001));
  EXPECT_TRUE(namesIn(eventDirectory(1001)).empty());
  stored(1001, "1974", 3);  // a new event finds its directory again
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 1u);

  // Deleting it is one rename out of the store; the files go in the background.
  moves.clear();
  await(storage_->removeBatchWithID(all->batchID, true));
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].second.parent_path(), storage_->removedDataPath());
  EXPECT_TRUE(namesIn(storage_->batchDataStoragePath()).empty());
  EXPECT_TRUE(platform::MainLoop::runUntil([&] { return namesIn(storage_->removedDataPath()).empty(); },
                                           std::chrono::seconds(10)));
  EXPECT_EQ(namesIn(eventDirectory(1001)).size(), 1u);
}

// The events batching hands out without reading their files are those the files give back:
// every archived field alike, whatever the caller changes on its own event after storing it.
TEST_F(BatchesTest, KeptEventsAreWhatTheirFilesReadBackAsAndARestartedStorageReadsTheFiles) {
  std::vector<std::shared_ptr<ETEvent>> events = {makeEvent(), makeEvent(), makeEvent(1001, "a b", 16, 4)};
  events[1]->setCustomBytes(std::vector<uint8_t>{});
  events[2]->setCustomBytes(std::vector<uint8_t>{'{', '}'});
  events[2]->setClockSnapshot(std::make_shared<ETClock>(1700000000123, -3600, 42, 7));
  events[2]->setExpirationDate(platform::Date{123456.789});
  auto withProduct = ETEvent::initWithMappingID("1974", std::make_shared<ETProductData>(-7), 1001);
  withProduct->setDataObject(std::make_shared<BytesObject>(payload(3)));
  events.push_back(withProduct);
  for (const auto& event : events) ASSERT_TRUE(store(event).written);
  events[2]->clockSnapshot()->timeMillis = 1;  // the caller's own objects, changed afterwards
  events[2]->setQosTier(1);

  const fs::path copy = root_ / "copy";
  fs::copy(root_ / "events", copy, fs::copy_options::recursive);
  auto kept = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  ASSERT_TRUE(kept);
  EXPECT_EQ(storage_->eventFilesRead(), 0u);
  storage_ = ETFlatFileStorage::make(copy, application_);
  auto read = batchOf(ETStorageEventSelector::eventSelectorForTarget(1001));
  ASSERT_TRUE(read);
  EXPECT_EQ(storage_->eventFilesRead(), events.size());

  ASSERT_EQ(idsOf(kept->events), idsOf(read->events));
  auto archived = [](const ETEvent& event) {
    std::optional<platform::Error> error;
    auto bytes = ETArchiveObject(platform::ArchiveValue(std::make_shared<ETEvent>(event)), {}, &error);
    return bytes ? *bytes : ETBytes{};
  };
  for (const auto& fromFile : read->events) {
    auto same = std::find_if(kept->events.begin(), kept->events.end(),
                             [&](const auto& event) { return event->eventID() == fromFile->eventID(); });
    ASSERT_NE(same, kept->events.end());
    EXPECT_TRUE((*same)->isEqual(*fromFile)) << fromFile->eventID();
    EXPECT_EQ(archived(**same), archived(*fromFile)) << fromFile->eventID();
    EXPECT_FALSE((*same)->dataObject());
  }
}

TEST_F(BatchesTest, ADeletedBatchAKilledProcessLeftIsUnlinkedAtTheNextStart) {
  const fs::path left = storage_->removedDataPath() / "1001-7-99.1.0";
  fs::create_directories(left);
  std::ofstream(left / "event") << "x";
  storage_ = ETFlatFileStorage::make(root_ / "events", application_);
  EXPECT_TRUE(platform::MainLoop::runUntil([&] { return !fs::exists(left); }, std::chrono::seconds(10)));
}

// Stands in for the metrics metadata of the upload library: one counter.
struct Metadata : platform::KeyedCoding {
  static constexpr const char* kArchiveClassName = "ETMetricsMetadata";
  explicit Metadata(int64_t count) : count(count) {}
  std::string archiveClassName() const override { return kArchiveClassName; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override { coder.encodeInt64(count, "count"); }
  static std::shared_ptr<Metadata> initWithCoder(platform::KeyedUnarchiver& coder) {
    return std::make_shared<Metadata>(coder.decodeInt64("count"));
  }
  int64_t count;
};

TEST_F(BatchesTest, MetricsMetadataIsReadHandedToTheHandlerAndWrittenWhenItChanges) {
  platform::KeyedClassRegistry::registerClass<Metadata>();
  const fs::path file = storage_->libraryDataStoragePath() / "metrics_metadata";
  std::vector<int64_t> seen;
  auto update = [&](std::optional<int64_t> next) {
    return await(storage_->fetchAndUpdateMetricsWithHandler(
        [&seen, next](const std::shared_ptr<platform::KeyedCoding>& fetched,
                      const std::optional<platform::Error>& error) -> std::shared_ptr<platform::KeyedCoding> {
          auto metadata = std::dynamic_pointer_cast<Metadata>(fetched);
          seen.push_back(metadata ? metadata->count : (error ? -1 : -2));
          if (!next) return nullptr;
          return std::make_shared<Metadata>(*next);
        }));
  };
  auto inode = [&] {
    struct stat info {};
    ::stat(file.c_str(), &info);
    return info.st_ino;
  };
  update(3);
  const auto first = inode();
  update(3);  // the same value: not written again
  update(std::nullopt);
  EXPECT_EQ(inode(), first);
  update(4);
  EXPECT_NE(inode(), first);
  update(std::nullopt);
  EXPECT_EQ(seen, (std::vector<int64_t>{-1, 3, 3, 3, 4}));
}

}  // namespace
}  // namespace et_testing
