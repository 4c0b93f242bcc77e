// Contract: the server path is async-signal-safe, allocates nothing and takes no lock.
#include "crash-reporting/core/mach_exception.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/signals.h"
#include "crash-reporting/core/threads.h"
#include "platform/dispatch/thread_start.h"

namespace mach = platform::mach;

namespace {

constexpr char kServerThreadName[] = "raz.ovevar.uvivarud.ezivezireze.MachExceptionServer";

mach::ExceptionPorts savedPorts(const CRContextReadOnly* readOnly) {
  mach::ExceptionPorts ports;
  ports.count = readOnly->machException.count;
  for (uint32_t i = 0; i < ports.count && i < mach::kExceptionPortCount; ++i) {
    ports.masks[i] = readOnly->machException.masks[i];
    ports.ports[i] = readOnly->machException.ports[i];
    ports.behaviors[i] = readOnly->machException.behaviors[i];
    ports.flavors[i] = readOnly->machException.flavors[i];
  }
  return ports;
}

bool record(const mach::ExceptionRequest& request) {
  const CRContextReadOnly* readOnly = crReadOnlyContext;
  if (CRContextSetCrashedOnce()) {
    CRLogWarning("Error: aborting mach exception handler because crash has already occurred\n");
    _exit(1);
  }
  CRFile file;
  if (!CRFileInit(&file, readOnly->machException.path, false)) {
    CRLogWarning("Unable to open mach exception file\n");
    return false;
  }
  // The message holds room for two codes, whatever count it claims.
  const uint32_t codeCount = request.codeCount < 2 ? request.codeCount : 2;
  const char* name = nullptr;
  const char* codeName = nullptr;
  CRMachExceptionNames(request.exception, codeCount > 0 ? request.codes[0] : 0, &name, &codeName);
  CRFileWriteSectionStart(&file, "mach_exception");
  CRFileWriteHashStart(&file);
  CRFileWriteHashEntryUint64(&file, "exception", static_cast<uint32_t>(request.exception));
  CRFileWriteHashKey(&file, "codes");
  CRFileWriteArrayStart(&file);
  for (uint32_t i = 0; i < codeCount; ++i) CRFileWriteArrayEntryUint64(&file, static_cast<uint64_t>(request.codes[i]));
  CRFileWriteArrayEnd(&file);
  CRFileWriteHashEntryString(&file, "name", name);
  CRFileWriteHashEntryString(&file, "code_name", codeName);
  CRFileWriteHashEntryUint64(&file, "original_ports", readOnly->machException.count);
  CRFileWriteHashEntryUint64(&file, "time", static_cast<uint64_t>(time(nullptr)));
  CRFileWriteHashEnd(&file);
  CRFileWriteSectionEnd(&file);
  CRRecordCrashState(&file, static_cast<pid_t>(request.thread.name), nullptr);
  CRFileShut(&file);
  return true;
}

mach::KernReturn dispatch(const mach::ExceptionRequest& request) {
  const CRContextReadOnly* readOnly = crReadOnlyContext;
  CRLogWarning("Mach exception: 0x%x, count: %d\n", static_cast<unsigned>(request.exception),
               static_cast<int>(request.codeCount));
  if (request.task.name != mach::TaskSelf()) {
    CRLogWarning("Mach exception task mis-match, returning failure\n");
    return mach::kFailure;
  }
  CRLogWarning("Unregistering handler\n");
  const mach::ExceptionPorts saved = savedPorts(readOnly);
  if (!CRMachExceptionUnregister(&saved, readOnly->machException.mask)) {
    CRLogWarning("Failed to unregister\n");
    return mach::kFailure;
  }
  CRLogWarning("Restoring original signal handlers\n");
  if (!CRSignalSafeInstallPreexistingHandlers(-1, nullptr, nullptr)) {
    CRLogWarning("Failed to restore signal handlers\n");
    return mach::kFailure;
  }
  CRLogWarning("Recording mach exception\n");
  if (!record(request)) {
    CRLogWarning("Failed to record mach exception\n");
    return mach::kFailure;
  }
  return mach::kSuccess;
}

// The context comes as the thread's argument: read from the global when the thread first runs,
// it could already be gone (a test tearing crash reporting down before the thread was scheduled).
void* serve(void* argument) {
  char name[16];
  std::memcpy(name, kServerThreadName, sizeof(name) - 1);  // thread names hold 15 characters
  name[sizeof(name) - 1] = '\0';
  pthread_setname_np(pthread_self(), name);
  platform::EnsureThreadSignalStack();  // where the process's pthread_create gave it none
  const auto* readOnly = static_cast<const CRContextReadOnly*>(argument);
  for (;;) {
    mach::ExceptionRequest request;
    const mach::KernReturn received = mach::Receive(readOnly->machException.port, &request, sizeof(request));
    if (received != mach::kSuccess) {
      CRLogWarning("Error receiving mach_msg (%d)\n", received);
      break;
    }
    CRLogWarning("Accepted mach exception message\n");
    mach::ExceptionReply reply;
    reply.header.bits = request.header.bits & 0x1F;
    reply.header.size = sizeof(reply);
    reply.header.remotePort = request.header.remotePort;
    reply.header.localPort = mach::kPortNull;
    reply.header.id = request.header.id + 100;
    reply.returnCode = dispatch(request);
    CRLogWarning("Sending exception reply\n");
    const mach::KernReturn sent = mach::Send(&reply, sizeof(reply));
    if (sent != mach::kSuccess) {
      CRLogWarning("mach_msg reply failed (%d)\n", sent);
      break;
    }
    CRLogWarning("Exception reply delivered\n");
  }
  CRLogWarning("Mach exception server thread exiting\n");
  return nullptr;
}

bool registerPort(CRContextReadOnly* readOnly) {
  mach::Port port = mach::kPortNull;
  mach::KernReturn result = mach::PortAllocate(mach::TaskSelf(), &port);
  if (result != mach::kSuccess) {
    CRLogWarning("Error: mach_port_allocate failed %d\n", result);
    return false;
  }
  result = mach::PortInsertSendRight(mach::TaskSelf(), port);
  if (result != mach::kSuccess) {
    CRLogWarning("Error: mach_port_insert_right failed %d\n", result);
    mach::PortDeallocate(mach::TaskSelf(), port);
    return false;
  }
  readOnly->machException.port = port;
  readOnly->machException.mask = kCRMachExceptionMask;
  mach::ExceptionPorts previous;
  result = mach::TaskSwapExceptionPorts(mach::TaskSelf(), kCRMachExceptionMask, port, kCRMachExceptionBehavior,
                                        kCRMachExceptionFlavor, &previous);
  if (result != mach::kSuccess) {
    CRLogWarning("Error: task_swap_exception_ports %d\n", result);
    return false;
  }
  readOnly->machException.count = previous.count;
  for (uint32_t i = 0; i < previous.count; ++i) {
    readOnly->machException.masks[i] = previous.masks[i];
    readOnly->machException.ports[i] = previous.ports[i];
    readOnly->machException.behaviors[i] = previous.behaviors[i];
    readOnly->machException.flavors[i] = previous.flavors[i];
    CRLogWarning("original 0x%x 0x%x 0x%x 0x%x\n", previous.masks[i], previous.ports[i], previous.behaviors[i],
                 previous.flavors[i]);
  }
  return true;
}

bool startThread(CRContextReadOnly* readOnly) {
  pthread_attr_t attributes;
  int error = pthread_attr_init(&attributes);
  if (error != 0) {
    CRLogWarning("pthread_attr_init %s\n", strerror(error));
    return false;
  }
  bool started = false;
  pthread_t thread;
  if ((error = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED)) != 0) {
    CRLogWarning("pthread_attr_setdetachstate %s\n", strerror(error));
  } else if ((error = pthread_attr_setstack(&attributes, readOnly->machStack, kCRStackSize)) != 0) {
    CRLogWarning("pthread_attr_setstack %s\n", strerror(error));
  } else if ((error = pthread_create(&thread, &attributes, serve, readOnly)) != 0) {
    CRLogWarning("pthread_create %s\n", strerror(error));
  } else {
    readOnly->machException.thread = static_cast<uintptr_t>(thread);
    started = true;
  }
  pthread_attr_destroy(&attributes);
  return started;
}

}  // namespace

