// Contract: the handler path is async-signal-safe, allocates nothing and takes no lock.
#include "crash-reporting/core/signals.h"

#include <dlfcn.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/threads.h"

namespace {

constexpr int kSignalCount = 8;
constexpr int64_t kSecondCrashWaitNs = 10'000'000'000;

// The thread whose crash is being handled (the first to arrive), and whether its handler
// has chained on and is about to return or raise.
std::atomic<pid_t> gCrashingThread{0};
std::atomic<uint32_t> gCrashHandled{0};
// The thread that installed the context's alternate stack (the one whose previous stack is saved).
std::atomic<pid_t> gContextStackThread{0};

int64_t monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1'000'000'000ll + now.tv_nsec;
}

bool installAltStack(void* stack, size_t size, stack_t* previous) {
  stack_t descriptor{};
  descriptor.ss_sp = stack;
  descriptor.ss_size = size;
  descriptor.ss_flags = 0;
  if (sigaltstack(&descriptor, previous) != 0) {
    CRLogWarning("Unable to setup stack (errno %d)\n", errno);
    return false;
  }
  return true;
}

void writeSignalSection(CRFile* file, int signal, const siginfo_t* info, int savedErrno) {
  CRFileWriteSectionStart(file, "signal");
  CRFileWriteHashStart(file);
  if (info != nullptr) {
    const char* name = nullptr;
    const char* codeName = nullptr;
    CRSignalNames(info->si_signo, &name, &codeName);
    CRFileWriteHashEntryUint64(file, "number", static_cast<uint64_t>(info->si_signo));
    CRFileWriteHashEntryInt64(file, "code", info->si_code);
    CRFileWriteHashEntryUint64(file, "address", reinterpret_cast<uint64_t>(info->si_addr));
    CRFileWriteHashEntryString(file, "name", name);
    CRFileWriteHashEntryString(file, "code_name", codeName);
  }
  (void)signal;
  CRFileWriteHashEntryUint64(file, "errno", static_cast<uint32_t>(savedErrno));
  CRFileWriteHashEntryUint64(file, "time", static_cast<uint64_t>(time(nullptr)));
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
}

void recordSignal(int signal, siginfo_t* info, void* context, int savedErrno) {
  if (CRContextSetCrashedOnce()) {
    // Another path (an exception message, the terminate handler) recorded this crash.
    CRLogWarning("Error: aborting signal handler because crash has already occurred\n");
    return;
  }
  CRFile file;
  if (!CRFileInit(&file, crReadOnlyContext->signal.path, false)) {
    CRLogWarning("Unable to open signal file\n");
    return;
  }
  writeSignalSection(&file, signal, info, savedErrno);
  CRRecordCrashState(&file, CRCurrentThreadId(), context);
  CRFileShut(&file);
}

// Whether returning from the handler runs the faulting instruction again, so that the
// signal comes back by itself: true for faults the kernel raised; false for traps (the
// process goes on after the breakpoint), SIGSYS (after the refused call) and signals sent by
// kill, raise or tgkill.
bool returnRaisesAgain(int signal, const siginfo_t* info) {
  if (info == nullptr || info->si_code <= 0) return false;
  return signal != SIGTRAP && signal != SIGSYS;
}

// Ends the handling of `signal` on this thread as the process would without us, once the
// dispositions in force are the previous ones: a fault is left to happen again; anything
// else is sent again to this thread, unblocked, when its action is the default one.
void finishAsWithoutUs(int signal, const siginfo_t* info) {
  if (returnRaisesAgain(signal, info)) return;
  struct sigaction current {};
  if (sigaction(signal, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
  sigset_t unblock;
  sigemptyset(&unblock);
  sigaddset(&unblock, signal);
  pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
  syscall(SYS_tgkill, getpid(), CRCurrentThreadId(), signal);
}

// A second crash while the first is handled: wait (bounded, a futex on the handled word)
// until the first has chained on; the first normally ends the process meanwhile.
void waitForFirstCrash() {
  const int64_t deadline = monotonicNs() + kSecondCrashWaitNs;
  while (gCrashHandled.load() == 0) {
    const int64_t left = deadline - monotonicNs();
    if (left <= 0) {
      CRLogWarning("The first crash was not handled in time\n");
      return;
    }
    timespec timeout{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&gCrashHandled), FUTEX_WAIT_PRIVATE, 0, &timeout, nullptr, 0);
  }
}
}  // namespace

