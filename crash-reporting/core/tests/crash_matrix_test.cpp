// Every way a process can crash, in every place a crash can come from: each forked child dies
// by the signal it was sent or caused, within two seconds, having left a whole record and
// called the handler installed before ours exactly once. Unsanitized tree only (`ctest -L
// crash`). Built with frame pointers: `crashNow` rewrites its own return address.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstdlib>
#include <cstring>

#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/safe_memory.h"
#include "crash-reporting/core/tests/crash_harness.h"
#include "crash-reporting/core/unwind.h"
#include "platform/dispatch/queue.h"
#include "platform/images/images.h"

namespace {

using crash_test::CrashChild;
using crash_test::CrashResult;
using crash_test::SharedPage;
using nlohmann::json;

// Shared page slots.
constexpr int kPreviousCalls = 1;
constexpr int kSetupFailed = 2;
constexpr int kSeccompRefused = 3;

int* volatile gNowhere = nullptr;
volatile int gZero = 0;
volatile int gSeven = 7;
volatile int gSink = 0;
const volatile int* gBusPage = nullptr;
SharedPage* gPage = nullptr;
void (*gCrash)() = nullptr;
// A return address planted in the crashing frame (a library that is gone or whose unwind
// tables are garbage), 0 for none.
uintptr_t gFakeCaller = 0;

// --- The rows: how the process crashes --------------------------------------------------

void segv() { *gNowhere = 1; }
void bus() { gSink = *gBusPage; }  // a mapped page past the end of an empty file
void ill() { __builtin_trap(); }
void fpe() { gSink = gSeven / gZero; }
void abrt() { abort(); }
void trap() { asm volatile("int3"); }
void sys() { syscall(SYS_acct, nullptr); }  // refused by the seccomp filter below
void sent() { kill(getpid(), SIGSEGV); }

struct Row {
  const char* name;
  int signal;
  void (*crash)();
};
constexpr Row kRows[] = {
    {"SIGSEGV", SIGSEGV, segv}, {"SIGBUS", SIGBUS, bus},   {"SIGILL", SIGILL, ill},
    {"SIGFPE", SIGFPE, fpe},    {"SIGABRT", SIGABRT, abrt}, {"SIGTRAP", SIGTRAP, trap},
    {"SIGSYS", SIGSYS, sys},    {"kill SIGSEGV", SIGSEGV, sent},
};

__attribute__((noinline)) void crashNow() {
  if (gFakeCaller != 0) reinterpret_cast<volatile uintptr_t*>(__builtin_frame_address(0))[1] = gFakeCaller;
  gCrash();
  for (;;) pause();  // a signal that returned here has been swallowed: the test times out
}

// --- The columns: where it crashes ------------------------------------------------------

void previousHandler(int signal, siginfo_t*, void*) {
  gPage->values[kPreviousCalls].fetch_add(1);
  ::signal(signal, SIG_DFL);
}

void installSeccompTrap() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_acct, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    gPage->values[kSeccompRefused].store(1);
  }
}

void mapPastTheEndOfAFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  void* mapping = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (mapping == MAP_FAILED) gPage->values[kSetupFailed].store(1);
  gBusPage = static_cast<const volatile int*>(mapping);
}

__attribute__((noinline)) void overflow(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth >= 0) overflow(depth + 1);  // always: the stack ends first
  gSink = frame[0];
}

// Spends the stack until little more than 8 KiB is left, then crashes there.
__attribute__((noinline)) void crashNearStackEnd(uintptr_t low) {
  volatile char frame[512];
  frame[0] = 1;
  if (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - low > 8192) {
    crashNearStackEnd(low);
  } else {
    crashNow();
  }
  gSink = frame[0];
}

// Runs out of stack: a real overflow for SIGSEGV; the other signals come with almost no stack
// left. The thread has no alternate stack but the one every thread gets at its start.
void* spendStack(void*) {
  if (gCrash == segv) {
    overflow(0);
  } else {
    pthread_attr_t attributes;
    pthread_getattr_np(pthread_self(), &attributes);
    void* low = nullptr;
    size_t size = 0;
    pthread_attr_getstack(&attributes, &low, &size);
    crashNearStackEnd(reinterpret_cast<uintptr_t>(low));
  }
  return nullptr;
}

