// Contract: the terminate handler allocates and takes the ".exception" queue; the record
// itself is written unbuffered through CRFile and the process recorder.
#include "crash-reporting/core/exception.h"

#include <cxxabi.h>

#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/threads.h"
#include "crash-reporting/core/utilities.h"
#include "platform/dispatch/queue.h"
#include "platform/process_state/process_state.h"

namespace {

constexpr uintptr_t kInvalidPointerLimit = 4096;

// The handler that was in place before ours, for the process state's reset.
std::terminate_handler gInstalledOver = nullptr;

void restoreTerminateHandler() {
  if (std::get_terminate() == CRTerminateHandler) std::set_terminate(gInstalledOver);
  gInstalledOver = nullptr;
}

// A text that may come from a broken object: a pointer below 4096 reads as "".
const char* safeText(const char* text) {
  return reinterpret_cast<uintptr_t>(text) < kInvalidPointerLimit ? "" : text;
}

void recordCpp(const std::string& name, const char* reason) {
  CRExceptionRecordFatal(CRExceptionTypeCpp, name.c_str(), safeText(reason), nullptr, 0);
}

}  // namespace

const char* CRExceptionNameForType(uint32_t type) {
  switch (type) {
    case CRExceptionTypeObjectiveC:
      return "objective-c";
    case CRExceptionTypeCpp:
      return "c++";
    case CRExceptionTypeCustom:
      return "custom";
    default:
      return "unknown";
  }
}

bool CRExceptionTypeIsFatal(uint32_t type) { return type == CRExceptionTypeObjectiveC || type == CRExceptionTypeCpp; }

void CRExceptionFillHooks(CRContextHooks* hooks) {
  hooks->exceptionInitialize = [] { return CRExceptionInitialize(); };
}

bool CRExceptionInitialize() {
  CRContextReadOnly* readOnly = crReadOnlyContext;
  if (readOnly == nullptr || crWritableContext == nullptr) return false;
  if (!CRRemoveFileIfPresent(readOnly->exception.path)) {
    CRLogWarning("Unable to reset the exception file %s\n", readOnly->exception.path);
  }
  platform::addProcessStateReset(&restoreTerminateHandler);
  const std::terminate_handler previous = std::set_terminate(CRTerminateHandler);
  if (previous != CRTerminateHandler) gInstalledOver = previous;
  readOnly->exception.originalTerminateHandler = previous;
  crWritableContext->exception.customExceptionCount = 0;
  return true;
}

void CRTerminateHandler() {
  CRLogWarning("C++ terminate handler invoked\n");
  std::terminate_handler previous =
      crReadOnlyContext != nullptr ? crReadOnlyContext->exception.originalTerminateHandler : nullptr;
  if (previous == CRTerminateHandler) {
    CRLogWarning("Error: original handler was set recursively\n");
    previous = nullptr;
  }
  if (previous != nullptr) {
    CRLogWarning("restoring pre-existing handler\n");
    if (std::set_terminate(previous) == previous) {
      CRLogWarning("handler has already been restored, aborting\n");
      std::abort();
    }
  }
  CRCatchAndRecordActiveException(abi::__cxa_current_exception_type());
  if (previous != nullptr) {
    CRLogWarning("invoking pre-existing handler\n");
    previous();
  }
  CRLogWarning("aborting\n");
  std::abort();
}

void CRCatchAndRecordActiveException(const std::type_info* typeInfo) {
  if (typeInfo == nullptr) {
    CRLogWarning("no active exception\n");
    return;
  }
  if (reinterpret_cast<uintptr_t>(typeInfo) < kInvalidPointerLimit) {
    CRLogWarning("Error: invalid parameter\n");
    return;
  }
  CRLogWarning("Recording exception of type '%s'\n", typeInfo->name());
  try {
    throw;
  } catch (const platform::Exception& exception) {
    CRExceptionRecordNSException(exception);
  } catch (const char* text) {
    recordCpp("const char *", text);
  } catch (const std::string& text) {
    recordCpp("std::string", text.c_str());
  } catch (const std::exception& exception) {
    // std::bad_alloc lands here too, named by its type.
    recordCpp(CRDemangledTypeName(typeid(exception).name()), exception.what());
  } catch (const std::exception* exception) {
    if (reinterpret_cast<uintptr_t>(exception) < kInvalidPointerLimit) {
      recordCpp(CRDemangledTypeName(typeInfo->name()), "");
    } else {
      recordCpp(CRDemangledTypeName(typeid(*exception).name()), exception->what());
    }
  } catch (...) {
    recordCpp(CRDemangledTypeName(typeInfo->name()), "");
  }
}

