#include "platform/foundation/defaults.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/foundation/data_notices.h"
#include "platform/foundation/tests/binary_plist_fixture.h"
#include "platform/foundation/paths.h"
#include "platform/foundation/plist.h"
#include "platform/testing/environment.h"
#include "platform/testing/temp_directory.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using testing::binaryDictionary;

// Points the data directory at a fresh temporary folder for each test.
class DefaultsTest : public ::testing::Test {
 protected:
  fs::path prefs(const std::string& name) {
    return root_ / "Preferences" / (name + ".plist");
  }
  std::vector<std::string> filesIn(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  platform::testing::Environment environment_{"brivel-defaults"};
  fs::path root_ = environment_.dataDirectory();
};

TEST_F(DefaultsTest, RoundTripThroughTheSuiteFile) {
  auto group = UserDefaults::suite("group.ruv.vantoru.Duvenmark");
  ASSERT_NE(group, nullptr);
  EXPECT_TRUE(group->set("newBillz", PlistValue::Data{1, 2, 3}).ok());
  EXPECT_TRUE(group->set("count", 3).ok());
  EXPECT_TRUE(group->set("salary", 1500.5).ok());
  EXPECT_TRUE(group->set("on", true).ok());
  EXPECT_TRUE(group->set("name", "Ünïcode").ok());

  EXPECT_TRUE(group->remove("count").ok());
  const auto written = group->domain()->dictionary();

  // As the next launch would: the suite is read back from its file.
  environment_.relaunch();
  auto reopened = UserDefaults::suite("group.ruv.vantoru.Duvenmark");
  ASSERT_NE(reopened->domain(), group->domain());
  EXPECT_EQ(reopened->domain()->dictionary(), written);
  EXPECT_EQ(reopened->data("newBillz"), (PlistValue::Data{1, 2, 3}));
  EXPECT_EQ(reopened->doubleValue("salary"), 1500.5);
  EXPECT_EQ(reopened->boolean("on"), true);
  EXPECT_EQ(reopened->string("name"), "Ünïcode");
  EXPECT_EQ(reopened->integer("count"), std::nullopt);
  // The file is a binary property list.
  auto bytes = readFileContents(prefs("group.ruv.vantoru.Duvenmark"));
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(std::string(bytes->begin(), bytes->begin() + 6), "bplist");
}

TEST_F(DefaultsTest, OpeningASuiteReadsWhatAnEarlierRunWrote) {
  ASSERT_TRUE(writePreferencesFile(prefs("standard"),
                                    {{"popViewAfterSaveAndUpdate", true}, {"nettoSalary", 2000}})
                   .ok());
  auto standard = UserDefaults::standard();
  EXPECT_EQ(standard->boolean("popViewAfterSaveAndUpdate"), true);
  // A whole number stored as an integer still reads as a double.
  EXPECT_EQ(standard->doubleValue("nettoSalary"), 2000.0);
}

TEST_F(DefaultsTest, HandlesOverOneSuiteShareTheirWrites) {
  auto first = UserDefaults::suite("shared.suite");
  auto second = UserDefaults::suite("shared.suite");
  ASSERT_TRUE(first && second);
  EXPECT_TRUE(first->set("k", "v").ok());
  EXPECT_EQ(second->string("k"), "v");
  EXPECT_EQ(first->domain(), second->domain());
}

TEST_F(DefaultsTest, TypedGettersAnswerAbsentOnMismatch) {
  auto defaults = UserDefaults::standard();
  ASSERT_TRUE(defaults->set("text", "12").ok());
  ASSERT_TRUE(defaults->set("real", 2.5).ok());
  ASSERT_TRUE(defaults->set("flag", true).ok());
  ASSERT_TRUE(defaults->set("bytes", PlistValue::Data{1}).ok());

  EXPECT_EQ(defaults->integer("text"), std::nullopt);
  EXPECT_EQ(defaults->integer("real"), std::nullopt);
  EXPECT_EQ(defaults->integer("flag"), std::nullopt);
  EXPECT_EQ(defaults->doubleValue("text"), std::nullopt);
  EXPECT_EQ(defaults->boolean("real"), std::nullopt);
  EXPECT_EQ(defaults->string("bytes"), std::nullopt);
  EXPECT_EQ(defaults->data("text"), std::nullopt);
  EXPECT_EQ(defaults->array("flag"), std::nullopt);
  EXPECT_EQ(defaults->integer("missing"), std::nullopt);
  EXPECT_EQ(defaults->object("real"), PlistValue(2.5));
}

TEST_F(DefaultsTest, InvalidSuiteNamesAreRefused) {
  for (const char* name : {"", "../escape", "a/b", ".hidden", "standard", "tab\tname"}) {
    EXPECT_EQ(UserDefaults::suite(name), nullptr) << name;
  }
  EXPECT_FALSE(fs::exists(root_ / "escape.plist"));
}

TEST_F(DefaultsTest, AtomicReplaceKeepsTheOldFileWhenAnyStepFails) {
  auto defaults = UserDefaults::suite("atomic");
  ASSERT_TRUE(defaults->set("value", "old").ok());

  for (FileWriteFault step : {FileWriteFault::CreateTemporary, FileWriteFault::Write,
                              FileWriteFault::Sync, FileWriteFault::Rename}) {
    SCOPED_TRACE(static_cast<int>(step));
    setFileWriteFault(step);
    auto stored = defaults->set("value", "new");
    ASSERT_FALSE(stored.ok());
    EXPECT_EQ(stored.error().domain, kPOSIXErrorDomain);
    // Memory has the new value; the file still has the old one, whole, and no temporary.
    EXPECT_EQ(defaults->string("value"), "new");
    EXPECT_EQ(loadPreferencesFile(prefs("atomic"))->at("value"), PlistValue("old"));
    EXPECT_EQ(filesIn(root_ / "Preferences"), std::vector<std::string>{"atomic.plist"});
    setFileWriteFault(FileWriteFault::None);
    ASSERT_TRUE(defaults->set("value", "old").ok());
  }

  // A failed write is retried by the next synchronize even without a new change.
  setFileWriteFault(FileWriteFault::Rename);
  ASSERT_FALSE(defaults->set("value", "later").ok());
  setFileWriteFault(FileWriteFault::None);
  EXPECT_TRUE(defaults->synchronize().ok());
  EXPECT_EQ(loadPreferencesFile(prefs("atomic"))->at("value"), PlistValue("later"));
}

TEST_F(DefaultsTest, UnwritableDirectoryGivesAnErrorValue) {
  fs::create_directories(root_);
  std::ofstream(root_ / "Preferences") << "a file where the folder should be";
  auto defaults = UserDefaults::standard();
  auto stored = defaults->set("getNotified", false);
  ASSERT_FALSE(stored.ok());
  EXPECT_FALSE(stored.error().localizedDescription().empty());
  EXPECT_EQ(defaults->boolean("getNotified"), false);
}

TEST_F(DefaultsTest, UnreadableFileIsSetAsideNotOverwritten) {
  fs::create_directories(root_ / "Preferences");
  std::ofstream(prefs("torn")) << "bplist00 garbage";
  auto defaults = UserDefaults::suite("torn");
  EXPECT_EQ(defaults->domain()->dictionary().size(), 0u);
  ASSERT_TRUE(defaults->set("k", 1).ok());
  std::ifstream kept(root_ / "Preferences" / "torn.plist.unreadable");
  std::string contents((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
  EXPECT_EQ(contents, "bplist00 garbage");
}

TEST_F(DefaultsTest, DamagedFilesAreSetAsideAndToldNeverFatal) {
  std::string good = binaryDictionary("lastPickedUserID", "abc");
  ASSERT_TRUE(decodePlist(good).has_value());
  struct Case {
    const char* name;
    std::optional<std::string> bytes;  // nothing: a folder in the file's place
  } cases[] = {
      {"a NUL inside a key", binaryDictionary(std::string("a\0b", 3), "x")},
      {"a folder", std::nullopt},
      {"truncated", good.substr(0, good.size() - 10)},
      {"garbage", "bplist00\xff\xff\xff garbage that is no property list"},
      {"an offset table past the end", good.substr(0, good.size() - 8) + std::string(7, '\0') + '\xff'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    environment_.relaunch();
    DataNotices::shared().reset();
    fs::remove_all(root_ / "Preferences");
    fs::create_directories(root_ / "Preferences");
    const fs::path file = prefs("damaged");
    if (c.bytes) {
      std::ofstream(file, std::ios::binary) << *c.bytes;
    } else {
      fs::create_directories(file / "inside");
    }

    auto defaults = UserDefaults::suite("damaged");
    EXPECT_EQ(defaults->domain()->dictionary().size(), 0u);
    // Set aside as it was, and the user is told where.
    const fs::path aside = file.string() + ".unreadable";
    if (c.bytes) {
      std::ifstream kept(aside, std::ios::binary);
      std::string contents((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
      EXPECT_EQ(contents, *c.bytes);
    } else {
      EXPECT_TRUE(fs::is_directory(aside / "inside"));
    }
    auto notices = DataNotices::shared().all();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].text.find(aside.string()), std::string::npos) << notices[0].text;
    // The suite works on from an empty file.
    ASSERT_TRUE(defaults->set("k", 1).ok());
    environment_.relaunch();
    EXPECT_EQ(UserDefaults::suite("damaged")->integer("k"), 1);
  }
  DataNotices::shared().reset();
}

TEST_F(DefaultsTest, TextThatIsNotUtf8IsRepairedSoTheFileStaysReadable) {
  fs::create_directories(root_ / "Preferences");
  std::ofstream(prefs("latin"), std::ios::binary) << binaryDictionary("name", "caf\xE9");
  auto defaults = UserDefaults::suite("latin");
  EXPECT_EQ(defaults->string("name"), "caf\xEF\xBF\xBD");
  ASSERT_TRUE(defaults->set("other", 1).ok());

  environment_.relaunch();
  auto again = UserDefaults::suite("latin");
  EXPECT_EQ(again->string("name"), "caf\xEF\xBF\xBD");
  EXPECT_FALSE(fs::exists(prefs("latin").string() + ".unreadable"));
}

TEST(TemporaryFileSweepTest, RemovesOnlyTheTemporariesOfAtomicWriters) {
  platform::testing::TempDirectory directory("brivel-sweep");
  const fs::path& root = directory.path();
  fs::create_directories(root / "Preferences");
  const std::vector<fs::path> stale = {root / ".Brivel.keychain.tmp", root / "Preferences" / ".standard.plist.tmp-Ab12Cd"};
  const std::vector<fs::path> kept = {root / "Brivel.store", root / "notes.tmp", root / ".hidden",
                                      root / "Preferences" / ".standard.plist.tmp-toolongname", root / "Preferences" / "standard.plist"};
  for (const auto& path : stale) std::ofstream(path) << "partial";
  for (const auto& path : kept) std::ofstream(path) << "keep";
  EXPECT_EQ(sweepStaleTemporaryFiles(root), stale.size());
  for (const auto& path : stale) EXPECT_FALSE(fs::exists(path)) << path;
  for (const auto& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
}

TEST(FileProblemTest, SaysWhatHappenedInWords) {
  platform::testing::TempDirectory directory("brivel-problem");
  const fs::path& root = directory.path();
  std::ofstream(root / "data") << "a file";
  EXPECT_EQ(describeFileProblem(ENOSPC, root), "the disk is full");
  EXPECT_EQ(describeFileProblem(ENOTDIR, root / "data" / "Brivel.store"), (root / "data").string() + " is a file, not a folder");
  EXPECT_NE(describeFileProblem(EACCES, root).find("read-only"), std::string::npos);
}

TEST_F(DefaultsTest, ValuesThatCannotBeWrittenAreRefused) {
  auto defaults = UserDefaults::standard();
  auto stored = defaults->set("list", PlistValue::Array{1, PlistValue()});
  EXPECT_FALSE(stored.ok());
  EXPECT_EQ(defaults->object("list"), std::nullopt);
  // The refusal does not block later writes.
  EXPECT_TRUE(defaults->set("ok", 1).ok());
}

TEST_F(DefaultsTest, ConcurrentWritersAllReachTheFile) {
  auto defaults = UserDefaults::suite("busy");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(defaults->set("k" + std::to_string(t) + "-" + std::to_string(i), i)
                         .ok());
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(loadPreferencesFile(prefs("busy"))->size(), 40u);
}

TEST_F(DefaultsTest, AppStorageReadsDefaultWithoutWritingAndWritesAtOnce) {
  auto standard = UserDefaults::standard();
  AppStorage<bool> pop("popViewAfterSaveAndUpdate", false, standard);
  AppStorage<double> salary("nettoSalaryJanuary", 0.0, standard);
  AppStorage<int64_t> index("pickOccurringIndex", 0, standard);

  EXPECT_FALSE(pop.get());
  EXPECT_EQ(salary.get(), 0.0);
  EXPECT_EQ(index.get(), 0);
  EXPECT_FALSE(fs::exists(prefs("standard")));  // reading wrote nothing

  EXPECT_TRUE(pop.set(true).ok());
  EXPECT_TRUE(pop.get());
  EXPECT_EQ(loadPreferencesFile(prefs("standard"))->at("popViewAfterSaveAndUpdate"),
            PlistValue(true));

  // A value of another type under the key reads as the default.
  ASSERT_TRUE(standard->set("pickOccurringIndex", "1").ok());
  EXPECT_EQ(index.get(), 0);
}

}  // namespace
}  // namespace platform
