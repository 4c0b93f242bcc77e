// Contract: async-signal-safe, no allocation, no lock.
#include "crash-reporting/core/compact_unwind.h"

#include "crash-reporting/core/dwarf_unwind.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/safe_memory.h"
#include "crash-reporting/core/unwind.h"

namespace {

void* p(uintptr_t value) { return reinterpret_cast<void*>(value); }

// Reads `length` bytes at unwindInfo + offset, refusing anything outside the image.
bool readSection(const CRCompactUnwindState* state, uint64_t offset, void* out, size_t length) {
  const uint64_t start = state->unwindInfo + offset;
  if (offset > state->imageEnd || start < state->unwindInfo || start + length < start ||
      start + length > state->imageEnd) {
    CRLogWarning("Error: unwind info read at %p is outside the image\n", p(start));
    return false;
  }
  return CRSafeCopyMemory(p(start), out, length);
}

template <typename T>
bool readAt(const CRCompactUnwindState* state, uint64_t offset, T* out) {
  return readSection(state, offset, out, sizeof(T));
}

bool lookupCompressed(CRCompactUnwindState* state, uintptr_t pc, CRCompactUnwindResult* result) {
  const uint64_t page = state->firstLevelEntry[1];
  uint16_t pageHeader[4];  // entries offset, entry count, encodings offset, encodings count
  if (!readSection(state, page + 4, pageHeader, sizeof(pageHeader))) return false;
  const uintptr_t base = state->loadAddress + state->firstLevelEntry[0];
  uint64_t target = 0;
  if (pc <= base) {
    CRLogWarning("Error: PC is invalid\n");
  } else {
    target = pc - base;
  }
  const uint32_t count = pageHeader[1];
  const uint64_t entries = page + pageHeader[0];
  if (count == 0 || target == 0) {
    CRLogInfo("Unable to find PC in second level\n");
    return false;
  }
  // The last entry whose function offset is at most the target (the first when none is).
  uint32_t low = 0;
  uint32_t high = count;
  while (high - low > 1) {
    const uint32_t middle = low + (high - low) / 2;
    uint32_t entry = 0;
    if (!readAt(state, entries + middle * 4ull, &entry)) return false;
    if ((entry & 0x00FFFFFF) <= target) {
      low = middle;
    } else {
      high = middle;
    }
  }
  uint32_t entry = 0;
  if (!readAt(state, entries + low * 4ull, &entry)) return false;
  result->functionStart = base + (entry & 0x00FFFFFF);
  if (low + 1 < count) {
    uint32_t next = 0;
    if (!readAt(state, entries + (low + 1) * 4ull, &next)) return false;
    result->functionEnd = base + (next & 0x00FFFFFF);
  } else {
    result->functionEnd = state->loadAddress + state->nextFunctionOffset;
  }
  if (result->functionStart > pc || result->functionEnd <= pc) {
    CRLogWarning("PC does not match computed function range\n");
    return false;
  }
  const uint32_t index = entry >> 24;
  const uint32_t commonCount = state->header[2];
  uint32_t encoding = 0;
  if (index < commonCount) {
    if (!readAt(state, state->header[1] + index * 4ull, &encoding)) return false;
  } else {
    if (index - commonCount >= pageHeader[3]) {
      CRLogWarning("Error: encoding index %u is past the page's encodings\n", index);
      return false;
    }
    if (!readAt(state, page + pageHeader[2] + (index - commonCount) * 4ull, &encoding)) return false;
  }
  if (encoding == 0) {
    CRLogInfo("Entry has has no unwind info\n");
    return false;
  }
  result->encoding = encoding;
  return true;
}

}  // namespace

bool CRCompactUnwindInit(CRCompactUnwindState* state, uintptr_t unwindInfo, uintptr_t ehFrame, uintptr_t loadAddress,
                         uintptr_t imageSize) {
  if (reinterpret_cast<uintptr_t>(state) < kCRMinimumValidAddress) {
    CRLogWarning("Error: invalid context passed to compact unwind init");
    return false;
  }
  if (unwindInfo < kCRMinimumValidAddress) {
    CRLogWarning("Error: invalid unwind info passed to compact unwind init");
    return false;
  }
  if (loadAddress < kCRMinimumValidAddress) {
    CRLogWarning("Error: invalid load address passed to compact unwind init");
    return false;
  }
  *state = CRCompactUnwindState{};
  state->unwindInfo = unwindInfo;
  state->ehFrame = ehFrame;
  state->loadAddress = loadAddress;
  state->imageEnd = loadAddress + imageSize < loadAddress ? UINTPTR_MAX : loadAddress + imageSize;
  if (!readSection(state, 0, state->header, sizeof(state->header))) {
    CRLogWarning("Error: could not read memory contents of unwindInfo\n");
    *state = CRCompactUnwindState{};
    return false;
  }
  if (state->header[0] != 1) {
    CRLogWarning("Error: bad unwind_info structure version (%d != %d)\n", static_cast<int>(state->header[0]), 1);
    return false;
  }
  return true;
}

