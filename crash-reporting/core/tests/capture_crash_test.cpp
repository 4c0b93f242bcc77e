// Children that really crash with signal capture installed: every crash kind leaves a
// parseable record with correct stacks, previous handlers are chained, and threads are held
// and described. Runs only in the unsanitized tree (`ctest -L crash`); the parent process
// never starts a thread or a context, so that each forked child starts clean.
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>

#include "crash-reporting/core/file.h"
#include "crash-reporting/core/tests/crash_harness.h"
#include "crash-reporting/core/threads.h"
#include "platform/dispatch/queue.h"

// Every malloc of the thread named by `gCountingThread` is counted: the crashing thread, where
// the handler runs. Other threads of the child (set-up still running on its queues) may allocate
// as they please meanwhile.
extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
std::atomic<pid_t> gCountingThread{0};
std::atomic<int> gMallocs{0};
namespace {
void countMalloc() {
  const pid_t counting = gCountingThread.load(std::memory_order_relaxed);
  if (counting != 0 && counting == static_cast<pid_t>(syscall(SYS_gettid))) gMallocs.fetch_add(1);
}
}  // namespace
extern "C" void* malloc(size_t size) {
  countMalloc();
  return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
  countMalloc();
  return __libc_calloc(count, size);
}

extern "C" void fp_level1(crash_test::SharedPage* page);
// A handler of someone else's, found by name in the start-up check.
extern "C" void crash_test_foreign_trap_handler(int) {}
extern "C" void nofp_level1(crash_test::SharedPage* page);

namespace {

using crash_test::CrashChild;
using crash_test::CrashResult;
using crash_test::SharedPage;
using nlohmann::json;

int* volatile gNowhere = nullptr;
volatile int gZero = 0;
volatile int gSeven = 7;
volatile int gSink = 0;

void nullWrite(SharedPage&) { *gNowhere = 1; }

__attribute__((noinline)) int overflow(int depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (depth < 0) return 0;  // never: the stack ends first
  return overflow(depth + 1) + frame[0];
}

const json& crashedThread(const CrashResult& result) {
  static const json none;
  const json* threads = result.section("threads");
  if (threads == nullptr) return none;
  for (const json& thread : *threads) {
    if (thread.value("crashed", false)) return thread;
  }
  return none;
}

int crashedCount(const CrashResult& result) {
  int count = 0;
  if (const json* threads = result.section("threads")) {
    for (const json& thread : *threads) count += thread.value("crashed", false) ? 1 : 0;
  }
  return count;
}

void expectCompleteRecord(const CrashResult& result, int signal) {
  EXPECT_EQ(result.sectionNames(), (std::vector<std::string>{"signal", "threads", "runtime", "dispatch_queue_names",
                                                              "thread_names", "process_stats", "storage"}));
  ASSERT_NE(result.section("signal"), nullptr);
  EXPECT_EQ(result.section("signal")->value("number", 0), signal);
  EXPECT_TRUE(result.marker);
  EXPECT_EQ(crashedCount(result), 1);
  EXPECT_FALSE(crashedThread(result)["stacktrace"].empty());
}

struct CrashKind {
  const char* name;
  CrashChild::Step crash;
  int signal;
};

TEST(CrashCaptureTest, EveryCrashKindLeavesARecord) {
  const CrashKind kinds[] = {
      {"null write", nullWrite, SIGSEGV},
      {"abort", [](SharedPage&) { abort(); }, SIGABRT},
      {"trap", [](SharedPage&) { __builtin_trap(); }, SIGILL},
      {"divide by zero", [](SharedPage&) { gSink = gSeven / gZero; }, SIGFPE},
      {"raise SIGBUS", [](SharedPage&) { raise(SIGBUS); }, SIGBUS},
      {"kill SIGTERM", [](SharedPage&) { kill(getpid(), SIGTERM); for (;;) pause(); }, SIGTERM},
      {"stack overflow on the main thread", [](SharedPage&) { gSink = overflow(0); }, SIGSEGV},
      {"stack overflow on a worker", [](SharedPage&) {
         crash_test::startWorkers(1, "overflowing", [] { gSink = overflow(0); });
         for (;;) pause();
       }, SIGSEGV},
      {"stack overflow in a queue block", [](SharedPage&) {
         platform::DispatchQueue::global(platform::QoS::Default)->async([] { gSink = overflow(0); });
         for (;;) pause();
       }, SIGSEGV},
  };
  for (const CrashKind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    CrashChild child;
    const CrashResult result = child.run([](SharedPage&) { crash_test::startWorkers(2, "worker-a"); }, kind.crash);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, kind.signal) << "exit " << result.exitCode;
    expectCompleteRecord(result, kind.signal);
    ASSERT_NE(result.section("signal"), nullptr);
    ASSERT_NE(result.section("thread_names"), nullptr);
    const json& signal = *result.section("signal");
    const char* name = nullptr;
    const char* codeName = nullptr;
    CRSignalNames(kind.signal, &name, &codeName);
    EXPECT_EQ(signal.value("name", ""), name);
    EXPECT_EQ(signal["code_name"].is_null(), codeName == nullptr);
    const json& names = *result.section("thread_names");
    EXPECT_EQ(std::count(names.begin(), names.end(), json("worker-a")), 2);
  }
}

