// Readers of the little-endian data in unwind sections. Each reads through a cursor that
// knows where the bytes it may read end (the record, instruction list or section that frames
// them) and advances it. A read that would pass the end reads nothing, gives 0 and marks the
// cursor failed; a failed cursor stays failed and reads nothing more, so a caller may read a
// run of fields and check once. LEB128 values take at most 10 bytes.
//
// Contract: async-signal-safe, no allocation, no lock.
#pragma once

#include <cstdint>

inline constexpr uint64_t kCRDataReadFailure = ~uint64_t{0};

struct CRDataCursor {
  uintptr_t position = 0;
  uintptr_t end = 0;  // one past the last readable byte
  bool failed = false;

  // The bytes left before the end (0 once failed).
  uint64_t remaining() const { return failed || position >= end ? 0 : end - position; }
  // Moves `count` bytes on; fails (and stays put) when that would pass the end or the cursor
  // has failed already (a length that could not be read is no length).
  bool skip(uint64_t count);
};

// A cursor over [start, start + length); a length that wraps the address space is refused.
CRDataCursor CRDataCursorMake(uintptr_t start, uint64_t length);

uint8_t CRDataReadU8(CRDataCursor* cursor);
uint16_t CRDataReadU16(CRDataCursor* cursor);
uint32_t CRDataReadU32(CRDataCursor* cursor);
uint64_t CRDataReadU64(CRDataCursor* cursor);
uint64_t CRDataReadULEB128(CRDataCursor* cursor);
int64_t CRDataReadSLEB128(CRDataCursor* cursor);
// Returns the string's address and moves past its zero byte, which must come before the end.
const char* CRDataReadCString(CRDataCursor* cursor);
// A u32; 0xFFFFFFFF means a u64 length follows.
uint64_t CRDataReadInitialLength(CRDataCursor* cursor);
// A DW_EH_PE pointer: 0xFF (omit) gives 0 and reads nothing; failures give kCRDataReadFailure.
uint64_t CRParseAddressWithEncodingAndAdvance(CRDataCursor* cursor, uint8_t encoding);
// The same for a caller that knows only where the pointer starts (the field is read without an
// end; prefer the cursor form).
uint64_t CRParseAddressWithEncodingAndAdvance(uintptr_t* cursor, uint8_t encoding);