// Loads the test library through the image service (so the table has its slot) and returns
// an address inside its function.
uintptr_t loadTestLibrary(void** handle) {
  *handle = platform::images::openLibrary(CRASH_CORE_TEST_IMAGE, RTLD_NOW | RTLD_LOCAL);
  CRBinaryImageWaitForPendingEvents();
  void* function = *handle != nullptr ? dlsym(*handle, "crash_core_test_image_function") : nullptr;
  if (function == nullptr) gPage->values[kSetupFailed].store(1);
  return reinterpret_cast<uintptr_t>(function) + 4;
}

void inUnloadedLibrary() {
  void* handle = nullptr;
  const uintptr_t inside = loadTestLibrary(&handle);
  dlclose(handle);  // behind the image service's back: the slot stays
  char byte;
  CRBinaryImage image;
  if (CRSafeCopyMemory(reinterpret_cast<void*>(inside), &byte, 1) ||
      !CRBinaryImageSafeFindImageForAddress(inside, &image)) {
    gPage->values[kSetupFailed].store(1);  // still mapped, or no stale slot: not this case
  }
  gFakeCaller = inside;
  crashNow();
}

// The call-frame instructions of the library's function become a CFA expression that jumps
// back to itself for ever (DW_OP_skip -3): the unwinder must give that frame up.
void withCorruptedCfi() {
  void* handle = nullptr;
  const uintptr_t inside = loadTestLibrary(&handle);
  CRBinaryImage image;
  const uintptr_t fde = CRBinaryImageSafeFindImageForAddress(inside, &image) && image.ehFrameHeader != 0
                            ? CRUnwindFindFDE(image.ehFrameHeader, inside - 1)
                            : 0;
  uint32_t length = 0;
  int32_t ciePointer = 0;
  if (fde != 0) {
    std::memcpy(&length, reinterpret_cast<const void*>(fde), 4);
    std::memcpy(&ciePointer, reinterpret_cast<const void*>(fde + 4), 4);
  }
  // What compilers write: a "zR" CIE, 4-byte pc begin and range, no augmentation data.
  const char* augmentation = reinterpret_cast<const char*>(fde + 4 - ciePointer + 9);
  const uintptr_t instructions = fde + 17;
  const uintptr_t end = fde + 4 + length;
  if (fde == 0 || length == 0xffffffff || std::strcmp(augmentation, "zR") != 0 ||
      *reinterpret_cast<const uint8_t*>(fde + 16) != 0 || end < instructions + 5) {
    gPage->values[kSetupFailed].store(1);
  } else {
    const uintptr_t first = instructions & ~uintptr_t{4095};
    if (mprotect(reinterpret_cast<void*>(first), end - first, PROT_READ | PROT_WRITE) != 0) {
      gPage->values[kSetupFailed].store(1);
    }
    const uint8_t loop[5] = {0x0f, 0x03, 0x2f, 0xfd, 0xff};  // def_cfa_expression { skip -3 }
    std::memcpy(reinterpret_cast<void*>(instructions), loop, sizeof loop);
    std::memset(reinterpret_cast<void*>(instructions + sizeof loop), 0, end - instructions - sizeof loop);
  }
  gFakeCaller = inside;
  crashNow();
}

void twoAtOnce() {
  static std::atomic<int> ready{0};
  for (int i = 0; i < 2; ++i) {
    std::thread([] {
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      crashNow();
    }).detach();
  }
  for (;;) pause();
}

constexpr size_t kSmallStack = 256 * 1024;

void onRawPthread() {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kSmallStack);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, spendStack, nullptr) != 0) gPage->values[kSetupFailed].store(1);
  for (;;) pause();
}

void onStdThread() {
  std::thread([] { spendStack(nullptr); }).detach();
  for (;;) pause();
}

// A stack the caller mapped, with a guard page of its own below it.
void onCallerMadeStack() {
  const size_t guard = static_cast<size_t>(getpagesize());
  char* mapping = static_cast<char*>(
      mmap(nullptr, guard + kSmallStack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0));
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_t thread;
  if (mapping == MAP_FAILED || mprotect(mapping, guard, PROT_NONE) != 0 ||
      pthread_attr_setstack(&attributes, mapping + guard, kSmallStack) != 0 ||
      pthread_create(&thread, &attributes, spendStack, nullptr) != 0) {
    gPage->values[kSetupFailed].store(1);
  }
  for (;;) pause();
}

