// Reading Mach-O images (thin and fat files) from bytes.
//
// The system runs on ELF, so Mach-O images only ever come from files (the tests' fixtures,
// symbol bundles); the running program itself is read as ELF (`CRMachOSliceOfMainExecutable`
// gives its one slice). Every read stays inside the bytes given: a slice knows how many
// bytes follow its start, fat entries must lie inside the file, load commands must lie
// inside the slice and the header's command area, and each command's fields are read only
// when its cmdsize covers them.
//
// Fields are used as stored, without byte swapping (fat headers excepted, which are
// big-endian).
//
// Contract: not for crash time (mmap, the loader, allocation in the string helpers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct CRMachOFile {
  int fd = -1;
  uint64_t mappedSize = 0;
  const uint8_t* mappedFile = nullptr;
};

// A slice: where its Mach-O header is and what CPU it is for.
struct CRMachOSlice {
  const uint8_t* startAddress = nullptr;
  int32_t cputype = 0;
  int32_t cpusubtype = 0;
  size_t size = 0;  // bytes readable from startAddress
};

struct CRMachOVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t bugfix = 0;
};

inline constexpr uint32_t CRMachOLoadCommandSegment = 0x1;
inline constexpr uint32_t CRMachOLoadCommandLoadDylib = 0xC;
inline constexpr uint32_t CRMachOLoadCommandSegment64 = 0x19;
inline constexpr uint32_t CRMachOLoadCommandUUID = 0x1B;
inline constexpr uint32_t CRMachOLoadCommandEncryptionInfo = 0x21;
inline constexpr uint32_t CRMachOLoadCommandVersionMinMacOSX = 0x24;
inline constexpr uint32_t CRMachOLoadCommandVersionMinIPhoneOS = 0x25;
inline constexpr uint32_t CRMachOLoadCommandVersionMinTVOS = 0x2F;
inline constexpr uint32_t CRMachOLoadCommandVersionMinWatchOS = 0x30;
inline constexpr int32_t CRMachOCPUArchABI64 = 0x01000000;

// Maps a regular file of at least 16 bytes, read-only. False (no descriptor left open) for
// anything else.
bool CRMachOFileOpenPath(CRMachOFile* file, const char* path);
// The running program's file (/proc/self/exe).
bool CRMachOFileOpenMainExecutable(CRMachOFile* file);
void CRMachOFileClose(CRMachOFile* file);

using CRMachOSliceVisitor = std::function<void(CRMachOSlice* slice)>;
void CRMachOFileForEachSlice(const CRMachOFile* file, const CRMachOSliceVisitor& visitor);
// A fat file: one visit per entry lying inside the bytes, in entry order. Otherwise one
// visit of the thin image (CPU fields 0 for an unknown magic).
void CRMachOForEachSliceAt(const uint8_t* address, size_t length, const CRMachOSliceVisitor& visitor);

// The running program: its header in memory, and its CPU from its ELF machine.
CRMachOSlice CRMachOSliceOfMainExecutable();
CRMachOSlice CRMachOSliceFromHeader(const uint8_t* header, size_t length);
// Where the load commands start and how many the header declares; both 0 for a null or
// unknown header. Also fills the slice's CPU fields.
void CRMachOSliceHeaderInfo(CRMachOSlice* slice, const uint8_t** outLoadCommandsStart, uint32_t* outCommandCount);

using CRMachOLoadCommandFunction = void (*)(uint32_t cmd, uint32_t cmdsize, const uint8_t* command, void* context);
void CRMachOSliceForEachLoadCommand(CRMachOSlice* slice, void* context, CRMachOLoadCommandFunction function);
void CRMachOSliceForEachLoadCommandBlock(
    CRMachOSlice* slice, const std::function<void(uint32_t cmd, uint32_t cmdsize, const uint8_t* command)>& block);

// The slice's architecture name: our own table, "unknown" for a pair it lacks.
const char* CRMachOSliceArchitectureName(const CRMachOSlice* slice);
const char* CRMachOArchitectureName(int32_t cputype, int32_t cpusubtype);
bool CRMachOSliceHas64BitABI(const CRMachOSlice* slice);
// The file the loader says the slice's start lies in; null when none.
const char* CRMachOSliceImagePath(const CRMachOSlice* slice);

// Command decoders; each returns nothing (null, false, zeros) when cmdsize does not cover
// the field.
const uint8_t* CRMachOUUIDBytes(const uint8_t* command, uint32_t cmdsize);
const char* CRMachODylibPath(const uint8_t* command, uint32_t cmdsize);
bool CRMachOIsEncrypted(const uint8_t* command, uint32_t cmdsize);
CRMachOVersion CRMachOMinimumOSVersion(const uint8_t* command, uint32_t cmdsize);
CRMachOVersion CRMachOLinkedSDKVersion(const uint8_t* command, uint32_t cmdsize);
CRMachOVersion CRMachOVersionFromPacked(uint32_t packed);

// 16 bytes as 32 lowercase hex digits.
std::string CRMachOUUIDString(const uint8_t* bytes);
// "%d.%d.%d"; nothing for a null version.
std::optional<std::string> CRMachOVersionString(const CRMachOVersion* version);
