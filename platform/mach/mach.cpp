#include "platform/mach/mach.h"

#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/process_state/process_state.h"

namespace platform::mach {

namespace {

constexpr int kMaxPorts = 64;

// Every field is an atomic: the crash-time entries read and write them without the lock.
// A port's receive descriptor is stored last when it is made (and cleared first when it
// goes), so a reader that sees it sees the rest.
struct PortEntry {
  std::atomic<int> receiveFd{-1};
  std::atomic<int> sendFd{-1};
  std::atomic<bool> sendRight{false};
};

struct ExceptionEntry {
  std::atomic<Port> port{kPortNull};
  std::atomic<uint32_t> behavior{0};
  std::atomic<uint32_t> flavor{0};
};

struct State {
  std::mutex mutex;  // serialises port creation and removal (set-up only)
  PortEntry ports[kMaxPorts];  // name = index + 1
  ExceptionEntry exceptions[32];
};

void forgetPorts();

void clearPort(PortEntry& entry) {
  const int receiveFd = entry.receiveFd.exchange(-1);
  const int sendFd = entry.sendFd.exchange(-1);
  entry.sendRight.store(false);
  if (receiveFd >= 0) close(receiveFd);
  if (sendFd >= 0) close(sendFd);
}

State& state() {
  static State* instance = [] {
    addProcessStateReset(&forgetPorts);
    return new State();
  }();
  return *instance;
}

// Closes every port and empties the exception table, as a fresh process has them.
void forgetPorts() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  for (PortEntry& entry : s.ports) clearPort(entry);
  for (ExceptionEntry& entry : s.exceptions) {
    entry.port.store(kPortNull);
    entry.behavior.store(0);
    entry.flavor.store(0);
  }
}

PortEntry* entryFor(State& s, Port name) {
  if (name == kPortNull || name > kMaxPorts) return nullptr;
  PortEntry* entry = &s.ports[name - 1];
  return entry->receiveFd.load(std::memory_order_acquire) >= 0 ? entry : nullptr;
}

void collect(State& s, uint32_t mask, ExceptionPorts* out) {
  *out = ExceptionPorts{};
  for (int exception = 1; exception < 32; ++exception) {
    if ((mask & maskFor(exception)) == 0) continue;
    const ExceptionEntry& entry = s.exceptions[exception];
    const Port port = entry.port.load();
    const uint32_t behavior = entry.behavior.load();
    const uint32_t flavor = entry.flavor.load();
    bool grouped = false;
    for (uint32_t i = 0; i < out->count; ++i) {
      if (out->ports[i] == port && out->behaviors[i] == behavior && out->flavors[i] == flavor) {
        out->masks[i] |= maskFor(exception);
        grouped = true;
      }
    }
    if (grouped || out->count == kExceptionPortCount) continue;
    out->masks[out->count] = maskFor(exception);
    out->ports[out->count] = port;
    out->behaviors[out->count] = behavior;
    out->flavors[out->count] = flavor;
    ++out->count;
  }
}

}  // namespace

Port TaskSelf() { return kTaskSelf; }
Port ThreadSelf() { return static_cast<Port>(syscall(SYS_gettid)); }

KernReturn PortAllocate(Port task, Port* outName) {
  if (task != kTaskSelf || outName == nullptr) return kInvalidArgument;
  State& s = state();
  std::lock_guard lock(s.mutex);
  for (int i = 0; i < kMaxPorts; ++i) {
    if (s.ports[i].receiveFd.load() >= 0) continue;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return kFailure;
    s.ports[i].sendRight.store(false);
    s.ports[i].sendFd.store(fds[1]);
    s.ports[i].receiveFd.store(fds[0], std::memory_order_release);
    *outName = static_cast<Port>(i + 1);
    return kSuccess;
  }
  return kFailure;
}

KernReturn PortInsertSendRight(Port task, Port name) {
  if (task != kTaskSelf) return kInvalidArgument;
  State& s = state();
  std::lock_guard lock(s.mutex);
  PortEntry* entry = entryFor(s, name);
  if (entry == nullptr) return kInvalidName;
  entry->sendRight.store(true);
  return kSuccess;
}

KernReturn PortDeallocate(Port task, Port name) {
  if (task != kTaskSelf) return kInvalidArgument;
  State& s = state();
  std::lock_guard lock(s.mutex);
  PortEntry* entry = entryFor(s, name);
  if (entry == nullptr) return kInvalidName;
  clearPort(*entry);
  return kSuccess;
}

