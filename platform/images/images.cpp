#include "platform/images/images.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <map>
#include <mutex>

namespace platform::images {
namespace {

struct Observer {
  ObserverId id;
  ImageEvent onAdd;
  ImageEvent onRemove;
};

struct Registry {
  std::recursive_mutex mutex;  // an observer may read loadedImages() from its callback
  bool scanned = false;
  unsigned long long adds = 0;
  unsigned long long subs = 0;
  std::vector<LoadedImage> images;  // loader order
  std::vector<Observer> observers;
  ObserverId nextId = 1;
};

Registry& registry() {
  static Registry* instance = new Registry;  // outlives every static destructor
  return *instance;
}

std::string mainProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return "/proc/self/exe";
  return std::string(buffer, static_cast<size_t>(length));
}

struct Scan {
  std::vector<LoadedImage> images;
  unsigned long long adds = 0;
  unsigned long long subs = 0;
};

int collect(struct dl_phdr_info* info, size_t size, void* context) {
  auto* scan = static_cast<Scan*>(context);
  if (size >= offsetof(struct dl_phdr_info, dlpi_subs) + sizeof info->dlpi_subs) {
    scan->adds = info->dlpi_adds;
    scan->subs = info->dlpi_subs;
  }
  LoadedImage image;
  image.slide = info->dlpi_addr;
  image.programHeaders = info->dlpi_phdr;
  image.programHeaderCount = info->dlpi_phnum;
  for (uint16_t i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    if (header.p_type == PT_LOAD) {
      image.header = info->dlpi_addr + header.p_vaddr - header.p_offset;
      break;
    }
  }
  if (image.header == 0) return 0;
  image.isMainProgram = scan->images.empty() && (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0');
  image.path = info->dlpi_name != nullptr ? info->dlpi_name : "";
  scan->images.push_back(std::move(image));
  return 0;
}

// Reads the loaded set; the caller holds the registry's lock.
void rescanLocked(Registry& state) {
  Scan scan;
  dl_iterate_phdr(collect, &scan);
  if (!scan.images.empty() && scan.images.front().isMainProgram) scan.images.front().path = mainProgramPath();
  if (state.scanned && scan.adds == state.adds && scan.subs == state.subs) return;

  std::vector<LoadedImage> removed;
  std::vector<LoadedImage> added;
  std::map<uintptr_t, const LoadedImage*> now;
  for (const LoadedImage& image : scan.images) now[image.header] = &image;
  std::map<uintptr_t, const LoadedImage*> before;
  for (const LoadedImage& image : state.images) before[image.header] = &image;
  for (const LoadedImage& image : state.images) {
    auto found = now.find(image.header);
    if (found == now.end() || found->second->path != image.path) {
      LoadedImage gone = image;
      gone.programHeaders = nullptr;
      gone.programHeaderCount = 0;
      removed.push_back(std::move(gone));
    }
  }
  for (const LoadedImage& image : scan.images) {
    auto found = before.find(image.header);
    if (found == before.end() || found->second->path != image.path) added.push_back(image);
  }

  state.images = std::move(scan.images);
  state.adds = scan.adds;
  state.subs = scan.subs;
  state.scanned = true;
  for (const LoadedImage& image : removed) {
    for (const Observer& observer : state.observers) {
      if (observer.onRemove) observer.onRemove(image);
    }
  }
  for (const LoadedImage& image : added) {
    for (const Observer& observer : state.observers) {
      if (observer.onAdd) observer.onAdd(image);
    }
  }
}

}  // namespace

void setUp() {
  Registry& state = registry();
  std::lock_guard lock(state.mutex);
  rescanLocked(state);
}

void rescan() { setUp(); }

std::vector<LoadedImage> loadedImages() {
  Registry& state = registry();
  std::lock_guard lock(state.mutex);
  if (!state.scanned) rescanLocked(state);
  return state.images;
}

ObserverId addObserver(ImageEvent onAdd, ImageEvent onRemove) {
  Registry& state = registry();
  std::lock_guard lock(state.mutex);
  rescanLocked(state);
  const ObserverId id = state.nextId++;
  state.observers.push_back({id, onAdd, std::move(onRemove)});
  if (onAdd) {
    for (const LoadedImage& image : state.images) onAdd(image);
  }
  return id;
}

void removeObserver(ObserverId id) {
  Registry& state = registry();
  std::lock_guard lock(state.mutex);
  std::erase_if(state.observers, [id](const Observer& observer) { return observer.id == id; });
}

void* openLibrary(const char* path, int flags) {
  void* handle = dlopen(path, flags);
  rescan();
  return handle;
}

int closeLibrary(void* handle) {
  const int result = dlclose(handle);
  rescan();
  return result;
}

}  // namespace platform::images
