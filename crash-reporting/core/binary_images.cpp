// Contract: CRBinaryImageSafeFindImageForAddress is crash-time safe (atomic reads of the
// table, no lock, no allocation). Everything else runs at set-up or on the ".binary-images"
// queue; it allocates, locks and calls the loader.
#include "crash-reporting/core/binary_images.h"

#include <dlfcn.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <unordered_map>

#include "crash-reporting/core/context.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/utilities.h"
#include "platform/dispatch/queue.h"
#include "platform/foundation/bundle.h"
#include "platform/images/elf_image.h"
#include "platform/images/images.h"

namespace {

struct Tracking {
  std::mutex mutex;
  platform::images::ObserverId observer = 0;
  // Details of the images seen loaded, by header; touched on the ".binary-images" queue only.
  std::unordered_map<uintptr_t, CRBinaryImageInfo> known;
};

Tracking& tracking() {
  static Tracking* state = new Tracking;
  return *state;
}

CRBinaryImageInfo detailsOf(const platform::images::LoadedImage& image) {
  CRBinaryImageInfo details;
  const platform::images::ElfImageFacts facts = platform::images::describeLoadedImage(image);
  details.node.baseAddress = facts.header;
  details.node.size = facts.size;
  details.node.ehFrame = facts.ehFrame;
  details.node.ehFrameHeader = facts.ehFrameHeader;
  details.node.unwindInfo = 0;
  uint8_t uuid[16] = {};
  if (!facts.buildId.empty()) std::memcpy(uuid, facts.buildId.data(), std::min<size_t>(facts.buildId.size(), sizeof uuid));
  CRUUIDBytesToHexInto(uuid, details.uuidString);
  details.slide = image.slide;
  details.machine = facts.machine;
  details.path = image.path;
  return details;
}

// The image's own exported `cr_crash_info`, found through the loader (never at crash time).
uintptr_t lookUpCrashInfo(const CRBinaryImageInfo& details, bool mainProgram) {
  void* handle = dlopen(mainProgram ? nullptr : details.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return 0;
  uintptr_t address = 0;
  if (void* symbol = dlsym(handle, "cr_crash_info")) {
    Dl_info info{};
    if (dladdr(symbol, &info) != 0 && reinterpret_cast<uintptr_t>(info.dli_fbase) == details.node.baseAddress) {
      address = reinterpret_cast<uintptr_t>(symbol);
    }
  }
  dlclose(handle);
  return address;
}

void recordSlice(bool added, const CRBinaryImageInfo& details) {
  bool needsClosing = false;
  if (!CRBinaryImageOpenIfNeeded(&needsClosing)) {
    CRLogWarning("Error: unable to open binary image log file\n");
    return;
  }
  CRFile* file = &crWritableContext->binaryImage.file;
  CRFileWriteSectionStart(file, added ? "load" : "unload");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryString(file, "path", details.path.c_str());
  if (added && details.path.rfind("/System", 0) != 0 && details.path.find(".framework") != std::string::npos) {
    const platform::Bundle bundle(std::filesystem::path(details.path).parent_path());
    auto text = [&](const char* key) -> std::string {
      auto value = bundle.objectForInfoDictionaryKey(key);
      return value && value->asString() != nullptr ? *value->asString() : std::string();
    };
    CRFileWriteHashEntryNonEmptyString(file, "bundle_id", bundle.bundleIdentifier().value_or(""));
    CRFileWriteHashEntryNonEmptyString(file, "build_version", text("CFBundleVersion"));
    CRFileWriteHashEntryNonEmptyString(file, "display_version", text("CFBundleShortVersionString"));
  }
  CRBinaryImageRecordDetails(file, &details);
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
  if (needsClosing) CRFileShut(file);
}

// The queue's work for one event: slot first, then the record line.
void handleEvent(bool added, CRBinaryImageInfo details, bool mainProgram) {
  Tracking& state = tracking();
  if (added) {
    details.node.crashInfo = lookUpCrashInfo(details, mainProgram);
    state.known[details.node.baseAddress] = details;
  } else {
    auto found = state.known.find(details.node.baseAddress);
    if (found != state.known.end()) {
      details = found->second;
      state.known.erase(found);
    }
  }
  if (added) {
    CRBinaryImageStoreNode(true, details.node);
  } else {
    CRBinaryImage retired;
    retired.baseAddress = details.node.baseAddress;
    CRBinaryImageStoreNode(false, retired);
  }
  recordSlice(added, details);
}

void imageEvent(bool added, const platform::images::LoadedImage& image) {
  auto queue = CRContextBinaryImagesQueue();
  if (queue == nullptr) return;
  CRBinaryImageInfo details;
  if (added) {
    details = detailsOf(image);
  } else {
    details.node.baseAddress = image.header;
    details.path = image.path;
  }
  const bool mainProgram = image.isMainProgram;
  queue->async([added, details = std::move(details), mainProgram]() mutable {
    handleEvent(added, std::move(details), mainProgram);
  });
}

}  // namespace

void CRBinaryImageInit() {
  CRContextWritable* writable = crWritableContext;
  if (writable == nullptr) {
    CRLogWarning("Error: Writable context is NULL\n");
    return;
  }
  for (CRBinaryImageSlot& slot : writable->binaryImage.nodes) {
    slot.size.store(0);
    slot.baseAddress.store(0);
    slot.ehFrame = slot.unwindInfo = slot.crashInfo = slot.ehFrameHeader = 0;
  }
  writable->binaryImage.file = CRFile{};
  auto queue = CRContextBinaryImagesQueue();
  queue->async([] {
    const char* path = crReadOnlyContext->binaryImage.path;
    if (!CRRemoveFileIfPresent(path)) CRLogWarning("Unable to reset the binary image log file %s\n", strerror(errno));
    if (!CRFileInit(&crWritableContext->binaryImage.file, path, false)) {
      CRLogWarning("Error: Unable to open the binary image log file during init\n");
    }
  });

  Tracking& state = tracking();
  {
    std::lock_guard lock(state.mutex);
    if (state.observer != 0) platform::images::removeObserver(state.observer);
    state.observer = platform::images::addObserver(
        [](const platform::images::LoadedImage& image) { imageEvent(true, image); },
        [](const platform::images::LoadedImage& image) { imageEvent(false, image); });
  }
  queue->async([] {
    CRFile* file = &crWritableContext->binaryImage.file;
    if (CRFileHasDescriptor(file)) CRFileShut(file);
  });
}

void CRBinaryImageRescan() {
  platform::images::rescan();
  CRBinaryImageWaitForPendingEvents();
}

void CRBinaryImageWaitForPendingEvents() {
  if (auto queue = CRContextBinaryImagesQueue()) queue->sync([] {});
}

bool CRBinaryImageSafeFindImageForAddress(uintptr_t address, CRBinaryImage* outSlot) {
  if (address == 0 || reinterpret_cast<uintptr_t>(outSlot) < 4096 || !CRContextIsReady()) return false;
  const CRContextWritable* writable = crWritableContext;
  for (const CRBinaryImageSlot& slot : writable->binaryImage.nodes) {
    const uintptr_t base = slot.baseAddress.load(std::memory_order_acquire);
    if (base == 0 || address < base) continue;
    const uintptr_t size = slot.size.load(std::memory_order_acquire);
    if (size == 0 || address - base >= size) continue;
    outSlot->baseAddress = base;
    outSlot->size = size;
    outSlot->ehFrame = slot.ehFrame;
    outSlot->unwindInfo = slot.unwindInfo;
    outSlot->crashInfo = slot.crashInfo;
    outSlot->ehFrameHeader = slot.ehFrameHeader;
    return true;
  }
  return false;
}

bool CRBinaryImageFindImageForUUID(const char* uuidString, CRBinaryImageInfo* outDetails) {
  if (uuidString == nullptr || outDetails == nullptr) {
    CRLogWarning("null input\n");
    return false;
  }
  for (const platform::images::LoadedImage& image : platform::images::loadedImages()) {
    CRBinaryImageInfo details = detailsOf(image);
    if (std::strncmp(details.uuidString, uuidString, sizeof details.uuidString) == 0) {
      *outDetails = std::move(details);
      return true;
    }
  }
  return false;
}

bool CRBinaryImageWriteExecutable(CRFile* file) {
  CRBinaryImageInfo details;
  for (const platform::images::LoadedImage& image : platform::images::loadedImages()) {
    if (image.isMainProgram) {
      details = detailsOf(image);
      break;
    }
  }
  CRFileWriteSectionStart(file, "executable");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryString(file, "architecture", platform::images::elfArchitectureName(details.machine));
  CRBinaryImageRecordDetails(file, &details);
  CRFileWriteHashEntryBoolean(file, "encrypted", details.encrypted);
  CRFileWriteHashEntryString(file, "minimum_sdk_version", "0.0.0");
  CRFileWriteHashEntryString(file, "built_sdk_version", "0.0.0");
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
  return true;
}

void CRBinaryImageRecordDetails(CRFile* file, const CRBinaryImageInfo* details) {
  if (file == nullptr) {
    CRLogWarning("Error: file is invalid\n");
    return;
  }
  CRFileWriteHashEntryString(file, "uuid", details->uuidString);
  CRFileWriteHashEntryUint64(file, "base", details->node.baseAddress);
  CRFileWriteHashEntryUint64(file, "size", details->node.size);
}

bool CRBinaryImageOpenIfNeeded(bool* outNeedsClosing) {
  if (outNeedsClosing != nullptr) *outNeedsClosing = false;
  CRContextWritable* writable = crWritableContext;
  if (writable == nullptr || crReadOnlyContext == nullptr) return false;
  if (CRFileHasDescriptor(&writable->binaryImage.file)) return true;
  if (!CRFileInit(&writable->binaryImage.file, crReadOnlyContext->binaryImage.path, false)) return false;
  if (outNeedsClosing != nullptr) *outNeedsClosing = true;
  return true;
}

bool CRBinaryImageStoreNode(bool added, const CRBinaryImage& node) {
  CRContextWritable* writable = crWritableContext;
  if (writable == nullptr) {
    CRLogWarning("Error: Writable context is NULL\n");
    return false;
  }
  for (CRBinaryImageSlot& slot : writable->binaryImage.nodes) {
    if (added) {
      uintptr_t expected = 0;
      if (slot.baseAddress.load(std::memory_order_acquire) != 0) continue;
      if (!slot.baseAddress.compare_exchange_strong(expected, node.baseAddress)) continue;
      slot.ehFrame = node.ehFrame;
      slot.unwindInfo = node.unwindInfo;
      slot.crashInfo = node.crashInfo;
      slot.ehFrameHeader = node.ehFrameHeader;
      slot.size.store(node.size, std::memory_order_release);
      return true;
    }
    if (slot.baseAddress.load(std::memory_order_acquire) != node.baseAddress) continue;
    if (slot.size.load(std::memory_order_acquire) == 0) continue;
    slot.size.store(0, std::memory_order_release);
    slot.ehFrame = slot.unwindInfo = slot.crashInfo = slot.ehFrameHeader = 0;
    return true;
  }
  CRLogWarning("Error: Unable to track a %s node %p\n", added ? "loaded" : "unloaded",
               reinterpret_cast<void*>(node.baseAddress));
  return false;
}

void CRBinaryImageStopTracking() {
  Tracking& state = tracking();
  {
    std::lock_guard lock(state.mutex);
    if (state.observer != 0) platform::images::removeObserver(state.observer);
    state.observer = 0;
  }
  CRBinaryImageWaitForPendingEvents();
  if (auto queue = CRContextBinaryImagesQueue()) queue->sync([] { tracking().known.clear(); });
}
