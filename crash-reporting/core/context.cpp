// Contract: CRContextIsReady and CRContextSetCrashedOnce are crash-time safe (atomics and
// fences). The rest is set-up code: it allocates, takes locks and uses dispatch queues.
#include "crash-reporting/core/context.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include "crash-reporting/core/host.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/process.h"
#include "crash-reporting/core/safe_memory.h"
#include "crash-reporting/core/utilities.h"
#include "platform/dispatch/group.h"
#include "platform/dispatch/queue.h"
#include "platform/process_state/process_state.h"
#include "sdk-core/utilities/environment.h"

CRContextReadOnly* crReadOnlyContext = nullptr;
CRContextWritable* crWritableContext = nullptr;
CRAllocatorState* crContextAllocator = nullptr;

namespace {

struct SetUpState {
  std::mutex mutex;
  CRContextHooks hooks;
  std::shared_ptr<platform::DispatchQueue> loggingQueue;
  std::shared_ptr<platform::DispatchQueue> binaryImagesQueue;
  std::shared_ptr<platform::DispatchQueue> exceptionQueue;
  std::optional<platform::DispatchGroup> group;  // the last set-up, until its final block ends
};

void forgetContext();

SetUpState& setUpState() {
  static SetUpState* state = [] {
    platform::addProcessStateReset(&forgetContext);
    return new SetUpState;
  }();
  return *state;
}

// Metadata writes never overlap, and the newest data wins: set-up's own write (block f) is
// skipped when a session change has written newer data in the meantime.
struct MetadataState {
  std::mutex mutex;
  std::shared_ptr<const CRContextInitData> latest;
};

MetadataState& metadataState() {
  static MetadataState* state = new MetadataState;
  return *state;
}

bool writeMetadataLocked(const char* rootPath, const CRContextInitData& initData);

std::string pathIn(const std::string& folder, const char* name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

const char* copyPathIn(const std::string& folder, const char* name) {
  return CRCopyStringIntoContext(pathIn(folder, name).c_str());
}

template <class T>
T* allocateZeroed(uint32_t type, size_t size = sizeof(T)) {
  void* memory = CRAllocatorSafeAllocate(crContextAllocator, size, type);
  if (memory == nullptr) return nullptr;
  std::memset(memory, 0, size);
  return static_cast<T*>(memory);
}

// Makes the queues, the mapping and both parts.
bool allocateContext() {
  SetUpState& state = setUpState();
  {
    std::lock_guard lock(state.mutex);
    const std::string prefix = CRAppQueuePrefix();
    state.loggingQueue = platform::DispatchQueue::makeSerial(prefix + ".logging");
    state.binaryImagesQueue = platform::DispatchQueue::makeSerial(prefix + ".binary-images");
    state.exceptionQueue = platform::DispatchQueue::makeSerial(prefix + ".exception");
  }
  crContextAllocator =
      CRAllocatorCreate(2 * kCRStackSize + sizeof(CRContextWritable), sizeof(CRContextReadOnly) + kCRContextStringRoom);

  auto* readOnlyMemory = allocateZeroed<CRContextReadOnly>(CRAllocationTypeReadOnly);
  void* machStack = allocateZeroed<char>(CRAllocationTypeReadWrite, kCRStackSize);
  void* signalStack = allocateZeroed<char>(CRAllocationTypeReadWrite, kCRStackSize);
  auto* writableMemory = allocateZeroed<CRContextWritable>(CRAllocationTypeReadWrite);
  if (readOnlyMemory == nullptr || writableMemory == nullptr) return false;

  auto* readOnly = new (readOnlyMemory) CRContextReadOnly;
  readOnly->machStack = machStack;
  readOnly->signalStack = signalStack;
  auto* writable = new (writableMemory) CRContextWritable;
  writable->internalLogging.logFd.store(-1);
  writable->internalLogging.logLevel = CRLogLevelDebug;
  writable->crashOccurred.store(false);
  readOnly->initialized.store(false);
  std::atomic_thread_fence(std::memory_order_seq_cst);

  crWritableContext = writable;
  crReadOnlyContext = readOnly;
  CRSafeMemoryPrepare();
  return true;
}

// Block b: the logging stores' files and limits (their own code fills in the rest).
void setUpLogging(const std::string& root, const CRContextInitData& initData, const CRContextHooks& hooks) {
  CRContextReadOnly* readOnly = crReadOnlyContext;
  CRContextWritable* writable = crWritableContext;
  auto& logging = readOnly->logging;
  logging.userKVStorage.incrementalPath = copyPathIn(root, "user_incremental_kv.crrecord");
  logging.userKVStorage.compactedPath = copyPathIn(root, "user_compacted_kv.crrecord");
  logging.userKVStorage.maxCount = initData.maxKeyValues;
  logging.internalKVStorage.incrementalPath = copyPathIn(root, "internal_incremental_kv.crrecord");
  logging.internalKVStorage.compactedPath = copyPathIn(root, "internal_compacted_kv.crrecord");
  logging.internalKVStorage.maxCount = 32;

  logging.logStorage.aPath = copyPathIn(root, "log_a.crrecord");
  logging.logStorage.bPath = copyPathIn(root, "log_b.crrecord");
  logging.logStorage.maxSize = initData.maxLogSize;
  logging.logStorage.maxEntries = 0;
  logging.logStorage.restrictBySize = true;
  logging.logStorage.entryCount = nullptr;

  logging.errorStorage.aPath = copyPathIn(root, "errors_a.crrecord");
  logging.errorStorage.bPath = copyPathIn(root, "errors_b.crrecord");
  logging.errorStorage.maxSize = 0;
  logging.errorStorage.maxEntries = initData.errorsEnabled ? initData.maxCustomExceptions : 0;
  logging.errorStorage.restrictBySize = false;
  logging.errorStorage.entryCount = &writable->logging.errorCount;

  logging.customExceptionStorage.aPath = copyPathIn(root, "custom_exception_a.crrecord");
  logging.customExceptionStorage.bPath = copyPathIn(root, "custom_exception_b.crrecord");
  logging.customExceptionStorage.maxSize = 0;
  logging.customExceptionStorage.restrictBySize = false;
  logging.customExceptionStorage.maxEntries = initData.maxCustomExceptions;
  logging.customExceptionStorage.entryCount = &writable->exception.customExceptionCount;

  // The user-logging initialiser: A files active, counts zero, incremental limits of 64.
  writable->logging.activeLogPath = logging.logStorage.aPath;
  writable->logging.activeErrorPath = logging.errorStorage.aPath;
  writable->logging.activeCustomExceptionPath = logging.customExceptionStorage.aPath;
  writable->logging.userKVCount = 0;
  writable->logging.internalKVCount = 0;
  writable->logging.errorCount = 0;
  logging.userKVStorage.incrementalLimit = 64;
  logging.internalKVStorage.incrementalLimit = 64;
  if (hooks.userLoggingInitialize) hooks.userLoggingInitialize();
}

// Block e: the crash handlers, unless a debugger is attached.
void setUpHandlers(const std::string& root, const CRContextInitData& initData, const CRContextHooks& hooks) {
  CRContextReadOnly* readOnly = crReadOnlyContext;
  if (readOnly->debuggerAttached) {
    CRLogWarning("Debugger present - not installing handlers\n");
    return;
  }
  readOnly->signal.path = copyPathIn(root, "signal.crrecord");
  if (hooks.signalInitialize) hooks.signalInitialize();
  readOnly->machException.path = copyPathIn(root, "mach_exception.crrecord");
  if (hooks.machExceptionInitialize) hooks.machExceptionInitialize();
  readOnly->exception.path = copyPathIn(root, "exception.crrecord");
  readOnly->exception.maxCustomExceptions = initData.customExceptionsEnabled ? initData.maxCustomExceptions : 0;
  if (hooks.exceptionInitialize) hooks.exceptionInitialize();
}

void writeIdentitySection(CRFile* file, const CRContextInitData& initData) {
  const std::string generator = CRGeneratorString();
  const std::string version = TELSDKVersionString();
  auto optionalText = [](const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; };
  CRFileWriteSectionStart(file, "identity");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryString(file, "generator", generator.c_str());
  CRFileWriteHashEntryString(file, "display_version", version.c_str());
  CRFileWriteHashEntryString(file, "build_version", version.c_str());
  CRFileWriteHashEntryUint64(file, "started_at", static_cast<uint64_t>(time(nullptr)));
  CRFileWriteHashEntryString(file, "session_id", optionalText(initData.sessionId));
  CRFileWriteHashEntryString(file, "app_quality_session_id", optionalText(initData.qualitySessionId));
  CRFileWriteHashEntryString(file, "install_id", "");
  CRFileWriteHashEntryString(file, "beta_token", optionalText(initData.betaToken));
  CRFileWriteHashEntryBoolean(file, "absolute_log_timestamps", true);
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
}

void writeApplicationSection(CRFile* file, const CRContextInitData& initData) {
  const auto bundleId = CRAppBundleIdentifierEscaped();
  const auto buildVersion = CRAppBuildVersion();
  const auto displayVersion = CRAppDisplayVersion();
  const auto extensionId = CRApplicationExtensionPointIdentifier();
  auto optionalText = [](const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; };
  CRFileWriteSectionStart(file, "application");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryString(file, "bundle_id", optionalText(bundleId));
  CRFileWriteHashEntryString(file, "custom_bundle_id", optionalText(initData.customBundleId));
  CRFileWriteHashEntryString(file, "build_version", optionalText(buildVersion));
  CRFileWriteHashEntryString(file, "display_version", optionalText(displayVersion));
  CRFileWriteHashEntryString(file, "extension_id", optionalText(extensionId));
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
}

}  // namespace

void CRContextSetHooks(CRContextHooks hooks) {
  SetUpState& state = setUpState();
  std::lock_guard lock(state.mutex);
  state.hooks = std::move(hooks);
}

bool CRContextInitialize(const CRContextInitData* initDataIn) {
  if (initDataIn == nullptr) return false;
  if (!allocateContext()) return false;
  if (!initDataIn->rootPath) return false;

  auto initData = std::make_shared<const CRContextInitData>(*initDataIn);
  CRContextHooks hooks;
  {
    std::lock_guard lock(setUpState().mutex);
    hooks = setUpState().hooks;
  }
  const std::string root = *initData->rootPath;
  CRContextReadOnly* readOnly = crReadOnlyContext;
  readOnly->logPath = copyPathIn(root, "sdk.log");
  readOnly->initialReportPath = CRCopyStringIntoContext(root.c_str());
  if (!CRRemoveFileIfPresent(readOnly->logPath)) {
    CRConsoleError("Unable to write initialize SDK write paths %s", strerror(errno));
  }
  readOnly->debuggerAttached = CRProcessDebuggerAttached();
  if (!readOnly->debuggerAttached && hooks.callingThreadInitialize) hooks.callingThreadInitialize();

  platform::DispatchGroup group;
  const auto queue = platform::DispatchQueue::global(platform::QoS::Default);
  group.async(queue, [] { CRHostSetUp(); });
  group.async(queue, [root, initData, hooks] { setUpLogging(root, *initData, hooks); });
  group.async(queue, [root] {
    crReadOnlyContext->binaryImage.path = copyPathIn(root, "binary_images.crrecord");
    CRBinaryImageInit();
  });
  group.async(queue, [initData] {
    crReadOnlyContext->previouslyCrashedFileFullPath =
        copyPathIn(initData->previouslyCrashedFileRootPath.value_or(""), "previously-crashed");
  });
  group.async(queue, [root, initData, hooks] { setUpHandlers(root, *initData, hooks); });
  {
    std::lock_guard lock(metadataState().mutex);
    metadataState().latest = initData;
  }
  group.async(queue, [root, initData] {
    std::lock_guard lock(metadataState().mutex);
    if (metadataState().latest != initData) return;  // a newer session ID was written already
    if (!writeMetadataLocked(root.c_str(), *initData)) CRLogWarning("Unable to record context metadata\n");
  });
  if (hooks.extraSetUpBlock) group.async(queue, hooks.extraSetUpBlock);

  // The wait covers the final block too, so that a set-up that finishes in time returns
  // with the context ready and protected.
  platform::DispatchGroup finished;
  finished.enter();
  {
    std::lock_guard lock(setUpState().mutex);
    setUpState().group = finished;
  }
  group.notify(queue, [finished]() mutable {
    crReadOnlyContext->initialized.store(true);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (!CRAllocatorProtect(crContextAllocator)) CRLogWarning("Error: Memory protection failed\n");
    finished.leave();
  });

  if (!finished.wait(std::chrono::seconds(5))) CRLogWarning("Error: Delayed initialization\n");
  return true;
}

bool CRContextIsReady() {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  const CRContextReadOnly* readOnly = crReadOnlyContext;
  return readOnly != nullptr && readOnly->initialized.load();
}

bool CRContextSetCrashedOnce() {
  if (!CRContextIsReady()) return false;
  CRContextWritable* writable = crWritableContext;
  if (writable == nullptr) return false;
  const bool already = writable->crashOccurred.exchange(true);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return already;
}

bool CRContextRecordMetadata(const char* rootPath, const CRContextInitData* initData) {
  if (rootPath == nullptr || initData == nullptr) return false;
  std::lock_guard lock(metadataState().mutex);
  metadataState().latest = std::make_shared<const CRContextInitData>(*initData);
  return writeMetadataLocked(rootPath, *initData);
}

namespace {

bool writeMetadataLocked(const char* rootPath, const CRContextInitData& initDataRef) {
  const CRContextInitData* initData = &initDataRef;
  const std::string finalPath = pathIn(rootPath, "metadata.crrecord");
  const std::string temporaryPath = finalPath + ".tmp";
  if (!CRRemoveFileIfPresent(temporaryPath.c_str())) {
    CRLogWarning("Unable to unlink existing metadata file %s\n", strerror(errno));
  }
  CRFile file;
  if (!CRFileInitWithPathMode(&file, temporaryPath.c_str(), false, false)) {
    CRLogWarning("Unable to open metadata file %s\n", strerror(errno));
    return false;
  }
  writeIdentitySection(&file, *initData);
  if (!CRHostWriteSection(&file)) CRLogWarning("Unable to write out host metadata\n");
  writeApplicationSection(&file, *initData);
  if (!CRBinaryImageWriteExecutable(&file)) CRLogWarning("Unable to write out executable metadata\n");
  CRFileShut(&file);
  if (rename(temporaryPath.c_str(), finalPath.c_str()) != 0) {
    CRLogWarning("Unable to open metadata file %s\n", strerror(errno));
    unlink(temporaryPath.c_str());
    return false;
  }
  return true;
}

}  // namespace

const char* CRCopyStringIntoContext(const char* string) {
  if (string == nullptr) return nullptr;
  const size_t length = std::strlen(string);
  auto* copy = static_cast<char*>(CRAllocatorSafeAllocate(crContextAllocator, length + 1, CRAllocationTypeReadOnly));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, string, length);
  copy[length] = '\0';
  return copy;
}

