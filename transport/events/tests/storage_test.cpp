#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "transport/events/files.h"
#include "transport_test_support.h"

namespace et_testing {
namespace {

using StorageTest = TransportTest;
using namespace std::chrono_literals;

// An event of the given tier whose archive is exactly `archiveSize` bytes long.
std::shared_ptr<ETEvent> eventWithArchiveSize(size_t archiveSize, long tier) {
  auto event = ETEvent::initWithMappingID("1974", 1001);
  event->setQosTier(tier);
  for (size_t size = 0; size < archiveSize; ++size) {
    event->setDataObject(std::make_shared<BytesObject>(payload(size)));
    std::optional<platform::Error> error;
    if (ETArchiveObject(event, {}, &error)->size() == archiveSize) return event;
  }
  ADD_FAILURE() << "no payload gives an archive of " << archiveSize << " bytes";
  return event;
}

TEST_F(StorageTest, TheSizeCapStoresUpToTwentyMillionBytesAndRefusesPastIt) {
  auto delegate = std::make_shared<RecordingDelegate>();
  storage_->setDelegate(delegate);
  auto fits = eventWithArchiveSize(1000, 4);
  auto tooBig = eventWithArchiveSize(1001, 4);
  std::ofstream(root_ / "events" / "filler").close();
  fs::resize_file(root_ / "events" / "filler", 19'999'000);  // sparse: only its size counts

  StoreResult refused = store(tooBig);
  EXPECT_FALSE(refused.written);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->domain, "ETFlatFileStorage");
  EXPECT_EQ(refused.error->code, 0);
  EXPECT_EQ(*refused.error->userInfo.at(platform::kErrorLocalizedFailureReasonKey).asString(),
            "Storage size limit has been reached.");
  EXPECT_EQ(delegate->droppedIDs, std::vector<std::string>{tooBig->eventID()});
  drain();
  EXPECT_TRUE(coordinator_->forced.empty());  // a refused tier-4 event asks for no upload
  EXPECT_TRUE(namesIn(eventDirectory(1001)).empty());

