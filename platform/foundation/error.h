// Error and Exception: the two failure shapes of the platform layer.
//
// `Error` is a recoverable failure handed back as a value (a domain, a code and a user-info
// dictionary), the shape completion blocks and [[nodiscard]] results carry. `Exception` is
// what code throws where a programming error or an impossible state is raised by name, with
// a reason. Both are plain values, safe to copy between threads.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "platform/foundation/plist.h"

namespace platform {

// Well-known user-info keys.
inline constexpr const char* kErrorLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kErrorLocalizedFailureReasonKey = "NSLocalizedFailureReason";
inline constexpr const char* kErrorUnderlyingErrorKey = "NSUnderlyingError";
inline constexpr const char* kErrorFilePathKey = "NSFilePath";

// Domains of the errors this layer makes itself. File errors carry errno as their code.
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kPlatformErrorDomain = "platform.foundation";

struct Error {
  std::string domain;
  long code = 0;
  std::map<std::string, PlistValue> userInfo;

  Error() = default;
  Error(std::string domain, long code, std::map<std::string, PlistValue> userInfo = {})
      : domain(std::move(domain)), code(code), userInfo(std::move(userInfo)) {}

  // The user-info description when there is one, otherwise
  // "The operation couldn’t be completed. (<domain> error <code>.)".
  std::string localizedDescription() const;

  // An error in `domain` whose localized description is `description`.
  static Error described(std::string domain, long code, std::string description);

  // An error in kPOSIXErrorDomain for `errnoValue`, described by strerror and, when given,
  // naming the file it concerns.
  static Error posix(int errnoValue, const std::string& filePath = {});

  friend bool operator==(const Error&, const Error&) = default;
};

// A named exception: `name()` classifies it ("NSInvalidArgumentException", ...), `reason()`
// explains it; `what()` answers the reason. It keeps the return addresses of the stack that
// made it (innermost first), so whoever records it uncaught can tell where it came from.
class Exception : public std::exception {
 public:
  Exception(std::string name, std::string reason,
            std::map<std::string, PlistValue> userInfo = {})
      : name_(std::move(name)),
        reason_(std::move(reason)),
        userInfo_(std::move(userInfo)),
        callStackReturnAddresses_(captureReturnAddresses()) {}

  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const std::map<std::string, PlistValue>& userInfo() const { return userInfo_; }
  const std::vector<uintptr_t>& callStackReturnAddresses() const { return callStackReturnAddresses_; }
  const char* what() const noexcept override { return reason_.c_str(); }

 private:
  // The caller's return addresses, this constructor's own frames left out.
  static std::vector<uintptr_t> captureReturnAddresses();

  std::string name_;
  std::string reason_;
  std::map<std::string, PlistValue> userInfo_;
  std::vector<uintptr_t> callStackReturnAddresses_;
};

inline constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* kRangeException = "NSRangeException";

}  // namespace platform