TEST(CrashCaptureTest, SentSignalsKeepTheirSignedCode) {
  CrashChild child;
  const CrashResult result = child.run({}, [](SharedPage&) { raise(SIGABRT); });
  EXPECT_EQ(result.signal, SIGABRT);
  ASSERT_NE(result.section("signal"), nullptr);
  EXPECT_EQ(result.section("signal")->value("code", 0), SI_TKILL);  // negative
  EXPECT_EQ(result.section("signal")->value("code_name", ""), "ABORT");
}

// The crashed frames, named by dladdr, read crash_here <- level2 <- level1, and from the
// caller on they are the frames the system unwinder saw at the same place.
TEST(CrashCaptureTest, CrashedStackMatchesTheSystemUnwinder) {
  struct Unit {
    const char* prefix;
    void (*entry)(SharedPage*);
  };
  for (const Unit& unit : {Unit{"fp_", fp_level1}, Unit{"nofp_", nofp_level1}}) {
    SCOPED_TRACE(unit.prefix);
    CrashChild child;
    const auto entry = unit.entry;
    const CrashResult result = child.run({}, [entry](SharedPage& page) { entry(&page); });
    EXPECT_EQ(result.signal, SIGSEGV);
    const json& stack = crashedThread(result)["stacktrace"];
    ASSERT_GE(stack.size(), 4u);
    std::vector<std::string> names;
    for (size_t i = 0; i < 3; ++i) {
      Dl_info info{};
      const auto pc = stack[i].get<uint64_t>();
      ASSERT_NE(dladdr(reinterpret_cast<void*>(i == 0 ? pc : pc - 1), &info), 0);
      names.push_back(info.dli_sname != nullptr ? info.dli_sname : "?");
    }
    const std::string p = unit.prefix;
    EXPECT_EQ(names, (std::vector<std::string>{p + "crash_here", p + "level2", p + "level1"}));
    const SharedPage& page = *result.page;
    const size_t common = std::min<size_t>(stack.size(), page.frameCount.load());
    ASSERT_GE(common, 4u);
    for (size_t i = 1; i < common - 1; ++i) EXPECT_EQ(stack[i].get<uint64_t>(), page.frames[i].load()) << i;
  }
}

// --- Chaining -----------------------------------------------------------------------------

