// Contract: async-signal-safe (process_vm_readv, pipe, read, write), no allocation, no lock.
#include "crash-reporting/core/safe_memory.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/process_state/process_state.h"

namespace {

std::atomic<int> pipeRead{-1};
std::atomic<int> pipeWrite{-1};
std::atomic<bool> pipeBusy{false};
std::atomic<bool> vmReadRefused{false};

constexpr size_t kPipeChunk = 4096;  // no more than the pipe holds in one go

bool copyThroughPipe(const char* source, char* destination, size_t length) {
  const int readEnd = pipeRead.load();
  const int writeEnd = pipeWrite.load();
  if (readEnd < 0 || writeEnd < 0) return false;
  if (pipeBusy.exchange(true)) return false;
  bool ok = true;
  while (ok && length > 0) {
    const size_t chunk = length < kPipeChunk ? length : kPipeChunk;
    ssize_t written;
    do {
      written = write(writeEnd, source, chunk);
    } while (written < 0 && errno == EINTR);
    if (written <= 0) {
      ok = false;
      break;
    }
    size_t got = 0;
    while (got < static_cast<size_t>(written)) {
      const ssize_t part = read(readEnd, destination + got, static_cast<size_t>(written) - got);
      if (part < 0 && errno == EINTR) continue;
      if (part <= 0) {
        ok = false;
        break;
      }
      got += static_cast<size_t>(part);
    }
    if (static_cast<size_t>(written) < chunk) ok = false;  // the rest of the source is unreadable
    source += written;
    destination += written;
    length -= static_cast<size_t>(written);
  }
  pipeBusy.store(false);
  return ok;
}

}  // namespace

void CRSafeMemoryPrepare() {
  if (pipeRead.load() >= 0) return;
  int ends[2];
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
  int expected = -1;
  if (!pipeRead.compare_exchange_strong(expected, ends[0])) {
    close(ends[0]);
    close(ends[1]);
    return;
  }
  pipeWrite.store(ends[1]);
}

bool CRSafeCopyMemory(const void* source, void* destination, size_t length) {
  if (reinterpret_cast<uintptr_t>(source) < kCRMinimumValidAddress || destination == nullptr) return false;
  if (length == 0) return true;
  if (!vmReadRefused.load()) {
    struct iovec local = {destination, length};
    struct iovec remote = {const_cast<void*>(source), length};
    const ssize_t copied = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (copied >= 0) return static_cast<size_t>(copied) == length;
    if (errno == EFAULT || errno == ESRCH) return false;
    if (errno != EPERM && errno != ENOSYS) return false;
    vmReadRefused.store(true);
  }
  return copyThroughPipe(static_cast<const char*>(source), static_cast<char*>(destination), length);
}

bool CRCheckReadableString(const char* source, const char** outString, size_t maxLength, size_t* outLength) {
  if (reinterpret_cast<uintptr_t>(source) < kCRMinimumValidAddress) return false;
  size_t checked = 0;
  char chunk[64];
  while (checked < maxLength) {
    // Read up to the end of the page at most, so a string that ends before an unmapped page
    // is not refused for the bytes after it.
    const uintptr_t address = reinterpret_cast<uintptr_t>(source) + checked;
    size_t want = 4096 - (address & 4095);
    if (want > sizeof chunk) want = sizeof chunk;
    if (want > maxLength - checked) want = maxLength - checked;
    if (!CRSafeCopyMemory(source + checked, chunk, want)) return false;
    for (size_t i = 0; i < want; ++i) {
      if (chunk[i] == '\0') {
        if (outString != nullptr) *outString = source;
        if (outLength != nullptr) *outLength = checked + i;
        return true;
      }
    }
    checked += want;
  }
  if (outString != nullptr) *outString = source;
  if (outLength != nullptr) *outLength = maxLength;
  return true;
}

uint8_t CRHexDigitValue(char character) {
  if (character >= '0' && character <= '9') return static_cast<uint8_t>(character - '0');
  if (character >= 'a' && character <= 'f') return static_cast<uint8_t>(character - 'a' + 10);
  if (character >= 'A' && character <= 'F') return static_cast<uint8_t>(character - 'A' + 10);
  return 255;
}

void CRSafeMemoryForcePipe(bool force) {
  CRSafeMemoryPrepare();
  platform::addProcessStateReset(+[] { vmReadRefused.store(false); });
  vmReadRefused.store(force);
}
