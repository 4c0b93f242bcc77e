#include "crash-reporting/pipeline/symbolication.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "crash-reporting/core/binary_images.h"
#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/section_reader.h"
#include "crash-reporting/reports/internal_report.h"

namespace {

std::optional<uint64_t> unsignedOf(const nlohmann::json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end()) return std::nullopt;
  return CRJSONUInt64(*found);
}

bool sameImage(const nlohmann::json& a, const nlohmann::json& b) {
  return unsignedOf(a, "base") == unsignedOf(b, "base") && a.value("uuid", nlohmann::json()) == b.value("uuid", nlohmann::json());
}

}  // namespace

// ---- CRSymbolResolver ---------------------------------------------------------------------

bool CRSymbolResolver::loadBinaryImagesFromFile(const std::string& path) {
  if (path.empty()) return false;
  const auto lines = CRFileReadSections(path.c_str(), false);
  if (!lines || lines->empty()) {
    CRConsoleError("Failed to read binary image file %s", path.c_str());
    return false;
  }
  // Replay loads and unloads in order: an image that went away before the crash must not
  // answer for addresses that a later image took over.
  std::vector<nlohmann::json> images;
  for (const auto& line : *lines) {
    if (!line.is_object()) continue;
    if (line.contains("load") && line["load"].is_object()) {
      const auto& image = line["load"];
      if (unsignedOf(image, "base") && unsignedOf(image, "size")) images.push_back(image);
    } else if (line.contains("unload") && line["unload"].is_object()) {
      const auto& gone = line["unload"];
      const auto match = std::find_if(images.rbegin(), images.rend(),
                                      [&](const nlohmann::json& image) { return sameImage(image, gone); });
      if (match != images.rend()) images.erase(std::next(match).base());
    }
  }
  std::stable_sort(images.begin(), images.end(), [](const nlohmann::json& a, const nlohmann::json& b) {
    return *unsignedOf(a, "base") < *unsignedOf(b, "base");
  });
  binaryImages_ = std::move(images);
  return true;
}

std::optional<nlohmann::json> CRSymbolResolver::loadedBinaryImageForPC(uint64_t pc) const {
  for (const auto& image : binaryImages_) {
    const uint64_t base = *unsignedOf(image, "base");
    const uint64_t size = *unsignedOf(image, "size");
    if (base <= pc && pc - base < size) return image;
  }
  return std::nullopt;
}

bool CRSymbolResolver::fillInImageDetails(CRBinaryImageInfo* details, const std::optional<std::string>& uuid) {
  if (details == nullptr || !uuid) return false;
  return CRBinaryImageFindImageForUUID(uuid->c_str(), details);
}

bool CRSymbolResolver::updateStackFrame(TELStackFrame& frame) const {
  if (frame.address == 0) return false;
  const auto image = loadedBinaryImageForPC(frame.address);
  if (!image) return false;
  const auto uuid = image->find("uuid");
  if (uuid == image->end() || !uuid->is_string()) return false;
  const CRBinaryImageInfo* details = loadedImageForUUID(uuid->get<std::string>());
  if (details == nullptr) return false;
  const uint64_t runtimeAddress = frame.address - *unsignedOf(*image, "base") + details->node.baseAddress;
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(runtimeAddress), &info) == 0) return false;
  if (reinterpret_cast<uint64_t>(info.dli_saddr) == runtimeAddress &&
      dladdr(reinterpret_cast<const void*>(runtimeAddress - 2), &info) == 0) {
    return false;
  }
  if (info.dli_sname != nullptr) {
    frame.symbol = info.dli_sname;
    frame.rawSymbol = info.dli_sname;
  }
  const uint64_t start = reinterpret_cast<uint64_t>(info.dli_saddr);
  if (info.dli_saddr != nullptr && runtimeAddress > start) frame.offset = runtimeAddress - start;
  if (image->contains("path") && (*image)["path"].is_string()) {
    frame.library = std::filesystem::path((*image)["path"].get<std::string>()).filename().string();
  }
  return true;
}

const CRBinaryImageInfo* CRSymbolResolver::loadedImageForUUID(const std::string& uuid) const {
  auto found = loadedImages_.find(uuid);
  if (found == loadedImages_.end()) {
    auto details = std::make_shared<CRBinaryImageInfo>();
    if (!fillInImageDetails(details.get(), uuid)) details = nullptr;
    found = loadedImages_.emplace(uuid, std::move(details)).first;
  }
  return found->second.get();
}

std::optional<TELStackFrame> CRSymbolResolver::frameForAddress(uint64_t address) const {
  TELStackFrame frame = TELStackFrame::stackFrameWithAddress(address);
  if (!updateStackFrame(frame)) return std::nullopt;
  return frame;
}

// ---- Operations ---------------------------------------------------------------------------