struct ChainProbe {
  static inline int pipeWrite = -1;
  static inline const char* marker = nullptr;
  static void siginfoHandler(int signal, siginfo_t* info, void*) {
    // The record is complete when the previous handler runs: its marker is there.
    const char byte = access(marker, F_OK) == 0 ? 'R' : '-';
    (void)!write(pipeWrite, &byte, 1);
    const char kind = info != nullptr && info->si_signo == signal ? 'I' : '?';
    (void)!write(pipeWrite, &kind, 1);
    // Its own mask is in force while it runs.
    sigset_t current;
    pthread_sigmask(SIG_BLOCK, nullptr, &current);
    const char mask = sigismember(&current, SIGUSR1) == 1 ? 'M' : '-';
    (void)!write(pipeWrite, &mask, 1);
    ::signal(signal, SIG_DFL);
  }
  static void plainHandler(int) {
    const char byte = access(marker, F_OK) == 0 ? 'P' : '-';
    (void)!write(pipeWrite, &byte, 1);
  }
};

std::string drain(int fd) {
  std::string text;
  char buffer[64];
  fcntl(fd, F_SETFL, O_NONBLOCK);
  for (ssize_t got; (got = read(fd, buffer, sizeof(buffer))) > 0;) text.append(buffer, static_cast<size_t>(got));
  return text;
}

TEST(CrashCaptureTest, PreviousHandlersRunAfterTheRecord) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ChainProbe::pipeWrite = fds[1];
  {
    // A three-argument handler gets the signal information; the fault then ends the process.
    CrashChild child;
    const std::string marker = child.folder().file("previously-crashed");
    ChainProbe::marker = marker.c_str();
    child.setupBeforeContext = [](SharedPage&) {
      // An alternate stack of the program's own: the handler runs on the context's instead,
      // and chaining still happens while that one is in use.
      static char ownStack[65536];
      stack_t own{};
      own.ss_sp = ownStack;
      own.ss_size = sizeof(ownStack);
      sigaltstack(&own, nullptr);
      struct sigaction action {};
      action.sa_sigaction = ChainProbe::siginfoHandler;
      action.sa_flags = SA_SIGINFO;
      sigaddset(&action.sa_mask, SIGUSR1);
      sigaction(SIGSEGV, &action, nullptr);
    };
    const CrashResult result = child.run({}, nullWrite);
    EXPECT_EQ(result.signal, SIGSEGV);
    expectCompleteRecord(result, SIGSEGV);
    EXPECT_EQ(drain(fds[0]), "RIM");
  }
  {
    // A one-argument handler is called as one; a sent signal whose handler returns ends
    // nothing, so the child goes on to its own exit.
    CrashChild child;
    const std::string marker = child.folder().file("previously-crashed");
    ChainProbe::marker = marker.c_str();
    child.setupBeforeContext = [](SharedPage&) { signal(SIGBUS, ChainProbe::plainHandler); };
    const CrashResult result = child.run({}, [](SharedPage&) { raise(SIGBUS); });
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exitCode, 91);
    EXPECT_EQ(drain(fds[0]), "P");
  }
  {
    // An ignored SIGSEGV is put back but never called: the repeated fault ends the process.
    CrashChild child;
    child.setupBeforeContext = [](SharedPage&) { signal(SIGSEGV, SIG_IGN); };
    const CrashResult result = child.run({}, nullWrite);
    EXPECT_EQ(result.signal, SIGSEGV);
    expectCompleteRecord(result, SIGSEGV);
  }
  close(fds[0]);
  close(fds[1]);
}

TEST(CrashCaptureTest, TwoThreadsFaultingAtOnceLeaveOneRecord) {
  CrashChild child;
  const CrashResult result = child.run({}, [](SharedPage&) {
    static std::atomic<int> ready{0};
    crash_test::startWorkers(2, "faulting", [] {
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      *gNowhere = 2;
    });
    for (;;) pause();
  });
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.signal, SIGSEGV);
  EXPECT_EQ(result.sections.size(), 7u);
  EXPECT_EQ(crashedCount(result), 1);
}

