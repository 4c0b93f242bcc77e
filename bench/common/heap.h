// How benchmarks that build and free large graphs in every iteration treat freed memory.
#pragma once

#include <malloc.h>

#include <cstdlib>
#include <string_view>

namespace brivel::bench {

// Freed memory stays with the process between iterations, for ours and the baselines alike:
// otherwise whether glibc happened to hand the top of the heap back to the kernel after the
// previous iteration (and each page is faulted in anew) decides the figure, and the same binary
// swings tenfold between runs. BRIVEL_BENCH_COLD_HEAP=1 leaves glibc's default, where every
// iteration may start from fresh pages as a program's first load does. Call first in main().
inline void keepFreedHeapUnlessCold() {
  const char* coldHeap = std::getenv("BRIVEL_BENCH_COLD_HEAP");
  if (coldHeap != nullptr && std::string_view(coldHeap) == "1") return;
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
}

}  // namespace brivel::bench
