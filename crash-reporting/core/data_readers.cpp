// Contract: async-signal-safe, no allocation, no lock.
#include "crash-reporting/core/data_readers.h"

#include <cstring>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/safe_memory.h"

namespace {

template <typename T>
T readFixed(uintptr_t* cursor) {
  T value;
  std::memcpy(&value, reinterpret_cast<const void*>(*cursor), sizeof(T));
  *cursor += sizeof(T);
  return value;
}

constexpr int kMaxLEB128Bytes = 10;

}  // namespace

uint8_t CRDataReadU8(uintptr_t* cursor) { return readFixed<uint8_t>(cursor); }
uint16_t CRDataReadU16(uintptr_t* cursor) { return readFixed<uint16_t>(cursor); }
uint32_t CRDataReadU32(uintptr_t* cursor) { return readFixed<uint32_t>(cursor); }
uint64_t CRDataReadU64(uintptr_t* cursor) { return readFixed<uint64_t>(cursor); }

uint64_t CRDataReadULEB128(uintptr_t* cursor) {
  uint64_t result = 0;
  unsigned shift = 0;
  for (int i = 0; i < kMaxLEB128Bytes; ++i) {
    const uint8_t byte = CRDataReadU8(cursor);
    if (shift < 64) result |= uint64_t{byte & 0x7Fu} << shift;
    shift += 7;
    if ((byte & 0x80) == 0) break;
  }
  return result;
}

int64_t CRDataReadSLEB128(uintptr_t* cursor) {
  uint64_t result = 0;
  unsigned shift = 0;
  uint8_t byte = 0;
  for (int i = 0; i < kMaxLEB128Bytes; ++i) {
    byte = CRDataReadU8(cursor);
    if (shift < 64) result |= uint64_t{byte & 0x7Fu} << shift;
    shift += 7;
    if ((byte & 0x80) == 0) break;
  }
  if ((byte & 0x40) != 0 && shift < 64) result |= ~uint64_t{0} << shift;
  return static_cast<int64_t>(result);
}

const char* CRDataReadCString(uintptr_t* cursor) {
  const char* string = reinterpret_cast<const char*>(*cursor);
  *cursor += std::strlen(string) + 1;
  return string;
}

uint64_t CRDataReadInitialLength(uintptr_t* cursor) {
  const uint32_t length = CRDataReadU32(cursor);
  if (length == 0xFFFFFFFFu) return CRDataReadU64(cursor);
  return length;
}

uint64_t CRParseAddressWithEncodingAndAdvance(uintptr_t* cursor, uint8_t encoding) {
  if (encoding == 0xFF) return 0;
  if (cursor == nullptr || *cursor == 0) return kCRDataReadFailure;
  const uintptr_t start = *cursor;
  uint64_t value = 0;
  switch (encoding & 0x0F) {
    case 0x00:
    case 0x04:
    case 0x0C: value = CRDataReadU64(cursor); break;
    case 0x01: value = CRDataReadULEB128(cursor); break;
    case 0x02: value = CRDataReadU16(cursor); break;
    case 0x03: value = CRDataReadU32(cursor); break;
    case 0x09: value = static_cast<uint64_t>(CRDataReadSLEB128(cursor)); break;
    case 0x0A: value = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(CRDataReadU16(cursor)))); break;
    case 0x0B: value = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(CRDataReadU32(cursor)))); break;
    default: CRLogWarning("Unhandled: encoding 0x%x\n", encoding); return kCRDataReadFailure;
  }
  switch (encoding & 0x70) {
    case 0x00: break;
    case 0x10: value += start; break;
    default: CRLogWarning("Unhandled: relative encoding 0x%x\n", encoding & 0x70u); return kCRDataReadFailure;
  }
  if ((encoding & 0x80) != 0) {
    if (value == 0) return kCRDataReadFailure;
    uint64_t target = 0;
    if (!CRSafeCopyMemory(reinterpret_cast<const void*>(value), &target, sizeof(target))) return kCRDataReadFailure;
    value = target;
  }
  return value;
}
