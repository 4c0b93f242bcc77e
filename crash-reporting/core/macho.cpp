// Contract: not for crash time (mmap, dladdr, allocation); see macho.h.
#include "crash-reporting/core/macho.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "crash-reporting/core/utilities.h"
#include "platform/images/elf_image.h"
#include "platform/images/images.h"

namespace {

constexpr uint32_t kMagic64 = 0xFEEDFACF;
constexpr uint32_t kCigam64 = 0xCFFAEDFE;
constexpr uint32_t kMagic32 = 0xFEEDFACE;
constexpr uint32_t kCigam32 = 0xCEFAEDFE;
constexpr uint32_t kFatMagic = 0xCAFEBABE;
constexpr uint32_t kFatCigam = 0xBEBAFECA;

uint32_t readU32(const uint8_t* at) {
  uint32_t value;
  std::memcpy(&value, at, 4);
  return value;
}

uint32_t readBigEndianU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) << 24 | static_cast<uint32_t>(at[1]) << 16 |
         static_cast<uint32_t>(at[2]) << 8 | at[3];
}

// Bytes from the start of the header to the first load command, or 0 for an unknown magic.
size_t headerSize(uint32_t magic) {
  if (magic == kMagic64 || magic == kCigam64) return 32;
  if (magic == kMagic32 || magic == kCigam32) return 28;
  return 0;
}

struct ArchitectureName {
  int32_t cputype;
  int32_t cpusubtype;
  const char* name;
};

// cputype values: x86 7, ARM 12, PowerPC 18; | 0x01000000 for the 64-bit ABI, | 0x02000000
// for 64-bit registers with 32-bit pointers.
constexpr ArchitectureName kArchitectureNames[] = {
    {12, 11, "armv7s"},          {12, 12, "armv7k"},          {0x0100000C, 2, "arm64e"},
    {0x0100000C, 0, "arm64"},    {0x0100000C, 1, "arm64v8"},  {0x0200000C, 1, "arm64_32"},
    {12, 0, "arm"},              {12, 5, "armv4t"},           {12, 6, "armv6"},
    {12, 7, "armv5"},            {12, 9, "armv7"},            {12, 10, "armv7f"},
    {12, 14, "armv6m"},          {12, 15, "armv7m"},          {12, 16, "armv7em"},
    {7, 3, "i386"},              {0x01000007, 3, "x86_64"},   {0x01000007, 8, "x86_64h"},
    {18, 0, "ppc"},              {0x01000012, 0, "ppc64"},
};

}  // namespace

bool CRMachOFileOpenPath(CRMachOFile* file, const char* path) {
  if (file == nullptr || path == nullptr) return false;
  *file = CRMachOFile{};
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 16) {
    close(fd);
    return false;
  }
  void* mapping = mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_SHARED, fd, 0);
  if (mapping == MAP_FAILED || mapping == nullptr) {
    close(fd);
    return false;
  }
  file->fd = fd;
  file->mappedSize = static_cast<uint64_t>(status.st_size);
  file->mappedFile = static_cast<const uint8_t*>(mapping);
  return true;
}

bool CRMachOFileOpenMainExecutable(CRMachOFile* file) { return CRMachOFileOpenPath(file, "/proc/self/exe"); }

void CRMachOFileClose(CRMachOFile* file) {
  if (file == nullptr) return;
  if (file->mappedFile != nullptr && file->mappedSize != 0) {
    munmap(const_cast<uint8_t*>(file->mappedFile), file->mappedSize);
  }
  if (file->fd >= 0) close(file->fd);
  *file = CRMachOFile{};
}

void CRMachOFileForEachSlice(const CRMachOFile* file, const CRMachOSliceVisitor& visitor) {
  if (file == nullptr || file->mappedFile == nullptr) return;
  CRMachOForEachSliceAt(file->mappedFile, file->mappedSize, visitor);
}

