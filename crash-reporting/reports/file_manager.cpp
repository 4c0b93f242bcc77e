#include "crash-reporting/reports/file_manager.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "crash-reporting/core/internal_log.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/paths.h"
#include "platform/process_state/process_state.h"

namespace {

constexpr mode_t kDirectoryMode = 0755;

std::string join(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string lastPathComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Renames without ever replacing what is at `to` (a file, or a folder empty or not).
bool renameNoReplace(const std::string& from, const std::string& to, int* errorNumber) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  *errorNumber = errno;
  return false;
}

// The previous launch's crashed marker, read once per process.
struct CrashMarkerCache {
  std::mutex mutex;
  std::optional<bool> exists;
};

CrashMarkerCache& crashMarkerCache() {
  static CrashMarkerCache cache;
  return cache;
}

}  // namespace

CRFileManager::CRFileManager()
    : cachesPath_(platform::FileLocations::cachesDirectory().string()),
      rootPath_(join(join(cachesPath_, "vid.orozevoziri.zove"), pathNamespace())) {}

std::string CRFileManager::pathNamespaceForBundleIdentifier(const std::optional<std::string>& identifier) {
  if (!identifier || identifier->empty() || *identifier == "." || *identifier == "..") {
    return kCRFallbackPathNamespace;
  }
  std::string name = *identifier;
  std::replace(name.begin(), name.end(), '/', '_');
  return name;
}

std::string CRFileManager::pathNamespace() {
  return pathNamespaceForBundleIdentifier(platform::Bundle::main()->bundleIdentifier());
}

std::string CRFileManager::versionedPath() const { return join(rootPath_, "v5"); }
std::string CRFileManager::settingsDirectoryPath() const { return join(versionedPath(), "settings"); }
std::string CRFileManager::settingsFilePath() const { return join(settingsDirectoryPath(), "settings.json"); }
std::string CRFileManager::settingsCacheKeyPath() const { return join(settingsDirectoryPath(), "cache-key.json"); }
std::string CRFileManager::structurePath() const { return join(versionedPath(), "reports"); }
std::string CRFileManager::activePath() const { return join(structurePath(), "active"); }
std::string CRFileManager::pendingPath() const { return join(structurePath(), "pending"); }
std::string CRFileManager::processingPath() const { return join(structurePath(), "processing"); }
std::string CRFileManager::preparedPath() const { return join(structurePath(), "prepared"); }

