// Symbolication at the next launch: the stack traces of a report's crash files are resolved
// with the images loaded in this process that carry the same build ID as the crashed
// process's images, demangled, and written beside each crash file as "<name>.symbolicated"
// (one "threads" line: per thread, per frame "symbol", "raw_symbol" (left out when equal),
// "offset" and "library").
//
// The resolver replays the report's image record (load and unload lines), so that only images
// still loaded when the process died are used. An address B + x of an image recorded at base
// B and loaded now at L is looked up at L + x with dladdr; an address at the very start of a
// symbol (a return address after a call that never returns) is looked up two bytes earlier.
//
// Nothing here reports an error upwards: without an image record nothing is symbolicated, a
// crash file without threads is skipped and a frame that cannot be resolved keeps its
// address only.
//
// The images loaded now are looked up once per build ID and report.
//
// Threads: runs synchronously on the caller's thread (the uploader's queue), one report at a
// time per resolver.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "crash-reporting/reports/exception_model.h"

class CRInternalReport;
struct CRBinaryImageInfo;

class CRSymbolResolver {
 public:
  bool loadBinaryImagesFromFile(const std::string& path);
  std::optional<nlohmann::json> loadedBinaryImageForPC(uint64_t pc) const;
  static bool fillInImageDetails(CRBinaryImageInfo* details, const std::optional<std::string>& uuid);
  std::optional<TELStackFrame> frameForAddress(uint64_t address) const;
  bool updateStackFrame(TELStackFrame& frame) const;

  const std::vector<nlohmann::json>& binaryImages() const { return binaryImages_; }

 private:
  // This process's image for a build ID, looked up once per resolver (one report).
  const CRBinaryImageInfo* loadedImageForUUID(const std::string& uuid) const;

  std::vector<nlohmann::json> binaryImages_;  // sorted by "base"
  mutable std::map<std::string, std::shared_ptr<CRBinaryImageInfo>> loadedImages_;  // null: not loaded
};

// One thread's frames per entry; the operations below share them.
using CRThreadArray = std::vector<std::vector<TELStackFrame>>;

class CRThreadArrayOperation {
 public:
  explicit CRThreadArrayOperation(CRThreadArray& threadArray) : threadArray_(threadArray) {}
  virtual ~CRThreadArrayOperation() = default;
  void start() { main(); }
  virtual void main() = 0;
  void cancel() { cancelled_ = true; }
  bool isCancelled() const { return cancelled_; }
  // Each frame in order; once cancelled, the rest of the current thread's frames are skipped.
  void enumerateFramesWithBlock(const std::function<void(TELStackFrame&)>& block);

 protected:
  CRThreadArray& threadArray_;

 private:
  bool cancelled_ = false;
};

class CRSymbolicationOperation : public CRThreadArrayOperation {
 public:
  CRSymbolicationOperation(CRThreadArray& threadArray, const CRSymbolResolver& resolver)
      : CRThreadArrayOperation(threadArray), symbolResolver_(resolver) {}
  void main() override;

 private:
  const CRSymbolResolver& symbolResolver_;
};

class CRDemangleOperation : public CRThreadArrayOperation {
 public:
  using CRThreadArrayOperation::CRThreadArrayOperation;
  void main() override;

  // "_Z…" names through the C++ runtime; "__Z…_block_invoke…" names with their suffix kept.
  static std::optional<std::string> demangleSymbol(const char* symbol);
  static std::optional<std::string> demangleCppSymbol(const char* symbol);
  static std::optional<std::string> demangleBlockInvokeCppSymbol(const char* symbol);
};

class CRSerializeSymbolicatedFramesOperation : public CRThreadArrayOperation {
 public:
  CRSerializeSymbolicatedFramesOperation(CRThreadArray& threadArray, std::string outputPath)
      : CRThreadArrayOperation(threadArray), outputPath_(std::move(outputPath)) {}
  void main() override;

 private:
  std::string outputPath_;
};

class CRProcessReportOperation {
 public:
  CRProcessReportOperation(std::shared_ptr<const CRInternalReport> report, std::shared_ptr<CRSymbolResolver> resolver)
      : report_(std::move(report)), symbolResolver_(std::move(resolver)) {}
  void start() { main(); }
  void main();

  std::string binaryImagePath() const;
  static std::optional<CRThreadArray> threadArrayFromFile(const std::string& path);
  static bool symbolicateFile(const std::string& path, const CRSymbolResolver& resolver);

  const std::shared_ptr<CRSymbolResolver>& symbolResolver() const { return symbolResolver_; }
  const std::shared_ptr<const CRInternalReport>& report() const { return report_; }

 private:
  std::shared_ptr<const CRInternalReport> report_;
  std::shared_ptr<CRSymbolResolver> symbolResolver_;
};
