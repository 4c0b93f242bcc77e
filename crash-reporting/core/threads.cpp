// Contract: async-signal-safe, no allocation, no lock.
#include "crash-reporting/core/threads.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/context.h"
#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/json_buffer.h"
#include "crash-reporting/core/safe_memory.h"
#include "crash-reporting/core/unwind.h"
#include "platform/dispatch/thread_labels.h"
#include "platform/process_state/process_state.h"

namespace {

constexpr int64_t kCaptureDeadlineNs = 200'000'000;
constexpr int64_t kHeldThreadMaxWaitNs = 10'000'000'000;

struct HoldSlot {
  std::atomic<pid_t> tid{0};
  std::atomic<uint32_t> captured{0};
  CRThreadContext registers;
};

constexpr int64_t kRecorderWaitNs = 2'000'000'000;

// The tables: static ones until set-up maps the process's own.
HoldSlot gFallbackSlots[kCRFallbackThreadCapacity];
pid_t gFallbackThreads[kCRFallbackThreadCapacity];
std::atomic<HoldSlot*> gSlots{gFallbackSlots};
std::atomic<pid_t*> gThreadIds{gFallbackThreads};
std::atomic<uint32_t> gCapacity{kCRFallbackThreadCapacity};
uint32_t gWantedCapacity = kCRDefaultThreadCapacity;
std::atomic<uint32_t> gSlotCount{0};

// The recorder gate: its owner's thread id (0: free) and how often the owner entered.
std::atomic<uint32_t> gRecorderOwner{0};
uint32_t gRecorderDepth = 0;  // touched by the owner only
std::atomic<CRFaultGuard*> gFaultGuard{nullptr};
// Odd while threads are held; held threads wait until it changes.
std::atomic<uint32_t> gHoldWord{0};
std::atomic<uint32_t> gCapturedCount{0};
std::atomic<uint32_t> gInsideHoldHandler{0};
void (*gSectionHook)(const char*) = nullptr;

int64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000ll + now.tv_nsec;
}

void futexWait(std::atomic<uint32_t>* word, uint32_t expected, int64_t timeoutNs) {
  if (timeoutNs <= 0) return;
  timespec timeout{static_cast<time_t>(timeoutNs / 1'000'000'000), static_cast<long>(timeoutNs % 1'000'000'000)};
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, expected, &timeout, nullptr, 0);
}

void futexWakeAll(std::atomic<uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
}

void holdHandler(int, siginfo_t*, void* context) {
  const int savedErrno = errno;
  const uint32_t generation = gHoldWord.load();
  if ((generation & 1u) == 0) {
    errno = savedErrno;
    return;
  }
  gInsideHoldHandler.fetch_add(1);
  const pid_t me = CRCurrentThreadId();
  const uint32_t count = gSlotCount.load();
  HoldSlot* slots = gSlots.load();
  for (uint32_t i = 0; i < count; ++i) {
    if (slots[i].tid.load() != me || slots[i].captured.load() != 0) continue;
    CRRegistersFromUserContext(static_cast<const ucontext_t*>(context), &slots[i].registers);
    slots[i].captured.store(1);
    gCapturedCount.fetch_add(1);
    futexWakeAll(&gCapturedCount);
    break;
  }
  const int64_t deadline = monotonicNs() + kHeldThreadMaxWaitNs;
  while (gHoldWord.load() == generation) {
    futexWait(&gHoldWord, generation, deadline - monotonicNs());
    if (monotonicNs() >= deadline) break;
  }
  gInsideHoldHandler.fetch_sub(1);
  errno = savedErrno;
}

// Decimal text of `value` at `out`; returns the end.
char* appendNumber(char* out, uint64_t value) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) *out++ = digits[--count];
  return out;
}

char* appendText(char* out, const char* text) {
  while (*text != '\0') *out++ = *text++;
  return out;
}

// Reads a small /proc file into `buffer` (zero-terminated); the byte count or -1.
ssize_t readSmallFile(const char* path, char* buffer, size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t total = 0;
  while (total + 1 < size) {
    const ssize_t got = read(fd, buffer + total, size - 1 - total);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    total += static_cast<size_t>(got);
  }
  close(fd);
  buffer[total] = '\0';
  return static_cast<ssize_t>(total);
}

