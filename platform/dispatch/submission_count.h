// How many blocks were submitted to any dispatch queue (async, asyncAfter and sync) since
// the program started: a count of the hops between threads that work takes, for tests that
// keep a path's hops in check. Counting costs one relaxed atomic increment per block.
#pragma once

#include <cstdint>

namespace platform {

std::uint64_t dispatchedBlockCount();

}  // namespace platform
