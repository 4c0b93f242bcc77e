// fork() while other threads keep the scheduler, the pool and the main queue busy: the
// child must be able to use timers, the pool and the main loop straight away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"
#include "platform/dispatch/semaphore.h"
#include "platform/dispatch/timer.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

// What the child does: exit code 0 when every piece of dispatch worked.
[[noreturn]] void useDispatchInChild() {
  DispatchSemaphore done(0);
  DispatchQueue::global()->asyncAfter(1ms, [&done] { done.signal(); });
  DispatchQueue::global()->async([&done] { done.signal(); });
  if (!done.wait(std::chrono::seconds(5)) || !done.wait(std::chrono::seconds(5))) _exit(1);
  bool ranOnMain = false;
  DispatchQueue::main()->async([&ranOnMain] { ranOnMain = true; });
  MainLoop::drain();
  _exit(ranOnMain ? 0 : 2);
}

// Waits for the child, killing it when it has not ended in good time. Returns its exit code,
// or -1 when it hung.
int waitWithWatchdog(pid_t child) {
  for (int i = 0; i < 1000; ++i) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(10ms);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  return -1;
}

TEST(ForkTest, ChildCanUseDispatchWhileParentThreadsWereBusy) {
  // Keep the scheduler thread, the pool and the main queue's lock busy across the forks.
  auto timer = DispatchTimer::make(DispatchQueue::global());
  timer->setEventHandler([] {});
  timer->schedule(Duration::zero(), 20us);
  timer->resume();
  std::atomic<bool> stop{false};
  std::thread hammer([&stop] {
    while (!stop.load()) {
      (void)Clock::monotonicNow();
      DispatchQueue::global()->async([] {});
      DispatchQueue::main()->async([] {});
    }
  });

  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    MainLoop::drain();
    const pid_t child = fork();
    if (child == 0) useDispatchInChild();
    EXPECT_GE(child, 0);
    const int code = child > 0 ? waitWithWatchdog(child) : 0;
    EXPECT_EQ(code, 0) << "-1: the child hung";
    if (child < 0 || code != 0) break;
  }

  stop.store(true);
  hammer.join();
  timer->cancel();
  MainLoop::drain();
}

}  // namespace
}  // namespace platform