// The number after `key` in a "Key:   1234 kB" listing, or -1.
int64_t fieldValue(const char* text, const char* key) {
  const size_t keyLength = std::strlen(key);
  for (const char* line = text; *line != '\0';) {
    if (std::strncmp(line, key, keyLength) == 0) {
      const char* c = line + keyLength;
      while (*c == ' ' || *c == '\t') ++c;
      int64_t value = 0;
      while (*c >= '0' && *c <= '9') value = value * 10 + (*c++ - '0');
      return value;
    }
    const char* next = std::strchr(line, '\n');
    if (next == nullptr) break;
    line = next + 1;
  }
  return -1;
}

struct StackWalk {
  CRUnwindCursor cursor;
  CRJsonBuffer* json = nullptr;
  bool first = true;
  uint64_t* repeatedPC = nullptr;
  uint32_t* repeatCount = nullptr;
  uint32_t savedLevel = CRLogLevelDebug;
};

// Writes the frames one by one; kept out of line so that what it wrote is in memory when a
// fault brings the caller back to its guard.
__attribute__((noinline)) void walkFrames(StackWalk* walk) {
  CRContextWritable* writable = crWritableContext;
  while (CRUnwindNextFrame(&walk->cursor)) {
    const uint64_t pc = CRUnwindCursorPC(&walk->cursor);
    const uint32_t repeats = CRUnwindCursorRepeatCount(&walk->cursor);
    if (*walk->repeatedPC != 0 && pc == *walk->repeatedPC) {
      *walk->repeatCount = repeats;
    } else if (repeats < 10 || *walk->repeatedPC != 0) {
      if (*walk->repeatedPC != 0 && writable != nullptr) writable->internalLogging.logLevel = walk->savedLevel;
      if (!walk->first) walk->json->character(',');
      walk->json->number(pc);
      walk->first = false;
    } else {
      CRLogWarning("Possible infinite recursion - suppressing logging\n");
      if (writable != nullptr) writable->internalLogging.logLevel = CRLogLevelWarning;
      *walk->repeatedPC = pc;
      *walk->repeatCount = repeats;
    }
  }
}

// Returns false when the walk was cut by a fault (the frames found so far are written).
bool writeStacktrace(CRFile* file, const CRThreadContext* registers, bool exact, uint64_t* repeatedPC,
                     uint32_t* repeatCount) {
  CRContextWritable* writable = crWritableContext;
  static StackWalk walk;  // the cursor is too large for a signal stack; one recorder at a time
  walk = StackWalk{};
  walk.savedLevel = writable != nullptr ? writable->internalLogging.logLevel : CRLogLevelDebug;
  walk.repeatedPC = repeatedPC;
  walk.repeatCount = repeatCount;
  CRUnwindInitCursor(&walk.cursor, registers, exact);
  CRFileWriteHashKey(file, "stacktrace");
  CRJsonBuffer json(file);
  walk.json = &json;
  json.character('[');
  bool whole = true;
  CRFaultGuard guard;
  if (sigsetjmp(guard.jump, 0) == 0) {
    CRFaultGuardEnter(&guard);
    walkFrames(&walk);
  } else {
    whole = false;
    CRUnwindForgetStackCache();
    CRLogWarning("Signal %d while unwinding: the stack ends here\n", guard.signal);
  }
  CRFaultGuardLeave(&guard);
  json.character(']');
  json.flush();
  file->needComma = true;
  if (writable != nullptr) writable->internalLogging.logLevel = walk.savedLevel;
  return whole;
}

// Maps `count` zeroed entries of T (pages are touched only as they are used).
template <typename T>
T* mapTable(uint32_t count) {
  void* mapping = mmap(nullptr, sizeof(T) * count, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                       -1, 0);
  return mapping == MAP_FAILED ? nullptr : static_cast<T*>(mapping);
}

bool mapTables() {
  const uint32_t wanted = gWantedCapacity;
  if (gCapacity.load() == wanted) return true;
  auto* slots = mapTable<HoldSlot>(wanted);
  auto* ids = mapTable<pid_t>(wanted);
  if (slots == nullptr || ids == nullptr) {
    if (slots != nullptr) munmap(slots, sizeof(HoldSlot) * wanted);
    if (ids != nullptr) munmap(ids, sizeof(pid_t) * wanted);
    CRLogWarning("Unable to map thread tables for %u threads (errno %d)\n", wanted, errno);
    return false;
  }
  HoldSlot* oldSlots = gSlots.load();
  pid_t* oldIds = gThreadIds.load();
  const uint32_t oldCapacity = gCapacity.load();
  gSlotCount.store(0);
  gCapacity.store(0);
  gSlots.store(slots);
  gThreadIds.store(ids);
  gCapacity.store(wanted);
  if (oldSlots != gFallbackSlots) munmap(oldSlots, sizeof(HoldSlot) * oldCapacity);
  if (oldIds != gFallbackThreads) munmap(oldIds, sizeof(pid_t) * oldCapacity);
  return true;
}

}  // namespace