// A fault inside the recorder itself ends the record where it stood, says so, and the crash
// still goes on to its previous handler and its own signal.
TEST(CrashCaptureTest, AFaultWhileRecordingEndsTheRecordAndChainsOn) {
  CrashChild child;
  child.setupBeforeContext = [](SharedPage& page) {
    static SharedPage* shared = &page;
    struct sigaction action {};
    action.sa_handler = [](int signal) {
      shared->values[4].fetch_add(1);
      ::signal(signal, SIG_DFL);
    };
    sigaction(SIGABRT, &action, nullptr);
  };
  const CrashResult result = child.run({}, [](SharedPage&) {
    CRThreadsSetSectionHook([](const char* section) {
      if (std::strcmp(section, "threads") == 0) *gNowhere = 3;
    });
    raise(SIGABRT);
  });
  EXPECT_EQ(result.signal, SIGABRT);
  EXPECT_EQ(result.page->values[4].load(), 1);
  EXPECT_TRUE(result.marker);
  EXPECT_EQ(result.sectionNames(), (std::vector<std::string>{"signal", "threads", "incomplete"}));
  const json* incomplete = result.section("incomplete");
  ASSERT_NE(incomplete, nullptr);
  EXPECT_EQ(*incomplete, (json{{"signal", SIGSEGV}, {"after", "threads"}}));
}

// A signal sent to the recording thread is not a fault of the recorder: the record goes on
// whole and the process ends by the crash's own signal.
TEST(CrashCaptureTest, ASignalSentWhileRecordingLeavesTheRecordWhole) {
  CrashChild child;
  const CrashResult result = child.run({}, [](SharedPage&) {
    CRThreadsSetSectionHook([](const char* section) {
      if (std::strcmp(section, "threads") == 0) kill(getpid(), SIGSEGV);
    });
    abort();
  });
  EXPECT_EQ(result.signal, SIGABRT);
  expectCompleteRecord(result, SIGABRT);
}

// --- Threads ------------------------------------------------------------------------------

__attribute__((noinline)) void recurse(int depth) {
  if (depth == 0) {
    *gNowhere = 4;
  } else {
    recurse(depth - 1);
  }
  asm volatile("" ::: "memory");
}

TEST(CrashCaptureTest, DeepRecursionIsCut) {
  CrashChild child;
  const CrashResult result = child.run({}, [](SharedPage&) { recurse(50); });
  const json& thread = crashedThread(result);
  ASSERT_TRUE(thread.contains("repeated_pc"));
  const auto repeated = thread["repeated_pc"].get<uint64_t>();
  EXPECT_GE(thread["repeat_count"].get<uint64_t>(), 45u);
  const json& stack = thread["stacktrace"];
  EXPECT_EQ(std::count(stack.begin(), stack.end(), json(repeated)), 10);
  // Frames below the recursion are written again.
  EXPECT_NE(stack.back().get<uint64_t>(), repeated);
}