bool CRFileManager::fileExistsAtPath(const std::string& path) const {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

bool CRFileManager::createFileAtPath(const std::string& path, std::string_view contents) const {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (done < contents.size()) {
    const ssize_t wrote = ::write(fd, contents.data() + done, contents.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(wrote);
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

bool CRFileManager::moveItemAtPath(const std::string& from, const std::string& to, platform::Error* error) const {
  int errorNumber = 0;
  if (renameNoReplace(from, to, &errorNumber)) return true;
  if (error != nullptr) *error = platform::Error::posix(errorNumber, to);
  return false;
}

bool CRFileManager::moveItemAtPath(const std::optional<std::string>& from,
                                   const std::optional<std::string>& directory) const {
  if (!from || !directory || from->empty() || directory->empty()) {
    CRConsoleError("Failed to move file, inputs invalid");
    return false;
  }
  const std::string destination = join(*directory, lastPathComponent(*from));
  platform::Error error;
  if (!moveItemAtPath(*from, destination, &error)) {
    CRConsoleError("Failed to move file: %s", error.localizedDescription().c_str());
    return false;
  }
  return true;
}

std::optional<std::string> CRFileManager::dataWithContentsOfFile(const std::string& path) const {
  auto bytes = platform::readFileContents(path);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

bool CRFileManager::createDirectoryAtPath(const std::string& path) const {
  // Each missing folder on the way is made with the same mode, as the last one is.
  int errorNumber = path.empty() ? ENOENT : 0;
  for (size_t end = path.find('/', 1); errorNumber == 0; end = path.find('/', end + 1)) {
    const std::string prefix = path.substr(0, end);
    if (::mkdir(prefix.c_str(), kDirectoryMode) != 0 && errno != EEXIST) errorNumber = errno;
    if (end == std::string::npos) break;
  }
  struct stat info;
  if (errorNumber == 0 && (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))) errorNumber = ENOTDIR;
  if (errorNumber == 0) return true;
  CRConsoleError("Unable to create directory %s: %s", path.c_str(), std::strerror(errorNumber));
  return false;
}

bool CRFileManager::removeItemAtPath(const std::optional<std::string>& path) const {
  if (!path) {
    CRConsoleError("Failed to remove file (null): no path");
    return false;
  }
  std::error_code error;
  const auto removed = std::filesystem::remove_all(*path, error);
  if (!error && removed > 0) return true;
  const std::string reason = error ? error.message() : std::strerror(ENOENT);
  CRConsoleError("Failed to remove file %s: %s", path->c_str(), reason.c_str());
  return false;
}

bool CRFileManager::removeContentsOfDirectoryAtPath(const std::string& path) const {
  bool allRemoved = true;
  enumerateFilesInDirectory(path, [&](const std::string& entry, const std::string&) {
    if (!removeItemAtPath(entry)) allRemoved = false;
  });
  return allRemoved;
}

bool CRFileManager::didCrashOnPreviousExecution() const {
  CrashMarkerCache& cache = crashMarkerCache();
  std::lock_guard lock(cache.mutex);
  if (!cache.exists) {
    platform::addProcessStateReset(+[] {
      CrashMarkerCache& fresh = crashMarkerCache();
      std::lock_guard freshLock(fresh.mutex);
      fresh.exists.reset();
    });
    cache.exists = fileExistsAtPath(join(rootPath_, "previously-crashed"));
  }
  return *cache.exists;
}

bool CRFileManager::crashFileMarkerExists() const {
  CrashMarkerCache& cache = crashMarkerCache();
  std::lock_guard lock(cache.mutex);
  return cache.exists.value_or(false);
}

std::string CRFileManager::metricKitDiagnosticsPath() const { return cachesPath_ + "/MetricKit/Diagnostics/"; }

bool CRFileManager::metricKitDiagnosticFileExists() const {
  return !contentsOfDirectory(metricKitDiagnosticsPath()).empty();
}

void CRFileManager::createEmptyMetricKitFile(const std::string& reportPath) const {
  const std::string path = join(reportPath, "metric_kit_fatal.crrecord");
  if (!createFileAtPath(path)) CRConsoleError("Unable to create %s: %s", path.c_str(), std::strerror(errno));
}

void CRFileManager::enumerateFilesInDirectory(
    const std::string& path,
    const std::function<void(const std::string& path, const std::string& extension)>& block) const {
  DIR* directory = ::opendir(path.c_str());
  if (directory == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    names.emplace_back(entry->d_name);
  }
  ::closedir(directory);
  for (const std::string& name : names) {
    const auto dot = name.rfind('.');
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
    block(join(path, name), extension);
  }
}

std::vector<std::string> CRFileManager::contentsOfDirectory(const std::string& path) const {
  std::vector<std::string> contents;
  enumerateFilesInDirectory(path, [&](const std::string& entry, const std::string&) { contents.push_back(entry); });
  return contents;
}

std::optional<uint64_t> CRFileManager::fileSizeAtPath(const std::string& path) const {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    CRConsoleError("Unable to read file size: %s (%s)", std::strerror(errno), path.c_str());
    return std::nullopt;
  }
  return static_cast<uint64_t>(info.st_size);
}

bool CRFileManager::createReportDirectories() const {
  return createDirectoryAtPath(activePath()) && createDirectoryAtPath(processingPath()) &&
         createDirectoryAtPath(preparedPath());
}

std::optional<std::string> CRFileManager::setupNewPathForExecutionIdentifier(const std::string& identifier) const {
  if (identifier.empty() || identifier == "." || identifier == ".." ||
      identifier.find('/') != std::string::npos) {
    CRConsoleError("Unable to create a report folder for identifier \"%s\"", identifier.c_str());
    return std::nullopt;
  }
  const std::string path = join(activePath(), identifier);
  if (!createDirectoryAtPath(path)) return std::nullopt;
  return path;
}

bool CRWriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}