int CRThreadsHoldSignal() { return SIGRTMAX - 2; }

pid_t CRCurrentThreadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

void CRThreadsSetCapacity(uint32_t capacity) {
  gWantedCapacity = capacity < 2 ? 2 : capacity;
}

uint32_t CRThreadsCapacity() { return gCapacity.load(); }

bool CRThreadsRecorderTryEnter(int64_t waitNs) {
  const auto me = static_cast<uint32_t>(CRCurrentThreadId());
  if (gRecorderOwner.load() == me) {
    ++gRecorderDepth;
    return true;
  }
  const int64_t deadline = monotonicNs() + waitNs;
  for (;;) {
    uint32_t owner = 0;
    if (gRecorderOwner.compare_exchange_strong(owner, me)) {
      gRecorderDepth = 1;
      return true;
    }
    const int64_t left = deadline - monotonicNs();
    if (left <= 0) {
      CRLogWarning("The recorder is busy on thread %u\n", owner);
      return false;
    }
    futexWait(&gRecorderOwner, owner, left);
  }
}

void CRThreadsRecorderLeave() {
  if (gRecorderOwner.load() != static_cast<uint32_t>(CRCurrentThreadId())) return;
  if (--gRecorderDepth > 0) return;
  gRecorderOwner.store(0);
  futexWakeAll(&gRecorderOwner);
}

pid_t CRThreadsRecorderOwner() { return static_cast<pid_t>(gRecorderOwner.load()); }

bool CRFaultGuardEnter(CRFaultGuard* guard) {
  guard->entered = false;
  if (gRecorderOwner.load() != static_cast<uint32_t>(CRCurrentThreadId())) return false;
  guard->signal = 0;
  guard->previous = gFaultGuard.load();
  gFaultGuard.store(guard);
  guard->entered = true;
  return true;
}

void CRFaultGuardLeave(CRFaultGuard* guard) {
  if (!guard->entered) return;
  guard->entered = false;
  gFaultGuard.store(guard->previous);
}

void CRFaultGuardRecover(int signal, const siginfo_t* info) {
  if (info == nullptr || info->si_code <= 0) return;
  if (signal != SIGSEGV && signal != SIGBUS && signal != SIGILL && signal != SIGFPE) return;
  CRFaultGuard* guard = gFaultGuard.load();
  if (guard == nullptr || gRecorderOwner.load() != static_cast<uint32_t>(CRCurrentThreadId())) return;
  // The jump leaves the handler without sigreturn: the signal stays blocked unless undone.
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
  guard->signal = signal;
  siglongjmp(guard->jump, 1);
}

bool CRThreadsPrepare() {
  mapTables();
  struct sigaction action {};
  action.sa_sigaction = holdHandler;
  sigfillset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
  if (sigaction(CRThreadsHoldSignal(), &action, nullptr) != 0) {
    CRLogWarning("Unable to install the thread holding handler\n");
    return false;
  }
  return true;
}

bool CRProcessInit(CRProcessSnapshot* process, pid_t crashedThread, const void* context) {
  process->task = getpid();
  process->thisThread = CRCurrentThreadId();
  process->crashedThread = crashedThread;
  process->context = context;
  process->threadCount = 0;
  process->omittedThreads = 0;
  process->threads = gThreadIds.load();
  CRUnwindForgetCheckedImages();
  const uint32_t capacity = gCapacity.load();
  const int fd = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    CRLogWarning("Error: unable to get task threads\n");
    return false;
  }
  alignas(8) char buffer[4096];
  for (;;) {
    const long got = syscall(SYS_getdents64, fd, buffer, sizeof(buffer));
    if (got <= 0) break;
    for (long offset = 0; offset < got;) {
      const auto* record = reinterpret_cast<const unsigned char*>(buffer + offset);
      uint16_t length;
      std::memcpy(&length, record + 16, sizeof(length));
      const char* name = reinterpret_cast<const char*>(record + 19);
      pid_t tid = 0;
      bool numeric = *name != '\0';
      for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') numeric = false;
        tid = tid * 10 + (*c - '0');
      }
      if (!numeric) {
        // not a thread
      } else if (process->threadCount < capacity) {
        process->threads[process->threadCount++] = tid;
      } else {
        ++process->omittedThreads;
        // The crashed thread and this one are always recorded: they take the last places.
        const bool mustKeep = tid == crashedThread || tid == process->thisThread;
        for (uint32_t last = capacity; mustKeep && last > 0; --last) {
          const pid_t held = process->threads[last - 1];
          if (held == crashedThread || held == process->thisThread) continue;
          process->threads[last - 1] = tid;
          break;
        }
      }
      offset += length;
    }
  }
  close(fd);
  if (process->omittedThreads > 0) {
    CRLogWarning("%u threads beyond the capacity of %u are not recorded\n", process->omittedThreads, capacity);
  }
  return true;
}

