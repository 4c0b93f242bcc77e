#include "platform/foundation/error.h"

#include <execinfo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/expected.h"

namespace platform {

std::string Error::localizedDescription() const {
  auto it = userInfo.find(kErrorLocalizedDescriptionKey);
  if (it != userInfo.end()) {
    if (const auto* text = it->second.asString()) return *text;
  }
  return "The operation couldn’t be completed. (" + domain + " error " + std::to_string(code) +
         ".)";
}

Error Error::described(std::string domain, long code, std::string description) {
  return Error(std::move(domain), code, {{kErrorLocalizedDescriptionKey, PlistValue(std::move(description))}});
}

Error Error::posix(int errnoValue, const std::string& filePath) {
  std::map<std::string, PlistValue> info;
  std::string description = std::strerror(errnoValue);
  if (!filePath.empty()) {
    info[kErrorFilePathKey] = filePath;
    description = "“" + filePath + "”: " + description;
  }
  info[kErrorLocalizedDescriptionKey] = description;
  return Error(kPOSIXErrorDomain, errnoValue, std::move(info));
}

namespace expected_internal {

void misuse(const char* what) {
  std::fprintf(stderr, "Fatal error: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace expected_internal

std::vector<uintptr_t> Exception::captureReturnAddresses() {
  constexpr int kMaxFrames = 128;
  void* frames[kMaxFrames];
  const int count = ::backtrace(frames, kMaxFrames);
  std::vector<uintptr_t> addresses;
  // Frame 0 is this function; the constructor itself is inline in its caller.
  for (int i = 1; i < count; ++i) addresses.push_back(reinterpret_cast<uintptr_t>(frames[i]));
  return addresses;
}

}  // namespace platform
