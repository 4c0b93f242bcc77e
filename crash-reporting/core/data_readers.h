// Readers of the little-endian data in unwind sections. Each takes the address of a cursor
// and advances it. Fixed-width readers read mapped memory directly (callers stay inside the
// section they parse); LEB128 values take at most 10 bytes.
//
// Contract: async-signal-safe, no allocation, no lock.
#pragma once

#include <cstdint>

inline constexpr uint64_t kCRDataReadFailure = ~uint64_t{0};

uint8_t CRDataReadU8(uintptr_t* cursor);
uint16_t CRDataReadU16(uintptr_t* cursor);
uint32_t CRDataReadU32(uintptr_t* cursor);
uint64_t CRDataReadU64(uintptr_t* cursor);
uint64_t CRDataReadULEB128(uintptr_t* cursor);
int64_t CRDataReadSLEB128(uintptr_t* cursor);
// Returns the string's address and moves past its zero byte.
const char* CRDataReadCString(uintptr_t* cursor);
// A u32; 0xFFFFFFFF means a u64 length follows.
uint64_t CRDataReadInitialLength(uintptr_t* cursor);
// A DW_EH_PE pointer: 0xFF (omit) gives 0 and reads nothing; failures give kCRDataReadFailure.
uint64_t CRParseAddressWithEncodingAndAdvance(uintptr_t* cursor, uint8_t encoding);