bool CRProcessHoldOtherThreads(CRProcessSnapshot* process) {
  const uint32_t generation = gHoldWord.load() | 1u;
  gSlotCount.store(0);
  gCapturedCount.store(0);
  HoldSlot* slots = gSlots.load();
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    slots[i].tid.store(process->threads[i]);
    slots[i].captured.store(0);
  }
  gSlotCount.store(process->threadCount);
  gHoldWord.store(generation);
  bool allSent = true;
  uint32_t sent = 0;
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    if (process->threads[i] == process->thisThread) continue;
    if (syscall(SYS_tgkill, process->task, process->threads[i], CRThreadsHoldSignal()) == 0) {
      ++sent;
    } else {
      allSent = false;  // the thread has ended, or cannot be signalled
    }
  }
  const int64_t deadline = monotonicNs() + kCaptureDeadlineNs;
  for (uint32_t captured = gCapturedCount.load(); captured < sent; captured = gCapturedCount.load()) {
    const int64_t left = deadline - monotonicNs();
    if (left <= 0) {
      CRLogWarning("Only %u of %u threads answered the hold signal\n", captured, sent);
      break;
    }
    futexWait(&gCapturedCount, captured, left);
  }
  return allSent;
}

bool CRProcessReleaseOtherThreads(CRProcessSnapshot*) {
  const uint32_t generation = gHoldWord.load();
  if ((generation & 1u) != 0) gHoldWord.store(generation + 1);
  futexWakeAll(&gHoldWord);
  return true;
}

bool CRProcessGetThreadState(const CRProcessSnapshot* process, pid_t thread, CRThreadContext* out) {
  if (reinterpret_cast<uintptr_t>(out) < kCRMinimumValidAddress) {
    CRLogError("Invalid context supplied\n");
    return false;
  }
  if (thread == process->crashedThread && process->context != nullptr) {
    CRRegistersFromUserContext(static_cast<const ucontext_t*>(process->context), out);
    return true;
  }
  if (thread == process->thisThread) {
    CRLogWarning("Faking current thread\n");
    *out = CRThreadContext{};
    // This thread: its caller's frame, read from this function's frame (built with frame pointers).
    const auto* frame = static_cast<const uint64_t*>(__builtin_frame_address(0));
    CRRegistersSetPC(out, frame[1]);
    CRRegistersSetFP(out, frame[0]);
    CRRegistersSetSP(out, CRUnwindStackPointerForFramePointer(reinterpret_cast<uint64_t>(frame)));
    return true;
  }
  const uint32_t count = gSlotCount.load();
  const HoldSlot* slots = gSlots.load();
  for (uint32_t i = 0; i < count; ++i) {
    if (slots[i].tid.load() == thread && slots[i].captured.load() != 0) {
      *out = slots[i].registers;
      return true;
    }
  }
  CRLogError("Failed to get thread state for thread: %d\n", static_cast<int>(thread));
  return false;
}