void CRMachExceptionFillHooks(CRContextHooks* hooks) {
  hooks->machExceptionInitialize = [] { return CRMachExceptionInit(); };
}

bool CRMachExceptionInit() {
  CRContextReadOnly* readOnly = crReadOnlyContext;
  if (readOnly == nullptr) return false;
  if (!CRRemoveFileIfPresent(readOnly->machException.path)) {
    CRLogWarning("Unable to reset the mach exception file %s\n", strerror(errno));
  }
  CRThreadsPrepare();
  if (!registerPort(readOnly)) {
    CRLogWarning("Unable to register mach exception handler\n");
    return false;
  }
  if (!startThread(readOnly)) {
    const mach::ExceptionPorts saved = savedPorts(readOnly);
    CRMachExceptionUnregister(&saved, readOnly->machException.mask);
    CRLogWarning("Unable to start thread\n");
    return false;
  }
  return true;
}

bool CRMachExceptionUnregister(const mach::ExceptionPorts* saved, uint32_t mask) {
  for (uint32_t i = 0; i < saved->count; ++i) {
    if (mach::TaskSetExceptionPorts(mach::TaskSelf(), saved->masks[i], saved->ports[i], saved->behaviors[i],
                                    saved->flavors[i]) != mach::kSuccess) {
      CRLogWarning("unable to restore original port: %d", static_cast<int>(saved->ports[i]));
    }
    mask &= ~saved->masks[i];
  }
  if (mask != 0 && mach::TaskSetExceptionPorts(mach::TaskSelf(), mask, mach::kPortNull, kCRMachExceptionBehavior,
                                               kCRMachExceptionFlavor) != mach::kSuccess) {
    CRLogWarning("unable to unset unregistered mask: 0x%x", mask);
    return false;
  }
  return true;
}

void CRMachExceptionNames(int exception, int64_t code, const char** outName, const char** outCodeName) {
  const char* name = nullptr;
  const char* codeName = nullptr;
  switch (exception) {
    case mach::kExcBadAccess:
      name = "EXC_BAD_ACCESS";
      if (code == 1) codeName = "KERN_INVALID_ADDRESS";
      if (code == 2) codeName = "KERN_PROTECTION_FAILURE";
      break;
    case mach::kExcBadInstruction: name = "EXC_BAD_INSTRUCTION"; break;
    case mach::kExcArithmetic: name = "EXC_ARITHMETIC"; break;
    case mach::kExcBreakpoint: name = "EXC_BREAKPOINT"; break;
    case mach::kExcGuard: name = "EXC_GUARD"; break;
    default: break;
  }
  if (outName != nullptr) *outName = name;
  if (outCodeName != nullptr) *outCodeName = codeName;
}

void CRMachExceptionWarnForeignHandlers() {
  const CRContextReadOnly* readOnly = crReadOnlyContext;
  (void)(readOnly != nullptr && readOnly->debuggerAttached);
}
