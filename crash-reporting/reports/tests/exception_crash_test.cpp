// Exceptions recorded in forked children that really end (or record their whole process):
// the terminate handler for every kind of thrown value, and on-demand reports.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>

#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/exception.h"
#include "crash-reporting/core/signals.h"
#include "crash-reporting/reports/exception_recording.h"
#include "crash-reporting/reports/file_manager.h"
#include "crash-reporting/reports/tests/test_support.h"
#include "crash-reporting/reports/user_logging.h"

namespace {

using reports_test::readFile;
using reports_test::readSections;
using reports_test::ReportsTest;

std::string decoded(const nlohmann::json& hex) { return CRFileHexDecodeString(hex.get<std::string>()); }

void writeText(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  (void)!::write(fd, text.data(), text.size());
  ::close(fd);
}

// Lets an exception escape a noexcept frame: std::terminate with the exception active.
void escape(const std::function<void()>& body) noexcept { body(); }

// Where a child's previous terminate handler leaves its note.
std::string gNotePath;
std::string gExceptionPath;

void previousTerminateHandler() {
  writeText(gNotePath, ::access(gExceptionPath.c_str(), F_OK) == 0 ? "after the record" : "before the record");
  std::abort();
}

class ExceptionCrashTest : public ReportsTest {
 protected:
  ExceptionCrashTest() {
    EXPECT_TRUE(fileManager.createReportDirectories());
    report = fileManager.setupNewPathForExecutionIdentifier("0123456789abcdef0123456789abcdef").value_or("");
    gNotePath = note();
    gExceptionPath = report + "/exception.crrecord";
  }
  std::string note() const { return (environment_.root() / "note").string(); }

  // Runs `body` in a child with the crash-time context (signal and exception capture) set up
  // in `report`; answers the child's wait status.
  int runChild(const std::function<void()>& body, bool withPreviousHandler = false) {
    const pid_t child = fork();
    if (child == 0) {
      if (withPreviousHandler) std::set_terminate(previousTerminateHandler);
      CRContextHooks hooks;
      CRSignalFillHooks(&hooks);
      CRExceptionFillHooks(&hooks);
      CRContextSetHooks(hooks);
      const CRContextInitData data = reports_test::initDataFor(report);
      if (!CRContextInitialize(&data) || !CRContextIsReady()) _exit(90);
      CRBinaryImageWaitForPendingEvents();
      body();
      _exit(0);
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(child, &status, WNOHANG) != child) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ADD_FAILURE() << "the child did not end";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status;
  }

