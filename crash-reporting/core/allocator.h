// The crash-time allocator: one anonymous mapping made at start-up, split into a
// read-write region and a region that becomes read-only when set-up ends.
//
//   | guard | read-write region | guard | read-only region | guard |
//
// Guard pages have no access, so a run off either region faults. Allocation bumps a cursor
// by compare-and-swap (lock-free, callable from any thread) and rounds every size up to 16
// bytes, so each block is 16-byte aligned. A request past a region's room, on a null
// allocator or after protection is served from the heap instead, with a warning.
//
// Contract: set-up only. Creation and protection call mmap/mprotect; the fallback calls
// malloc. Nothing here runs at crash time.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct CRAllocatorArea {
  size_t size = 0;                    // bytes reserved
  uintptr_t start = 0;
  std::atomic<uintptr_t> cursor{0};   // next free byte
};

struct CRAllocatorState {
  void* buffer = nullptr;             // start of the whole mapping
  size_t mappedSize = 0;
  bool protectionEnabled = false;
  CRAllocatorArea readWrite;
  CRAllocatorArea readOnly;
};

enum CRAllocationType : uint32_t {
  CRAllocationTypeReadOnly = 0,
  CRAllocationTypeReadWrite = 1,
};

inline constexpr size_t kCRAllocationAlignment = 16;

CRAllocatorState* CRAllocatorCreate(size_t readWriteSize, size_t readOnlySize);
// Memory of `size` bytes (rounded up to 16) from the region of `type`; heap memory when the
// region has no room, the allocator is null or protected; null for an unknown type or when
// the heap refuses.
void* CRAllocatorSafeAllocate(CRAllocatorState* allocator, size_t size, uint32_t type);
void* CRAllocatorSafeAllocateFromRegion(CRAllocatorArea* region, size_t size);
// Makes the read-only region read-only. True when it is (already or now).
bool CRAllocatorProtect(CRAllocatorState* allocator);
// Whether `pointer` lies inside the allocator's mapping (tests and sanity checks).
bool CRAllocatorOwns(const CRAllocatorState* allocator, const void* pointer);
