// The crash harness: a forked child sets a crash-time context up in a temporary report
// folder (signal capture installed), runs `setup` (workers and the like), then `crash`; the
// parent waits for it with a deadline and reads what it left. A shared page carries values
// and timestamps back from the child.
#pragma once

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/mach_exception.h"
#include "crash-reporting/core/signals.h"
#include "crash-reporting/core/tests/test_support.h"

namespace crash_test {

struct SharedPage {
  std::atomic<int64_t> values[32];
  std::atomic<uint64_t> frames[64];
  std::atomic<uint32_t> frameCount;
};

inline int64_t nowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000ll + now.tv_nsec;
}

struct CrashResult {
  bool exited = false;
  int exitCode = -1;
  int signal = 0;
  bool timedOut = false;
  int64_t endedAt = 0;  // nowNs() when the child was reaped
  std::vector<nlohmann::json> sections;  // of signal.crrecord
  bool marker = false;
  std::string log;
  const SharedPage* page = nullptr;

  const nlohmann::json* section(const std::string& name) const {
    for (const auto& line : sections) {
      if (line.contains(name)) return &line[name];
    }
    return nullptr;
  }
  std::vector<std::string> sectionNames() const {
    std::vector<std::string> names;
    for (const auto& line : sections) names.push_back(line.begin().key());
    return names;
  }
};

class CrashChild {
 public:
  using Step = std::function<void(SharedPage&)>;

  CrashChild() {
    void* mapping = mmap(nullptr, sizeof(SharedPage), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    page_ = new (mapping) SharedPage();
  }
  ~CrashChild() { munmap(page_, sizeof(SharedPage)); }
  CrashChild(const CrashChild&) = delete;
  CrashChild& operator=(const CrashChild&) = delete;

  const TempDir& folder() const { return folder_; }

  CrashResult run(const Step& setup, const Step& crash, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const pid_t child = fork();
    if (child == 0) {
      if (setupBeforeContext) setupBeforeContext(*page_);
      CRContextHooks hooks;
      CRSignalFillHooks(&hooks);
      if (withMachServer) CRMachExceptionFillHooks(&hooks);
      CRContextSetHooks(hooks);
      const CRContextInitData data = initDataFor(folder_);
      if (!CRContextInitialize(&data) || !CRContextIsReady()) _exit(90);
      CRBinaryImageWaitForPendingEvents();
      if (setup) setup(*page_);
      page_->values[0].store(nowNs());  // the moment of the crash
      crash(*page_);
      _exit(91);
    }
    CrashResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const pid_t done = waitpid(child, &status, WNOHANG);
      if (done == child) {
        result.endedAt = nowNs();
        break;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        result.timedOut = true;
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    result.exited = WIFEXITED(status);
    result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.sections = readSections(folder_.file("signal.crrecord"));
    result.marker = access(folder_.file("previously-crashed").c_str(), F_OK) == 0;
    result.log = readFile(folder_.file("sdk.log"));
    result.page = page_;
    return result;
  }

  // Runs in the child before the context is set up (previous handlers, say).
  Step setupBeforeContext;
  // Whether the child also serves exception messages on the port stand-in.
  bool withMachServer = false;

 private:
  TempDir folder_;
  SharedPage* page_ = nullptr;
};

// Starts `count` threads named `name` that run `body` (by default: sleep until the process
// ends); each has its own alternate stack from its start, as every thread does.
inline void startWorkers(int count, const char* name, std::function<void()> body = {}) {
  std::atomic<int> started{0};
  for (int i = 0; i < count; ++i) {
    std::thread([name, body, &started] {
      pthread_setname_np(pthread_self(), name);
      started.fetch_add(1);
      if (body) body();
      for (;;) pause();
    }).detach();
  }
  while (started.load() < count) std::this_thread::yield();
}

}  // namespace crash_test
