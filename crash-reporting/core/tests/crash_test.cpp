// Children that must really die, and a traced child: these run only in the unsanitized
// tree (`ctest -L crash`), where a fault is the kernel's to report.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A child traced by this process sets its context up without installing any handler, yet
// the context becomes ready and its records are written.
TEST(CRContextCrashTest, ATracedChildInstallsNoHandlersButBecomesReady) {
  crash_test::TempDir folder;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(77);
    int installs = 0;
    CRContextHooks hooks;
    hooks.signalInitialize = [&] { return ++installs > 0; };
    hooks.machExceptionInitialize = [&] { return ++installs > 0; };
    hooks.exceptionInitialize = [&] { return ++installs > 0; };
    CRContextSetHooks(hooks);
    const CRContextInitData data = crash_test::initDataFor(folder);
    if (!CRContextInitialize(&data)) _exit(2);
    if (!crReadOnlyContext->debuggerAttached) _exit(3);
    if (installs != 0 || crReadOnlyContext->signal.path != nullptr) _exit(4);
    if (!CRContextIsReady()) _exit(5);
    CRBinaryImageWaitForPendingEvents();
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) == child && WIFSTOPPED(status)) {
    ptrace(PTRACE_CONT, child, nullptr, WSTOPSIG(status));
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