KernReturn TaskSwapExceptionPorts(Port task, uint32_t mask, Port port, uint32_t behavior, uint32_t flavor,
                                  ExceptionPorts* previous) {
  if (task != kTaskSelf || previous == nullptr) return kInvalidArgument;
  State& s = state();
  const PortEntry* entry = entryFor(s, port);
  if (port != kPortNull && (entry == nullptr || !entry->sendRight.load())) return kInvalidName;
  collect(s, mask, previous);
  for (int exception = 1; exception < 32; ++exception) {
    if ((mask & maskFor(exception)) == 0) continue;
    s.exceptions[exception].behavior.store(behavior);
    s.exceptions[exception].flavor.store(flavor);
    s.exceptions[exception].port.store(port);
  }
  return kSuccess;
}

KernReturn TaskSetExceptionPorts(Port task, uint32_t mask, Port port, uint32_t behavior, uint32_t flavor) {
  ExceptionPorts ignored;
  return TaskSwapExceptionPorts(task, mask, port, behavior, flavor, &ignored);
}

KernReturn TaskGetExceptionPorts(Port task, uint32_t mask, ExceptionPorts* current) {
  if (task != kTaskSelf || current == nullptr) return kInvalidArgument;
  collect(state(), mask, current);
  return kSuccess;
}

KernReturn Receive(Port name, void* message, uint32_t size) {
  State& s = state();
  if (name == kPortNull || name > kMaxPorts) return kReceiveError;
  const int fd = s.ports[name - 1].receiveFd.load(std::memory_order_acquire);
  if (fd < 0) return kReceiveError;
  for (;;) {
    const ssize_t got = recv(fd, message, size, 0);
    if (got < 0 && errno == EINTR) continue;
    return got == static_cast<ssize_t>(size) ? kSuccess : kReceiveError;
  }
}

namespace {

KernReturn sendTo(Port destination, const void* message, uint32_t size) {
  State& s = state();
  if (destination == kPortNull || destination > kMaxPorts) return kSendError;
  const int fd = s.ports[destination - 1].sendFd.load(std::memory_order_acquire);
  if (fd < 0) return kSendError;
  for (;;) {
    const ssize_t sent = send(fd, message, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    return sent == static_cast<ssize_t>(size) ? kSuccess : kSendError;
  }
}

}  // namespace

KernReturn Send(const void* message, uint32_t size) {
  MessageHeader header;
  std::memcpy(&header, message, sizeof(header));
  return sendTo(header.remotePort, message, size);
}

KernReturn RaiseException(Port task, pid_t thread, int exception, const int64_t* codes, uint32_t codeCount) {
  ExceptionPorts registered;
  if (exception <= 0 || exception >= 32) return kInvalidArgument;
  TaskGetExceptionPorts(kTaskSelf, maskFor(exception), &registered);
  if (registered.count == 0 || registered.ports[0] == kPortNull) return kFailure;
  Port replyPort = kPortNull;
  if (PortAllocate(kTaskSelf, &replyPort) != kSuccess || PortInsertSendRight(kTaskSelf, replyPort) != kSuccess) {
    return kFailure;
  }
  ExceptionRequest request;
  request.header.bits = 0x80001112;  // complex, send-once reply, copy-send
  request.header.size = sizeof(request);
  // As the server receives it: the remote port is where the reply goes, the local port the
  // exception port it came in on.
  request.header.remotePort = replyPort;
  request.header.localPort = registered.ports[0];
  request.header.id = 2405;
  request.thread.name = static_cast<Port>(thread);
  request.task.name = task;
  request.exception = exception;
  request.codeCount = codeCount;
  for (uint32_t i = 0; i < codeCount && i < 2; ++i) request.codes[i] = codes[i];
  KernReturn result = sendTo(registered.ports[0], &request, sizeof(request));
  if (result == kSuccess) {
    ExceptionReply reply;
    result = Receive(replyPort, &reply, sizeof(reply));
    if (result == kSuccess) result = reply.header.id == request.header.id + 100 ? reply.returnCode : kFailure;
  }
  PortDeallocate(kTaskSelf, replyPort);
  return result;
}

std::mutex& testing::PortTableLock() { return state().mutex; }

}  // namespace platform::mach
