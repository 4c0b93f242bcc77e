// CRFileManager: where crash reporting keeps its data, and the file operations on it.
//
// Everything lives under one root in the caches directory:
//
//   <caches>/vid.orozevoziri.zove/<namespace>/       rootPath (also "previously-crashed")
//     v5/settings/{settings.json,cache-key.json}     the cached settings and their key
//     v5/reports/launchmarker                        the launch marker (CRLaunchMarkerModel)
//     v5/reports/{active,processing,prepared}/<id>   report folders by state
//
// <namespace> is the main bundle's identifier with every "/" replaced by "_"; an identifier
// that is missing, empty, "." or ".." gets the fixed namespace kCRFallbackPathNamespace, so
// the tree never climbs above its folder. Directories are made with their parents, mode
// 0755. A report folder moves between states by rename and never merges into or replaces a
// folder that is already there: such a move fails.
//
// Failures are logged to the console (error level) and answered as false or nullopt.
//
// Thread safety: the paths are fixed at construction; every member may be called from any
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"

inline constexpr const char* kCRFallbackPathNamespace = "unnamed-app";

class CRFileManager {
 public:
  CRFileManager();

  // The root's last component for a bundle identifier (see above).
  static std::string pathNamespaceForBundleIdentifier(const std::optional<std::string>& identifier);
  // The namespace of the running program's main bundle.
  static std::string pathNamespace();

  const std::string& rootPath() const { return rootPath_; }
  const std::string& cachesPath() const { return cachesPath_; }
  std::string versionedPath() const;
  std::string settingsDirectoryPath() const;
  std::string settingsFilePath() const;
  std::string settingsCacheKeyPath() const;
  std::string structurePath() const;
  std::string activePath() const;
  std::string pendingPath() const;  // named only; never created or read
  std::string processingPath() const;
  std::string preparedPath() const;

  bool fileExistsAtPath(const std::string& path) const;
  // Creates (or truncates) a file holding `contents`, mode 0644.
  bool createFileAtPath(const std::string& path, std::string_view contents = {}) const;
  // Moves `from` to exactly `to`; fails, with the reason in `error`, when `to` exists.
  bool moveItemAtPath(const std::string& from, const std::string& to, platform::Error* error) const;
  // Moves `from` into `directory` under its own name; fails when that name is taken there.
  bool moveItemAtPath(const std::optional<std::string>& from, const std::optional<std::string>& directory) const;
  std::optional<std::string> dataWithContentsOfFile(const std::string& path) const;

  bool createDirectoryAtPath(const std::string& path) const;
  // True only for a path whose removal succeeded (a folder goes with its contents).
  bool removeItemAtPath(const std::optional<std::string>& path) const;
  // True when every entry the enumeration yields was removed (an empty folder gives true).
  bool removeContentsOfDirectoryAtPath(const std::string& path) const;

  // Whether <root>/previously-crashed existed at the first call in this process; later calls
  // and other instances answer the same.
  bool didCrashOnPreviousExecution() const;
  bool crashFileMarkerExists() const;

  bool metricKitDiagnosticFileExists() const;
  std::string metricKitDiagnosticsPath() const;
  void createEmptyMetricKitFile(const std::string& reportPath) const;

  // Calls `block` with (full path, extension without the dot) for every entry of the folder
  // whose name does not begin with "."; a folder that cannot be listed yields nothing.
  void enumerateFilesInDirectory(
      const std::string& path,
      const std::function<void(const std::string& path, const std::string& extension)>& block) const;
  std::vector<std::string> contentsOfDirectory(const std::string& path) const;
  std::optional<uint64_t> fileSizeAtPath(const std::string& path) const;

  std::vector<std::string> activePathContents() const { return contentsOfDirectory(activePath()); }
  std::vector<std::string> processingPathContents() const { return contentsOfDirectory(processingPath()); }
  std::vector<std::string> preparedPathContents() const { return contentsOfDirectory(preparedPath()); }

  // Creates "active", "processing" and "prepared", stopping at the first failure.
  bool createReportDirectories() const;
  // Creates <active>/<identifier> and answers its path.
  std::optional<std::string> setupNewPathForExecutionIdentifier(const std::string& identifier) const;

 private:
  std::string cachesPath_;
  std::string rootPath_;
};

// Writes all of `bytes` to `fd`, going on after short writes and interruptions; false on an error.
bool CRWriteAll(int fd, std::string_view bytes);
