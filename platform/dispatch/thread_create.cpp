// The process's `pthread_create`: every thread, whoever starts it, runs a trampoline that gives
// it its alternate signal stack (thread_start.h) before its start routine. Linked into every
// executable of the project as an object of its own (an archive member would only be pulled in
// by chance) and exported, so that calls from shared libraries (the C++ runtime's std::thread,
// the HTTP client, SQLite, plug-ins) bind here rather than to the C library. The thread is made
// by the next definition in the lookup order: the C library's, or a sanitizer's interceptor.
#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>
#include <new>

#include "platform/dispatch/thread_start.h"

namespace {

using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct Start {
  void* (*routine)(void*);
  void* argument;
};

void* startThread(void* started) {
  const Start start = *static_cast<Start*>(started);
  delete static_cast<Start*>(started);
  platform::EnsureThreadSignalStack();
  return start.routine(start.argument);
}

CreateFunction nextCreate() {
  static const auto next = reinterpret_cast<CreateFunction>(dlsym(RTLD_NEXT, "pthread_create"));
  return next;
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument) noexcept {
  const CreateFunction create = nextCreate();
  if (create == nullptr) return EAGAIN;
  auto* start = new (std::nothrow) Start{routine, argument};
  if (start == nullptr) return EAGAIN;
  const int result = create(thread, attributes, startThread, start);
  if (result != 0) delete start;
  return result;
}
