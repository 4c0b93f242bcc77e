// TELExceptionModel and TELStackFrame: an exception the app reports itself, with frames it
// has symbolicated already or that hold only addresses. Plain values; copies are deep.
//
//   TELExceptionModel model("InvalidState", "the bill has no profile");
//   model.stackTrace = {TELStackFrame("BillCard::render", "bill_card.cpp", 42)};
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TELStackFrame {
  TELStackFrame() = default;
  // A symbolicated frame.
  TELStackFrame(std::optional<std::string> symbol, std::optional<std::string> file, uint32_t line);

  static TELStackFrame stackFrameWithSymbol(std::optional<std::string> symbol, std::optional<std::string> file,
                                            uint32_t line) {
    return TELStackFrame(std::move(symbol), std::move(file), line);
  }
  static TELStackFrame stackFrame() { return TELStackFrame(); }
  static TELStackFrame stackFrameWithAddress(uint64_t address);
  // Symbol and raw symbol both set; not symbolicated.
  static TELStackFrame stackFrameWithSymbol(std::optional<std::string> symbol);

  // "{file - symbol:line}" when symbolicated; "{[0xaddress + line] symbol}" without a file
  // name; "{[0xaddress] file - symbol:line}" otherwise. An absent text reads "(null)".
  std::string description() const;

  bool isSymbolicated = false;
  uint32_t lineNumber = 0;
  std::optional<std::string> symbol;
  std::optional<std::string> rawSymbol;
  std::optional<std::string> library;
  std::optional<std::string> fileName;
  uint64_t offset = 0;
  uint64_t address = 0;
};

struct TELExceptionModel {
  TELExceptionModel() = default;
  TELExceptionModel(std::optional<std::string> name, std::optional<std::string> reason)
      : name(std::move(name)), reason(std::move(reason)) {}
  static TELExceptionModel exceptionModelWithName(std::optional<std::string> name, std::optional<std::string> reason) {
    return TELExceptionModel(std::move(name), std::move(reason));
  }

  bool isFatal = false;
  bool onDemand = false;
  std::optional<std::vector<TELStackFrame>> stackTrace;
  std::optional<std::string> name;
  std::optional<std::string> reason;
};