void CRSignalNames(int signal, const char** outName, const char** outCodeName) {
  static constexpr struct {
    int number;
    const char* name;
  } kNames[] = {{SIGILL, "SIGILL"},   {SIGTRAP, "SIGTRAP"}, {SIGABRT, "SIGABRT"}, {SIGFPE, "SIGFPE"},
                {SIGBUS, "SIGBUS"},   {SIGSEGV, "SIGSEGV"}, {SIGSYS, "SIGSYS"},   {SIGTERM, "SIGTERM"}};
  const char* name = "UNKNOWN";
  for (const auto& entry : kNames) {
    if (entry.number == signal) name = entry.name;
  }
  if (outName != nullptr) *outName = name;
  if (outCodeName != nullptr) *outCodeName = signal == SIGABRT ? "ABORT" : nullptr;
}

bool CRSignalInstallContextAlternateStack() {
  CRContextReadOnly* readOnly = crReadOnlyContext;
  if (readOnly == nullptr || readOnly->signalStack == nullptr) return false;
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == readOnly->signalStack) return true;
  if (!installAltStack(readOnly->signalStack, kCRStackSize, &readOnly->signal.originalStack)) return false;
  gContextStackThread.store(CRCurrentThreadId());
  return true;
}

void CRSignalFillHooks(CRContextHooks* hooks) {
  // Every other thread has its own from its start (platform/dispatch/thread_start.h).
  hooks->callingThreadInitialize = [] { CRSignalInstallContextAlternateStack(); };
  hooks->signalInitialize = [] { return CRSignalInitialize(); };
}

bool CRSignalInitialize() {
  CRContextReadOnly* readOnly = crReadOnlyContext;
  if (readOnly == nullptr) return false;
  if (!CRRemoveFileIfPresent(readOnly->signal.path)) {
    CRLogWarning("Unable to reset the signal log file (errno %d)\n", errno);
  }
  CRThreadsPrepare();
  for (int i = 0; i < kSignalCount; ++i) {
    struct sigaction action {};
    action.sa_sigaction = CRSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    struct sigaction previous {};
    std::memset(&readOnly->signal.originalActions[i], 0, sizeof(struct sigaction));
    if (sigaction(kCRHandledSignals[i], &action, &previous) != 0) {
      CRLogWarning("Unable to install handler for %d (errno %d)\n", kCRHandledSignals[i], errno);
      continue;
    }
    if (previous.sa_handler != SIG_DFL || (previous.sa_flags & SA_SIGINFO) != 0) {
      readOnly->signal.originalActions[i] = previous;
    }
  }
  return true;
}

void CRSignalSafeRemoveHandlers(bool includingAbort) {
  for (int signal : kCRHandledSignals) {
    if (!includingAbort && signal == SIGABRT) continue;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    if (sigaction(signal, &action, nullptr) != 0) {
      CRLogWarning("Unable to set default handler for %d (errno %d)\n", signal, errno);
    }
  }
}

bool CRSignalSafeInstallPreexistingHandlers(int signal, siginfo_t* info, void* context) {
  const CRContextReadOnly* readOnly = crReadOnlyContext;
  if (readOnly == nullptr) return false;
  bool success = true;
  CRSignalSafeRemoveHandlers(true);
  if (readOnly->signal.originalStack.ss_sp != nullptr && gContextStackThread.load() == CRCurrentThreadId()) {
    stack_t current{};
    // Replacing the stack we are running on is refused by the kernel; keep it then.
    if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_ONSTACK) == 0) {
      stack_t previous = readOnly->signal.originalStack;
      if (sigaltstack(&previous, nullptr) != 0) {
        CRLogWarning("Unable to setup stack (errno %d)\n", errno);
        success = false;
      }
    }
  }
  for (int i = 0; i < kSignalCount; ++i) {
    const struct sigaction& saved = readOnly->signal.originalActions[i];
    const bool hasAction = saved.sa_handler != nullptr;
    if (hasAction && sigaction(kCRHandledSignals[i], &saved, nullptr) != 0) {
      CRLogWarning("Unable to install handler for %d (errno %d)\n", kCRHandledSignals[i], errno);
      success = false;
    }
    if (signal < 0 || signal != kCRHandledSignals[i]) continue;
    const bool siginfoForm = (saved.sa_flags & SA_SIGINFO) != 0;
    const bool realHandler = hasAction && (siginfoForm || (saved.sa_handler != SIG_IGN && saved.sa_handler != SIG_DFL));
    if (realHandler) {
      sigset_t previousMask;
      pthread_sigmask(SIG_BLOCK, &saved.sa_mask, &previousMask);
      if (siginfoForm) {
        saved.sa_sigaction(signal, info, context);
      } else {
        saved.sa_handler(signal);
      }
      pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    }
  }
  return success;
}

