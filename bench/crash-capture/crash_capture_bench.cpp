// Crash capture, timed as the user of a crashing program waits for it:
// - a child with 16 threads, each 200 frames deep, crashes 200 frames deep; the time from
//   the faulting instruction to the record being closed (a handler chained after the record
//   stamps it) beside the same run's capture-only round trip (tgkill to 16 threads and their
//   registers copied) and `_Unwind_Backtrace` of a 200-frame stack (goal: 10 ms or less);
// - the alternate stack the handler used, by painting it with 0xA5 first (a fault and a
//   stack overflow; goal: 16 KiB or less);
// - frames per second of the frame-pointer walk beside the DWARF walk;
// - a thread created and joined through the process's pthread_create, which gives it its
//   alternate stack, beside one made by the C library's directly.
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "bench/common/ratio_reporter.h"
#include "crash-reporting/core/context.h"
#include "crash-reporting/core/file.h"
#include "crash-reporting/core/signals.h"
#include "crash-reporting/core/threads.h"
#include "crash-reporting/core/unwind.h"

namespace {

constexpr int kThreads = 16;
constexpr int kDepth = 200;

struct Shared {
  std::atomic<int64_t> crashAt;
  std::atomic<int64_t> recordClosedAt;
  std::atomic<int64_t> altStackUsed;
};
Shared* gShared = nullptr;
int* volatile gNowhere = nullptr;
std::atomic<bool> gStop{false};  // never set: parked threads wait for the process to end
volatile int gSink = 0;

int64_t nowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000ll + now.tv_nsec;
}

std::string folderFor(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("crash-capture-bench-") + name + "-" +
                                                     std::to_string(getpid())))
      .string();
}

template <typename Body>
__attribute__((noinline)) void atDepth(int depth, const Body& body) {
  if (depth <= 1) {
    body();
  } else {
    atDepth(depth - 1, body);
  }
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) int overflow(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth < 0) return 0;
  return overflow(depth + 1) + frame[0];
}

// Chained after the record: stamps the time and measures the painted alternate stack.
void afterRecord(int signal, siginfo_t*, void*) {
  gShared->recordClosedAt.store(nowNs());
  const auto* stack = static_cast<const unsigned char*>(crReadOnlyContext->signalStack);
  size_t untouched = 0;
  while (untouched < kCRStackSize && stack[untouched] == 0xA5) ++untouched;
  gShared->altStackUsed.store(static_cast<int64_t>(kCRStackSize - untouched));
  ::signal(signal, SIG_DFL);
}

// One crashing child; false when it did not end as expected.
bool crashOnce(bool stackOverflow) {
  gShared->crashAt.store(0);
  gShared->recordClosedAt.store(0);
  gShared->altStackUsed.store(0);
  const std::string folder = folderFor("child");
  std::filesystem::create_directories(folder);
  const pid_t child = fork();
  if (child == 0) {
    struct sigaction action {};
    action.sa_sigaction = afterRecord;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, nullptr);
    CRContextHooks hooks;
    CRSignalFillHooks(&hooks);
    CRContextSetHooks(hooks);
    CRContextInitData data;
    data.rootPath = folder;
    data.previouslyCrashedFileRootPath = folder;
    if (!CRContextInitialize(&data)) _exit(90);
    CRBinaryImageWaitForPendingEvents();
    std::atomic<int> parked{0};
    for (int i = 0; i < kThreads; ++i) {
      std::thread([&parked] {
        atDepth(kDepth, [&parked] {
          parked.fetch_add(1);
          while (!gStop.load()) pause();
        });
      }).detach();
    }
    while (parked.load() < kThreads) std::this_thread::yield();
    std::memset(crReadOnlyContext->signalStack, 0xA5, kCRStackSize);
    atDepth(kDepth, [stackOverflow] {
      gShared->crashAt.store(nowNs());
      if (stackOverflow) gSink = overflow(0);
      *gNowhere = 1;
    });
    _exit(91);
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::error_code error;
  std::filesystem::remove_all(folder, error);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV && gShared->recordClosedAt.load() != 0;
}

