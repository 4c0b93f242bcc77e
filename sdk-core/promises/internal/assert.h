// Precondition checks of the promise library, reported the way the platform's assertion
// handler reports them: a platform::Exception named NSInternalInconsistencyException.
#pragma once

#include <string>

#include "platform/foundation/error.h"

namespace prm_internal {

[[noreturn]] inline void assertionFailure(const std::string& message) {
  throw platform::Exception(platform::kInternalInconsistencyException, message);
}

// "Invalid parameter not satisfying: <name>" when `satisfied` is false.
inline void assertParameter(bool satisfied, const char* name) {
  if (!satisfied) assertionFailure(std::string("Invalid parameter not satisfying: ") + name);
}

}  // namespace prm_internal
