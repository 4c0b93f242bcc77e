// Contract: set-up only (mmap, mprotect, malloc); see allocator.h.
#include "crash-reporting/core/allocator.h"

#include <errno.h>
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "crash-reporting/core/host.h"
#include "crash-reporting/core/internal_log.h"

namespace {

// page × (size ÷ page + 1), 0 staying 0: an exact multiple still gets a spare page.
size_t roundToPages(size_t size, size_t page) { return size == 0 ? 0 : page * (size / page + 1); }

size_t roundToAlignment(size_t size) { return (size + kCRAllocationAlignment - 1) & ~(kCRAllocationAlignment - 1); }

}  // namespace

CRAllocatorState* CRAllocatorCreate(size_t readWriteSize, size_t readOnlySize) {
  const size_t page = CRHostGetPageSize();
  const size_t readWrite = roundToPages(readWriteSize, page);
  const size_t readOnly = roundToPages(readOnlySize + sizeof(CRAllocatorState), page);
  const size_t total = readWrite + readOnly + 3 * page;

  void* mapping = mmap(nullptr, total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) {
    CRLogError("Mapping failed %s\n", strerror(errno));
    return nullptr;
  }
  auto* buffer = static_cast<char*>(mapping);
  char* readWriteStart = buffer + page;
  char* readOnlyStart = buffer + 2 * page + readWrite;
  CRLogInfo("Mapping: %p %p %p, total: %zu K\n", buffer, readWriteStart, readOnlyStart,
            static_cast<unsigned>(total / 1024));

  if (mprotect(buffer, page, PROT_NONE) != 0) {
    CRLogError("First guard protection failed %s\n", strerror(errno));
    munmap(mapping, total);
    return nullptr;
  }
  if (mprotect(buffer + page + readWrite, page, PROT_NONE) != 0) {
    CRLogError("Middle guard protection failed %s\n", strerror(errno));
    munmap(mapping, total);
    return nullptr;
  }
  if (mprotect(readOnlyStart + readOnly, page, PROT_NONE) != 0) {
    CRLogError("Last guard protection failed %s\n", strerror(errno));
    munmap(mapping, total);
    return nullptr;
  }

  // The record itself is the first block of the read-only region.
  auto* allocator = new (readOnlyStart) CRAllocatorState;
  allocator->buffer = buffer;
  allocator->mappedSize = total;
  allocator->protectionEnabled = false;
  allocator->readWrite.size = readWrite;
  allocator->readWrite.start = reinterpret_cast<uintptr_t>(readWriteStart);
  allocator->readWrite.cursor.store(allocator->readWrite.start);
  allocator->readOnly.size = readOnly;
  allocator->readOnly.start = reinterpret_cast<uintptr_t>(readOnlyStart);
  allocator->readOnly.cursor.store(allocator->readOnly.start + roundToAlignment(sizeof(CRAllocatorState)));
  CRLogDebug("Allocator successfully created %p", allocator);
  return allocator;
}

void* CRAllocatorSafeAllocateFromRegion(CRAllocatorArea* region, size_t size) {
  if (region == nullptr) return nullptr;
  size = roundToAlignment(size);
  uintptr_t cursor = region->cursor.load();
  while (true) {
    if (cursor + size - region->start > region->size) {
      CRLogWarning("Unable to allocate sufficient memory, falling back to malloc\n");
      void* memory = std::malloc(size);
      if (memory == nullptr) CRLogWarning("Unable to malloc in CRAllocatorSafeAllocateFromRegion\n");
      return memory;
    }
    if (region->cursor.compare_exchange_weak(cursor, cursor + size)) return reinterpret_cast<void*>(cursor);
  }
}

void* CRAllocatorSafeAllocate(CRAllocatorState* allocator, size_t size, uint32_t type) {
  if (allocator == nullptr || allocator->protectionEnabled) {
    if (allocator == nullptr) {
      CRLogWarning("Allocator invalid, falling back to malloc\n");
    } else {
      CRLogWarning("Allocator already protected, falling back to malloc\n");
    }
    void* memory = std::malloc(roundToAlignment(size));
    if (memory == nullptr) CRLogWarning("Unable to malloc in CRAllocatorSafeAllocate\n");
    return memory;
  }
  switch (type) {
    case CRAllocationTypeReadOnly:
      return CRAllocatorSafeAllocateFromRegion(&allocator->readOnly, size);
    case CRAllocationTypeReadWrite:
      return CRAllocatorSafeAllocateFromRegion(&allocator->readWrite, size);
    default:
      return nullptr;
  }
}

bool CRAllocatorProtect(CRAllocatorState* allocator) {
  if (allocator == nullptr) {
    CRLogError("Invalid allocator");
    return false;
  }
  if (allocator->protectionEnabled) {
    CRLogWarning("Write protection already enabled");
    return true;
  }
  allocator->protectionEnabled = true;
  const size_t readOnlySize = allocator->readOnly.size;
  return mprotect(reinterpret_cast<void*>(allocator->readOnly.start), readOnlySize, PROT_READ) == 0;
}

bool CRAllocatorOwns(const CRAllocatorState* allocator, const void* pointer) {
  if (allocator == nullptr) return false;
  const auto address = reinterpret_cast<uintptr_t>(pointer);
  const auto start = reinterpret_cast<uintptr_t>(allocator->buffer);
  return address >= start && address < start + allocator->mappedSize;
}
