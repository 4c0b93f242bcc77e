#include "platform/dispatch/thread_start.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

// The calling thread's own stack, once it has made one.
struct SignalStack {
  void* mapping = nullptr;
  size_t size = 0;
  // The thread has an alternate stack (its own or another's): nothing more to look at.
  bool settled = false;
  // Gone with the thread: never made again (a later thread_local destructor asking).
  bool ended = false;

  char* usable() const { return static_cast<char*>(mapping) + (size - kThreadSignalStackSize); }

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
    munmap(mapping, size);
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
  const size_t guard = static_cast<size_t>(getpagesize());
  const size_t size = guard + kThreadSignalStackSize;
  void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) return false;
  if (mprotect(mapping, guard, PROT_NONE) != 0) {
    munmap(mapping, size);
    return false;
  }
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(mapping) + guard;
  stack.ss_size = kThreadSignalStackSize;
  if (sigaltstack(&stack, nullptr) != 0) {
    munmap(mapping, size);
    return false;
  }
  own.mapping = mapping;
  own.size = size;
  own.settled = true;
  return true;
}

}  // namespace platform