  StoreResult stored = store(fits);
  EXPECT_TRUE(stored.written);
  EXPECT_FALSE(stored.error);
  drain();  // the upload is asked for after the completion
  EXPECT_EQ(coordinator_->forced, std::vector<long>{1001});
  PRMObject value = await(storage_->fetchStorageMetadata());
  auto metadata = value.get<std::shared_ptr<ETStorageMetadata>>();
  ASSERT_TRUE(metadata);
  EXPECT_EQ((*metadata)->currentCacheSize, 20'000'000u);
  EXPECT_EQ((*metadata)->maxCacheSize, 20'000'000u);
}

TEST_F(StorageTest, EventsWithoutBytesAreRefusedAndTheFileNameCarriesTheEventsFields) {
  auto empty = ETEvent::initWithMappingID("1974", 1001);
  empty->setDataObject(std::make_shared<BytesObject>(std::nullopt));
  StoreResult refused = store(empty);
  EXPECT_FALSE(refused.written);
  EXPECT_EQ(refused.error, platform::Error("NSInternalInconsistencyException", -1));

  auto event = makeEvent(1001, "1974", 10, 3);
  event->setExpirationDate(platform::Date::fromTimeIntervalSince1970(1893456000.75));
  ASSERT_TRUE(store(event).written);
  EXPECT_EQ(namesIn(eventDirectory(1001)), std::vector<std::string>{event->eventID() + "-3-1893456000-1974"});
  std::optional<platform::Error> error;
  auto back = ETUnarchiveFile<ETEvent>(eventDirectory(1001) / namesIn(eventDirectory(1001))[0], &error);
  ASSERT_TRUE(back);
  EXPECT_TRUE(back->isEqual(*event));

  // Directories removed under the running storage are made again by the next store.
  fs::remove_all(root_ / "events" / "ETFlatFileStorage");
  EXPECT_TRUE(store(makeEvent(1002)).written);
  EXPECT_EQ(namesIn(eventDirectory(1002)).size(), 1u);
}

TEST_F(StorageTest, MappingIDsAreEncodedSoThatTheyStayInTheirDirectory) {
  struct Case {
    std::string mappingID, encoded;
  };
  for (const Case& c : std::vector<Case>{{"a b/c", "a%20b%2Fc"},
                                         {"x-y", "x-y"},
                                         {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},  // letters stay
                                         {"\xE2\x82\xAC" "5", "%E2%82%AC5"},          // a currency sign does not
                                         {"../x", "%2E%2E%2Fx"},
                                         {"1974", "1974"}}) {
    EXPECT_EQ(ETFlatFileStorage::encodedMappingID(c.mappingID), c.encoded);
    EXPECT_EQ(ETFlatFileStorage::decodedMappingID(c.encoded), c.mappingID);
    auto event = makeEvent(1001, c.mappingID, 4);
    ASSERT_TRUE(store(event).written) << c.mappingID;
    const fs::path path = storage_->pathForTarget(1001, event->eventID(), 3, event->expirationDate(), c.mappingID);
    EXPECT_EQ(path.parent_path(), eventDirectory(1001));
    EXPECT_TRUE(fs::exists(path));
    auto components = ETFlatFileStorage::eventComponentsFromFilename(path.filename().string());
    ASSERT_TRUE(components);
    EXPECT_EQ(ETFlatFileStorage::decodedMappingID(components->mappingID), c.mappingID);
  }
}

TEST_F(StorageTest, FileAndBatchNamesParseOnlyWithEnoughParts) {
  struct EventCase {
    std::string name;
    bool parses;
    std::string eventID{};
    long tier{};
    double expiration{};
    std::string mappingID{};
  };
  for (const EventCase& c : std::vector<EventCase>{{"abc-3-17", false},
                                                   {"ID-3-17-1974", true, "ID", 3, 17, "1974"},
                                                   {"ID-4-17-x-y", true, "ID", 4, 17, "x-y"},
                                                   {"ID-%2D1-17-1974", true, "ID", -1, 17, "1974"},
                                                   {"a%2Db-3-17-1974", true, "a-b", 3, 17, "1974"},
                                                   // Only names that parse back exactly:
                                                   {"ID-x-y-z", false},
                                                   {"a-b-3-17-1974", false},  // an unescaped "-"
                                                   {"ID--1-17-1974", false},
                                                   {"ID-3-017-1974", false},
                                                   {"ID-3- 17-1974", false},
                                                   {"ID-3-17-a b", false},
                                                   {"1001", false}}) {
    auto components = ETFlatFileStorage::eventComponentsFromFilename(c.name);
    ASSERT_EQ(components.has_value(), c.parses) << c.name;
    if (!components) continue;
    EXPECT_EQ(components->eventID, c.eventID);
    EXPECT_EQ(components->qosTier, c.tier);
    EXPECT_EQ(components->expiration.timeIntervalSince1970(), c.expiration);
    EXPECT_EQ(components->mappingID, c.mappingID);
  }
  struct BatchCase {
    std::string name;
    bool parses;
    long target{};
    ETBatchID batchID{};
  };
  for (const BatchCase& c : std::vector<BatchCase>{
           {"1001-5", false},
           {"1001-5-17", true, 1001, 5},
           {"1001-5-17-1", false},
           {"1002-0-1.5", false},
           {"1001--1-17", false},
           {"1001-x-17", false}}) {
    auto components = ETFlatFileStorage::batchComponentsFromFilename(c.name);
    ASSERT_EQ(components.has_value(), c.parses) << c.name;
    if (!components) continue;
    EXPECT_EQ(components->target, c.target);
    EXPECT_EQ(components->batchID, c.batchID);
  }
}

TEST_F(StorageTest, TheSweepRestoresExpiredBatchesRemovesAndReportsExpiredEventsAndStaleTemporaries) {
  auto delegate = std::make_shared<RecordingDelegate>();
  storage_->setDelegate(delegate);
  const auto past = platform::Date::fromTimeIntervalSince1970(100);
  auto expiredInBatch = makeEvent(1002, "1206");
  expiredInBatch->setExpirationDate(past);
  auto keptInBatch = makeEvent(1002, "1206");
  ASSERT_TRUE(store(expiredInBatch).written);
  ASSERT_TRUE(store(keptInBatch).written);
  auto batch = await(storage_->batchWithEventSelector(ETStorageEventSelector::eventSelectorForTarget(1002), past));
  ASSERT_TRUE(batch.get<std::shared_ptr<ETUploadBatch>>());

  auto expired = makeEvent(1001);
  expired->setExpirationDate(past);
  auto kept = makeEvent(1001);
  ASSERT_TRUE(store(expired).written);
  ASSERT_TRUE(store(kept).written);
  std::ofstream(eventDirectory(1001) / "GARBAGE-3-100-1974") << "not an archive";
  const fs::path stale = eventDirectory(1001) / ".old.tmp-AAAAAA";
  const fs::path fresh = eventDirectory(1001) / ".new.tmp-BBBBBB";
  std::ofstream(stale) << "half";
  std::ofstream(fresh) << "half";
  fs::last_write_time(stale, fs::file_time_type::clock::now() - 48h);

  storage_->checkForExpirations();
  drain();

  std::vector<std::string> reported = delegate->expiredIDs;
  std::sort(reported.begin(), reported.end());
  std::vector<std::string> expected = {expired->eventID(), expiredInBatch->eventID()};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(reported, expected);  // the unreadable file is removed but not reported
  const auto fileOf = [&](const std::shared_ptr<ETEvent>& e) {
    return storage_->pathForTarget(e->target(), e->eventID(), 3, e->expirationDate(), e->mappingID()).filename().string();
  };
  EXPECT_EQ(namesIn(eventDirectory(1001)), (std::vector<std::string>{".new.tmp-BBBBBB", fileOf(kept)}));
  EXPECT_EQ(namesIn(eventDirectory(1002)), std::vector<std::string>{fileOf(keptInBatch)});
  EXPECT_TRUE(namesIn(storage_->batchDataStoragePath()).empty());
}

TEST_F(StorageTest, TheBatchIDCounterStartsAtZeroReadsShortFilesAsZeroAndWraps) {
  auto next = [this] {
    std::optional<ETBatchID> value;
    storage_->nextBatchID([&value](std::optional<ETBatchID> id) { value = id; });
    drain();
    return value;
  };
  const fs::path counter = storage_->libraryDataStoragePath() / "ETFlatFileStorageBatchIDCounter";
  auto stored = [&] { return *ETReadFile(counter, nullptr); };

  EXPECT_EQ(next(), 0);
  EXPECT_EQ(stored(), (ETBytes{1, 0, 0, 0}));
  EXPECT_EQ(next(), 1);

  struct Case {
    ETBytes file;
    ETBatchID handedOut;
    ETBytes next;
  };
  for (const Case& c : std::vector<Case>{{{7, 0}, 0, {1, 0, 0, 0}},
                                         {{0xFF, 0xFF, 0xFF, 0x7F}, INT32_MAX, {0, 0, 0, 0}},
                                         {{5, 0, 0, 0, 9}, 5, {6, 0, 0, 0}}}) {
    ASSERT_TRUE(ETWriteFileAtomically(c.file, counter, nullptr));
    EXPECT_EQ(next(), c.handedOut);
    EXPECT_EQ(stored(), c.next);
  }
}

TEST_F(StorageTest, LibraryDataIsStoredReadReplacedAndRemovedWithTheSizeTracked) {
  auto size = [this] {
    uint64_t total = 0;
    storage_->storageSizeWithCallback([&total](uint64_t s) { total = s; });
    drain();
    return total;
  };
  std::optional<ETBytes> fetched = ETBytes{0};
  std::optional<platform::Error> fetchError;
  storage_->libraryDataForKey("k", [&](const auto& data, const auto& error) { fetched = data; fetchError = error; }, nullptr);
  drain();
  EXPECT_FALSE(fetched);
  EXPECT_TRUE(fetchError);

  std::optional<platform::Error> storeError = platform::Error();
  storage_->storeLibraryData({}, "k", [&](const auto& error) { storeError = error; });
  EXPECT_EQ(storeError, platform::Error("NSInternalInconsistencyException", -1));

  const uint64_t before = size();
  storage_->storeLibraryData({'a', 'b', 'c'}, "k", [&](const auto& error) { storeError = error; });
  drain();
  EXPECT_FALSE(storeError);
  EXPECT_EQ(size(), before + 3);

  storage_->libraryDataForKey("k", [&](const auto& data, const auto&) { fetched = data; },
                              [] { return ETBytes{'a', 'b', 'c', 'd', 'e', 'f'}; });
  drain();
  EXPECT_EQ(fetched, (ETBytes{'a', 'b', 'c'}));
  EXPECT_EQ(size(), before + 6);
  EXPECT_EQ(ETReadFile(storage_->libraryDataStoragePath() / "k", nullptr), (ETBytes{'a', 'b', 'c', 'd', 'e', 'f'}));

  std::vector<std::optional<platform::Error>> removals;
  storage_->removeLibraryDataForKey("k", [&](const auto& error) { removals.push_back(error); });
  storage_->removeLibraryDataForKey("k", [&](const auto& error) { removals.push_back(error); });
  drain();
  EXPECT_EQ(removals, (std::vector<std::optional<platform::Error>>{std::nullopt, std::nullopt}));
  EXPECT_EQ(size(), before);
}

TEST_F(StorageTest, LibraryKeysFromElsewhereStayInTheirDirectory) {
  std::optional<platform::Error> storeError = platform::Error();
  storage_->storeLibraryData({'x'}, "../outside", [&](const auto& error) { storeError = error; });
  drain();
  EXPECT_FALSE(storeError);
  EXPECT_EQ(namesIn(storage_->libraryDataStoragePath()), std::vector<std::string>{"..%2Foutside"});
  std::optional<ETBytes> fetched;
  storage_->libraryDataForKey("../outside", [&](const auto& data, const auto&) { fetched = data; }, nullptr);
  drain();
  EXPECT_EQ(fetched, ETBytes{'x'});
  EXPECT_FALSE(fs::exists(storage_->libraryDataStoragePath().parent_path() / "outside"));
}

TEST(DirectorySizeTrackerTest, CountsVisibleRegularFilesAndNeverGoesBelowZero) {
  platform::testing::TempDirectory directory("et-tracker");
  const fs::path& root = directory.path();
  fs::create_directories(root / "a" / ".hidden");
  std::ofstream(root / "a" / "one") << "12345";
  std::ofstream(root / ".skip") << "123";
  std::ofstream(root / "a" / ".hidden" / "two") << "123";
  ETDirectorySizeTracker tracker(root.string());
  EXPECT_EQ(tracker.directoryContentSize(), 5u);
  tracker.fileWasAddedAtPath("/elsewhere/file", 100);
  EXPECT_EQ(tracker.directoryContentSize(), 5u);
  tracker.fileWasRemovedAtPath((root / "a" / "one").string(), 50);
  EXPECT_EQ(tracker.directoryContentSize(), 0u);
  tracker.resetCachedSize();
  EXPECT_EQ(tracker.directoryContentSize(), 5u);

  // A file written while there is no total yet is counted once, by the walk.
  ETDirectorySizeTracker fresh(root.string());
  std::ofstream(root / "a" / "new") << "123";
  fresh.fileWasAddedAtPath((root / "a" / "new").string(), 3);
  EXPECT_EQ(fresh.directoryContentSize(), 8u);
}

// A child storing 64 KiB events in a loop is killed; whatever it left, selection sees only
// whole event files (a write in progress is a hidden temporary).
TEST_F(StorageTest, AWriterKilledMidStoreLeavesNoPartialEventFile) {
  const fs::path childRoot = root_ / "child";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execl(STORE_LOOP_CHILD, STORE_LOOP_CHILD, childRoot.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  const fs::path events = childRoot / "ETFlatFileStorage" / "et_event_data" / "1001";
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  // Hidden names are the writer's temporaries, not events yet.
  auto visibleCount = [&] {
    size_t n = 0;
    for (const std::string& name : namesIn(events)) n += name[0] != '.';
    return n;
  };
  while (visibleCount() < 40 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));

  auto storage = ETFlatFileStorage::make(childRoot, application_);
  size_t visible = 0;
  for (const std::string& name : namesIn(events)) {
    if (name[0] == '.') continue;
    ++visible;
    EXPECT_TRUE(ETUnarchiveFile<ETEvent>(events / name, nullptr)) << name;
  }
  ASSERT_GE(visible, 40u);
  auto batch = PRMPromiseAwait(storage->batchWithEventSelector(ETStorageEventSelector::eventSelectorForTarget(1001),
                                                               platform::Date::now().addingTimeInterval(60)));
  auto* taken = batch.get<std::shared_ptr<ETUploadBatch>>();
  ASSERT_TRUE(taken);
  EXPECT_EQ((*taken)->events.size(), visible);
}

}  // namespace
}  // namespace et_testing
