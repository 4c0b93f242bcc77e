// Facts read from ELF images: a loaded image in memory (through its program headers) or an
// executable file on disk.
//
// For a loaded image: its size runs from the ELF header to the end of the last executable
// PT_LOAD segment; the build identifier is the GNU build-id note; the unwind tables are
// found through PT_GNU_EH_FRAME (the `.eh_frame_hdr` section), whose header names the
// `.eh_frame` section. A file is read with bounds checks everywhere, so a truncated or
// corrupt file yields `std::nullopt`, never a read outside it.
//
// Memory reads of a loaded image are plain reads; call them only while the image is
// loaded, and never at crash time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/images/images.h"

namespace platform::images {

struct ElfImageFacts {
  uintptr_t header = 0;
  uintptr_t size = 0;            // header to the end of the last executable segment
  std::vector<uint8_t> buildId;  // the whole GNU build-id; empty without one
  uintptr_t ehFrameHeader = 0;   // address of .eh_frame_hdr, or 0
  uintptr_t ehFrame = 0;         // address of .eh_frame named by that header, or 0
  uint16_t machine = 0;          // e_machine
};

ElfImageFacts describeLoadedImage(const LoadedImage& image);

struct ElfFileFacts {
  uint16_t machine = 0;
  std::vector<uint8_t> buildId;
};

// Reads a 64- or 32-bit little-endian ELF file from bytes; nullopt when they are not one.
std::optional<ElfFileFacts> readElfFile(const uint8_t* bytes, size_t length);
// Whether the bytes begin with the ELF magic.
bool looksLikeElf(const uint8_t* bytes, size_t length);

// The architecture name of an e_machine value: "x86_64", "arm64", "i386", "arm", else
// "unknown".
const char* elfArchitectureName(uint16_t machine);

}  // namespace platform::images