void CRSignalHandler(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  // A fault inside a guarded part of the recorder goes back to it (no return).
  if (reinterpret_cast<uintptr_t>(info) >= 4096) CRFaultGuardRecover(signal, info);
  errno = 0;
  if (reinterpret_cast<uintptr_t>(context) < 4096) context = nullptr;
  if (reinterpret_cast<uintptr_t>(info) < 4096) info = nullptr;
  const pid_t me = CRCurrentThreadId();
  pid_t first = 0;
  if (!gCrashingThread.compare_exchange_strong(first, me)) {
    if (first == me) {
      if (!returnRaisesAgain(signal, info)) {
        // Sent again (or a trap) while this thread handles the crash: the crash ends the
        // process anyway.
        errno = savedErrno;
        return;
      }
      // A fault in the handler itself, outside the guarded record: the default action takes
      // it, so that the process ends by this signal.
      struct sigaction fallback {};
      fallback.sa_handler = SIG_DFL;
      sigaction(signal, &fallback, nullptr);
      finishAsWithoutUs(signal, info);
      errno = savedErrno;
      return;
    }
    // Another thread crashed first: it records and chains; this one waits, its signals
    // open so that it can still be held and described.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
    waitForFirstCrash();
    if (gCrashHandled.load() == 0) {
      // The first never finished: end by this signal rather than hang.
      CRSignalSafeRemoveHandlers(true);
    }
    finishAsWithoutUs(signal, info);
    errno = savedErrno;
    return;
  }
  CRLogWarning("Signal: %d\n", signal);
  // Our handlers stay in place while the record is written, so that a crash on another
  // thread waits for it instead of ending the process; they give way after the record.
  sigset_t all;
  sigfillset(&all);
  if (pthread_sigmask(SIG_UNBLOCK, &all, nullptr) != 0) {
    CRLogWarning("Unable to unmask signals - we risk infinite recursion here\n");
  }
  if (crReadOnlyContext != nullptr) recordSignal(signal, info, context, savedErrno);
  CRSignalSafeInstallPreexistingHandlers(signal, info, context);
  gCrashHandled.store(1);
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&gCrashHandled), FUTEX_WAKE_PRIVATE, INT32_MAX, nullptr, nullptr, 0);
  finishAsWithoutUs(signal, info);
  errno = savedErrno;
}

void CRSignalCheckHandlers() {
  const CRContextReadOnly* readOnly = crReadOnlyContext;
  if (readOnly != nullptr && readOnly->debuggerAttached) {
    CRLogWarning("[Vuzirerered] App is attached to a debugger, to see the crash reports please deattach from the "
                 "debugger, https://example.invalid/docs/test-crash\n");
    return;
  }
  for (int signal : kCRHandledSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0) {
      fprintf(stderr, "Unable to read signal handler\n");
      continue;
    }
    if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == CRSignalHandler) continue;
    const char* name = nullptr;
    CRSignalNames(signal, &name, nullptr);
    Dl_info symbol{};
    const void* handler = reinterpret_cast<const void*>(current.sa_handler);
    const char* symbolName = dladdr(handler, &symbol) != 0 ? symbol.dli_sname : nullptr;
    fprintf(stderr,
            "[Vuzirerered] The signal %s has a non-Vuzirerered handler (%s).  This will interfere with reporting.\n",
            name, symbolName != nullptr ? symbolName : "(null)");
  }
}
