// The stack unwinder: walks one thread's stack from a copy of its registers, one frame a
// call. Each step tries, in order: the image's DWARF CFI found through its `.eh_frame_hdr`
// table, compact unwind information (images that carry it), the link register (only from the
// captured frame to its caller; 0 on real x86-64 captures) and the frame-pointer chain.
//
// Contract: async-signal-safe, no allocation, no lock. Stack memory is read only with
// CRSafeCopyMemory. An image is first checked to be still mapped, and its `.eh_frame_hdr`
// header, both ends of its search table and each FDE's start are read with CRSafeCopyMemory
// before the mapped bytes are used; a fault in what is left (CFI records that point
// elsewhere) ends the walk of that thread under the recorder's fault guard (threads.h).
#pragma once

#include <cstdint>

#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/compact_unwind.h"
#include "crash-reporting/core/registers.h"

inline constexpr uint32_t kCRUnwindMaxFrames = 100000;

struct CRUnwindCursor {
  CRThreadContext registers;
  uint32_t frameCount = 0;
  CRCompactUnwindState compactUnwind;
  uint64_t lastFramePC = 0;
  uint32_t repeatCount = 0;
  // The first frame's pc is where the thread was stopped (a signal context), not a return
  // address: its caller is looked up at pc itself rather than pc - 1.
  bool firstFrameIsExact = false;
  CRBinaryImage lastImage;  // the image of the previous step, tried first
  bool framePointerOnly = false;  // skip the unwind tables (measurements and comparisons)
};

bool CRUnwindInitCursor(CRUnwindCursor* cursor, const CRThreadContext* registers, bool firstFrameIsExact = false);
bool CRUnwindNextFrame(CRUnwindCursor* cursor);
uint64_t CRUnwindCursorPC(const CRUnwindCursor* cursor);
uint32_t CRUnwindCursorRepeatCount(const CRUnwindCursor* cursor);

bool CRUnwindWithFramePointer(CRThreadContext* registers, bool tryLinkRegister);
bool CRUnwindWithLRRegister(CRThreadContext* registers);
// The FDE covering `pc` in an `.eh_frame_hdr` search table, or 0.
uintptr_t CRUnwindFindFDE(uintptr_t ehFrameHeader, uint64_t pc);
// The caller's DWARF step for `registers` found through `.eh_frame_hdr`.
bool CRUnwindWithEhFrameHeader(uintptr_t ehFrameHeader, CRThreadContext* registers);
uint64_t CRUnwindStackPointerForFramePointer(uint64_t fp);

// Checked reads of stack memory: while a cursor takes a step, whole pages are copied once
// with CRSafeCopyMemory and served from a small per-thread cache, emptied when a cursor is
// set up; other reads go straight to CRSafeCopyMemory.
bool CRUnwindReadStack(uint64_t address, void* out, size_t length);
void CRUnwindForgetStackCache();
