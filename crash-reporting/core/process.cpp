// Contract: async-signal-safe (open, read, close, stack buffer); see process.h.
#include "crash-reporting/core/process.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool CRProcessStatusShowsTracer(const char* statusText, long length) {
  static const char kKey[] = "TracerPid:";
  const long keyLength = sizeof kKey - 1;
  for (long at = 0; at + keyLength <= length; ++at) {
    if ((at == 0 || statusText[at - 1] == '\n') && std::memcmp(statusText + at, kKey, keyLength) == 0) {
      for (long value = at + keyLength; value < length && statusText[value] != '\n'; ++value) {
        const char character = statusText[value];
        if (character >= '1' && character <= '9') return true;
      }
      return false;
    }
  }
  return false;
}

bool CRProcessDebuggerAttached() {
  const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[4096];
  long used = 0;
  while (used < static_cast<long>(sizeof text)) {
    const ssize_t got = read(fd, text + used, sizeof text - static_cast<size_t>(used));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += got;
  }
  close(fd);
  return CRProcessStatusShowsTracer(text, used);
}
