#include "platform/process_state/process_state.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform {

namespace {
std::mutex gMutex;
std::vector<ProcessStateReset>& resets() {
  static auto* list = new std::vector<ProcessStateReset>();  // lives until exit, for late adders
  return *list;
}
}  // namespace

void addProcessStateReset(ProcessStateReset reset) {
  std::lock_guard lock(gMutex);
  auto& list = resets();
  if (std::find(list.begin(), list.end(), reset) == list.end()) list.push_back(reset);
}

void resetProcessState() {
  std::vector<ProcessStateReset> pending;
  {
    std::lock_guard lock(gMutex);
    pending = resets();
  }
  // Outside the lock: a reset may itself change state that adds a reset.
  for (auto it = pending.rbegin(); it != pending.rend(); ++it) (*it)();
}

}  // namespace platform
