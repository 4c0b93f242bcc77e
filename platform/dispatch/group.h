// Dispatch groups: count outstanding work and act when it is all done.
//
// A DispatchGroup is a handle: copies share one counter, so a block may capture the
// group by value. enter()/leave() may be called from any thread; leave() without a
// matching enter() throws std::logic_error.
#pragma once

#include <memory>

#include "platform/dispatch/queue.h"

namespace platform {

class DispatchGroup {
 public:
  DispatchGroup();

  void enter();
  void leave();
  // Submits the block to the queue as a member of the group (enter now, leave after).
  void async(const std::shared_ptr<DispatchQueue>& queue, Block block);
  // Blocks until the group is empty, or `timeout` of real time has passed; returns
  // whether it became empty.
  bool wait(Duration timeout) const;
  void wait() const;
  // Submits the block to the queue once the group is empty (at once when it is now).
  // Each notification fires once.
  void notify(const std::shared_ptr<DispatchQueue>& queue, Block block) const;
  // The number of enters not yet left.
  long count() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace platform