  CRFileManager fileManager;
  std::string report;
};

TEST_F(ExceptionCrashTest, EveryEscapingValueIsRecordedBeforeThePreviousHandlerAndTheAbort) {
  const struct {
    const char* label;
    std::function<void()> thrower;
    std::string type;
    std::string name;
    std::string reason;
  } cases[] = {
      {"C string", [] { throw "boom"; }, "c++", "const char *", "boom"},
      {"std::string", [] { throw std::string("text"); }, "c++", "std::string", "text"},
      {"runtime_error", [] { throw std::runtime_error("bad state"); }, "c++", "std::runtime_error", "bad state"},
      {"bad_alloc", [] { throw std::bad_alloc(); }, "c++", "std::bad_alloc", "std::bad_alloc"},
      {"pointer", [] { throw static_cast<const std::exception*>(new std::logic_error("held")); }, "c++",
       "std::logic_error", "held"},
      {"int", [] { throw 7; }, "c++", "int", ""},
      {"platform", [] { throw platform::Exception("NSInternalInconsistencyException", ""); }, "objective-c",
       "NSInternalInconsistencyException", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::filesystem::remove(note());
    for (const char* name : {"exception.crrecord", "signal.crrecord"}) std::filesystem::remove(report + "/" + name);
    const int status = runChild([&] { escape(c.thrower); }, true);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    EXPECT_EQ(readFile(note()), "after the record");

    const auto sections = readSections(report + "/exception.crrecord");
    ASSERT_GE(sections.size(), 2u);
    const auto& exception = sections[0]["exception"];
    EXPECT_EQ(exception["type"], c.type);
    EXPECT_EQ(decoded(exception["name"]), c.name);
    EXPECT_EQ(decoded(exception["reason"]), c.reason);
    EXPECT_EQ(exception.contains("frames"), c.type == "objective-c");
    EXPECT_TRUE(sections[1].contains("threads"));
    bool crashedThread = false;
    for (const auto& thread : sections[1]["threads"]) crashedThread = crashedThread || thread.contains("crashed");
    EXPECT_TRUE(crashedThread);
    // The abort that follows is recorded by the signal handler as well.
    EXPECT_FALSE(readSections(report + "/signal.crrecord").empty());
  }
}

TEST_F(ExceptionCrashTest, OnDemandReportsCopyTheCurrentReportAndFinishAtOnce) {
  const std::string results = (environment_.root() / "results").string();
  const int status = runChild([&] {
    CRExceptionRecordCustomModel(TELExceptionModel("Earlier", "before"), std::nullopt);
    CRUserLoggingRecordUserKeyValue("screen", "bills");
    TELExceptionModel nonFatal("Handled", "shown");
    const auto first = CRExceptionRecordOnDemandFromModel(nonFatal, 3, 1);
    const bool markedAfterNonFatal = ::access((report + "/previously-crashed").c_str(), F_OK) == 0;
    const uint32_t countAfter = crWritableContext->exception.customExceptionCount;
    TELExceptionModel fatal("Fatal", "gone");
    fatal.isFatal = true;
    const auto second = CRExceptionRecordOnDemandFromModel(fatal, 4, 0);
    writeText(results, first.value_or("-") + "\n" + second.value_or("-") + "\n" +
                           (markedAfterNonFatal ? "marked" : "unmarked") + "\n" + std::to_string(countAfter) + "\n");
  });
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  std::istringstream lines(readFile(results));
  std::string first, second, marked, count;
  std::getline(lines, first);
  std::getline(lines, second);
  std::getline(lines, marked);
  std::getline(lines, count);
  ASSERT_EQ(first.rfind(fileManager.activePath() + "/", 0), 0u) << first;
  ASSERT_EQ(second.rfind(fileManager.activePath() + "/", 0), 0u) << second;
  EXPECT_EQ(marked, "unmarked");
  EXPECT_EQ(count, "0");

  // The non-fatal copy holds the earlier custom exception and the new one, with its counts.
  std::vector<std::string> names;
  for (const auto& line : readSections(first + "/custom_exception_a.crrecord")) {
    if (line.contains("exception")) names.push_back(decoded(line["exception"]["name"]));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Earlier", "Handled"}));
  EXPECT_FALSE(std::filesystem::exists(first + "/custom_fatal.crrecord"));
  EXPECT_FALSE(std::filesystem::exists(first + "/exception.crrecord"));
  auto kv = readSections(first + "/internal_incremental_kv.crrecord");
  ASSERT_GE(kv.size(), 2u);
  EXPECT_EQ(decoded(kv[kv.size() - 2]["kv"]["key"]), "dod.uzeruzaravi.on-demand.recorded-exceptions");
  EXPECT_EQ(decoded(kv[kv.size() - 2]["kv"]["value"]), "3");
  EXPECT_EQ(decoded(kv.back()["kv"]["key"]), "dod.uzeruzaravi.on-demand.dropped-exceptions");
  EXPECT_EQ(decoded(kv.back()["kv"]["value"]), "1");
  EXPECT_FALSE(readSections(first + "/user_incremental_kv.crrecord").empty());

  // The current report gave its custom exceptions away.
  EXPECT_FALSE(std::filesystem::exists(report + "/custom_exception_a.crrecord"));
  EXPECT_FALSE(std::filesystem::exists(report + "/custom_exception_b.crrecord"));

  // The fatal copy is a crash: the empty marker and the exception with the process record.
  EXPECT_EQ(std::filesystem::file_size(second + "/custom_fatal.crrecord"), 0u);
  const auto exception = readSections(second + "/exception.crrecord");
  ASSERT_GE(exception.size(), 2u);
  EXPECT_EQ(exception[0]["exception"]["type"], "custom");
  EXPECT_EQ(decoded(exception[0]["exception"]["name"]), "Fatal");
  EXPECT_TRUE(exception[1].contains("threads"));
  EXPECT_FALSE(std::filesystem::exists(second + "/custom_exception_a.crrecord"));
  kv = readSections(second + "/internal_incremental_kv.crrecord");
  ASSERT_GE(kv.size(), 2u);
  EXPECT_EQ(decoded(kv[kv.size() - 2]["kv"]["value"]), "4");
  EXPECT_EQ(decoded(kv.back()["kv"]["value"]), "0");
  EXPECT_TRUE(std::filesystem::exists(report + "/previously-crashed"));

  // Only the three report folders: no half-made copy is left under a dot name.
  size_t folders = 0;
  for (const auto& entry : std::filesystem::directory_iterator(fileManager.activePath())) {
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    ++folders;
  }
  EXPECT_EQ(folders, 3u);
}

}  // namespace
