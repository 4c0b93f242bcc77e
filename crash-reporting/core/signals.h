// The fatal-signal handler: catches SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS,
// SIGTRAP and SIGTERM on an alternate stack, writes `signal.crrecord` with the process
// record (threads.h), puts back the handlers that were there before and passes the signal
// on to the previous handler.
//
// What a crash must survive:
// - one record per process: the first crashing thread owns the crash; a crash on a second
//   thread waits on a futex (at most 10 s) until the first has recorded and chained, so the
//   process ends by the first thread's signal; the second then ends as it would without us;
// - a fault inside the record comes back to the recorder's fault guard (threads.h): the
//   record says it is incomplete, and the crash still chains on; a signal sent again to the
//   crashing thread meanwhile is let be;
// - only a real previous handler is called (never a saved SIG_IGN or SIG_DFL), once, in the
//   form it was installed with, with its mask blocked;
// - the process ends by its signal as it would without us: a fault the kernel raised happens
//   again when the handler returns; a trap, SIGSYS and a sent signal (si_code <= 0), which
//   returning would not raise again, are sent again with tgkill when the restored action is
//   the default;
// - the previous alternate stack is not put back while this one is in use;
// - every thread that may crash has an alternate stack of its own: the context's on the
//   thread that sets it up; every other thread has its own from its start, whoever started
//   it and whether it started before set-up or after (platform/dispatch/thread_start.h).
//
// Contract: the handler and everything it calls are async-signal-safe, allocate nothing and
// take no lock. Set-up functions (`CRSignalInitialize`, `CRSignalCheckHandlers`) are
// ordinary code.
#pragma once

#include <signal.h>

inline constexpr int kCRHandledSignals[8] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGSYS, SIGTRAP, SIGTERM};

struct CRContextHooks;
// Fills the context's hooks that install signal capture.
void CRSignalFillHooks(CRContextHooks* hooks);
// Installs the handlers (set-up block, after the signal path is stored).
bool CRSignalInitialize();
// Installs the context's signal stack on the calling thread (the thread that sets the
// context up).
bool CRSignalInstallContextAlternateStack();

void CRSignalHandler(int signal, siginfo_t* info, void* context);
void CRSignalSafeRemoveHandlers(bool includingAbort);
bool CRSignalSafeInstallPreexistingHandlers(int signal, siginfo_t* info, void* context);
void CRSignalCheckHandlers();
// "SIGSEGV" and so on (a table built from the constants), "UNKNOWN" otherwise; the code
// name is "ABORT" for SIGABRT, null otherwise.
void CRSignalNames(int signal, const char** outName, const char** outCodeName);
