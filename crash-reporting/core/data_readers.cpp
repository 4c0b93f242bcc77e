// Contract: async-signal-safe, no allocation, no lock.
#include "crash-reporting/core/data_readers.h"

#include <cstring>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/safe_memory.h"

namespace {

template <typename T>
T readFixed(CRDataCursor* cursor) {
  T value{};
  if (cursor->remaining() < sizeof(T)) {
    cursor->failed = true;
    return T{};
  }
  std::memcpy(&value, reinterpret_cast<const void*>(cursor->position), sizeof(T));
  cursor->position += sizeof(T);
  return value;
}

constexpr int kMaxLEB128Bytes = 10;

// The bits of a LEB128 value and the shift past its last byte; the last byte in `*last`.
uint64_t readLEB128(CRDataCursor* cursor, unsigned* shiftOut, uint8_t* last) {
  uint64_t result = 0;
  unsigned shift = 0;
  uint8_t byte = 0;
  for (int i = 0; i < kMaxLEB128Bytes; ++i) {
    byte = CRDataReadU8(cursor);
    if (cursor->failed) return 0;
    if (shift < 64) result |= uint64_t{byte & 0x7Fu} << shift;
    shift += 7;
    if ((byte & 0x80) == 0) break;
  }
  *shiftOut = shift;
  *last = byte;
  return result;
}

}  // namespace

bool CRDataCursor::skip(uint64_t count) {
  if (failed || count > remaining()) {
    failed = true;
    return false;
  }
  position += count;
  return true;
}

CRDataCursor CRDataCursorMake(uintptr_t start, uint64_t length) {
  CRDataCursor cursor;
  cursor.position = start;
  if (start == 0 || length > UINTPTR_MAX - start) {
    cursor.end = start;
    cursor.failed = true;
  } else {
    cursor.end = start + length;
  }
  return cursor;
}

uint8_t CRDataReadU8(CRDataCursor* cursor) { return readFixed<uint8_t>(cursor); }
uint16_t CRDataReadU16(CRDataCursor* cursor) { return readFixed<uint16_t>(cursor); }
uint32_t CRDataReadU32(CRDataCursor* cursor) { return readFixed<uint32_t>(cursor); }
uint64_t CRDataReadU64(CRDataCursor* cursor) { return readFixed<uint64_t>(cursor); }

uint64_t CRDataReadULEB128(CRDataCursor* cursor) {
  unsigned shift = 0;
  uint8_t last = 0;
  return readLEB128(cursor, &shift, &last);
}

int64_t CRDataReadSLEB128(CRDataCursor* cursor) {
  unsigned shift = 0;
  uint8_t last = 0;
  uint64_t result = readLEB128(cursor, &shift, &last);
  if ((last & 0x40) != 0 && shift < 64) result |= ~uint64_t{0} << shift;
  return static_cast<int64_t>(result);
}

const char* CRDataReadCString(CRDataCursor* cursor) {
  const uint64_t remaining = cursor->remaining();
  const char* string = reinterpret_cast<const char*>(cursor->position);
  const void* zero = remaining == 0 ? nullptr : std::memchr(string, 0, remaining);
  if (zero == nullptr) {
    cursor->failed = true;
    return "";
  }
  cursor->position = reinterpret_cast<uintptr_t>(zero) + 1;
  return string;
}

uint64_t CRDataReadInitialLength(CRDataCursor* cursor) {
  const uint32_t length = CRDataReadU32(cursor);
  if (length == 0xFFFFFFFFu) return CRDataReadU64(cursor);
  return length;
}

uint64_t CRParseAddressWithEncodingAndAdvance(CRDataCursor* cursor, uint8_t encoding) {
  if (encoding == 0xFF) return 0;
  if (cursor == nullptr || cursor->position == 0 || cursor->failed) return kCRDataReadFailure;
  const uintptr_t start = cursor->position;
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
  if (cursor->failed) return kCRDataReadFailure;
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

uint64_t CRParseAddressWithEncodingAndAdvance(uintptr_t* cursor, uint8_t encoding) {
  if (cursor == nullptr) return kCRDataReadFailure;
  CRDataCursor bounded = CRDataCursorMake(*cursor, UINTPTR_MAX - *cursor);
  const uint64_t value = CRParseAddressWithEncodingAndAdvance(&bounded, encoding);
  *cursor = bounded.position;
  return value;
}