TEST(CrashCaptureTest, ThreadsAreDescribed) {
  CrashChild child;
  const CrashResult result = child.run(
      [](SharedPage&) {
        crash_test::startWorkers(3, "named-worker");
        crash_test::startWorkers(1, "deaf-worker", [] {
          sigset_t set;
          sigemptyset(&set);
          sigaddset(&set, CRThreadsHoldSignal());
          pthread_sigmask(SIG_BLOCK, &set, nullptr);
        });
        static auto queue = platform::DispatchQueue::makeSerial("test.capture.queue");
        static std::atomic<bool> running{false};
        queue->async([] {
          running.store(true);
          for (;;) pause();
        });
        while (!running.load()) std::this_thread::yield();
      },
      nullWrite);
  expectCompleteRecord(result, SIGSEGV);
  const json& threads = *result.section("threads");
  const json& names = *result.section("thread_names");
  const json& queues = *result.section("dispatch_queue_names");
  ASSERT_EQ(names.size(), threads.size());
  ASSERT_EQ(queues.size(), threads.size());
  EXPECT_EQ(std::count(names.begin(), names.end(), json("named-worker")), 3);
  EXPECT_EQ(std::count(queues.begin(), queues.end(), json("test.capture.queue")), 1);
  for (size_t i = 0; i < threads.size(); ++i) {
    SCOPED_TRACE(names[i].get<std::string>());
    if (names[i] == "deaf-worker") {
      // It blocks the holding signal: listed, without state.
      EXPECT_TRUE(threads[i]["registers"].empty());
      EXPECT_TRUE(threads[i]["stacktrace"].empty());
    } else {
      EXPECT_EQ(threads[i]["registers"].size(), 18u);
      EXPECT_FALSE(threads[i]["stacktrace"].empty());
    }
  }
  const json& stats = *result.section("process_stats");
  for (const char* key : {"active", "virtual", "resident", "free_mem"}) EXPECT_GT(stats.value(key, 0ull), 0u) << key;
  EXPECT_EQ(*result.section("storage"), (json{{"free", 0}, {"total", 0}}));
}

// Every thread is listed however many there are (the tables are sized at set-up); past a
// capacity set smaller, the threads left out are counted in the log.
TEST(CrashCaptureTest, ManyThreadsAreAllListedAndOverflowIsCounted) {
  struct Case {
    uint32_t capacity;  // 0: the default
    int workers;
  };
  for (const Case& c : {Case{0, 600}, Case{8, 20}}) {
    SCOPED_TRACE(c.workers);
    CrashChild child;
    static uint32_t capacity;
    static int workers;
    capacity = c.capacity;
    workers = c.workers;
    child.setupBeforeContext = [](SharedPage&) {
      if (capacity != 0) CRThreadsSetCapacity(capacity);
    };
    // The crash comes from the last worker: past the capacity, it is still recorded.
    const CrashResult result = child.run({}, [](SharedPage&) {
      crash_test::startWorkers(workers - 1, "many");
      crash_test::startWorkers(1, "many", [] { *gNowhere = 6; });
      for (;;) pause();
    });
    EXPECT_EQ(result.signal, SIGSEGV);
    ASSERT_NE(result.section("threads"), nullptr);
    const json& names = *result.section("thread_names");
    EXPECT_EQ(result.section("threads")->size(), names.size());
    if (c.capacity == 0) {
      EXPECT_EQ(std::count(names.begin(), names.end(), json("many")), c.workers);
    } else {
      EXPECT_EQ(names.size(), c.capacity);
    }
    EXPECT_EQ(crashedCount(result), 1);
    EXPECT_EQ(result.log.find("beyond the capacity") != std::string::npos, c.capacity != 0) << result.log;
  }
}

TEST(CrashCaptureTest, ThreadsRunAgainAfterAnOnDemandRecord) {
  CrashChild child;
  static std::atomic<int64_t> ticks{0};
  const CrashResult result = child.run(
      [](SharedPage&) { crash_test::startWorkers(2, "ticking", [] { for (;;) ticks.fetch_add(1); }); },
      [&child](SharedPage& page) {
        CRFile file;
        if (!CRFileInit(&file, child.folder().file("signal.crrecord").c_str(), false)) _exit(2);
        CRRecordCrashState(&file, CRCurrentThreadId(), nullptr);
        CRFileShut(&file);
        const int64_t before = ticks.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        page.values[1].store(ticks.load() - before);
        _exit(0);
      });
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_GT(result.page->values[1].load(), 0);
  EXPECT_EQ(result.sections.size(), 6u);  // the process sections, no signal section
  EXPECT_EQ(crashedCount(result), 1);
}

