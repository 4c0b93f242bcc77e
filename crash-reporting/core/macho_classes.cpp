// Contract: not for crash time (files, allocation, OpenSSL); see macho_classes.h.
#include "crash-reporting/core/macho_classes.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "crash-reporting/core/utilities.h"
#include "platform/images/elf_image.h"

namespace {

std::string elfUUID(const std::vector<uint8_t>& buildId) {
  uint8_t uuid[16] = {};
  if (!buildId.empty()) std::memcpy(uuid, buildId.data(), std::min<size_t>(buildId.size(), sizeof uuid));
  return CRUUIDBytesToHex(uuid);
}

std::optional<std::string> infoString(const platform::Bundle& bundle, const char* key) {
  auto value = bundle.objectForInfoDictionaryKey(key);
  if (!value || value->asString() == nullptr) return std::nullopt;
  return *value->asString();
}

}  // namespace

std::shared_ptr<CRMachOSliceObject> CRMachOSliceObject::runningSlice() {
  CRMachOFile file;
  std::string uuid = elfUUID({});
  std::string architecture = platform::images::elfArchitectureName(0);
  if (CRMachOFileOpenMainExecutable(&file)) {
    if (auto facts = platform::images::readElfFile(file.mappedFile, file.mappedSize)) {
      uuid = elfUUID(facts->buildId);
      architecture = platform::images::elfArchitectureName(facts->machine);
    }
    CRMachOFileClose(&file);
  }
  auto slice = std::make_shared<CRMachOSliceObject>(std::move(architecture), std::move(uuid));
  slice->slice_ = CRMachOSliceOfMainExecutable();
  return slice;
}

CRMachOSliceObject::CRMachOSliceObject(const CRMachOSlice& slice) : slice_(slice) {
  std::vector<std::string> dylibs;
  CRMachOSliceForEachLoadCommandBlock(&slice_, [&](uint32_t cmd, uint32_t cmdsize, const uint8_t* command) {
    switch (cmd) {
      case CRMachOLoadCommandLoadDylib:
        if (const char* path = CRMachODylibPath(command, cmdsize)) dylibs.emplace_back(path);
        break;
      case CRMachOLoadCommandUUID:
        if (const uint8_t* bytes = CRMachOUUIDBytes(command, cmdsize)) uuidString_ = CRMachOUUIDString(bytes);
        break;
      case CRMachOLoadCommandVersionMinMacOSX:
      case CRMachOLoadCommandVersionMinIPhoneOS:
      case CRMachOLoadCommandVersionMinTVOS:
      case CRMachOLoadCommandVersionMinWatchOS:
        minimumOSVersion_ = CRMachOMinimumOSVersion(command, cmdsize);
        linkedSDKVersion_ = CRMachOLinkedSDKVersion(command, cmdsize);
        break;
      default:
        break;
    }
  });
  linkedDylibs_ = std::move(dylibs);
  architectureName_ = CRMachOSliceArchitectureName(&slice_);
}

CRMachOSliceObject::CRMachOSliceObject(std::string architectureName, std::string uuid)
    : architectureName_(std::move(architectureName)), uuidString_(std::move(uuid)) {}

std::shared_ptr<CRMachOBinary> CRMachOBinary::MachOBinaryWithPath(const std::string& path) { return initWithURL(path); }

std::shared_ptr<CRMachOBinary> CRMachOBinary::initWithURL(const std::string& url) {
  std::shared_ptr<CRMachOBinary> binary(new CRMachOBinary);
  binary->url_ = url;
  if (!CRMachOFileOpenPath(&binary->file_, url.c_str())) return nullptr;
  const CRMachOFile& file = binary->file_;
  if (platform::images::looksLikeElf(file.mappedFile, file.mappedSize)) {
    auto facts = platform::images::readElfFile(file.mappedFile, file.mappedSize);
    if (!facts) return nullptr;
    binary->slices_.push_back(std::make_shared<CRMachOSliceObject>(
        platform::images::elfArchitectureName(facts->machine), elfUUID(facts->buildId)));
    return binary;
  }
  CRMachOFileForEachSlice(&file, [&](CRMachOSlice* slice) {
    binary->slices_.push_back(std::make_shared<CRMachOSliceObject>(*slice));
  });
  return binary;
}

CRMachOBinary::~CRMachOBinary() { CRMachOFileClose(&file_); }

std::string CRMachOBinary::instanceIdentifier() {
  std::lock_guard lock(mutex_);
  if (!instanceIdentifier_) {
    std::vector<std::shared_ptr<CRMachOSliceObject>> sorted = slices_;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a->architectureName() < b->architectureName(); });
    std::string joined;
    for (const auto& slice : sorted) joined += slice->uuid();
    instanceIdentifier_ = hashNSString(joined);
  }
  return *instanceIdentifier_;
}

void CRMachOBinary::enumerateUUIDs(
    const std::function<void(const std::string& uuid, const std::string& architecture)>& block) const {
  for (const auto& slice : slices_) block(slice->uuid(), slice->architectureName());
}

std::shared_ptr<CRMachOSliceObject> CRMachOBinary::sliceForArchitecture(const std::string& architecture) const {
  for (const auto& slice : slices_) {
    if (slice->architectureName() == architecture) return slice;
  }
  return nullptr;
}

std::string CRMachOBinary::hashNSString(const std::string& text) {
  // Up to the first zero byte, as a C string would end.
  return CRSHA1HexOfBytes(text.c_str(), std::strlen(text.c_str()));
}

std::shared_ptr<CRdSYM> CRdSYM::dSYMWithURL(const std::string& url) { return initWithURL(url); }

std::shared_ptr<CRdSYM> CRdSYM::initWithURL(const std::string& url) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::exists(url, error) || !fs::is_directory(url, error)) return nullptr;
  auto dsym = std::make_shared<CRdSYM>();
  const fs::path contents = fs::path(url) / "Contents";
  dsym->bundle_ = std::make_shared<const platform::Bundle>(fs::is_directory(contents, error) ? contents : fs::path(url));
  const fs::path dwarf = contents / "Resources" / "DWARF";
  if (!fs::is_directory(dwarf, error)) return nullptr;
  std::vector<fs::path> entries;
  for (fs::recursive_directory_iterator it(dwarf, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  if (entries.empty()) return nullptr;
  std::sort(entries.begin(), entries.end());
  dsym->binary_ = CRMachOBinary::initWithURL(entries.front().string());
  if (!dsym->binary_) return nullptr;
  return dsym;
}

std::optional<std::string> CRdSYM::bundleIdentifier() const {
  auto identifier = bundle_->bundleIdentifier();
  static const std::string kPrefix = "ruv.apple.xcode.dsym.";
  if (identifier && identifier->rfind(kPrefix, 0) == 0) return identifier->substr(kPrefix.size());
  return identifier;
}

std::optional<std::string> CRdSYM::bundleVersion() const { return infoString(*bundle_, "CFBundleVersion"); }
std::optional<std::string> CRdSYM::shortBundleVersion() const {
  return infoString(*bundle_, "CFBundleShortVersionString");
}

void CRdSYM::enumerateUUIDs(
    const std::function<void(const std::string& uuid, const std::string& architecture)>& block) const {
  binary_->enumerateUUIDs(block);
}

std::shared_ptr<CRCodeMapping> CRCodeMapping::mappingWithURL(const std::string& url) {
  return std::make_shared<CRCodeMapping>(url);
}
