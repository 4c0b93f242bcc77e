// Contract: async-signal-safe, no allocation, no lock.
#include "crash-reporting/core/unwind.h"

#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/data_readers.h"
#include "crash-reporting/core/dwarf_unwind.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/safe_memory.h"

namespace {

void* p(uint64_t value) { return reinterpret_cast<void*>(value); }

constexpr uint64_t kCachePage = 4096;
constexpr int kCachePages = 4;

struct StackCache {
  uint64_t base[kCachePages] = {};
  bool valid[kCachePages] = {};
  int next = 0;
  alignas(16) unsigned char pages[kCachePages][kCachePage];
};
thread_local StackCache tStackCache;
// The cache serves reads only while a cursor takes a step: the memory of a stopped thread
// stays as it is for the length of one walk, but not between calls from elsewhere.
thread_local bool tStackCacheActive = false;

// The cached copy of the page holding `address`, or null when it cannot be read.
const unsigned char* cachedPage(uint64_t address) {
  StackCache& cache = tStackCache;
  const uint64_t base = address & ~(kCachePage - 1);
  for (int i = 0; i < kCachePages; ++i) {
    if (cache.valid[i] && cache.base[i] == base) return cache.pages[i];
  }
  const int slot = cache.next;
  cache.next = (cache.next + 1) % kCachePages;
  cache.valid[slot] = false;
  if (!CRSafeCopyMemory(p(base), cache.pages[slot], kCachePage)) return nullptr;
  cache.base[slot] = base;
  cache.valid[slot] = true;
  return cache.pages[slot];
}

bool readable(uintptr_t address, void* out, size_t length) {
  return address >= kCRMinimumValidAddress && CRSafeCopyMemory(p(address), out, length);
}

// The size of a fixed-size pointer encoding of `.eh_frame_hdr`, 0 for any other.
size_t encodedSize(uint8_t encoding) {
  switch (encoding & 0x0F) {
    case 0x02:
    case 0x0A: return 2;
    case 0x03:
    case 0x0B: return 4;
    case 0x00:
    case 0x04:
    case 0x0C: return 8;
    default: return 0;
  }
}

// The search table of an `.eh_frame_hdr`: its entries and their count, once its header and
// both ends have been read through the fault-tolerant reader (a table that is not all there,
// an image gone since it was listed, gives none).
struct FDETable {
  const int32_t* entries = nullptr;
  uint64_t count = 0;
};

bool checkedTable(uintptr_t header, FDETable* out) {
  uint8_t fields[4];
  if (!readable(header, fields, sizeof fields) || fields[0] != 1) return false;
  // The table is what linkers write: pairs of signed 4-byte offsets from the header.
  if (fields[3] != 0x3B) return false;
  const size_t pointerSize = encodedSize(fields[1]);
  const size_t countSize = encodedSize(fields[2]);
  if (pointerSize == 0 || countSize == 0 || (fields[2] & 0x70) != 0) return false;
  unsigned char countBytes[8] = {};
  if (!readable(header + 4 + pointerSize, countBytes, countSize)) return false;
  uint64_t count = 0;
  for (size_t i = 0; i < countSize; ++i) count |= static_cast<uint64_t>(countBytes[i]) << (8 * i);
  if ((fields[2] & 0x08) != 0 && (countBytes[countSize - 1] & 0x80) != 0) return false;  // a negative count
  if (count == 0 || count > (uint64_t{1} << 28)) return false;
  const uintptr_t table = header + 4 + pointerSize + countSize;
  int32_t ends[2];
  if (!readable(table, ends, sizeof ends) || !readable(table + (count - 1) * 8, ends, sizeof ends)) return false;
  out->entries = reinterpret_cast<const int32_t*>(table);
  out->count = count;
  return true;
}

// The last table checked on this thread: a walk looks up many frames in the same image.
// Forgotten whenever a cursor is set up.
thread_local uintptr_t tCheckedHeader = 0;
thread_local FDETable tCheckedTable;
thread_local uintptr_t tCheckedFDE = 0;

// Finds the FDE covering `pc` in the binary-search table of `.eh_frame_hdr`; 0 if none.
uintptr_t findFDEInTable(uintptr_t header, uint64_t pc) {
  if (header != tCheckedHeader || tCheckedTable.count == 0) {
    tCheckedHeader = 0;
    tCheckedFDE = 0;
    if (!checkedTable(header, &tCheckedTable)) return 0;
    tCheckedHeader = header;
  }
  const FDETable table = tCheckedTable;
  uint64_t low = 0;
  uint64_t high = table.count;
  while (high - low > 1) {
    const uint64_t middle = low + (high - low) / 2;
    if (header + static_cast<int64_t>(table.entries[middle * 2]) <= pc) {
      low = middle;
    } else {
      high = middle;
    }
  }
  if (header + static_cast<int64_t>(table.entries[low * 2]) > pc) return 0;
  const uintptr_t fde = header + static_cast<int64_t>(table.entries[low * 2 + 1]);
  // The record's length and CIE pointer must be there before the DWARF reader takes it.
  uint32_t start[2];
  if (fde != tCheckedFDE && !readable(fde, start, sizeof start)) return 0;
  tCheckedFDE = fde;
  return fde;
}

bool unwindWithAllStrategies(CRUnwindCursor* cursor) {
  if (cursor->frameCount >= kCRUnwindMaxFrames) {
    CRLogWarning("Exceeded maximum number of frames\n");
    return false;
  }
  if (cursor->frameCount == 0) return true;
  CRThreadContext* registers = &cursor->registers;
  const bool exact = cursor->frameCount == 1 && cursor->firstFrameIsExact;
  const uint64_t lookup = exact ? CRRegistersPC(registers) : CRRegistersPC(registers) - 1;
  if (!CRRegistersSetPC(registers, lookup)) {
    CRLogError("Unable to set PC\n");
    return false;
  }
  if (lookup < kCRMinimumValidAddress) {
    CRLogError("PC is invalid\n");
    return false;
  }
  CRBinaryImage& image = cursor->lastImage;
  const bool sameImage = image.size != 0 && lookup >= image.baseAddress && lookup - image.baseAddress < image.size;
  if (cursor->framePointerOnly) {
    // straight to the frame-pointer chain
  } else if (!sameImage && !CRBinaryImageSafeFindImageForAddress(lookup, &image)) {
    image = CRBinaryImage{};
    CRLogWarning("Unable to find binary for %p\n", p(lookup));
  } else if (uint8_t magic = 0; !sameImage && !readable(image.baseAddress, &magic, sizeof magic)) {
    // Listed, but no longer mapped (unloaded since): its tables are not read.
    CRLogWarning("Binary image at %p is no longer mapped\n", p(image.baseAddress));
    image = CRBinaryImage{};
  } else {
    // Logged when the walk enters an image, not for every frame inside it (a line is a write).
    if (!sameImage) CRLogDebug("Binary image for %p at %p\n", p(lookup), p(image.baseAddress));
    if (image.ehFrameHeader >= kCRMinimumValidAddress && CRUnwindWithEhFrameHeader(image.ehFrameHeader, registers)) {
      return true;
    }
    if (image.unwindInfo < kCRMinimumValidAddress) {
      CRLogInfo("Binary image at %p has no unwind info\n", p(image.baseAddress));
    } else if (!CRCompactUnwindInit(&cursor->compactUnwind, image.unwindInfo, image.ehFrame, image.baseAddress,
                                    image.size)) {
      CRLogError("Unable to read unwind info\n");
    } else if (CRCompactUnwindLookupAndCompute(&cursor->compactUnwind, registers)) {
      return true;
    }
  }
  if (CRRegistersFP(registers) == 0) {
    CRLogWarning("FP is zero, aborting unwind\n");
    return CRRegistersSetPC(registers, 0);
  }
  if (!CRUnwindWithFramePointer(registers, cursor->frameCount == 1)) {
    CRLogError("Unable to use frame pointer\n");
    return false;
  }
  return true;
}

}  // namespace