void CRMachOForEachSliceAt(const uint8_t* address, size_t length, const CRMachOSliceVisitor& visitor) {
  if (address == nullptr || !visitor) return;
  const uint32_t magic = length >= 4 ? readU32(address) : 0;
  if (magic == kFatMagic || magic == kFatCigam) {
    if (length < 8) return;
    const uint32_t count = readBigEndianU32(address + 4);
    if ((length - 8) / 20 < count) return;  // the entry table itself lies past the file
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* entry = address + 8 + 20 * static_cast<size_t>(i);
      const uint32_t offset = readBigEndianU32(entry + 8);
      const uint32_t size = readBigEndianU32(entry + 12);
      if (offset >= length) continue;
      CRMachOSlice slice;
      slice.startAddress = address + offset;
      slice.cputype = static_cast<int32_t>(readBigEndianU32(entry));
      slice.cpusubtype = static_cast<int32_t>(readBigEndianU32(entry + 4));
      slice.size = std::min<size_t>(size, length - offset);
      visitor(&slice);
    }
    return;
  }
  CRMachOSlice slice;
  slice.startAddress = address;
  slice.size = length;
  if (headerSize(magic) != 0 && length >= 12) {
    slice.cputype = static_cast<int32_t>(readU32(address + 4));
    slice.cpusubtype = static_cast<int32_t>(readU32(address + 8));
  }
  visitor(&slice);
}

CRMachOSlice CRMachOSliceOfMainExecutable() {
  CRMachOSlice slice;
  for (const platform::images::LoadedImage& image : platform::images::loadedImages()) {
    if (!image.isMainProgram) continue;
    const platform::images::ElfImageFacts facts = platform::images::describeLoadedImage(image);
    slice.startAddress = reinterpret_cast<const uint8_t*>(image.header);
    slice.size = facts.size;
    switch (facts.machine) {
      case EM_X86_64:
        slice.cputype = 0x01000007;
        slice.cpusubtype = 3;
        break;
      case EM_AARCH64:
        slice.cputype = 0x0100000C;
        slice.cpusubtype = 0;
        break;
      case EM_386:
        slice.cputype = 7;
        slice.cpusubtype = 3;
        break;
      default:
        break;
    }
    break;
  }
  return slice;
}

CRMachOSlice CRMachOSliceFromHeader(const uint8_t* header, size_t length) {
  CRMachOSlice slice;
  slice.startAddress = header;
  slice.size = length;
  return slice;
}

void CRMachOSliceHeaderInfo(CRMachOSlice* slice, const uint8_t** outLoadCommandsStart, uint32_t* outCommandCount) {
  if (outLoadCommandsStart != nullptr) *outLoadCommandsStart = nullptr;
  if (outCommandCount != nullptr) *outCommandCount = 0;
  if (slice == nullptr || slice->startAddress == nullptr || slice->size < 4) return;
  const size_t size = headerSize(readU32(slice->startAddress));
  if (size == 0 || slice->size < size) return;
  slice->cputype = static_cast<int32_t>(readU32(slice->startAddress + 4));
  slice->cpusubtype = static_cast<int32_t>(readU32(slice->startAddress + 8));
  if (outLoadCommandsStart != nullptr) *outLoadCommandsStart = slice->startAddress + size;
  if (outCommandCount != nullptr) *outCommandCount = readU32(slice->startAddress + 16);
}

