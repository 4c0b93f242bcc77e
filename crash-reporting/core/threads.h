// The process record every crash path writes after its own section: every thread's
// registers and stack, runtime facts, queue and thread names, process statistics, the
// storage placeholder, then the crashed marker.
//
// Threads come from /proc/self/task. Every other thread is held while the record is
// written: a reserved real-time signal, sent with tgkill, runs a handler on that thread that
// copies its registers into a slot of a static table and waits on a futex until released.
// A thread that does not answer within 200 ms (it blocks the signal, say) is still listed,
// with empty registers and stack.
//
// The tables are sized at set-up for the process (`CRThreadsPrepare` maps them once,
// `kCRDefaultThreadCapacity` threads unless set otherwise); threads beyond the capacity are
// counted in the internal log, never dropped silently.
//
// One recorder at a time: a crash and an on-demand record share the holding table, so each
// enters the recorder gate first (`CRThreadsRecorderTryEnter`). The gate is lock-free: a
// compare-and-swap of the owner's thread id and a bounded futex wait for whoever finds it
// taken.
//
// A fault on the thread that owns the gate, inside a `CRFaultGuard` region, does not end
// the process: the fatal-signal handler jumps back to where the region began. The recorder
// guards every thread's stack walk (a walk that faults ends with the frames found so far)
// and the signal handler guards the whole record.
//
// Contract: async-signal-safe, no allocation, no lock (tables mapped at set-up, stack
// buffers, system calls). `CRThreadsPrepare` runs at set-up and installs the holding
// handler.
#pragma once

#include <setjmp.h>
#include <signal.h>
#include <sys/types.h>

#include <cstdint>

#include "crash-reporting/core/registers.h"

struct CRFile;

// Threads a record holds when set-up says nothing else; before `CRThreadsPrepare` has
// mapped the tables, a static table of kCRFallbackThreadCapacity serves.
inline constexpr uint32_t kCRDefaultThreadCapacity = 16384;
inline constexpr uint32_t kCRFallbackThreadCapacity = 512;

struct CRProcessSnapshot {
  pid_t task = 0;
  pid_t thisThread = 0;
  pid_t crashedThread = 0;
  pid_t* threads = nullptr;  // the tables mapped at set-up
  uint32_t threadCount = 0;
  uint32_t omittedThreads = 0;  // listed by the kernel beyond the capacity
  const void* context = nullptr;  // the signal's ucontext_t, or null
};

// The signal that holds threads (a real-time signal the program does not otherwise use).
int CRThreadsHoldSignal();
// Sets the number of threads a record can hold (set-up, before `CRThreadsPrepare`; a later
// Prepare maps the tables again at the new size).
void CRThreadsSetCapacity(uint32_t capacity);
uint32_t CRThreadsCapacity();
// Maps the tables and installs the holding handler (SA_RESTART: the app's system calls are
// not interrupted by it). Set-up; safe to call again.
bool CRThreadsPrepare();

// The recorder gate. True when the calling thread now owns it (or already did: entries
// nest); false when another thread kept it for `waitNs`. Every true is matched by a leave.
bool CRThreadsRecorderTryEnter(int64_t waitNs);
void CRThreadsRecorderLeave();
// The thread that owns the gate, or 0.
pid_t CRThreadsRecorderOwner();

// A region where a fault on the gate's owner comes back to the region's start:
//   CRFaultGuard guard;
//   if (sigsetjmp(guard.jump, 0) == 0) {
//     CRFaultGuardEnter(&guard);
//     ... reads that may fault ...
//   } else {
//     ... recovered: guard.signal is the fault's signal ...
//   }
//   CRFaultGuardLeave(&guard);
// Regions nest. Only the gate's owner can enter one (Enter returns false otherwise, and
// faults then take their normal course).
struct CRFaultGuard {
  sigjmp_buf jump;
  CRFaultGuard* previous = nullptr;
  volatile int signal = 0;
  bool entered = false;
};
bool CRFaultGuardEnter(CRFaultGuard* guard);
void CRFaultGuardLeave(CRFaultGuard* guard);
// Called first by the fatal-signal handler: when the signal is a fault the kernel raised
// (SIGSEGV, SIGBUS, SIGILL, SIGFPE with si_code > 0) and the calling thread is inside a
// region, the signal is unblocked and the region's start is resumed (no return). Otherwise
// (a signal sent from elsewhere, say) returns.
void CRFaultGuardRecover(int signal, const siginfo_t* info);

pid_t CRCurrentThreadId();

// The whole record, inside the recorder gate (it waits for an on-demand record in progress,
// at most 2 s); returns whether it was written and every held thread let go. A fault while
// writing it ends the record with an "incomplete" section and lets the held threads go.
bool CRRecordCrashState(CRFile* file, pid_t crashedThread, const void* context);
// The process record for an on-demand path (not crash time): first brings the image table
// up to date with what the loader has now (libraries loaded or unloaded behind the image
// service's back), then writes the record as a crash does, `thread` marked as the crashed
// one. Other threads are held meanwhile; the gate serialises it with any crash.
bool CRRecordProcessStateOnDemand(CRFile* file, pid_t thread);

bool CRProcessInit(CRProcessSnapshot* process, pid_t crashedThread, const void* context);
bool CRProcessHoldOtherThreads(CRProcessSnapshot* process);
bool CRProcessReleaseOtherThreads(CRProcessSnapshot* process);
bool CRProcessRecordAllThreads(CRProcessSnapshot* process, CRFile* file);
bool CRProcessGetThreadState(const CRProcessSnapshot* process, pid_t thread, CRThreadContext* out);
void CRProcessRecordRuntimeInfo(CRProcessSnapshot* process, CRFile* file);
void CRProcessWriteQueueNames(CRProcessSnapshot* process, CRFile* file);
void CRProcessWriteThreadNames(CRProcessSnapshot* process, CRFile* file);
bool CRProcessRecordStats(CRProcessSnapshot* process, CRFile* file);
void CRHostRecordStorage(CRFile* file);

// Called after each section of the record with its name (nullptr: nothing), at crash time:
// where a test stops a crashing child between sections. Set it before the crash.
void CRThreadsSetSectionHook(void (*hook)(const char* section));