// A library opened and closed behind the image service's back is in the table for the
// on-demand record made while it is loaded, and out of it for the one made after.
TEST(CrashCaptureTest, AnOnDemandRecordFollowsLibrariesLoadedBehindTheImageService) {
  CrashChild child;
  const CrashResult result = child.run({}, [&child](SharedPage& page) {
    auto record = [&child] {
      CRFile file;
      if (!CRFileInit(&file, child.folder().file("on-demand.crrecord").c_str(), false)) _exit(2);
      const bool whole = CRRecordProcessStateOnDemand(&file, CRCurrentThreadId());
      CRFileShut(&file);
      return whole;
    };
    void* handle = dlopen(CRASH_CORE_TEST_IMAGE, RTLD_NOW | RTLD_LOCAL);
    const auto function = reinterpret_cast<uintptr_t>(dlsym(handle, "crash_core_test_image_function"));
    CRBinaryImage slot;
    page.values[1].store(CRBinaryImageSafeFindImageForAddress(function, &slot));
    page.values[2].store(record());
    page.values[3].store(CRBinaryImageSafeFindImageForAddress(function, &slot));
    dlclose(handle);
    page.values[4].store(record());
    page.values[5].store(CRBinaryImageSafeFindImageForAddress(function, &slot));
    _exit(0);
  });
  EXPECT_TRUE(result.exited);
  const SharedPage& page = *result.page;
  EXPECT_EQ(page.values[1].load(), 0);  // not seen before the record
  EXPECT_EQ(page.values[2].load(), 1);
  EXPECT_EQ(page.values[3].load(), 1);
  EXPECT_EQ(page.values[4].load(), 1);
  EXPECT_EQ(page.values[5].load(), 0);
  std::vector<std::string> events;
  for (const json& line : crash_test::readSections(child.folder().file("binary_images.crrecord"))) {
    const std::string kind = line.begin().key();
    if (line[kind].value("path", "").find("crash_core_test_image") != std::string::npos) events.push_back(kind);
  }
  EXPECT_EQ(events, (std::vector<std::string>{"load", "unload"}));
}

// Holding a thread does not break the system call it was blocked in: a read on a pipe goes
// on after an on-demand record and returns the data, not EINTR.
TEST(CrashCaptureTest, HeldThreadsSystemCallsAreRestarted) {
  CrashChild child;
  const CrashResult result = child.run({}, [&child](SharedPage& page) {
    static int fds[2];
    if (pipe(fds) != 0) _exit(2);
    static SharedPage* shared = &page;
    std::atomic<bool> started{false};
    std::thread reader([&started] {
      started.store(true);
      char byte = 0;
      const ssize_t got = read(fds[0], &byte, 1);
      shared->values[1].store(got == 1 ? byte : -errno);
    });
    while (!started.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it block in read
    CRFile file;
    if (!CRFileInit(&file, child.folder().file("on-demand.crrecord").c_str(), false)) _exit(3);
    CRRecordProcessStateOnDemand(&file, CRCurrentThreadId());
    CRFileShut(&file);
    (void)!write(fds[1], "x", 1);
    reader.join();
    _exit(0);
  });
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.page->values[1].load(), 'x');
}

SharedPage* gMallocPage = nullptr;

TEST(CrashCaptureTest, TheHandlerAllocatesNothing) {
  CrashChild child;
  child.setupBeforeContext = [](SharedPage&) {
    struct sigaction action {};
    action.sa_handler = [](int) {
      // Runs after the record: what was counted since the fault is the handler's.
      gCountingThread.store(0);
      gMallocPage->values[2].store(gMallocs.load());
      gMallocPage->values[3].store(1);
      signal(SIGSEGV, SIG_DFL);
    };
    sigaction(SIGSEGV, &action, nullptr);
  };
  const CrashResult result = child.run([](SharedPage&) { crash_test::startWorkers(2, "worker"); },
                                       [](SharedPage& page) {
                                         gMallocPage = &page;
                                         gMallocs.store(0);
                                         gCountingThread.store(static_cast<pid_t>(syscall(SYS_gettid)));
                                         *gNowhere = 5;
                                       });
  EXPECT_EQ(result.signal, SIGSEGV);
  expectCompleteRecord(result, SIGSEGV);
  EXPECT_EQ(result.page->values[3].load(), 1);
  EXPECT_EQ(result.page->values[2].load(), 0);
}