bool CRProcessRecordAllThreads(CRProcessSnapshot* process, CRFile* file) {
  CRFileWriteSectionStart(file, "threads");
  CRFileWriteArrayStart(file);
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    const pid_t thread = process->threads[i];
    CRLogInfo("recording thread %d data\n", static_cast<int>(i));
    CRThreadContext registers;
    const bool haveState = CRProcessGetThreadState(process, thread, &registers);
    const bool crashed = thread == process->crashedThread;
    CRFileWriteHashStart(file);
    uint64_t repeatedPC = 0;
    uint32_t repeatCount = 0;
    if (haveState) {
      CRFileWriteHashKey(file, "registers");
      CRRegistersWrite(file, &registers);
      const bool exact = process->context != nullptr || thread != process->thisThread;
      if (!writeStacktrace(file, &registers, exact, &repeatedPC, &repeatCount)) {
        CRFileWriteHashEntryBoolean(file, "stacktrace_cut", true);
      }
    } else {
      // A thread without state is written empty; the others still follow.
      CRFileWriteHashKey(file, "registers");
      CRFileWriteHashStart(file);
      CRFileWriteHashEnd(file);
      CRFileWriteHashKey(file, "stacktrace");
      CRFileWriteArrayStart(file);
      CRFileWriteArrayEnd(file);
    }
    if (crashed) CRFileWriteHashEntryBoolean(file, "crashed", true);
    if (repeatedPC != 0) {
      CRFileWriteHashEntryUint64(file, "repeated_pc", repeatedPC);
      CRFileWriteHashEntryUint64(file, "repeat_count", repeatCount);
    }
    CRFileWriteHashEnd(file);
  }
  CRFileWriteArrayEnd(file);
  CRFileWriteSectionEnd(file);
  CRLogInfo("Completed recording all thread data\n");
  return true;
}

void CRProcessRecordRuntimeInfo(CRProcessSnapshot*, CRFile* file) {
  CRFileWriteSectionStart(file, "runtime");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryString(file, "objc_selector", "");
  CRFileWriteHashKey(file, "crash_info_entries");
  CRFileWriteArrayStart(file);
  CRContextWritable* writable = crWritableContext;
  for (size_t i = 0; writable != nullptr && i < kCRBinaryImageSlotCount; ++i) {
    const CRBinaryImageSlot& slot = writable->binaryImage.nodes[i];
    if (slot.size.load(std::memory_order_acquire) == 0 || slot.crashInfo < kCRMinimumValidAddress) continue;
    const char* text = nullptr;
    size_t length = 0;
    if (!CRCheckReadableString(reinterpret_cast<const char*>(slot.crashInfo), &text, 256, &length)) {
      CRLogError("Failed to copy crash info string\n");
      continue;
    }
    char copy[257];
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    // A parenthesised UUID is masked.
    for (char* open = std::strchr(copy, '('); open != nullptr; open = std::strchr(open + 1, '(')) {
      char* close = std::strchr(open + 1, ')');
      if (close == nullptr) break;
      if (close - open != 37) continue;
      for (char* c = open + 1; c < close; ++c) {
        if (*c != '-') *c = '*';
      }
      break;
    }
    CRFileWriteArrayEntryHexEncodedString(file, copy);
  }
  CRFileWriteArrayEnd(file);
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
}

void CRProcessWriteQueueNames(CRProcessSnapshot* process, CRFile* file) {
  CRFileWriteSectionStart(file, "dispatch_queue_names");
  CRFileWriteArrayStart(file);
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    char name[129] = "";
    const char* label = platform::ThreadLabelFor(process->threads[i]);
    const char* checked = nullptr;
    size_t length = 0;
    if (label != nullptr && CRCheckReadableString(label, &checked, 128, &length)) {
      std::memcpy(name, checked, length);
      name[length] = '\0';
    }
    CRFileWriteArrayEntryString(file, name);
  }
  CRFileWriteArrayEnd(file);
  CRFileWriteSectionEnd(file);
}

void CRProcessWriteThreadNames(CRProcessSnapshot* process, CRFile* file) {
  CRFileWriteSectionStart(file, "thread_names");
  CRFileWriteArrayStart(file);
  for (uint32_t i = 0; i < process->threadCount; ++i) {
    char path[64];
    char* end = appendText(path, "/proc/self/task/");
    end = appendNumber(end, static_cast<uint64_t>(process->threads[i]));
    end = appendText(end, "/comm");
    *end = '\0';
    char name[64];
    const ssize_t length = readSmallFile(path, name, sizeof(name));
    if (length <= 0) name[0] = '\0';
    if (length > 0 && name[length - 1] == '\n') name[length - 1] = '\0';
    CRFileWriteArrayEntryString(file, name);
  }
  CRFileWriteArrayEnd(file);
  CRFileWriteSectionEnd(file);
}

