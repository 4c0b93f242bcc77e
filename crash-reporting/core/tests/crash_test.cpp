// Children that must really die, and a traced child: these run only in the unsanitized
// tree (`ctest -L crash`), where a fault is the kernel's to report.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "crash-reporting/core/allocator.h"
#include "crash-reporting/core/host.h"
#include "crash-reporting/core/tests/test_support.h"

namespace {

using crash_test::ContextTest;

void writeByte(volatile char* at) { *at = 1; }

TEST(CRAllocatorCrashTest, GuardPagesFault) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const size_t page = CRHostGetPageSize();
  CRAllocatorState* allocator = CRAllocatorCreate(page, page);
  ASSERT_NE(allocator, nullptr);
  auto* readWrite = reinterpret_cast<volatile char*>(allocator->readWrite.start);
  auto* readOnly = reinterpret_cast<volatile char*>(allocator->readOnly.start);
  writeByte(readWrite);  // the regions themselves are writable before protection
  EXPECT_EXIT(writeByte(readWrite - 1), testing::KilledBySignal(SIGSEGV), "");
  EXPECT_EXIT(writeByte(readWrite + allocator->readWrite.size), testing::KilledBySignal(SIGSEGV), "");
  EXPECT_EXIT(writeByte(readOnly + allocator->readOnly.size), testing::KilledBySignal(SIGSEGV), "");
}

TEST_F(ContextTest, TheProtectedPartFaultsOnAWrite) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ASSERT_TRUE(setUpContext());
  ASSERT_TRUE(CRContextIsReady());
  CRContextReadOnly* readOnly = crReadOnlyContext;
  crWritableContext->logging.userKVCount = 5;  // the writable part stays writable
  EXPECT_EXIT(readOnly->debuggerAttached = !readOnly->debuggerAttached, testing::KilledBySignal(SIGSEGV), "");
}

// The traced child's part: runs only when the test below starts this program again under
// its trace (the folder comes in the environment); a plain run skips it.
TEST(CRContextCrashTest, TracedChildBody) {
  const char* folder = getenv("CRASH_CORE_TRACED_CHILD_FOLDER");
  if (folder == nullptr) GTEST_SKIP() << "started by ATracedChildInstallsNoHandlersButBecomesReady";
  int installs = 0;
  CRContextHooks hooks;
  hooks.signalInitialize = [&] { return ++installs > 0; };
  hooks.machExceptionInitialize = [&] { return ++installs > 0; };
  hooks.exceptionInitialize = [&] { return ++installs > 0; };
  CRContextSetHooks(hooks);
  CRContextInitData data;
  data.rootPath = folder;
  data.previouslyCrashedFileRootPath = folder;
  ASSERT_TRUE(CRContextInitialize(&data));
  EXPECT_TRUE(crReadOnlyContext->debuggerAttached);
  EXPECT_EQ(installs, 0);
  EXPECT_EQ(crReadOnlyContext->signal.path, nullptr);
  EXPECT_TRUE(CRContextIsReady());
  CRBinaryImageWaitForPendingEvents();
}

// A child traced by this process sets its context up without installing any handler, yet
// the context becomes ready and its records are written. The child starts this program
// afresh (a forked copy of a process with threads could hang on their locks).
TEST(CRContextCrashTest, ATracedChildInstallsNoHandlersButBecomesReady) {
  crash_test::TempDir folder;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(77);
    setenv("CRASH_CORE_TRACED_CHILD_FOLDER", folder.path().c_str(), 1);
    execl("/proc/self/exe", "crash_core_crash_test", "--gtest_filter=CRContextCrashTest.TracedChildBody",
          static_cast<char*>(nullptr));
    _exit(78);
  }
  int status = 0;
  while (waitpid(child, &status, 0) == child && WIFSTOPPED(status)) {
    // The stop after exec is the tracer's to swallow; other signals go on to the child.
    const int signal = WSTOPSIG(status) == SIGTRAP ? 0 : WSTOPSIG(status);
    ptrace(PTRACE_CONT, child, nullptr, signal);
  }
  ASSERT_TRUE(WIFEXITED(status)) << status;
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "tracing is not permitted here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(crash_test::readSections(folder.file("metadata.crrecord")).size(), 4u);
  EXPECT_FALSE(crash_test::readSections(folder.file("binary_images.crrecord")).empty());
  EXPECT_NE(crash_test::readFile(folder.file("sdk.log")).find("Debugger present - not installing handlers"),
            std::string::npos);
}

}  // namespace