void CRThreadArrayOperation::enumerateFramesWithBlock(const std::function<void(TELStackFrame&)>& block) {
  for (auto& thread : threadArray_) {
    for (auto& frame : thread) {
      block(frame);
      if (isCancelled()) break;
    }
  }
}

void CRSymbolicationOperation::main() {
  enumerateFramesWithBlock([this](TELStackFrame& frame) { symbolResolver_.updateStackFrame(frame); });
}

void CRDemangleOperation::main() {
  enumerateFramesWithBlock([](TELStackFrame& frame) {
    if (!frame.rawSymbol) return;
    if (auto demangled = demangleSymbol(frame.rawSymbol->c_str())) frame.symbol = *demangled;
  });
}

std::optional<std::string> CRDemangleOperation::demangleSymbol(const char* symbol) {
  if (symbol == nullptr) return std::nullopt;
  if (std::strncmp(symbol, "_Z", 2) == 0) return demangleCppSymbol(symbol);
  if (std::strncmp(symbol, "__Z", 3) == 0) return demangleBlockInvokeCppSymbol(symbol);
  return std::nullopt;
}

std::optional<std::string> CRDemangleOperation::demangleCppSymbol(const char* symbol) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
  if (demangled == nullptr || status != 0) {
    std::free(demangled);
    return std::nullopt;
  }
  std::string result(demangled);
  std::free(demangled);
  return result;
}

std::optional<std::string> CRDemangleOperation::demangleBlockInvokeCppSymbol(const char* symbol) {
  const std::string text(symbol);
  const size_t index = text.rfind("_block_invoke");
  if (index == std::string::npos || index < 5) return std::nullopt;
  const auto demangled = demangleSymbol(text.substr(1, index - 1).c_str());
  if (!demangled) return std::nullopt;
  return *demangled + text.substr(index);
}

void CRSerializeSymbolicatedFramesOperation::main() {
  CRFile file;
  if (!CRFileInitWithPathMode(&file, outputPath_.c_str(), false, false)) {
    CRConsoleError("Failed to create output file");
    return;
  }
  CRFileWriteSectionStart(&file, "threads");
  CRFileWriteArrayStart(&file);
  for (const auto& thread : threadArray_) {
    CRFileWriteArrayStart(&file);
    for (const auto& frame : thread) {
      CRFileWriteHashStart(&file);
      CRFileWriteHashEntryString(&file, "symbol", frame.symbol ? frame.symbol->c_str() : nullptr);
      if (frame.rawSymbol != frame.symbol || !frame.rawSymbol) {
        CRFileWriteHashEntryString(&file, "raw_symbol", frame.rawSymbol ? frame.rawSymbol->c_str() : nullptr);
      }
      CRFileWriteHashEntryUint64(&file, "offset", frame.offset);
      CRFileWriteHashEntryString(&file, "library", frame.library ? frame.library->c_str() : nullptr);
      CRFileWriteHashEnd(&file);
    }
    CRFileWriteArrayEnd(&file);
  }
  CRFileWriteArrayEnd(&file);
  CRFileWriteSectionEnd(&file);
  CRFileShut(&file);
}

void CRProcessReportOperation::main() {
  if (!symbolResolver_->loadBinaryImagesFromFile(binaryImagePath())) return;
  for (const std::string& name : CRInternalReport::crashFileNames()) {
    symbolicateFile(report_->pathForContentFile(name), *symbolResolver_);
  }
}

std::string CRProcessReportOperation::binaryImagePath() const { return report_->binaryImagePath(); }

std::optional<CRThreadArray> CRProcessReportOperation::threadArrayFromFile(const std::string& path) {
  const auto lines = CRFileReadSections(path.c_str(), false, [](nlohmann::json line) -> std::optional<nlohmann::json> {
    if (!line.is_object() || !line.contains("threads")) return std::nullopt;
    return line["threads"];
  });
  if (!lines || lines->empty()) return std::nullopt;
  CRThreadArray threads;
  const nlohmann::json& first = lines->front();
  if (!first.is_array()) return threads;
  for (const auto& thread : first) {
    std::vector<TELStackFrame> frames;
    if (thread.is_object() && thread.contains("stacktrace") && thread["stacktrace"].is_array()) {
      for (const auto& address : thread["stacktrace"]) {
        if (const auto pc = CRJSONUInt64(address)) frames.push_back(TELStackFrame::stackFrameWithAddress(*pc));
      }
    }
    threads.push_back(std::move(frames));
  }
  return threads;
}

bool CRProcessReportOperation::symbolicateFile(const std::string& path, const CRSymbolResolver& resolver) {
  auto threads = threadArrayFromFile(path);
  if (!threads) return false;
  CRSymbolicationOperation symbolication(*threads, resolver);
  CRDemangleOperation demangle(*threads);
  CRSerializeSymbolicatedFramesOperation serialize(*threads, path + ".symbolicated");
  symbolication.start();
  demangle.start();
  serialize.start();
  return true;
}
