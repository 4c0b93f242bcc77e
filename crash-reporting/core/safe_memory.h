// Reading memory that may not be there, without faulting.
//
// Copies go through process_vm_readv on our own pid: an unmapped or unreadable source gives
// EFAULT, not a fault. Where the kernel refuses that call (a sandbox may), the source is
// written into a pipe made at set-up and read back: write(2) also reports EFAULT for a bad
// source. A pointer below 4096 is invalid throughout.
//
// Contract: async-signal-safe, no allocation, no lock. The pipe path serves one caller at a
// time; a second concurrent caller is refused (false) rather than made to wait.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uintptr_t kCRMinimumValidAddress = 4096;

// Makes the fallback pipe (set-up; safe to call again).
void CRSafeMemoryPrepare();
bool CRSafeCopyMemory(const void* source, void* destination, size_t length);
// Checks that `source` is a readable string: reads until a zero byte or `maxLength` bytes.
// On success `*outString` is `source` itself (nothing is copied) and `*outLength` the
// number of readable bytes before the zero byte, at most `maxLength`; callers use no more
// than that. maxLength 0 succeeds at once with length 0.
bool CRCheckReadableString(const char* source, const char** outString, size_t maxLength, size_t* outLength);
// 0-15 for a hex digit of either case, else 255.
uint8_t CRHexDigitValue(char character);

// Forces the pipe path as if process_vm_readv were refused (false: try it again), so that
// the path a hardened kernel takes is tested on any machine. Not for crash time.
void CRSafeMemoryForcePipe(bool force);
