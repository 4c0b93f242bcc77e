#include "platform/dispatch/thread_start.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

size_t guardSize() { return static_cast<size_t>(getpagesize()); }
size_t mappingSize() { return guardSize() + kThreadSignalStackSize; }

// Stacks of threads that ended, kept for the next threads (some libraries start a thread for
// each lookup, and each would otherwise map and unmap one). A slot is taken with an
// exchange and filled with a compare-and-swap: no lock, so a fork at any moment leaves them
// usable.
constexpr int kKeptStacks = 16;
std::atomic<void*> gKeptStacks[kKeptStacks];

void* takeKeptStack() {
  for (std::atomic<void*>& slot : gKeptStacks) {
    if (slot.load(std::memory_order_relaxed) == nullptr) continue;
    if (void* mapping = slot.exchange(nullptr, std::memory_order_acquire)) return mapping;
  }
  return nullptr;
}

void keepOrUnmap(void* mapping) {
  for (std::atomic<void*>& slot : gKeptStacks) {
    void* empty = nullptr;
    if (slot.compare_exchange_strong(empty, mapping, std::memory_order_release, std::memory_order_relaxed)) return;
  }
  munmap(mapping, mappingSize());
}

// A new stack: the guard page below it inaccessible.
void* mapStack() {
  void* mapping = mmap(nullptr, mappingSize(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  if (mprotect(mapping, guardSize(), PROT_NONE) != 0) {
    munmap(mapping, mappingSize());
    return nullptr;
  }
  return mapping;
}

// The calling thread's own stack, once it has one.
struct SignalStack {
  void* mapping = nullptr;
  // The thread has an alternate stack (its own or another's): nothing more to look at.
  bool settled = false;
  // Gone with the thread: never made again (a later thread_local destructor asking).
  bool ended = false;

  char* usable() const { return static_cast<char*>(mapping) + guardSize(); }

  ~SignalStack() {
    ended = true;
    if (mapping == nullptr) return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == usable()) {
      // Still running on it (a handler that never returned): keep the memory rather than
      // pull the stack from under it.
      if ((current.ss_flags & SS_ONSTACK) != 0) return;
      stack_t disable{};
      disable.ss_flags = SS_DISABLE;
      if (sigaltstack(&disable, nullptr) != 0) return;
    }
    keepOrUnmap(mapping);
    mapping = nullptr;
  }
};

thread_local SignalStack tSignalStack;

}  // namespace

bool EnsureThreadSignalStack() {
  SignalStack& own = tSignalStack;
  if (own.settled) return true;
  if (own.ended) return false;
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0) {
    own.settled = true;
    return true;
  }
  void* mapping = takeKeptStack();
  if (mapping == nullptr) mapping = mapStack();
  if (mapping == nullptr) return false;
  own.mapping = mapping;
  stack_t stack{};
  stack.ss_sp = own.usable();
  stack.ss_size = kThreadSignalStackSize;
  if (sigaltstack(&stack, nullptr) != 0) {
    own.mapping = nullptr;
    keepOrUnmap(mapping);
    return false;
  }
  own.settled = true;
  return true;
}

}  // namespace platform
