// A stand-in for the kernel's exception ports, for code that serves exception messages.
// Linux has no such ports: here a port is a socketpair(SOCK_SEQPACKET) (the receive right
// reads one end, a send right writes the other), the task keeps a table of 14 exception
// ports by exception mask, the task port is a constant and a thread port is the thread's
// kernel id. A test driver plays the kernel with `RaiseException`: it sends the 92-byte
// request to the port registered for that exception and waits for the 36-byte reply.
//
// Threads: making and removing ports is serialised by a mutex (set-up and tests). What a
// crash-time server thread calls takes no lock: `Receive` and `Send` only read and write a
// descriptor, and the exception-port calls (`TaskSwapExceptionPorts`, `TaskSetExceptionPorts`,
// `TaskGetExceptionPorts`) read and store atomic table entries, so a crash that comes while
// another thread holds the mutex cannot stop them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <mutex>

namespace platform::mach {

using Port = uint32_t;
using KernReturn = int32_t;

inline constexpr Port kTaskSelf = 0x103;
inline constexpr Port kPortNull = 0;
inline constexpr KernReturn kSuccess = 0;
inline constexpr KernReturn kInvalidArgument = 4;
inline constexpr KernReturn kFailure = 5;
inline constexpr KernReturn kInvalidName = 15;
inline constexpr KernReturn kReceiveError = 0x10004003;
inline constexpr KernReturn kSendError = 0x10000003;
inline constexpr int kExceptionPortCount = 14;

inline constexpr int kExcBadAccess = 1;
inline constexpr int kExcBadInstruction = 2;
inline constexpr int kExcArithmetic = 3;
inline constexpr int kExcBreakpoint = 6;
inline constexpr int kExcGuard = 12;

#pragma pack(push, 4)
struct MessageHeader {
  uint32_t bits = 0;
  uint32_t size = 0;
  Port remotePort = 0;
  Port localPort = 0;
  Port voucherPort = 0;
  int32_t id = 0;
};
struct PortDescriptor {
  Port name = 0;
  uint32_t pad1 = 0;
  uint16_t pad2 = 0;
  uint8_t disposition = 0;
  uint8_t type = 0;
};
struct NDRRecord {
  uint8_t bytes[8] = {0, 0, 0, 0, 1, 0, 0, 0};
};
struct ExceptionRequest {
  MessageHeader header;
  uint32_t descriptorCount = 2;
  PortDescriptor thread;
  PortDescriptor task;
  NDRRecord ndr;
  int32_t exception = 0;
  uint32_t codeCount = 0;
  int64_t codes[2] = {0, 0};
  uint8_t trailer[8] = {};
};
struct ExceptionReply {
  MessageHeader header;
  NDRRecord ndr;
  KernReturn returnCode = 0;
};
#pragma pack(pop)
static_assert(sizeof(ExceptionRequest) == 92);
static_assert(sizeof(ExceptionReply) == 36);

// Exception masks: 1 << exception.
inline constexpr uint32_t maskFor(int exception) { return 1u << exception; }

struct ExceptionPorts {
  uint32_t count = 0;
  uint32_t masks[kExceptionPortCount] = {};
  Port ports[kExceptionPortCount] = {};
  uint32_t behaviors[kExceptionPortCount] = {};
  uint32_t flavors[kExceptionPortCount] = {};
};

Port TaskSelf();
Port ThreadSelf();  // the calling thread's kernel id

// A new port with a receive right.
KernReturn PortAllocate(Port task, Port* outName);
// Adds a send right made from the receive right.
KernReturn PortInsertSendRight(Port task, Port name);
KernReturn PortDeallocate(Port task, Port name);

// Sets the port for every exception in `mask`, returning what was there before, grouped by
// identical (port, behaviour, flavour) as the kernel does.
KernReturn TaskSwapExceptionPorts(Port task, uint32_t mask, Port port, uint32_t behavior, uint32_t flavor,
                                  ExceptionPorts* previous);
KernReturn TaskSetExceptionPorts(Port task, uint32_t mask, Port port, uint32_t behavior, uint32_t flavor);
KernReturn TaskGetExceptionPorts(Port task, uint32_t mask, ExceptionPorts* current);

// Blocks until a message of exactly `size` bytes arrives on the receive right `name`.
KernReturn Receive(Port name, void* message, uint32_t size);
// Sends `size` bytes to the port the header's remote port names.
KernReturn Send(const void* message, uint32_t size);

// The driver's side: sends the request for `exception` raised on `thread` (as `task`) to
// the registered port and waits for the reply; the reply's return code, or kFailure when
// no port is registered or the reply does not come.
KernReturn RaiseException(Port task, pid_t thread, int exception, const int64_t* codes, uint32_t codeCount);

namespace testing {
// The mutex that serialises port creation, for tests that hold it across a crash.
std::mutex& PortTableLock();
}  // namespace testing

}  // namespace platform::mach
