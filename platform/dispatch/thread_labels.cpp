#include "platform/dispatch/thread_labels.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include "platform/dispatch/thread_start.h"

namespace platform {

namespace {

constexpr int kEntries = 512;

struct Entry {
  std::atomic<pid_t> tid{0};
  std::atomic<const char*> label{nullptr};
};

Entry gEntries[kEntries];
thread_local Entry* tEntry = nullptr;

Entry* claim() {
  const pid_t me = static_cast<pid_t>(syscall(SYS_gettid));
  for (Entry& entry : gEntries) {
    pid_t expected = 0;
    if (entry.tid.load(std::memory_order_relaxed) == me) return &entry;
    if (entry.tid.compare_exchange_strong(expected, me)) return &entry;
  }
  return nullptr;
}

// Gives the entry back when the thread ends.
struct Release {
  ~Release() {
    if (tEntry == nullptr) return;
    tEntry->label.store(nullptr);
    tEntry->tid.store(0);
  }
};
thread_local Release tRelease;

}  // namespace

void ThreadEntered() { EnsureThreadSignalStack(); }

void ThreadLabelSetCurrent(const char* label) {
  if (label != nullptr) ThreadEntered();
  if (tEntry == nullptr) {
    if (label == nullptr) return;
    (void)&tRelease;
    tEntry = claim();
    if (tEntry == nullptr) return;
  }
  tEntry->label.store(label, std::memory_order_release);
}

const char* ThreadLabelFor(pid_t tid) {
  if (tid == 0) return nullptr;
  for (const Entry& entry : gEntries) {
    if (entry.tid.load(std::memory_order_acquire) == tid) return entry.label.load(std::memory_order_acquire);
  }
  return nullptr;
}

}  // namespace platform