void BM_CrashSignalToRecordClosed(benchmark::State& state) {
  int64_t altStack = 0;
  for (auto _ : state) {
    if (!crashOnce(false)) {
      state.SkipWithError("the child did not crash as expected");
      return;
    }
    state.SetIterationTime(static_cast<double>(gShared->recordClosedAt.load() - gShared->crashAt.load()) / 1e9);
    altStack = std::max<int64_t>(altStack, gShared->altStackUsed.load());
  }
  state.counters["alt_stack_bytes"] = static_cast<double>(altStack);
}

void BM_StackOverflowAltStackUse(benchmark::State& state) {
  int64_t altStack = 0;
  for (auto _ : state) {
    if (!crashOnce(true)) {
      state.SkipWithError("the child did not crash as expected");
      return;
    }
    state.SetIterationTime(static_cast<double>(gShared->recordClosedAt.load() - gShared->crashAt.load()) / 1e9);
    altStack = std::max<int64_t>(altStack, gShared->altStackUsed.load());
  }
  state.counters["alt_stack_bytes"] = static_cast<double>(altStack);
}

// 16 threads parked 200 frames deep in this process, for the baselines.
void parkThreads() {
  static bool parked = false;
  if (parked) return;
  parked = true;
  CRThreadsPrepare();
  static std::atomic<int> count{0};
  for (int i = 0; i < kThreads; ++i) {
    std::thread([] {
      atDepth(kDepth, [] {
        count.fetch_add(1);
        while (!gStop.load()) pause();
      });
    }).detach();
  }
  while (count.load() < kThreads) std::this_thread::yield();
}

void BM_Baseline_CaptureOnlyRoundTrip(benchmark::State& state) {
  parkThreads();
  static CRProcessSnapshot process;
  for (auto _ : state) {
    CRProcessInit(&process, CRCurrentThreadId(), nullptr);
    CRProcessHoldOtherThreads(&process);
    CRThreadContext registers;
    for (uint32_t i = 0; i < process.threadCount; ++i) {
      if (process.threads[i] != process.thisThread) CRProcessGetThreadState(&process, process.threads[i], &registers);
    }
    CRProcessReleaseOtherThreads(&process);
  }
}

_Unwind_Reason_Code countFrame(_Unwind_Context*, void* count) {
  ++*static_cast<int*>(count);
  return _URC_NO_REASON;
}

void BM_Baseline_UnwindBacktrace(benchmark::State& state) {
  atDepth(kDepth, [&state] {
    for (auto _ : state) {
      int frames = 0;
      _Unwind_Backtrace(countFrame, &frames);
      benchmark::DoNotOptimize(frames);
    }
  });
}

void setUpImages() {
  static bool ready = false;
  if (ready) return;
  ready = true;
  const std::string folder = folderFor("images");
  std::filesystem::create_directories(folder);
  CRContextInitData data;
  data.rootPath = folder;
  data.previouslyCrashedFileRootPath = folder;
  CRContextInitialize(&data);
  CRBinaryImageWaitForPendingEvents();
}