bool CRCompactUnwindLookup(CRCompactUnwindState* state, uintptr_t pc, CRCompactUnwindResult* result) {
  const uint32_t count = state->header[6];
  if (count < 2 || pc < state->loadAddress) return false;
  const uint64_t offset = pc - state->loadAddress;
  // The whole first-level index must lie inside the image before it is walked.
  if (state->header[5] + count * 12ull > state->imageEnd - state->unwindInfo) {
    CRLogWarning("Error: first-level index runs past the image\n");
    return false;
  }
  bool found = false;
  uint32_t entry[3];
  if (!readAt(state, state->header[5], &entry)) return false;
  for (uint32_t i = 0; i + 1 < count && !found; ++i) {
    uint32_t next[3];
    if (!readAt(state, state->header[5] + (i + 1) * 12ull, &next)) return false;
    if (entry[0] <= offset && next[0] > offset) {
      for (int k = 0; k < 3; ++k) state->firstLevelEntry[k] = entry[k];
      state->nextFunctionOffset = next[0];
      found = true;
    }
    for (int k = 0; k < 3; ++k) entry[k] = next[k];
  }
  if (!found) {
    CRLogWarning("Unable to find pc in first level\n");
    return false;
  }
  CRLogDebug("Found first level (second => %u)\n", state->firstLevelEntry[1]);
  uint32_t kind = 0;
  bool ok = false;
  if (readAt(state, state->firstLevelEntry[1], &kind)) {
    if (kind == 3) {
      CRLogInfo("Found a second level compressed header\n");
      ok = lookupCompressed(state, pc, result);
    } else if (kind == 2) {
      CRLogInfo("Found a second level regular header\n");
      CRLogWarning("Encountered a regular second-level page\n");
    } else {
      CRLogError("Unrecognized header kind - unable to continue\n");
    }
  }
  if (!ok) CRLogInfo("Second-level PC lookup failed\n");
  return ok;
}

bool CRCompactUnwindComputeRegisters(CRCompactUnwindState* state, const CRCompactUnwindResult* result,
                                     CRThreadContext* registers) {
  if (state == nullptr || result == nullptr || registers == nullptr) return false;
  switch (result->encoding & kCRCompactModeMask) {
    case kCRCompactModeFrame: return CRUnwindWithFramePointer(registers, false);
    case kCRCompactModeDwarf: return CRCompactUnwindDwarfFrame(state, result->encoding & 0x00FFFFFF, registers);
    case kCRCompactModeFrameless: return CRUnwindWithLRRegister(registers);
    default: CRLogWarning("Invalid encoding 0x%x\n", result->encoding); return false;
  }
}

bool CRCompactUnwindDwarfFrame(CRCompactUnwindState* state, uintptr_t fdeOffset, CRThreadContext* registers) {
  CRLogInfo("Trying to read dwarf data with offset %x\n", static_cast<unsigned>(fdeOffset));
  // The offset comes from the table (up to 16 MiB): the FDE, its CIE and everything they
  // frame must lie between the start of `.eh_frame` and the end of the image.
  if (state->ehFrame < state->loadAddress || state->ehFrame >= state->imageEnd ||
      fdeOffset >= state->imageEnd - state->ehFrame) {
    CRLogWarning("Error: FDE offset %x is outside the image\n", static_cast<unsigned>(fdeOffset));
    return false;
  }
  CRDwarfCIEPair pair;
  if (!CRDwarfFDEPairInit(&pair, state->ehFrame, fdeOffset, state->imageEnd)) {
    CRLogError("Unable to init FDE\n");
    return false;
  }
  if (!CRDwarfUnwindComputeRegisters(&pair, registers)) {
    CRLogError("Failed to compute DWARF registers\n");
    return false;
  }
  return true;
}

bool CRCompactUnwindLookupAndCompute(CRCompactUnwindState* state, CRThreadContext* registers) {
  const uint64_t pc = CRRegistersPC(registers);
  if (pc < state->loadAddress) return false;
  CRCompactUnwindResult result;
  if (!CRCompactUnwindLookup(state, pc, &result)) {
    CRLogInfo("Unable to lookup compact unwind for pc %p\n", p(pc));
    return false;
  }
  if (!CRCompactUnwindComputeRegisters(state, &result, registers)) {
    CRLogError("Failed to compute registers\n");
    return false;
  }
  return true;
}
