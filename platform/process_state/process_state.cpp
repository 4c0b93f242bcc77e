#include "platform/process_state/process_state.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace platform {

namespace {
struct Entry {
  const void* owner;
  std::function<void()> reset;
};

std::mutex gMutex;
std::vector<Entry>& resets() {
  static auto* list = new std::vector<Entry>();  // lives until exit, for late adders
  return *list;
}
}  // namespace

void addProcessStateReset(const void* owner, std::function<void()> reset) {
  std::lock_guard lock(gMutex);
  auto& list = resets();
  if (std::none_of(list.begin(), list.end(), [owner](const Entry& entry) { return entry.owner == owner; })) {
    list.push_back(Entry{owner, std::move(reset)});
  }
}

void addProcessStateReset(ProcessStateReset reset) {
  addProcessStateReset(reinterpret_cast<const void*>(reset), reset);
}

void resetProcessState() {
  std::vector<Entry> pending;
  {
    std::lock_guard lock(gMutex);
    pending = resets();
  }
  // Outside the lock: a reset may itself change state that adds a reset.
  for (auto it = pending.rbegin(); it != pending.rend(); ++it) it->reset();
}

}  // namespace platform
