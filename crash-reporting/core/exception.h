// Uncaught exceptions: the terminate handler, and the "exception" record it writes.
//
// Set-up installs `CRTerminateHandler` with std::set_terminate and keeps the handler that was
// there. When an exception escapes, the handler rethrows it to learn what it was, writes
// exception.crrecord (the "exception" line and the whole process record), hands over to the
// previous handler and aborts, so the process still ends by SIGABRT (which the signal
// handler records as well).
//
// Exception types: 1 "objective-c" (the platform's named exception, platform::Exception),
// 2 "c++", 3 "unknown", 4 "custom" (reported by the app, not fatal).
//
// The "exception" line, one JSON object:
//   {"exception":{"type":"c++","name":"<hex>","reason":"<hex>","time":<s since 1970>,
//                 "frames":[{"pc":..,"symbol":"<hex>","offset":..,"library":"<hex>",
//                            "file":"<hex>","line":..}],"rollouts":[...]}}
// "frames" only when there are frames; "symbol", "library", "file" only when known;
// "rollouts" only when given (written as it stands: a JSON array).
//
// Contract: the terminate handler runs outside signal handlers, on the thread whose
// exception escaped; it allocates (demangling, the queue hop) but writes the record
// unbuffered and ends in abort(). This file is built with exceptions (the handler rethrows).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <typeinfo>

#include "platform/foundation/error.h"

struct CRContextHooks;
struct CRFile;

enum : uint32_t {
  CRExceptionTypeObjectiveC = 1,
  CRExceptionTypeCpp = 2,
  CRExceptionTypeUnknown = 3,
  CRExceptionTypeCustom = 4,
};

const char* CRExceptionNameForType(uint32_t type);
bool CRExceptionTypeIsFatal(uint32_t type);

// One frame of an exception record; null texts are left out.
struct CRExceptionFrame {
  uint64_t pc = 0;
  const char* symbol = nullptr;
  uint64_t offset = 0;
  const char* library = nullptr;
  const char* file = nullptr;
  uint32_t line = 0;
};

// Fills the context's exception hook with `CRExceptionInitialize`.
void CRExceptionFillHooks(CRContextHooks* hooks);
// Resets exception.crrecord, installs the terminate handler (keeping the previous one) and
// zeroes the custom-exception count. Runs in the context's set-up.
bool CRExceptionInitialize();

[[noreturn]] void CRTerminateHandler();
// Rethrows the active exception (whose type is `typeInfo`) and records it.
void CRCatchAndRecordActiveException(const std::type_info* typeInfo);
// Records the platform's named exception (type 1) with the return addresses it captured.
void CRExceptionRecordNSException(const platform::Exception& exception);
// Writes a fatal type's record: on the ".exception" queue, synchronously on the calling
// thread, the "exception" line then the process record with the calling thread as the
// crashed one. Nothing before the context is ready.
void CRExceptionRecordFatal(uint32_t type, const char* name, const char* reason, const CRExceptionFrame* frames,
                            size_t frameCount);
// The "exception" line into `file`.
void CRExceptionWriteSection(CRFile* file, uint32_t type, const char* name, const char* reason,
                             const CRExceptionFrame* frames, size_t frameCount, const char* rollouts,
                             size_t rolloutsLength);

// The readable name of a mangled type name; the mangled name itself when demangling fails.
std::string CRDemangledTypeName(const char* mangledName);

// Console warnings when another terminate handler took ours over (start-up diagnostic).
void CRExceptionWarnForeignHandlers();
