// The exception-message server: registers a port for the task's hardware exceptions (on
// the port stand-in of platform/mach), serves them on a thread of its own that runs on the
// context's Mach stack, writes `mach_exception.crrecord` with the process record, gives the
// previous exception ports and signal handlers back, and answers 0 (recorded) or 5.
//
// Real crashes on Linux arrive as signals only; this server answers whoever plays the
// kernel on the stand-in.
//
// Contract: the server loop and everything it calls at crash time (dispatch, record,
// reply) are async-signal-safe, allocate nothing and take no lock; registration and the
// thread start are set-up code.
#pragma once

#include <cstdint>

#include "platform/mach/mach.h"

struct CRContextHooks;

inline constexpr uint32_t kCRMachExceptionMask = 0x104E;
inline constexpr uint32_t kCRMachExceptionBehavior = 0x80000001;
inline constexpr uint32_t kCRMachExceptionFlavor = 5;

// Fills the context's hook that installs the server.
void CRMachExceptionFillHooks(CRContextHooks* hooks);
bool CRMachExceptionInit();
bool CRMachExceptionUnregister(const platform::mach::ExceptionPorts* saved, uint32_t mask);
void CRMachExceptionNames(int exception, int64_t code, const char** outName, const char** outCodeName);
void CRMachExceptionWarnForeignHandlers();