uintptr_t CRUnwindFindFDE(uintptr_t ehFrameHeader, uint64_t pc) { return findFDEInTable(ehFrameHeader, pc); }

bool CRUnwindWithEhFrameHeader(uintptr_t ehFrameHeader, CRThreadContext* registers) {
  const uint64_t pc = CRRegistersPC(registers);
  const uintptr_t fde = findFDEInTable(ehFrameHeader, pc);
  if (fde == 0) {
    CRLogInfo("No FDE for %p\n", p(pc));
    return false;
  }
  CRDwarfCIEPair pair;
  if (!CRDwarfParseFDERecord(&pair.fde, true, &pair.cie, fde)) {
    CRLogError("Unable to init FDE\n");
    return false;
  }
  CRThreadContext next = *registers;
  if (!CRDwarfUnwindComputeRegisters(&pair, &next)) {
    CRLogError("Failed to compute DWARF registers\n");
    return false;
  }
  *registers = next;
  return true;
}

bool CRUnwindInitCursor(CRUnwindCursor* cursor, const CRThreadContext* registers, bool firstFrameIsExact) {
  if (cursor == nullptr) return false;
  *cursor = CRUnwindCursor{};
  if (registers != nullptr) cursor->registers = *registers;
  cursor->firstFrameIsExact = firstFrameIsExact;
  CRUnwindForgetStackCache();
  return true;
}