// The start-up check names every handled signal whose handler is not ours, and only those.
TEST(CrashCaptureTest, TheHandlerCheckNamesForeignHandlers) {
  CrashChild child;
  const std::string output = child.folder().file("stderr.txt");
  const CrashResult result = child.run({}, [&output](SharedPage&) {
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDERR_FILENO);
    signal(SIGTRAP, crash_test_foreign_trap_handler);
    CRSignalCheckHandlers();
    _exit(0);
  });
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(crash_test::readFile(output),
            "[Vuzirerered] The signal SIGTRAP has a non-Vuzirerered handler (crash_test_foreign_trap_handler).  "
            "This will interfere with reporting.\n");
}

// --- Exception messages on the port stand-in ---------------------------------------------

namespace mach = platform::mach;

pid_t gWorkerTid = 0;
void previousBusHandler(int) {}

// A worker whose thread is named in the messages.
void startNamedWorker() {
  static std::atomic<pid_t> tid{0};
  crash_test::startWorkers(1, "excepting", [] { tid.store(CRCurrentThreadId()); });
  while (tid.load() == 0) std::this_thread::yield();
  gWorkerTid = tid.load();
}

TEST(CrashCaptureTest, MachMessageForAnotherTaskIsRefused) {
  CrashChild child;
  child.withMachServer = true;
  const CrashResult result = child.run([](SharedPage&) { startNamedWorker(); },
                                       [](SharedPage& page) {
                                         const int64_t codes[2] = {1, 0};
                                         page.values[1].store(mach::RaiseException(0x999, gWorkerTid, 1, codes, 2));
                                         _exit(0);
                                       });
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.page->values[1].load(), mach::kFailure);
  EXPECT_TRUE(crash_test::readSections(child.folder().file("mach_exception.crrecord")).empty());
  EXPECT_FALSE(result.marker);
}

TEST(CrashCaptureTest, MachExceptionIsRecordedThenPortsAndHandlersGoBack) {
  CrashChild child;
  child.withMachServer = true;
  child.setupBeforeContext = [](SharedPage& page) {
    mach::Port previous = mach::kPortNull;
    mach::PortAllocate(mach::TaskSelf(), &previous);
    mach::PortInsertSendRight(mach::TaskSelf(), previous);
    mach::TaskSetExceptionPorts(mach::TaskSelf(), mach::maskFor(mach::kExcBadAccess), previous, 0x80000001, 5);
    page.values[10].store(previous);
    signal(SIGBUS, previousBusHandler);
  };
  const CrashResult result = child.run([](SharedPage&) { startNamedWorker(); }, [](SharedPage& page) {
    // A count above two still reads only the two codes the message holds.
    const int64_t codes[2] = {1, 0x10};
    page.values[1].store(mach::RaiseException(mach::TaskSelf(), gWorkerTid, mach::kExcBadAccess, codes, 5));
    mach::ExceptionPorts ports;
    mach::TaskGetExceptionPorts(mach::TaskSelf(), mach::maskFor(mach::kExcBadAccess), &ports);
    page.values[2].store(ports.count == 1 && ports.ports[0] == page.values[10].load());
    struct sigaction bus {};
    struct sigaction segv {};
    sigaction(SIGBUS, nullptr, &bus);
    sigaction(SIGSEGV, nullptr, &segv);
    page.values[3].store(bus.sa_handler == previousBusHandler && segv.sa_handler == SIG_DFL);
    // A second message reaches the server only if someone sends it there: it ends the process.
    mach::TaskSetExceptionPorts(mach::TaskSelf(), mach::maskFor(mach::kExcBadAccess),
                                crReadOnlyContext->machException.port, 0x80000001, 5);
    mach::RaiseException(mach::TaskSelf(), gWorkerTid, mach::kExcBadAccess, codes, 2);
    _exit(0);
  });
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.page->values[1].load(), mach::kSuccess);
  EXPECT_EQ(result.page->values[2].load(), 1);
  EXPECT_EQ(result.page->values[3].load(), 1);
  EXPECT_TRUE(result.marker);
  const auto sections = crash_test::readSections(child.folder().file("mach_exception.crrecord"));
  ASSERT_EQ(sections.size(), 7u);
  const json& exception = sections[0]["mach_exception"];
  EXPECT_EQ(exception["exception"], 1);
  EXPECT_EQ(exception["codes"], json::array({1, 16}));
  EXPECT_EQ(exception["name"], "EXC_BAD_ACCESS");
  EXPECT_EQ(exception["code_name"], "KERN_INVALID_ADDRESS");
  EXPECT_EQ(exception["original_ports"], 2);  // the test's port, and no port for the rest
  const json& threads = sections[1]["threads"];
  const json& names = sections[4]["thread_names"];
  for (size_t i = 0; i < threads.size(); ++i) {
    EXPECT_EQ(threads[i].value("crashed", false), names[i] == "excepting") << names[i];
  }
}

