// The brivel program itself, started as a child process over a data folder with damaged files:
// it keeps running, tells the user on the page and on stderr what it set aside or refused, and
// loses nothing silently. Also: the page is shown only through the printed address.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Brivel/model/brivel_model_container.h"
#include "Brivel/model/profile_entity.h"
#include "platform/foundation/plist.h"
#include "platform/foundation/tests/binary_plist_fixture.h"
#include "platform/testing/temp_directory.h"
#include "program.h"

namespace brivel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::testing::binaryDictionary;
using app::Program;

std::string contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_ / "Preferences"); }
  platform::testing::TempDirectory directory_{"brivel-program"};
  const fs::path& dir_ = directory_.path();
};

TEST_F(ProgramTest, TakesTheSdksLaunchSwitchesAndItsLoggerObeysThem) {
  {
    Program program(dir_, {"-TELDebugEnabled", "-TELLoggerForceSTDERR"});
    ASSERT_NE(program.address().find("http://127.0.0.1:"), std::string::npos) << "the program did not start";
    std::string err;
    EXPECT_EQ(program.stop(err), 0) << err;
    EXPECT_NE(err.find("[I-COR000001] Configuring the default app."), std::string::npos) << err;
    EXPECT_EQ(err.find("I-COR000036"), std::string::npos) << "the launch line carries no made-up message code";
    EXPECT_NE(err.find("brivel: telemetry SDK configured"), std::string::npos) << err;
  }
  Program program(dir_, {"-TELDebugDisabled", "-TELLoggerForceSTDERR"});
  ASSERT_NE(program.address().find("http://127.0.0.1:"), std::string::npos) << "the program did not start";
  std::string err;
  EXPECT_EQ(program.stop(err), 0) << err;
  EXPECT_EQ(err.find("Configuring the default app."), std::string::npos) << err;
}

TEST_F(ProgramTest, SetsUpCrashReportingAtLaunchQuietlyWithTheShippedEndpoints) {
  Program program(dir_, {"-TELSessionsDebugEvents"});
  ASSERT_NE(program.address().find("http://127.0.0.1:"), std::string::npos) << "the program did not start";
  std::string err;
  EXPECT_EQ(program.stop(err), 0) << err;
  // Crash reporting subscribed to sessions, so the launch's session is no longer dropped, and
  // hosts that cannot be reached bring no errors to the console.
  EXPECT_EQ(err.find("did not have any dependent SDKs"), std::string::npos) << err;
  EXPECT_EQ(err.find("rror"), std::string::npos) << err;
  // This launch's report folder, with its metadata, binary images and internal log.
  const fs::path active = dir_ / "Caches" / "vid.orozevoziri.zove" / "ruv.vantoru.Duvenmark" / "v5" / "reports" / "active";
  ASSERT_TRUE(fs::is_directory(active));
  std::vector<fs::path> folders(fs::directory_iterator(active), fs::directory_iterator{});
  ASSERT_EQ(folders.size(), 1u);
  for (const char* file : {"metadata.crrecord", "binary_images.crrecord", "sdk.log"}) {
    EXPECT_TRUE(fs::is_regular_file(folders[0] / file)) << file;
  }
}

TEST_F(ProgramTest, WithoutTheSdksOptionsFileItSaysWhyAndEndsWithCodeOne) {
  // The program alone in a folder (a hard link, so that it finds its resources there): the SDK's
  // options file is not beside it.
  const fs::path alone = fs::path(BRIVEL_PROGRAM).parent_path() / ("alone-" + std::to_string(getpid()));
  fs::remove_all(alone);
  fs::create_directories(alone);
  fs::create_hard_link(BRIVEL_PROGRAM, alone / "brivel");
  const std::string command = (alone / "brivel").string() + " --data-dir " + dir_.string() + " --port 0 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = pclose(pipe);
  fs::remove_all(alone);
  ASSERT_TRUE(WIFEXITED(status)) << "it must end, not abort: " << output;
  EXPECT_EQ(WEXITSTATUS(status), 1) << output;
  EXPECT_NE(output.find("brivel: the telemetry SDK cannot be configured: "), std::string::npos) << output;
  EXPECT_NE(output.find("TelemetryService-Info.plist"), std::string::npos) << output;
}