bool CRUnwindNextFrame(CRUnwindCursor* cursor) {
  if (reinterpret_cast<uintptr_t>(cursor) < kCRMinimumValidAddress) {
    CRLogWarning("Error: invalid inputs\n");
    return false;
  }
  if (CRRegistersPC(&cursor->registers) < kCRMinimumValidAddress ||
      CRRegistersSP(&cursor->registers) < kCRMinimumValidAddress) {
    if (cursor->frameCount == 0) {
      CRLogWarning("Cancelling unwind for thread with invalid PC/SP\n");
    } else {
      CRLogWarning("Error: thread PC/SP invalid before unwind\n");
    }
    return false;
  }
  const uint64_t oldSP = CRRegistersSP(&cursor->registers);
  tStackCacheActive = true;
  const bool stepped = unwindWithAllStrategies(cursor);
  tStackCacheActive = false;
  if (!stepped) {
    CRLogError("Failed to advance to the next frame\n");
    return false;
  }
  const uint64_t pc = CRRegistersPC(&cursor->registers);
  if (pc < kCRMinimumValidAddress) return false;
  const uint64_t sp = CRRegistersSP(&cursor->registers);
  if (sp < kCRMinimumValidAddress) {
    CRLogWarning("Error: SP (%p) isn't a valid pointer\n", p(sp));
    return false;
  }
  // Stacks grow down: a caller's frame never lies below its callee's.
  if (cursor->frameCount > 0 && sp < oldSP) {
    CRLogWarning("Error: SP (%p) went backwards\n", p(sp));
    return false;
  }
  cursor->repeatCount = pc == cursor->lastFramePC ? cursor->repeatCount + 1 : 0;
  cursor->frameCount += 1;
  cursor->lastFramePC = pc;
  return true;
}

uint64_t CRUnwindCursorPC(const CRUnwindCursor* cursor) {
  return cursor == nullptr ? 0 : CRRegistersPC(&cursor->registers);
}

uint32_t CRUnwindCursorRepeatCount(const CRUnwindCursor* cursor) {
  return cursor == nullptr ? 0 : cursor->repeatCount;
}

bool CRUnwindWithLRRegister(CRThreadContext* registers) {
  const uint64_t lr = CRRegistersLR(registers);
  if (lr < kCRMinimumValidAddress) {
    CRLogWarning("Error: LR value is invalid\n");
    return false;
  }
  return CRRegistersSetPC(registers, lr);
}

bool CRUnwindWithFramePointer(CRThreadContext* registers, bool tryLinkRegister) {
  if (tryLinkRegister) {
    if (CRUnwindWithLRRegister(registers)) return true;
    CRLogWarning("Unable to use LR, skipping\n");
  }
  const uint64_t fp = CRRegistersFP(registers);
  uint64_t frame[2];
  if (!CRUnwindReadStack(fp, frame, sizeof(frame))) {
    CRLogWarning("Error: failed to read memory at address %p\n", p(fp));
    return false;
  }
  // The chain must climb: a saved frame pointer at or below this one is a cycle or garbage.
  if ((frame[0] != 0 && frame[0] <= fp) || fp + 16 <= CRRegistersSP(registers)) {
    CRLogWarning("Error: frame pointer %p does not climb\n", p(frame[0]));
    return false;
  }
  return CRRegistersSetPC(registers, frame[1]) && CRRegistersSetFP(registers, frame[0]) &&
         CRRegistersSetSP(registers, fp + 16);
}

uint64_t CRUnwindStackPointerForFramePointer(uint64_t fp) { return fp + 16; }

bool CRUnwindReadStack(uint64_t address, void* out, size_t length) {
  if (!tStackCacheActive) return address >= kCRMinimumValidAddress && CRSafeCopyMemory(p(address), out, length);
  auto* bytes = static_cast<unsigned char*>(out);
  while (length > 0) {
    if (address < kCRMinimumValidAddress) return false;
    const unsigned char* page = cachedPage(address);
    if (page == nullptr) return CRSafeCopyMemory(p(address), bytes, length);  // maybe a partial page
    const uint64_t offset = address & (kCachePage - 1);
    const size_t chunk = length < kCachePage - offset ? length : static_cast<size_t>(kCachePage - offset);
    for (size_t i = 0; i < chunk; ++i) bytes[i] = page[offset + i];
    bytes += chunk;
    address += chunk;
    length -= chunk;
  }
  return true;
}

void CRUnwindForgetStackCache() {
  for (bool& valid : tStackCache.valid) valid = false;
  tStackCacheActive = false;
  tCheckedHeader = 0;
  tCheckedTable = FDETable{};
  tCheckedFDE = 0;
}
