// Object layer over the Mach-O reader: a binary file and its slices, a symbol bundle
// (dSYM) and a code-mapping URL.
//
// `CRMachOSliceObject` is the slice as an object (the C record keeps the name
// `CRMachOSlice`). An ELF file, the running program's own kind, reads as one slice named
// after its machine ("x86_64") whose UUID is the first 16 bytes of its GNU build-id.
//
// Paths stand in for file URLs. Objects are immutable after creation, except that a
// binary's instance identifier is computed on first use under its own lock.
// Not for crash time.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crash-reporting/core/macho.h"
#include "platform/foundation/bundle.h"

class CRMachOSliceObject {
 public:
  // The running program's slice, read from its ELF file.
  static std::shared_ptr<CRMachOSliceObject> runningSlice();
  explicit CRMachOSliceObject(const CRMachOSlice& slice);
  CRMachOSliceObject(std::string architectureName, std::string uuid);

  const CRMachOSlice& slice() const { return slice_; }
  const std::string& uuid() const { return uuidString_; }
  const std::string& architectureName() const { return architectureName_; }
  const std::vector<std::string>& linkedDylibs() const { return linkedDylibs_; }
  CRMachOVersion minimumOSVersion() const { return minimumOSVersion_; }
  CRMachOVersion linkedSDKVersion() const { return linkedSDKVersion_; }

 private:
  CRMachOSlice slice_;
  std::string architectureName_;
  std::string uuidString_;
  std::vector<std::string> linkedDylibs_;
  CRMachOVersion minimumOSVersion_;
  CRMachOVersion linkedSDKVersion_;
};

class CRMachOBinary {
 public:
  // Null when the file cannot be opened.
  static std::shared_ptr<CRMachOBinary> MachOBinaryWithPath(const std::string& path);
  static std::shared_ptr<CRMachOBinary> initWithURL(const std::string& url);
  ~CRMachOBinary();
  CRMachOBinary(const CRMachOBinary&) = delete;
  CRMachOBinary& operator=(const CRMachOBinary&) = delete;

  const std::string& URL() const { return url_; }
  const std::string& path() const { return url_; }
  const std::vector<std::shared_ptr<CRMachOSliceObject>>& slices() const { return slices_; }
  // SHA-1 (lowercase hex) of the slices' UUIDs joined in the order of their architecture
  // names.
  std::string instanceIdentifier();
  void enumerateUUIDs(const std::function<void(const std::string& uuid, const std::string& architecture)>& block) const;
  std::shared_ptr<CRMachOSliceObject> sliceForArchitecture(const std::string& architecture) const;
  static std::string hashNSString(const std::string& text);

 private:
  CRMachOBinary() = default;

  std::string url_;
  CRMachOFile file_;
  std::vector<std::shared_ptr<CRMachOSliceObject>> slices_;
  std::mutex mutex_;
  std::optional<std::string> instanceIdentifier_;
};

class CRdSYM {
 public:
  // Null unless the path exists, has Contents/Resources/DWARF with at least one entry, and
  // that entry opens as a binary.
  static std::shared_ptr<CRdSYM> dSYMWithURL(const std::string& url);
  static std::shared_ptr<CRdSYM> initWithURL(const std::string& url);

  const std::shared_ptr<const platform::Bundle>& bundle() const { return bundle_; }
  const std::shared_ptr<CRMachOBinary>& binary() const { return binary_; }
  // The bundle identifier without a leading "ruv.apple.xcode.dsym.".
  std::optional<std::string> bundleIdentifier() const;
  std::string executableURL() const { return binary_->URL(); }
  std::string executablePath() const { return binary_->path(); }
  std::optional<std::string> bundleVersion() const;
  std::optional<std::string> shortBundleVersion() const;
  void enumerateUUIDs(const std::function<void(const std::string& uuid, const std::string& architecture)>& block) const;

 private:
  std::shared_ptr<const platform::Bundle> bundle_;
  std::shared_ptr<CRMachOBinary> binary_;
};

class CRCodeMapping {
 public:
  static std::shared_ptr<CRCodeMapping> mappingWithURL(const std::string& url);
  explicit CRCodeMapping(std::string url) : url_(std::move(url)) {}

  int source = 0;
  const std::string& URL() const { return url_; }
  const std::optional<std::string>& sourceName() const { return sourceName_; }  // never assigned

 private:
  std::string url_;
  std::optional<std::string> sourceName_;
};