void CRMachOSliceForEachLoadCommandBlock(
    CRMachOSlice* slice, const std::function<void(uint32_t cmd, uint32_t cmdsize, const uint8_t* command)>& block) {
  if (slice == nullptr || slice->startAddress == nullptr || !block) return;
  const uint8_t* start = nullptr;
  uint32_t count = 0;
  CRMachOSliceHeaderInfo(slice, &start, &count);
  if (start == nullptr || count == 0) return;
  const uint8_t* end = slice->startAddress + slice->size;
  // The commands may not run past the area the header declares (sizeofcmds) either.
  const uint32_t declared = readU32(slice->startAddress + 20);
  if (static_cast<size_t>(end - start) > declared) end = start + declared;
  const uint8_t* command = start;
  for (uint32_t visited = 0; visited < count; ++visited) {
    if (end - command < 8) return;
    const uint32_t cmd = readU32(command);
    const uint32_t cmdsize = readU32(command + 4);
    if (cmdsize < 8 || cmdsize > static_cast<size_t>(end - command)) return;
    block(cmd, cmdsize, command);
    command += cmdsize;
  }
}

void CRMachOSliceForEachLoadCommand(CRMachOSlice* slice, void* context, CRMachOLoadCommandFunction function) {
  if (function == nullptr) return;
  CRMachOSliceForEachLoadCommandBlock(
      slice, [&](uint32_t cmd, uint32_t cmdsize, const uint8_t* command) { function(cmd, cmdsize, command, context); });
}

const char* CRMachOArchitectureName(int32_t cputype, int32_t cpusubtype) {
  const int32_t subtype = cpusubtype & 0x00FFFFFF;  // without the capability bits
  for (const ArchitectureName& entry : kArchitectureNames) {
    if (entry.cputype == cputype && entry.cpusubtype == subtype) return entry.name;
  }
  return "unknown";
}

const char* CRMachOSliceArchitectureName(const CRMachOSlice* slice) {
  if (slice == nullptr) return "unknown";
  return CRMachOArchitectureName(slice->cputype, slice->cpusubtype);
}

bool CRMachOSliceHas64BitABI(const CRMachOSlice* slice) {
  return slice != nullptr && (slice->cputype & CRMachOCPUArchABI64) != 0;
}

const char* CRMachOSliceImagePath(const CRMachOSlice* slice) {
  if (slice == nullptr || slice->startAddress == nullptr) return nullptr;
  Dl_info info{};
  if (dladdr(slice->startAddress, &info) == 0) return nullptr;
  return info.dli_fname;
}

const uint8_t* CRMachOUUIDBytes(const uint8_t* command, uint32_t cmdsize) {
  if (command == nullptr || cmdsize < 24) return nullptr;
  return command + 8;
}

const char* CRMachODylibPath(const uint8_t* command, uint32_t cmdsize) {
  if (command == nullptr || cmdsize < 12) return nullptr;
  const uint32_t offset = readU32(command + 8);
  if (offset >= cmdsize) return nullptr;
  const auto* name = reinterpret_cast<const char*>(command + offset);
  if (std::memchr(name, '\0', cmdsize - offset) == nullptr) return nullptr;
  return name;
}

bool CRMachOIsEncrypted(const uint8_t* command, uint32_t cmdsize) {
  if (command == nullptr || cmdsize < 20) return false;
  return readU32(command + 16) != 0;
}

CRMachOVersion CRMachOVersionFromPacked(uint32_t packed) { return {packed >> 16, (packed >> 8) & 0xFF, packed & 0xFF}; }

CRMachOVersion CRMachOMinimumOSVersion(const uint8_t* command, uint32_t cmdsize) {
  if (command == nullptr || cmdsize < 16) return {};
  return CRMachOVersionFromPacked(readU32(command + 8));
}

CRMachOVersion CRMachOLinkedSDKVersion(const uint8_t* command, uint32_t cmdsize) {
  if (command == nullptr || cmdsize < 16) return {};
  return CRMachOVersionFromPacked(readU32(command + 12));
}

std::string CRMachOUUIDString(const uint8_t* bytes) { return CRUUIDBytesToHex(bytes); }

std::optional<std::string> CRMachOVersionString(const CRMachOVersion* version) {
  if (version == nullptr) return std::nullopt;
  return std::to_string(version->major) + "." + std::to_string(version->minor) + "." + std::to_string(version->bugfix);
}
