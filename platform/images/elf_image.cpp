#include "platform/images/elf_image.h"

#include <cstring>

namespace platform::images {
namespace {

constexpr uint32_t kGnuBuildIdNote = 3;  // NT_GNU_BUILD_ID

size_t alignUp(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Finds the GNU build-id among the notes in [notes, notes + length).
std::vector<uint8_t> buildIdInNotes(const uint8_t* notes, size_t length, size_t alignment) {
  if (alignment != 8) alignment = 4;
  size_t at = 0;
  while (at <= length && length - at >= 12) {
    uint32_t nameSize, descSize, type;
    std::memcpy(&nameSize, notes + at, 4);
    std::memcpy(&descSize, notes + at + 4, 4);
    std::memcpy(&type, notes + at + 8, 4);
    const size_t nameAt = at + 12;
    if (nameSize > length - nameAt) break;
    const size_t descAt = alignUp(nameAt + nameSize, alignment);
    if (descAt > length || descSize > length - descAt) break;
    if (type == kGnuBuildIdNote && nameSize == 4 && std::memcmp(notes + nameAt, "GNU", 4) == 0) {
      return std::vector<uint8_t>(notes + descAt, notes + descAt + descSize);
    }
    const size_t next = alignUp(descAt + descSize, alignment);
    if (next <= at) break;
    at = next;
  }
  return {};
}

// Reads one DWARF-encoded pointer of .eh_frame_hdr (pc-relative, data-relative or absolute
// forms); 0 for forms that are not used there.
uintptr_t readEncodedPointer(const uint8_t* field, uint8_t encoding, uintptr_t headerStart) {
  if (encoding == 0xff) return 0;
  uintptr_t value = 0;
  switch (encoding & 0x0f) {
    case 0x00:
    case 0x04:
    case 0x0c: {
      uint64_t raw;
      std::memcpy(&raw, field, 8);
      value = static_cast<uintptr_t>(raw);
      break;
    }
    case 0x03: {
      uint32_t raw;
      std::memcpy(&raw, field, 4);
      value = raw;
      break;
    }
    case 0x0b: {
      int32_t raw;
      std::memcpy(&raw, field, 4);
      value = static_cast<uintptr_t>(static_cast<intptr_t>(raw));
      break;
    }
    case 0x02: {
      uint16_t raw;
      std::memcpy(&raw, field, 2);
      value = raw;
      break;
    }
    case 0x0a: {
      int16_t raw;
      std::memcpy(&raw, field, 2);
      value = static_cast<uintptr_t>(static_cast<intptr_t>(raw));
      break;
    }
    default:
      return 0;
  }
  switch (encoding & 0x70) {
    case 0x00:
      return value;
    case 0x10:
      return value + reinterpret_cast<uintptr_t>(field);
    case 0x30:
      return value + headerStart;
    default:
      return 0;
  }
}

template <class Ehdr, class Phdr>
std::optional<ElfFileFacts> readElfFileOfClass(const uint8_t* bytes, size_t length) {
  if (length < sizeof(Ehdr)) return std::nullopt;
  Ehdr header;
  std::memcpy(&header, bytes, sizeof header);
  ElfFileFacts facts;
  facts.machine = header.e_machine;
  if (header.e_phnum == 0) return facts;
  if (header.e_phentsize < sizeof(Phdr) || header.e_phoff > length) return std::nullopt;
  if (static_cast<uint64_t>(header.e_phnum) * header.e_phentsize > length - header.e_phoff) return std::nullopt;
  for (size_t i = 0; i < header.e_phnum; ++i) {
    Phdr segment;
    std::memcpy(&segment, bytes + header.e_phoff + i * header.e_phentsize, sizeof segment);
    if (segment.p_type != PT_NOTE) continue;
    if (segment.p_offset > length || segment.p_filesz > length - segment.p_offset) return std::nullopt;
    facts.buildId = buildIdInNotes(bytes + segment.p_offset, segment.p_filesz, segment.p_align);
    if (!facts.buildId.empty()) break;
  }
  return facts;
}

}  // namespace

ElfImageFacts describeLoadedImage(const LoadedImage& image) {
  ElfImageFacts facts;
  facts.header = image.header;
  if (image.header == 0 || image.programHeaders == nullptr) return facts;
  facts.machine = reinterpret_cast<const ElfW(Ehdr)*>(image.header)->e_machine;
  uintptr_t executableEnd = 0;
  for (uint16_t i = 0; i < image.programHeaderCount; ++i) {
    const ElfW(Phdr)& segment = image.programHeaders[i];
    const uintptr_t start = image.slide + segment.p_vaddr;
    if (segment.p_type == PT_LOAD && (segment.p_flags & PF_X) != 0) {
      executableEnd = start + segment.p_memsz;
    } else if (segment.p_type == PT_NOTE && facts.buildId.empty()) {
      facts.buildId = buildIdInNotes(reinterpret_cast<const uint8_t*>(start), segment.p_filesz, segment.p_align);
    } else if (segment.p_type == PT_GNU_EH_FRAME && segment.p_memsz >= 8) {
      facts.ehFrameHeader = start;
      const auto* table = reinterpret_cast<const uint8_t*>(start);
      if (table[0] == 1) facts.ehFrame = readEncodedPointer(table + 4, table[1], start);
    }
  }
  if (executableEnd > image.header) facts.size = executableEnd - image.header;
  return facts;
}

bool looksLikeElf(const uint8_t* bytes, size_t length) {
  return length >= 4 && std::memcmp(bytes, ELFMAG, SELFMAG) == 0;
}

std::optional<ElfFileFacts> readElfFile(const uint8_t* bytes, size_t length) {
  if (!looksLikeElf(bytes, length) || length < EI_NIDENT) return std::nullopt;
  if (bytes[EI_DATA] != ELFDATA2LSB) return std::nullopt;
  if (bytes[EI_CLASS] == ELFCLASS64) return readElfFileOfClass<Elf64_Ehdr, Elf64_Phdr>(bytes, length);
  if (bytes[EI_CLASS] == ELFCLASS32) return readElfFileOfClass<Elf32_Ehdr, Elf32_Phdr>(bytes, length);
  return std::nullopt;
}

const char* elfArchitectureName(uint16_t machine) {
  switch (machine) {
    case EM_X86_64:
      return "x86_64";
    case EM_AARCH64:
      return "arm64";
    case EM_386:
      return "i386";
    case EM_ARM:
      return "arm";
    default:
      return "unknown";
  }
}

}  // namespace platform::images