// A thread started before crash reporting was set up, which runs out of stack after.
std::atomic<bool> gEarlyThreadGo{false};
void startEarlyThread() {
  std::thread([] {
    while (!gEarlyThreadGo.load()) usleep(1000);
    spendStack(nullptr);
  }).detach();
}
void letEarlyThreadGo() {
  gEarlyThreadGo.store(true);
  for (;;) pause();
}

struct Column {
  const char* name;
  void (*crash)();
  void (*beforeSetUp)() = nullptr;  // run in the child before crash reporting is set up
};
const Column kColumns[] = {
    {"main thread", crashNow},
    {"platform thread",
     [] {
       platform::DispatchQueue::global()->async([] { crashNow(); });
       for (;;) pause();
     }},
    {"plain std::thread",
     [] {
       std::thread([] { crashNow(); }).detach();
       for (;;) pause();
     }},
    {"two threads at once", twoAtOnce},
    // Out of stack on threads that never asked for an alternate stack.
    {"stack overflow, raw pthread", onRawPthread},
    {"stack overflow, plain std::thread", onStdThread},
    {"stack overflow, thread started before set-up", letEarlyThreadGo, startEarlyThread},
    {"stack overflow, stack made by the caller", onCallerMadeStack},
    {"inside a dlclosed library", inUnloadedLibrary},
    {"with a corrupted CFI section", withCorruptedCfi},
};

const std::vector<std::string> kWholeRecord = {"signal",       "threads",       "runtime", "dispatch_queue_names",
                                               "thread_names", "process_stats", "storage"};

// One cell of the table; a failed assertion ends the cell, not the table.
void crashAndCheck(const Row& row, const Column& column) {
  CrashChild child;
  const std::string busFile = child.folder().file("empty-file");
  static const Row* gRow;
  static const Column* gColumn;
  static const std::string* gBusFile;
  gRow = &row;
  gColumn = &column;
  gBusFile = &busFile;
  child.setupBeforeContext = [](SharedPage& page) {
    gPage = &page;
    gCrash = gRow->crash;
    struct sigaction action {};
    action.sa_sigaction = previousHandler;
    action.sa_flags = SA_SIGINFO;
    sigaction(gRow->signal, &action, nullptr);
    if (gRow->signal == SIGSYS) installSeccompTrap();
    if (gRow->signal == SIGBUS) mapPastTheEndOfAFile(*gBusFile);
    if (gColumn->beforeSetUp != nullptr) gColumn->beforeSetUp();
  };
  const auto crash = column.crash;
  const CrashResult result = child.run({}, [crash](SharedPage&) { crash(); }, std::chrono::seconds(10));
  const SharedPage& page = *result.page;
  ASSERT_EQ(page.values[kSetupFailed].load(), 0);
  if (page.values[kSeccompRefused].load() != 0) {
    std::fprintf(stderr, "seccomp refused here: %s / %s not run\n", row.name, column.name);
    return;
  }
  EXPECT_FALSE(result.timedOut);
  EXPECT_FALSE(result.exited) << "exit " << result.exitCode;
  EXPECT_EQ(result.signal, row.signal);
  EXPECT_LT(result.endedAt - page.values[0].load(), 2'000'000'000) << "ns from crash to end";
  EXPECT_EQ(page.values[kPreviousCalls].load(), 1);
  EXPECT_EQ(result.sectionNames(), kWholeRecord);
  EXPECT_TRUE(result.marker);
  const json* signal = result.section("signal");
  ASSERT_NE(signal, nullptr);
  EXPECT_EQ(signal->value("number", 0), row.signal);
  // The crashed thread is in the record, with its stack.
  const json* threads = result.section("threads");
  ASSERT_NE(threads, nullptr);
  int crashed = 0;
  for (const json& thread : *threads) {
    if (!thread.value("crashed", false)) continue;
    ++crashed;
    EXPECT_FALSE(thread.value("stacktrace", json::array()).empty());
  }
  EXPECT_EQ(crashed, 1);
}

TEST(CrashMatrixTest, EveryCrashEndsByItsSignalWithAWholeRecordAndOnePreviousHandlerCall) {
  for (const Row& row : kRows) {
    for (const Column& column : kColumns) {
      SCOPED_TRACE(std::string(row.name) + " / " + column.name);
      crashAndCheck(row, column);
    }
  }
}

}  // namespace