bool CRProcessRecordStats(CRProcessSnapshot*, CRFile* file) {
  char meminfo[4096];
  char statm[256];
  if (readSmallFile("/proc/meminfo", meminfo, sizeof(meminfo)) <= 0) {
    CRLogWarning("Unable to get process memory usage\n");
    return false;
  }
  rusage usage{};
  if (readSmallFile("/proc/self/statm", statm, sizeof(statm)) <= 0 || getrusage(RUSAGE_SELF, &usage) != 0) {
    CRLogWarning("Unable to get process stats\n");
    return false;
  }
  const uint64_t page = static_cast<uint64_t>(getpagesize());
  uint64_t pages[2] = {0, 0};
  const char* c = statm;
  for (uint64_t& value : pages) {
    while (*c >= '0' && *c <= '9') value = value * 10 + static_cast<uint64_t>(*c++ - '0');
    while (*c == ' ') ++c;
  }
  auto kib = [&meminfo](const char* key) {
    const int64_t value = fieldValue(meminfo, key);
    return value < 0 ? uint64_t{0} : static_cast<uint64_t>(value) * 1024;
  };
  const uint64_t freeBytes = kib("MemFree:");
  CRFileWriteSectionStart(file, "process_stats");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryUint64(file, "active", kib("Active:"));
  CRFileWriteHashEntryUint64(file, "inactive", kib("Inactive:"));
  CRFileWriteHashEntryUint64(file, "wired", kib("Unevictable:"));
  CRFileWriteHashEntryUint64(file, "freeMem", freeBytes);
  CRFileWriteHashEntryUint64(file, "free_mem", freeBytes);
  CRFileWriteHashEntryUint64(file, "virtual", pages[0] * page);
  CRFileWriteHashEntryUint64(file, "resident", pages[1] * page);
  CRFileWriteHashEntryUint64(file, "user_time",
                             static_cast<uint64_t>(usage.ru_utime.tv_sec) * 1000000 + usage.ru_utime.tv_usec);
  CRFileWriteHashEntryUint64(file, "sys_time",
                             static_cast<uint64_t>(usage.ru_stime.tv_sec) * 1000000 + usage.ru_stime.tv_usec);
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
  return true;
}

void CRHostRecordStorage(CRFile* file) {
  CRFileWriteSectionStart(file, "storage");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryUint64(file, "free", 0);
  CRFileWriteHashEntryUint64(file, "total", 0);
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
}

void CRThreadsSetSectionHook(void (*hook)(const char* section)) {
  platform::addProcessStateReset(+[] { gSectionHook = nullptr; });
  gSectionHook = hook;
}

bool CRRecordCrashState(CRFile* file, pid_t crashedThread, const void* context) {
  static CRProcessSnapshot process;  // one recorder at a time (the gate)
  static const char* volatile lastSection = nullptr;
  if (!CRThreadsRecorderTryEnter(kRecorderWaitNs)) return false;
  lastSection = "signal";
  CRFaultGuard guard;
  bool whole = true;
  if (sigsetjmp(guard.jump, 0) == 0) {
    CRFaultGuardEnter(&guard);
    auto after = [](const char* section) {
      lastSection = section;
      if (gSectionHook != nullptr) gSectionHook(section);
    };
    CRProcessInit(&process, crashedThread, context);
    CRProcessHoldOtherThreads(&process);
    CRProcessRecordAllThreads(&process, file);
    after("threads");
    CRProcessRecordRuntimeInfo(&process, file);
    after("runtime");
    CRProcessWriteQueueNames(&process, file);
    after("dispatch_queue_names");
    CRProcessWriteThreadNames(&process, file);
    after("thread_names");
    CRProcessRecordStats(&process, file);
    after("process_stats");
    CRHostRecordStorage(file);
    after("storage");
  } else {
    // A fault while writing: the line in progress is closed as it stands (the reader skips
    // it) and the record says where it stopped.
    whole = false;
    CRFileAbandonLine(file);
    CRFileWriteSectionStart(file, "incomplete");
    CRFileWriteHashStart(file);
    CRFileWriteHashEntryUint64(file, "signal", static_cast<uint64_t>(guard.signal));
    CRFileWriteHashEntryString(file, "after", lastSection);
    CRFileWriteHashEnd(file);
    CRFileWriteSectionEnd(file);
    CRLogWarning("Signal %d while recording after %s: the record is incomplete\n", guard.signal, lastSection);
  }
  CRFaultGuardLeave(&guard);
  CRCreateCrashedMarkerFile();
  const bool released = CRProcessReleaseOtherThreads(&process);
  CRThreadsRecorderLeave();
  return whole && released;
}

bool CRRecordProcessStateOnDemand(CRFile* file, pid_t thread) {
  CRBinaryImageRescan();
  return CRRecordCrashState(file, thread, nullptr);
}