void CRExceptionRecordNSException(const platform::Exception& exception) {
  CRLogWarning("Recording an NSException\n");
  const auto& addresses = exception.callStackReturnAddresses();
  std::vector<CRExceptionFrame> frames(addresses.size());
  for (size_t i = 0; i < addresses.size(); ++i) frames[i].pc = addresses[i];
  CRExceptionRecordFatal(CRExceptionTypeObjectiveC, exception.name().c_str(), exception.reason().c_str(),
                         frames.data(), frames.size());
}

void CRExceptionRecordFatal(uint32_t type, const char* name, const char* reason, const CRExceptionFrame* frames,
                            size_t frameCount) {
  if (!CRContextIsReady()) return;
  CRLogWarning("Recording an exception structure (%d)\n", CRExceptionTypeIsFatal(type) ? 1 : 0);
  const pid_t thread = CRCurrentThreadId();
  auto record = [&] {
    CRFile file;
    if (!CRFileInit(&file, crReadOnlyContext->exception.path, false)) {
      CRLogWarning("Unable to open exception file\n");
      return;
    }
    CRExceptionWriteSection(&file, type, name, reason, frames, frameCount, nullptr, 0);
    CRRecordCrashState(&file, thread, nullptr);
    CRFileShut(&file);
  };
  // Two threads terminating at once write one after the other. A serial queue's sync runs
  // the block on this very thread, so the record names it as the crashed one.
  const auto queue = CRContextExceptionQueue();
  if (queue && !queue->isCurrent()) {
    queue->sync(record);
  } else {
    record();
  }
  CRLogWarning("Finished recording an exception structure\n");
}

void CRExceptionWriteSection(CRFile* file, uint32_t type, const char* name, const char* reason,
                             const CRExceptionFrame* frames, size_t frameCount, const char* rollouts,
                             size_t rolloutsLength) {
  CRFileWriteSectionStart(file, "exception");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryString(file, "type", CRExceptionNameForType(type));
  CRFileWriteHashEntryHexEncodedString(file, "name", name);
  CRFileWriteHashEntryHexEncodedString(file, "reason", reason);
  CRFileWriteHashEntryUint64(file, "time", static_cast<uint64_t>(::time(nullptr)));
  if (frames != nullptr && frameCount > 0) {
    CRFileWriteHashKey(file, "frames");
    CRFileWriteArrayStart(file);
    for (size_t i = 0; i < frameCount; ++i) {
      const CRExceptionFrame& frame = frames[i];
      CRFileWriteHashStart(file);
      CRFileWriteHashEntryUint64(file, "pc", frame.pc);
      if (frame.symbol != nullptr) CRFileWriteHashEntryHexEncodedString(file, "symbol", frame.symbol);
      CRFileWriteHashEntryUint64(file, "offset", frame.offset);
      if (frame.library != nullptr) CRFileWriteHashEntryHexEncodedString(file, "library", frame.library);
      if (frame.file != nullptr) CRFileWriteHashEntryHexEncodedString(file, "file", frame.file);
      CRFileWriteHashEntryUint64(file, "line", frame.line);
      CRFileWriteHashEnd(file);
    }
    CRFileWriteArrayEnd(file);
  }
  if (rollouts != nullptr) {
    CRFileWriteHashKey(file, "rollouts");
    CRFileWriteRaw(file, rollouts, rolloutsLength);
    file->needComma = true;
  }
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
}

std::string CRDemangledTypeName(const char* mangledName) {
  if (mangledName == nullptr) return {};
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(mangledName, nullptr, nullptr, &status),
                                                        &std::free);
  if (status != 0 || demangled == nullptr) return mangledName;
  return demangled.get();
}

void CRExceptionWarnForeignHandlers() {
  if (crReadOnlyContext != nullptr && crReadOnlyContext->debuggerAttached) return;
  const std::terminate_handler current = std::get_terminate();
  if (current == CRTerminateHandler) return;
  CRLookupSymbol(reinterpret_cast<const void*>(current), [](const char* symbol, const char* image) {
    CRConsoleWarning("Warning: std::get_terminate is '%s' in '%s'", symbol ? symbol : "unknown",
                     image ? image : "unknown");
  });
}
