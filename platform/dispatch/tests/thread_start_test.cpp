// Every thread has an alternate signal stack of its own from its start, whoever starts it and
// however it ends, and gives it back when it ends (the next thread takes it). In the sanitized
// tree the sanitizer's runtime gives each thread its stack first, and ours is not made.
#include "platform/dispatch/thread_start.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <set>
#include <thread>

#include "platform/dispatch/thread_labels.h"


namespace platform {
namespace {

struct Seen {
  bool enabled = false;
  char* base = nullptr;
  size_t size = 0;
  bool guarded = false;  // the page below it cannot be read
};

// Whether `address` can be read: the kernel refuses to copy from it otherwise.
bool readable(const void* address) {
  int ends[2];
  if (pipe(ends) != 0) return true;
  const bool copied = write(ends[1], address, 1) == 1;
  close(ends[0]);
  close(ends[1]);
  return copied;
}

Seen currentStack() {
  stack_t current{};
  Seen seen;
  if (sigaltstack(nullptr, &current) != 0) return seen;
  seen.enabled = (current.ss_flags & SS_DISABLE) == 0;
  seen.base = static_cast<char*>(current.ss_sp);
  seen.size = current.ss_size;
  if (seen.enabled) seen.guarded = !readable(seen.base - getpagesize());
  return seen;
}

// What a started thread saw at the start of its routine.
Seen gSeen;
void* recordStack(void*) {
  gSeen = currentStack();
  return nullptr;
}
void* recordStackThenExit(void*) {
  gSeen = currentStack();
  pthread_exit(nullptr);
}

void createAndJoin(void* (*routine)(void*), const pthread_attr_t* attributes) {
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, attributes, routine, nullptr), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

TEST(ThreadStartTest, EveryThreadHasItsOwnSignalStackFromItsStartAndGivesItBackAtItsEnd) {
  const size_t ownStackSize = 256 * 1024;
  char* ownStack = static_cast<char*>(
      mmap(nullptr, ownStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0));
  ASSERT_NE(ownStack, MAP_FAILED);
  const struct {
    const char* name;
    void (*run)(char* ownStack, size_t ownStackSize);
  } kStarters[] = {
      {"std::thread", [](char*, size_t) { std::thread([] { recordStack(nullptr); }).join(); }},
      {"pthread_create", [](char*, size_t) { createAndJoin(recordStack, nullptr); }},
      {"ended by pthread_exit", [](char*, size_t) { createAndJoin(recordStackThenExit, nullptr); }},
      {"stack made by the caller",
       [](char* stack, size_t size) {
         pthread_attr_t attributes;
         pthread_attr_init(&attributes);
         pthread_attr_setstack(&attributes, stack, size);
         createAndJoin(recordStack, &attributes);
         pthread_attr_destroy(&attributes);
       }},
  };
  const Seen mine = currentStack();
  std::set<char*> ours;
  for (const auto& starter : kStarters) {
    SCOPED_TRACE(starter.name);
    gSeen = {};
    starter.run(ownStack, ownStackSize);
    ASSERT_TRUE(gSeen.enabled);
    EXPECT_GE(gSeen.size, size_t{16384});
    EXPECT_NE(gSeen.base, mine.base);
    EXPECT_FALSE(gSeen.base >= ownStack && gSeen.base < ownStack + ownStackSize) << "inside the thread's stack";
    if (gSeen.size == kThreadSignalStackSize) {
      EXPECT_TRUE(gSeen.guarded);
      ours.insert(gSeen.base);
    }
  }
  // One thread after another: each took the stack the one before gave back.
  EXPECT_LE(ours.size(), 1u);
  // The caller's stack is the caller's: still there, and usable.
  ownStack[0] = 1;
  ownStack[ownStackSize - 1] = 1;
  munmap(ownStack, ownStackSize);
}

// Threads started past the process's pthread_create (as in a program that does not link it)
// and with no stack from elsewhere either (the sanitizer's put aside): the platform's threads
// make theirs at their entry, once, guarded; the second thread takes the first one's back.
Seen gMade;
Seen gMadeAgain;
void* makeStack(void*) {
  stack_t disable{};
  disable.ss_flags = SS_DISABLE;
  sigaltstack(&disable, nullptr);
  ThreadEntered();
  gMade = currentStack();
  ThreadEntered();
  gMadeAgain = currentStack();
  return nullptr;
}

TEST(ThreadStartTest, AThreadStartedPastTheWrapperMakesOneAtItsEntry) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  const auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  ASSERT_NE(create, nullptr);
  char* first = nullptr;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    gMade = gMadeAgain = {};
    pthread_t thread;
    ASSERT_EQ(create(&thread, nullptr, makeStack, nullptr), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    ASSERT_TRUE(gMade.enabled);
    EXPECT_EQ(gMade.size, kThreadSignalStackSize);
    EXPECT_TRUE(gMade.guarded);
    EXPECT_EQ(gMadeAgain.base, gMade.base);
    if (round == 0) first = gMade.base;
  }
  EXPECT_EQ(gMade.base, first) << "the first thread's stack was not given back";
}

}  // namespace
}  // namespace platform