// Walks the stack 200 frames below here, with every strategy or with frame pointers only.
void walkFrames(benchmark::State& state, bool framePointerOnly) {
  setUpImages();
  int64_t frames = 0;
  atDepth(kDepth, [&] {
    ucontext_t context;
    getcontext(&context);
    CRThreadContext start;
    CRRegistersFromUserContext(&context, &start);
    for (auto _ : state) {
      CRUnwindCursor cursor;
      CRUnwindInitCursor(&cursor, &start);
      cursor.framePointerOnly = framePointerOnly;
      while (CRUnwindNextFrame(&cursor)) ++frames;
    }
  });
  state.counters["frames_per_second"] = benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

// The record alone, written here (16 parked threads, this one 200 frames deep) to a file in
// a temporary folder: the share of the crash time that is our own work.
void BM_RecordProcessState(benchmark::State& state) {
  parkThreads();
  setUpImages();
  const std::string path = folderFor("images") + "/record.crrecord";
  atDepth(kDepth, [&] {
    for (auto _ : state) {
      CRFile file;
      CRFileInitWithPathMode(&file, path.c_str(), false, false);
      CRRecordCrashState(&file, CRCurrentThreadId(), nullptr);
      CRFileShut(&file);
    }
  });
}

void BM_UnwindFramePointer(benchmark::State& state) { walkFrames(state, true); }
void BM_UnwindDwarf(benchmark::State& state) { walkFrames(state, false); }

void* doNothing(void*) { return nullptr; }

void createAndJoin(benchmark::State& state, decltype(&pthread_create) create) {
  for (auto _ : state) {
    pthread_t thread;
    if (create(&thread, nullptr, doNothing, nullptr) != 0 || pthread_join(thread, nullptr) != 0) {
      state.SkipWithError("no thread");
      return;
    }
  }
}

void BM_ThreadCreateJoin(benchmark::State& state) { createAndJoin(state, pthread_create); }
void BM_Baseline_ThreadCreateJoinUnwrapped(benchmark::State& state) {
  createAndJoin(state, reinterpret_cast<decltype(&pthread_create)>(dlsym(RTLD_NEXT, "pthread_create")));
}

BENCHMARK(BM_CrashSignalToRecordClosed)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_StackOverflowAltStackUse)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Baseline_CaptureOnlyRoundTrip)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Baseline_UnwindBacktrace)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RecordProcessState)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnwindFramePointer)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnwindDwarf)->Unit(benchmark::kMicrosecond);
// CPU time of the whole process, the new thread's own work included.
BENCHMARK(BM_ThreadCreateJoin)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Baseline_ThreadCreateJoinUnwrapped)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  void* page = mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  gShared = new (page) Shared();
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  const std::string crash = "BM_CrashSignalToRecordClosed/iterations:20/manual_time";
  reporter.printRatios("Crash capture beside its baselines (ratio = ours / baseline, time):",
                       {{crash, "BM_Baseline_CaptureOnlyRoundTrip"},
                        {crash, "BM_Baseline_UnwindBacktrace"},
                        {"BM_RecordProcessState", "BM_Baseline_CaptureOnlyRoundTrip"},
                        {"BM_UnwindDwarf", "BM_UnwindFramePointer"}});
  reporter.printRatios("A thread created and joined with its alternate stack beside one without (ratio = ours / "
                       "baseline; CPU time of the process):",
                       {{"BM_ThreadCreateJoin/process_time", "BM_Baseline_ThreadCreateJoinUnwrapped/process_time"}},
                       {brivel::bench::Measure::realTime(), brivel::bench::Measure::cpuTime()});
  if (const auto record = reporter.value(crash)) {
    std::printf("\ncrash signal to record closed, 16 threads at 200 frames: %.2f ms (goal: 10 ms or less)\n",
                *record * 1e3);
  }
  for (const char* name : {"BM_CrashSignalToRecordClosed/iterations:20/manual_time",
                           "BM_StackOverflowAltStackUse/iterations:5/manual_time"}) {
    if (const auto used = reporter.value(name, brivel::bench::Measure::counterNamed("alt_stack_bytes"))) {
      std::printf("alternate stack used, %s: %.1f KiB (goal: 16 KiB or less)\n", name, *used / 1024);
    }
  }
  for (const char* name : {"BM_UnwindFramePointer", "BM_UnwindDwarf"}) {
    if (const auto rate = reporter.value(name, brivel::bench::Measure::counterNamed("frames_per_second"))) {
      std::printf("%s: %.2f million frames/s\n", name, *rate / 1e6);
    }
  }
  std::fflush(stdout);
  std::_Exit(0);  // the parked threads never end
}
