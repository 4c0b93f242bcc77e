// The loaded code images of this process, as the dynamic loader lists them, with add and
// remove notifications.
//
// Linux's loader has no image callbacks, so this folder keeps its own list: `setUp` reads
// the loaded set once with dl_iterate_phdr, and `rescan` reads it again and reports the
// difference (the loader's dlpi_adds/dlpi_subs counters make an unchanged set cheap to
// detect). Every library the program opens or closes goes through `openLibrary` and
// `closeLibrary`, which rescan; the crash reporter also rescans before each report, so a
// library loaded behind our back is caught then.
//
// Observers get `onAdd` at once for every image already loaded when they register (as the
// loader's own callbacks do), then an add or remove event for each change found by a
// rescan. Events are delivered one at a time, in the order found, on the thread that
// rescans; an observer must not register or rescan from inside its callback.
//
// An image's header is the address of its ELF header (where its first loaded segment
// begins); `slide` is the loader's load bias. Program headers are readable only while the
// image is loaded, so a remove event carries the path and addresses but no program headers.
//
// Not for crash time: everything here takes a lock and allocates.
#pragma once

#include <elf.h>
#include <link.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform::images {

struct LoadedImage {
  uintptr_t header = 0;          // address of the ELF header
  uintptr_t slide = 0;           // load bias (dlpi_addr)
  std::string path;              // file path; the main program's is /proc/self/exe resolved
  const ElfW(Phdr)* programHeaders = nullptr;  // null in remove events
  uint16_t programHeaderCount = 0;
  bool isMainProgram = false;
};

using ImageEvent = std::function<void(const LoadedImage&)>;
using ObserverId = uint64_t;

// Reads the loaded set for the first time (later calls rescan).
void setUp();
// Reads the loaded set again and reports the images added and removed since the last read.
void rescan();
// The images loaded at the last read, in the loader's order (the main program first).
std::vector<LoadedImage> loadedImages();

// Registers an observer: `onAdd` runs at once for every image of the current set, then for
// each later addition; `onRemove` for each later removal.
ObserverId addObserver(ImageEvent onAdd, ImageEvent onRemove);
void removeObserver(ObserverId id);

// dlopen and dlclose, followed by a rescan.
void* openLibrary(const char* path, int flags);
int closeLibrary(void* handle);

}  // namespace platform::images