// What the server does at crash time takes no lock: with the port table's mutex held by
// another thread for good (a crash in the middle of making a port), handing the ports back
// and reading them still finishes.
TEST(CrashCaptureTest, MachCrashTimeCallsTakeNoLock) {
  CrashChild child;
  child.withMachServer = true;
  const CrashResult result = child.run({}, [](SharedPage& page) {
    std::atomic<bool> held{false};
    std::thread([&held] {
      mach::testing::PortTableLock().lock();
      held.store(true);
      for (;;) pause();
    }).detach();
    while (!held.load()) std::this_thread::yield();
    mach::ExceptionPorts current;
    page.values[1].store(mach::TaskGetExceptionPorts(mach::TaskSelf(), kCRMachExceptionMask, &current));
    const mach::ExceptionPorts nothing;
    page.values[2].store(CRMachExceptionUnregister(&nothing, kCRMachExceptionMask));
    _exit(0);
  }, std::chrono::seconds(10));
  EXPECT_FALSE(result.timedOut);
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.page->values[1].load(), mach::kSuccess);
  EXPECT_EQ(result.page->values[2].load(), 1);
}

TEST(CrashCaptureTest, MachMessageWithoutCodes) {
  CrashChild child;
  child.withMachServer = true;
  const CrashResult result = child.run([](SharedPage&) { startNamedWorker(); },
                                       [](SharedPage& page) {
                                         page.values[1].store(mach::RaiseException(
                                             mach::TaskSelf(), gWorkerTid, mach::kExcArithmetic, nullptr, 0));
                                         _exit(0);
                                       });
  EXPECT_EQ(result.page->values[1].load(), mach::kSuccess);
  const auto sections = crash_test::readSections(child.folder().file("mach_exception.crrecord"));
  ASSERT_FALSE(sections.empty());
  const json& exception = sections[0]["mach_exception"];
  EXPECT_EQ(exception["codes"], json::array());
  EXPECT_EQ(exception["name"], "EXC_ARITHMETIC");
  EXPECT_TRUE(exception["code_name"].is_null());
}

TEST(CrashCaptureTest, MachNames) {
  const char* name = nullptr;
  const char* codeName = nullptr;
  CRMachExceptionNames(1, 2, &name, &codeName);
  EXPECT_STREQ(codeName, "KERN_PROTECTION_FAILURE");
  CRMachExceptionNames(1, 0, &name, &codeName);
  EXPECT_STREQ(name, "EXC_BAD_ACCESS");
  EXPECT_EQ(codeName, nullptr);
  CRMachExceptionNames(5, 1, &name, &codeName);
  EXPECT_EQ(name, nullptr);
}

}  // namespace
