#include "platform/testing/environment.h"

#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"

namespace platform::testing {

Environment::Environment(const std::string& prefix) : root_(prefix) {
  resetProcessState();
  FileLocations::setDataDirectory(dataDirectory());
}

Environment::~Environment() { resetProcessState(); }

void Environment::relaunch() {
  resetProcessState();
  FileLocations::setDataDirectory(dataDirectory());
}

}  // namespace platform::testing
