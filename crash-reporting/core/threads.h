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
// Contract: async-signal-safe, no allocation, no lock (static tables, stack buffers, system
// calls). `CRThreadsPrepare` runs at set-up and installs the holding handler.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "crash-reporting/core/registers.h"

struct CRFile;

inline constexpr uint32_t kCRMaxThreads = 512;

struct CRProcessSnapshot {
  pid_t task = 0;
  pid_t thisThread = 0;
  pid_t crashedThread = 0;
  pid_t threads[kCRMaxThreads] = {};
  uint32_t threadCount = 0;
  const void* context = nullptr;  // the signal's ucontext_t, or null
};

// The signal that holds threads (a real-time signal the program does not otherwise use).
int CRThreadsHoldSignal();
// Installs the holding handler (set-up; safe to call again).
bool CRThreadsPrepare();

pid_t CRCurrentThreadId();

// The whole record; returns whether every held thread was let go.
bool CRRecordCrashState(CRFile* file, pid_t crashedThread, const void* context);

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
