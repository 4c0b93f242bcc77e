#include "crash-reporting/reports/user_logging.h"

#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <ctime>
#include <mutex>
#include <sstream>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/section_reader.h"
#include "crash-reporting/reports/file_manager.h"
#include "platform/dispatch/queue.h"
#include "platform/process_state/process_state.h"
#include "platform/foundation/text.h"

namespace {

// Guards the active path of every A/B pair.
std::mutex& abLock() {
  static std::mutex lock;
  return lock;
}

// Held by every piece of logging work, on the caller's thread or in a block of the logging
// queue, so that no two of them touch the files at once. A write takes it on the calling
// thread instead of hopping onto the queue and back.
std::recursive_mutex& loggingLock() {
  static std::recursive_mutex lock;
  return lock;
}

// Work queued for the logging queue and not yet run, oldest first (under the logging lock).
// Whoever takes the lock next runs it first, the queue's block or a write on its caller's
// thread, so work runs in the order it was handed in.
std::deque<std::function<void()>>& queuedWork() {
  static std::deque<std::function<void()>> work;
  platform::addProcessStateReset(+[] {
    std::lock_guard lock(loggingLock());
    queuedWork().clear();
  });
  return work;
}

void runQueuedWork() {
  auto& queue = queuedWork();
  while (!queue.empty()) {
    const std::function<void()> next = std::move(queue.front());
    queue.pop_front();
    next();
  }
}

std::atomic<CRCompactionFault> gCompactionFault{CRCompactionFault::None};

// Writes `content` beside `path` and renames it over `path`: readers see the old file or the
// new one, never a part. (Not synced to disk: it guards against the app dying, not the power.)
bool replaceFile(const char* path, const std::string& content) {
  const std::string temporary = std::string(path) + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = gCompactionFault.load() != CRCompactionFault::Write && CRWriteAll(fd, content);
  if (::close(fd) != 0) ok = false;
  if (ok && gCompactionFault.load() != CRCompactionFault::Rename && ::rename(temporary.c_str(), path) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

constexpr int kMaxErrorFrames = 128;

// At most `maxBytes` bytes of `text`, never ending inside a UTF-8 sequence.
std::string utf8Prefix(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// The "kv" objects of one file; an empty list for a missing file, nullopt for one that
// exists and cannot be read.
std::optional<std::vector<nlohmann::json>> readKVFile(const char* path) {
  struct stat info;
  const bool found = ::stat(path, &info) == 0;
  if (!found && errno == ENOENT) return std::vector<nlohmann::json>{};
  auto sections = found && S_ISREG(info.st_mode) ? CRFileReadSections(path, false) : std::nullopt;
  if (!sections) {
    CRLogWarning("Unable to read file %s\n", path);
    return std::nullopt;
  }
  std::vector<nlohmann::json> entries;
  for (auto& section : *sections) {
    if (!section.is_object()) continue;
    const auto kv = section.find("kv");
    if (kv != section.end() && kv->is_object()) entries.push_back(std::move(*kv));
  }
  return entries;
}

// Keys in the order of their latest write.
class RecencyOrderedSet {
 public:
  void set(const std::string& key, std::optional<std::string> value) {
    const auto found = index_.find(key);
    if (found != index_.end()) {
      slots_[found->second].reset();
      index_.erase(found);
    }
    if (!value) return;
    index_.emplace(key, slots_.size());
    slots_.emplace_back(std::make_pair(key, std::move(*value)));
  }

  CRKeyValuePairs entries() const {
    CRKeyValuePairs out;
    out.reserve(index_.size());
    for (const auto& slot : slots_) {
      if (slot) out.emplace_back(slot->first, slot->second);
    }
    return out;
  }

 private:
  std::vector<std::optional<std::pair<std::string, std::string>>> slots_;
  std::unordered_map<std::string, size_t> index_;
};

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

std::string jsonString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void writeKVRecord(CRFile* file, const char* key, const char* value) {
  CRFileWriteSectionStart(file, "kv");
  CRFileWriteHashStart(file);
  CRFileWriteHashEntryHexEncodedString(file, "key", key);
  CRFileWriteHashEntryHexEncodedString(file, "value", value);
  CRFileWriteHashEnd(file);
  CRFileWriteSectionEnd(file);
}

void writeInfo(CRFile* file, const char* key, const std::map<std::string, platform::PlistValue>& info) {
  if (info.empty()) return;
  CRFileWriteHashKey(file, key);
  CRFileWriteArrayStart(file);
  for (const auto& [name, value] : info) {
    const auto description = CRUserLoggingDescription(value);
    if (!description) continue;
    CRFileWriteArrayStart(file);
    CRFileWriteArrayEntryHexEncodedString(file, name.c_str());
    CRFileWriteArrayEntryHexEncodedString(file, description->c_str());
    CRFileWriteArrayEnd(file);
  }
  CRFileWriteArrayEnd(file);
}

}  // namespace

std::optional<std::string> CRUserLoggingDescription(const platform::PlistValue& value) {
  using Kind = platform::PlistValue::Kind;
  switch (value.kind()) {
    case Kind::Null:
      return std::nullopt;
    case Kind::String:
      return *value.asString();
    case Kind::Boolean:
      return *value.asBool() ? "1" : "0";
    case Kind::Integer:
      return std::to_string(*value.asInteger());
    case Kind::UnsignedInteger:
      return std::to_string(*value.asUnsignedInteger());
    case Kind::Real: {
      std::string text = platform::doubleDescription(*value.asReal());
      if (text.size() > 2 && text.compare(text.size() - 2, 2, ".0") == 0) text.resize(text.size() - 2);
      return text;
    }
    case Kind::Date: {
      const time_t seconds = static_cast<time_t>(value.asDate()->timeIntervalSince1970());
      struct tm utc;
      gmtime_r(&seconds, &utc);
      char text[40];
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &utc);
      return std::string(text);
    }
    default: {
      std::ostringstream text;
      text << value;
      return text.str();
    }
  }
}

CRUserLoggingKVStorage* CRUserLoggingUserKVStorage() {
  return crReadOnlyContext ? &crReadOnlyContext->logging.userKVStorage : nullptr;
}

CRUserLoggingKVStorage* CRUserLoggingInternalKVStorage() {
  return crReadOnlyContext ? &crReadOnlyContext->logging.internalKVStorage : nullptr;
}

void CRUserLoggingSetCompactionFault(CRCompactionFault fault) {
  platform::addProcessStateReset(+[] { gCompactionFault.store(CRCompactionFault::None); });
  gCompactionFault.store(fault);
}

void CRUserLoggingRunExclusive(const std::function<void()>& work) {
  std::lock_guard lock(loggingLock());
  runQueuedWork();
  work();
}

void CRUserLoggingRunOnQueueAsync(std::function<void()> work) {
  const auto queue = CRContextLoggingQueue();
  if (!queue) {
    CRUserLoggingRunExclusive(work);
    return;
  }
  {
    std::lock_guard lock(loggingLock());
    queuedWork().push_back(std::move(work));
  }
  queue->async([] {
    std::lock_guard lock(loggingLock());
    runQueuedWork();
  });
}

void CRUserLoggingRecordUserKeyValue(const std::optional<std::string>& key, const std::optional<std::string>& value) {
  if (!CRContextIsReady()) return;
  CRUserLoggingRecordKeyValue(key, value, &crReadOnlyContext->logging.userKVStorage,
                              &crWritableContext->logging.userKVCount);
}

void CRUserLoggingRecordUserKeysAndValues(const CRKeyValues& keysAndValues) {
  if (!CRContextIsReady()) return;
  CRUserLoggingRecordKeysAndValues(keysAndValues, &crReadOnlyContext->logging.userKVStorage,
                                   &crWritableContext->logging.userKVCount);
}

void CRRecordInternalKeyValue(const std::optional<std::string>& key, const std::optional<std::string>& value) {
  if (!CRContextIsReady()) return;
  CRUserLoggingRecordKeyValue(key, value, &crReadOnlyContext->logging.internalKVStorage,
                              &crWritableContext->logging.internalKVCount);
}

void CRUserLoggingWriteInternalKeyValue(const std::string& key, const std::string& value) {
  if (crReadOnlyContext == nullptr || crWritableContext == nullptr) return;
  CRUserLoggingWriteKeysAndValues({{key, value}}, &crReadOnlyContext->logging.internalKVStorage,
                                  &crWritableContext->logging.internalKVCount, false);
}

void CRUserLoggingRecordKeyValue(const std::optional<std::string>& key, const std::optional<std::string>& value,
                                 const CRUserLoggingKVStorage* storage, uint32_t* counter) {
  if (!key) {
    CRLogWarning("User provided bad key\n");
    return;
  }
  CRUserLoggingRecordKeysAndValues({{*key, value}}, storage, counter);
}

void CRUserLoggingRecordKeysAndValues(const CRKeyValues& keysAndValues, const CRUserLoggingKVStorage* storage,
                                      uint32_t* counter) {
  if (!CRContextIsReady()) return;
  if (keysAndValues.empty()) {
    CRLogWarning("User provided empty key/value dictionary\n");
    return;
  }
  bool hasRemoval = false;
  for (const auto& entry : keysAndValues) hasRemoval = hasRemoval || !entry.second;
  CRUserLoggingWriteKeysAndValues(keysAndValues, storage, counter, hasRemoval);
}

void CRUserLoggingWriteKeysAndValues(const CRKeyValues& keysAndValues, const CRUserLoggingKVStorage* storage,
                                     uint32_t* counter, bool forceCompaction) {
  if (storage == nullptr || counter == nullptr) {
    CRLogError("Bad parameters\n");
    return;
  }
  std::lock_guard lock(loggingLock());
  runQueuedWork();
  CRFile file;
  if (!CRFileInit(&file, storage->incrementalPath, true)) {
    CRLogError("Unable to open k-v file\n");
    return;
  }
  for (const auto& [key, value] : keysAndValues) writeKVRecord(&file, key.c_str(), value ? value->c_str() : nullptr);
  CRFileShut(&file);
  *counter += static_cast<uint32_t>(keysAndValues.size());
  // Compacted at once, in this write's turn: the next write would run it first anyway.
  // A failed compaction keeps the count, so the next append tries again.
  if ((*counter >= storage->incrementalLimit || forceCompaction) && CRUserLoggingCompactKVEntries(storage)) {
    *counter = 0;
  }
}

std::optional<CRKeyValuePairs> CRUserLoggingGetCompactedKVEntries(const CRUserLoggingKVStorage* storage, bool decodeHex) {
  if (storage == nullptr) {
    CRLogError("storage invalid\n");
    return std::nullopt;
  }
  if (!CRContextIsReady()) return CRKeyValuePairs{};
  const auto compacted = readKVFile(storage->compactedPath);
  const auto incremental = readKVFile(storage->incrementalPath);
  if (!compacted || !incremental) return std::nullopt;

  const auto text = [decodeHex](const nlohmann::json& value) {
    const std::string stored = value.get<std::string>();
    return decodeHex ? CRFileHexDecodeString(stored) : stored;
  };
  RecencyOrderedSet set;
  for (const auto& entry : *compacted) {
    const nlohmann::json* key = member(entry, "key");
    const nlohmann::json* value = member(entry, "value");
    if (key == nullptr || value == nullptr || !key->is_string() || !value->is_string()) {
      CRLogError("compacted key/value contains a nil and must be dropped\n");
      continue;
    }
    set.set(text(*key), text(*value));
  }
  for (const auto& entry : *incremental) {
    const nlohmann::json* key = member(entry, "key");
    const nlohmann::json* value = member(entry, "value");
    if (key == nullptr || value == nullptr || !key->is_string() || !(value->is_string() || value->is_null())) {
      CRLogError("incremental key/value contains a nil and must be dropped\n");
      continue;
    }
    set.set(text(*key), value->is_null() ? std::nullopt : std::optional<std::string>(text(*value)));
  }
  return set.entries();
}

bool CRUserLoggingCompactKVEntries(const CRUserLoggingKVStorage* storage) {
  if (storage == nullptr) {
    CRLogError("Error: storage invalid\n");
    return false;
  }
  std::lock_guard lock(loggingLock());
  auto entries = CRUserLoggingGetCompactedKVEntries(storage, false);
  if (!entries) {
    CRLogWarning("Error: Unable to read the k-v files; compaction skipped\n");
    return false;
  }
  if (entries->size() > storage->maxCount) {
    const size_t excess = entries->size() - storage->maxCount;
    CRLogInfo("Truncating %d keys from KV set, which is above max %d\n", static_cast<int>(excess),
              static_cast<int>(storage->maxCount));
    // The most recently written keys stay.
    entries->erase(entries->begin(), entries->begin() + static_cast<std::ptrdiff_t>(excess));
  }
  std::string content;
  for (const auto& [key, value] : *entries) {
    content += R"({"kv":{"key":)" + jsonString(key) + R"(,"value":)" + jsonString(value) + "}}\n";
  }
  // Written beside the old compacted file and renamed over it: until the rename both old
  // files hold every key.
  if (!replaceFile(storage->compactedPath, content)) {
    CRLogWarning("Error: Unable to open compacted k-v file\n");
    return false;
  }
  if (::unlink(storage->incrementalPath) != 0 && errno != ENOENT) {
    CRLogWarning("Error: Unable to remove incremental KV store after compaction %s\n", std::strerror(errno));
  }
  return true;
}

std::string CRFormattedString(const char* format, va_list arguments) {
  if (format == nullptr) return {};
  va_list copy;
  va_copy(copy, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  va_copy(copy, arguments);
  std::vsnprintf(text.data(), text.size(), format, copy);
  va_end(copy);
  text.resize(static_cast<size_t>(length));
  return text;
}

void CRLog(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string message = CRFormattedString(format, arguments);
  va_end(arguments);
  CRLogMessage(message);
}

void CRLogMessage(const std::optional<std::string>& message) {
  const bool hasContext = crReadOnlyContext != nullptr && crWritableContext != nullptr;
  CRLogToStorage(hasContext ? &crReadOnlyContext->logging.logStorage : nullptr,
                 hasContext ? &crWritableContext->logging.activeLogPath : nullptr, message);
}

void CRLogToStorageWithFormat(const CRUserLoggingABStorage* storage, const char** activePath, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string message = CRFormattedString(format, arguments);
  va_end(arguments);
  CRLogToStorage(storage, activePath, message);
}

void CRLogToStorage(const CRUserLoggingABStorage* storage, const char** activePath,
                    const std::optional<std::string>& message) {
  if (!message) return;
  if (!CRContextIsReady()) {
    CRConsoleWarning("WARNING: CRLog has been used before (or concurrently with) Vuzirerered initialization and "
                     "cannot be recorded. The message was: \n%s",
                     message->c_str());
    return;
  }
  if (storage == nullptr) return;
  std::string text = *message;
  if (text.size() > storage->maxSize) {
    CRConsoleWarning("WARNING: Attempted to write %zd bytes, but %d is the maximum size of the log. "
                     "Truncating to %d bytes.\n",
                     static_cast<ssize_t>(text.size()), static_cast<int>(storage->maxSize),
                     static_cast<int>(storage->maxSize));
    text = utf8Prefix(text, storage->maxSize);
  }
  struct timeval now;
  if (::gettimeofday(&now, nullptr) != 0) return;
  const uint64_t milliseconds =
      static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_usec) / 1000;
  CRUserLoggingWriteAndCheckABFiles(storage, activePath, [&](CRFile* file) {
    CRFileWriteSectionStart(file, "log");
    CRFileWriteHashStart(file);
    CRFileWriteHashEntryHexEncodedString(file, "msg", text.c_str());
    CRFileWriteHashEntryUint64(file, "time", milliseconds);
    CRFileWriteHashEnd(file);
    CRFileWriteSectionEnd(file);
  });
}

void CRUserLoggingRecordError(const platform::Error* error, const std::map<std::string, platform::PlistValue>& extraInfo,
                              const std::optional<std::string>& rolloutsJSON) {
  if (error == nullptr || !CRContextIsReady()) return;
  void* frames[kMaxErrorFrames];
  const int frameCount = ::backtrace(frames, kMaxErrorFrames);
  const uint64_t seconds = static_cast<uint64_t>(::time(nullptr));
  CRUserLoggingWriteAndCheckABFiles(
      &crReadOnlyContext->logging.errorStorage, &crWritableContext->logging.activeErrorPath, [&](CRFile* file) {
        CRFileWriteSectionStart(file, "error");
        CRFileWriteHashStart(file);
        CRFileWriteHashEntryHexEncodedString(file, "domain", error->domain.c_str());
        CRFileWriteHashEntryInt64(file, "code", static_cast<int64_t>(error->code));
        CRFileWriteHashEntryUint64(file, "time", seconds);
        CRFileWriteHashKey(file, "stacktrace");
        CRFileWriteArrayStart(file);
        for (int i = 0; i < frameCount; ++i) CRFileWriteArrayEntryUint64(file, reinterpret_cast<uintptr_t>(frames[i]));
        CRFileWriteArrayEnd(file);
        writeInfo(file, "info", error->userInfo);
        writeInfo(file, "extra_info", extraInfo);
        if (rolloutsJSON) {
          CRFileWriteHashKey(file, "rollouts");
          CRFileWriteRaw(file, rolloutsJSON->data(), rolloutsJSON->size());
          file->needComma = true;
        }
        CRFileWriteHashEnd(file);
        CRFileWriteSectionEnd(file);
      });
}

void CRUserLoggingWriteAndCheckABFiles(const CRUserLoggingABStorage* storage, const char** activePath,
                                       const std::function<void(CRFile*)>& writer) {
  if (storage == nullptr || activePath == nullptr || !writer) return;
  {
    std::lock_guard lock(abLock());
    if (*activePath == nullptr) return;
  }
  if (storage->restrictBySize ? storage->maxSize == 0 : storage->maxEntries == 0) return;
  std::lock_guard lock(loggingLock());
  runQueuedWork();
  const char* path;
  {
    std::lock_guard abGuard(abLock());
    path = *activePath;
  }
  CRFile file;
  if (!CRFileInit(&file, path, true)) {
    CRLogWarning("Unable to open log file\n");
    return;
  }
  writer(&file);
  int64_t finalSize = 0;
  if (!CRFileCloseWithOffset(&file, &finalSize)) return;
  if (!storage->restrictBySize && storage->entryCount != nullptr) *storage->entryCount += 1;
  // Rotated at once, so the next write finds the pair as this one left it.
  CRUserLoggingCheckAndSwapABFiles(storage, activePath, finalSize);
}

void CRUserLoggingCheckAndSwapABFiles(const CRUserLoggingABStorage* storage, const char** activePath,
                                      int64_t finalSize) {
  if (storage == nullptr || activePath == nullptr) return;
  std::lock_guard lock(loggingLock());
  if (!storage->restrictBySize) {
    if (storage->entryCount == nullptr) {
      CRLogError("Error: storage has invalid pointer, but is restricted by entry count\n");
      return;
    }
    if (*storage->entryCount < storage->maxEntries) return;
    *storage->entryCount = 0;
  } else if (finalSize <= static_cast<int64_t>(storage->maxSize)) {
    return;
  }
  const char* current;
  {
    std::lock_guard abGuard(abLock());
    current = *activePath;
  }
  const bool onA = current == storage->aPath || (current && storage->aPath && std::strcmp(current, storage->aPath) == 0);
  const char* other = onA ? storage->bPath : storage->aPath;
  if (other != nullptr) ::unlink(other);
  std::lock_guard abGuard(abLock());
  *activePath = other;
}