TEST_F(ProgramTest, DamagedFilesNeverStopItAndAreTold) {
  const fs::path standard = dir_ / "Preferences" / "standard.plist";
  const std::string good = binaryDictionary("lastPickedUserID", "0F6B4E1C-7A1D-4F3C-9B0E-2D7C1A5E8F90");
  struct Case {
    const char* name;
    std::optional<std::string> bytes;  // nothing: a folder in the file's place
  } cases[] = {
      {"a NUL inside a key", binaryDictionary(std::string("lastPicked\0UserID", 17), "x")},
      {"a folder", std::nullopt},
      {"truncated", good.substr(0, good.size() - 12)},
      {"garbage", "bplist00 this is no property list \xff\xfe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(standard);
    fs::remove_all(standard.string() + ".unreadable");
    if (c.bytes) {
      std::ofstream(standard, std::ios::binary) << *c.bytes;
    } else {
      fs::create_directories(standard / "inside");
    }
    Program program(dir_);
    ASSERT_NE(program.address().find("?secret="), std::string::npos) << "the program is not running";
    const std::string told = "set aside as " + standard.string() + ".unreadable";
    auto page = program.page();
    ASSERT_TRUE(page);
    EXPECT_NE(page->find(told), std::string::npos) << "the page says what was set aside";
    std::string stderrText;
    EXPECT_EQ(program.stop(stderrText), 0) << stderrText;
    EXPECT_NE(stderrText.find(told), std::string::npos) << stderrText;
    // Nothing is lost: the damaged file is kept as it was.
    if (c.bytes) {
      EXPECT_EQ(contents(standard.string() + ".unreadable"), *c.bytes);
    } else {
      EXPECT_TRUE(fs::is_directory(standard.string() + ".unreadable/inside"));
    }
  }
}

// An empty store file and a damaged keychain are told like the other damaged files, and kept.
TEST_F(ProgramTest, AnEmptyStoreAndADamagedKeychainAreToldOnThePage) {
  std::ofstream(dir_ / "Brivel.store");
  std::ofstream(dir_ / "keychain.plist", std::ios::binary) << "bplist00 not a keychain \xff";
  Program program(dir_);
  auto page = program.page();
  ASSERT_TRUE(page) << "the program runs";
  const std::string store = "The empty file was set aside as " + (dir_ / "Brivel.store.empty").string();
  const std::string keychain = "set aside as " + (dir_ / "keychain.plist.corrupt").string();
  EXPECT_NE(page->find(store), std::string::npos) << *page;
  EXPECT_NE(page->find(keychain), std::string::npos) << *page;
  std::string stderrText;
  EXPECT_EQ(program.stop(stderrText), 0) << stderrText;
  EXPECT_NE(stderrText.find(store), std::string::npos) << stderrText;
  EXPECT_TRUE(fs::exists(dir_ / "Brivel.store.empty"));
  EXPECT_EQ(contents(dir_ / "keychain.plist.corrupt"), "bplist00 not a keychain \xff");
}

TEST_F(ProgramTest, TextThatIsNotUtf8IsReadAndWrittenBackReadable) {
  const fs::path standard = dir_ / "Preferences" / "standard.plist";
  std::ofstream(standard, std::ios::binary) << binaryDictionary("note", "caf\xE9");
  Program program(dir_);
  ASSERT_TRUE(program.page());
  std::string stderrText;
  EXPECT_EQ(program.stop(stderrText), 0) << stderrText;
  auto value = platform::decodePlist(contents(standard));
  ASSERT_TRUE(value) << "the settings file is still readable";
  ASSERT_NE(value->find("note"), nullptr);
  EXPECT_EQ(*value->find("note")->asString(), "caf\xEF\xBF\xBD");
  EXPECT_FALSE(fs::exists(standard.string() + ".unreadable"));
}

TEST_F(ProgramTest, AStoreWhoseJournalLostSavesIsRefusedWithItsReasonAndLeftAsItWas) {
  const fs::path store = dir_ / "Brivel.store";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Saves a profile and stops without closing, as a kill would.
    auto container = BrivelModelContainer::makeContainer(store);
    if (!container) _exit(2);
    auto profile = std::make_shared<ProfileEntity>();
    profile->setName("Kept");
    container->mainContext().insert(profile);
    _exit(container->mainContext().save().ok() ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const fs::path wal = store.string() + "-wal";
  const std::string journal = contents(wal);
  ASSERT_GT(journal.size(), 200u);
  fs::resize_file(wal, journal.size() - 100);
  const std::string before = contents(store) + contents(wal) + contents(store.string() + "-shm");

  Program program(dir_);
  auto page = program.page();
  ASSERT_TRUE(page) << "the program runs and shows why";
  EXPECT_NE(page->find("was not opened because its journal"), std::string::npos) << *page;
  EXPECT_EQ(page->find("reinstall"), std::string::npos);
  std::string stderrText;
  EXPECT_EQ(program.stop(stderrText), 0) << stderrText;
  EXPECT_NE(stderrText.find("was not opened because its journal"), std::string::npos) << stderrText;
  EXPECT_EQ(contents(store) + contents(wal) + contents(store.string() + "-shm"), before);
}

// Two programs on one folder would number rows twice over: the second refuses, says which
// process has the folder and where its page is, and changes nothing there.
TEST_F(ProgramTest, ASecondStartOnTheSameDataFolderRefusesAndTouchesNothing) {
  Program first(dir_);
  ASSERT_NE(first.address().find("http://127.0.0.1:"), std::string::npos) << "the program did not start";
  // What a second start could change: the holder's lock file, and which files are there.
  auto snapshot = [&] {
    std::string all = contents(dir_ / "brivel.lock") + "\n";
    for (const auto& entry : fs::directory_iterator(dir_)) all += entry.path().filename().string() + "\n";
    return all;
  };
  // The first one's own start-up writes settle first.
  std::string before = snapshot();
  for (int i = 0; i < 30; ++i) {
    std::this_thread::sleep_for(1s);
    std::string now = snapshot();
    if (now == before) break;
    before = std::move(now);
  }

  Program second(dir_);
  std::string secondErr;
  EXPECT_EQ(second.stop(secondErr), 1) << secondErr;
  EXPECT_TRUE(second.address().empty());
  EXPECT_NE(secondErr.find("Brivel is already running with this data folder (process " +
                           std::to_string(first.pid()) + ")."),
            std::string::npos)
      << secondErr;
  EXPECT_NE(secondErr.find(first.address()), std::string::npos) << secondErr;
  EXPECT_EQ(snapshot(), before) << "the second start changed the folder";

  // Once the first has ended, the folder is free again.
  std::string firstErr;
  EXPECT_EQ(first.stop(firstErr), 0) << firstErr;
  Program third(dir_);
  EXPECT_NE(third.address().find("http://127.0.0.1:"), std::string::npos);
}

TEST_F(ProgramTest, ThePageWithoutTheSecretShowsHowToOpenBrivelAndTheDataIsPrivate) {
  // Left by a write that a kill interrupted in an earlier run.
  const fs::path stale = dir_ / "Preferences" / ".standard.plist.tmp-Xy12Zq";
  std::ofstream(stale) << "half a file";
  Program program(dir_);
  EXPECT_FALSE(fs::exists(stale)) << "swept at start";
  ASSERT_NE(program.address().find("?secret="), std::string::npos);
  httplib::Client client("127.0.0.1", program.port());
  client.set_read_timeout(30, 0);
  auto bare = client.Get("/");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->status, 403);
  EXPECT_NE(bare->body.find("Open Brivel from its address"), std::string::npos);
  EXPECT_EQ(bare->body.find("brivel-token"), std::string::npos);
  ASSERT_TRUE(program.page());
  std::string stderrText;
  EXPECT_EQ(program.stop(stderrText), 0) << stderrText;
  EXPECT_EQ(fs::status(dir_).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(dir_ / "Brivel.store").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // Checkpointed at exit: the journal holds nothing.
  EXPECT_FALSE(fs::exists(dir_ / "Brivel.store-wal") && fs::file_size(dir_ / "Brivel.store-wal") > 0);
}

}  // namespace
}  // namespace brivel