bool CRRemoveFileIfPresent(const char* path) {
  if (path == nullptr) return false;
  return unlink(path) == 0 || errno == ENOENT;
}

void CRCreateCrashedMarkerFile() {
  CRFile file;
  const CRContextReadOnly* readOnly = crReadOnlyContext;
  if (readOnly == nullptr || !CRFileInit(&file, readOnly->previouslyCrashedFileFullPath, false)) {
    CRLogWarning("Unable to create the crashed marker file\n");
    return;
  }
  CRFileShut(&file);
  CRLogWarning("Created the crashed marker file\n");
}

std::shared_ptr<platform::DispatchQueue> CRContextLoggingQueue() {
  std::lock_guard lock(setUpState().mutex);
  return setUpState().loggingQueue;
}

std::shared_ptr<platform::DispatchQueue> CRContextBinaryImagesQueue() {
  std::lock_guard lock(setUpState().mutex);
  return setUpState().binaryImagesQueue;
}

std::shared_ptr<platform::DispatchQueue> CRContextExceptionQueue() {
  std::lock_guard lock(setUpState().mutex);
  return setUpState().exceptionQueue;
}
namespace {
// Waits for set-up blocks still running, stops image tracking and forgets the context, as a
// fresh process has none. The old mapping is left in place.
void forgetContext() {
  std::optional<platform::DispatchGroup> group;
  {
    std::lock_guard lock(setUpState().mutex);
    group = setUpState().group;
    setUpState().group.reset();
    setUpState().hooks = {};
  }
  if (group) group->wait(std::chrono::seconds(30));
  CRBinaryImageStopTracking();
  if (crWritableContext != nullptr) {
    const int fd = crWritableContext->internalLogging.logFd.exchange(-1);
    if (fd >= 0) close(fd);
  }
  crReadOnlyContext = nullptr;
  crWritableContext = nullptr;
  crContextAllocator = nullptr;
}
}  // namespace
