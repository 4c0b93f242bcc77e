// The table of loaded code images and `binary_images.crrecord`.
//
// The writable context holds 1,024 slots. A slot is claimed by a compare-and-swap of its
// `baseAddress` (the image's ELF header) from 0; its other fields follow and its `size` is
// stored last, with release order, so a reader that sees a size sees the whole slot. An
// unload sets the size back to 0 first: the slot keeps its header, matches no address and
// is not reused.
//
// Every image event is also one line of `binary_images.crrecord` in the report folder:
//   {"load":{"path":"/usr/lib/libz.so.1","uuid":"3b2e...","base":140..,"size":90112}}
// Slot stores and file writes run on the ".binary-images" queue.
//
// Contract: `CRBinaryImageSafeFindImageForAddress` is safe at crash time (no lock, no
// allocation, atomic reads). Everything else runs at set-up, on the ".binary-images" queue
// or before a report is written.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct CRFile;

inline constexpr size_t kCRBinaryImageSlotCount = 1024;

// A slot of the table, as crash-time code reads it.
struct CRBinaryImage {
  uintptr_t baseAddress = 0;  // the ELF header
  uintptr_t size = 0;         // header to the end of the last executable segment
  uintptr_t ehFrame = 0;      // .eh_frame, or 0
  uintptr_t unwindInfo = 0;   // always 0 on ELF
  uintptr_t crashInfo = 0;    // the image's exported `cr_crash_info`, or 0
  uintptr_t ehFrameHeader = 0;  // .eh_frame_hdr, or 0
};

struct CRBinaryImageSlot {
  std::atomic<uintptr_t> baseAddress{0};
  std::atomic<uintptr_t> size{0};
  uintptr_t ehFrame = 0;
  uintptr_t unwindInfo = 0;
  uintptr_t crashInfo = 0;
  uintptr_t ehFrameHeader = 0;
};

// What is known of one image.
struct CRBinaryImageInfo {
  char uuidString[33] = {};  // the first 16 bytes of the build-id in lowercase hex, zeros without
  bool encrypted = false;
  uint32_t builtSDKVersion = 0;
  uint32_t minimumOSVersion = 0;
  CRBinaryImage node;
  uintptr_t slide = 0;
  uint16_t machine = 0;
  std::string path;
};

// Set-up (after the context's binary-image path is stored): resets the table and the file,
// then tracks every image now loaded and every later change found by a rescan.
void CRBinaryImageInit();
// Reads the loaded set again and waits until the table and the file follow it: set-up reads
// it first, the image service's openLibrary/closeLibrary report their own changes, and the
// on-demand record (threads.h) calls this so that libraries opened or closed behind the
// service's back are in the table (or out of it) before the record is written. Not on the
// ".binary-images" queue.
void CRBinaryImageRescan();
// Waits until every image event queued so far is stored and written.
void CRBinaryImageWaitForPendingEvents();

bool CRBinaryImageSafeFindImageForAddress(uintptr_t address, CRBinaryImage* outSlot);
bool CRBinaryImageFindImageForUUID(const char* uuidString, CRBinaryImageInfo* outDetails);
// The "executable" section of the main program. Always true.
bool CRBinaryImageWriteExecutable(CRFile* file);
// "uuid", "base" and "size" of an image.
void CRBinaryImageRecordDetails(CRFile* file, const CRBinaryImageInfo* details);
// Opens the record file unless the set-up still holds it open; `outNeedsClosing` says
// whether the caller must close it.
bool CRBinaryImageOpenIfNeeded(bool* outNeedsClosing);

// Stores an image's slot (load) or retires it (unload). Runs on the ".binary-images" queue;
// exposed for tests. False, after logging, when no slot could be taken.
bool CRBinaryImageStoreNode(bool added, const CRBinaryImage& node);

// Stops tracking images and forgets the known ones; forgetting the context (a test's fresh
// process) calls it.
void CRBinaryImageStopTracking();
