#include "crash-reporting/reports/exception_model.h"

#include <cinttypes>
#include <cstdio>

namespace {

const char* text(const std::optional<std::string>& value) { return value ? value->c_str() : "(null)"; }

std::string printed(const char* format, auto... arguments) {
  const int length = std::snprintf(nullptr, 0, format, arguments...);
  std::string out(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(out.data(), out.size(), format, arguments...);
  out.resize(static_cast<size_t>(length));
  return out;
}

}  // namespace

TELStackFrame::TELStackFrame(std::optional<std::string> symbol, std::optional<std::string> file, uint32_t line)
    : isSymbolicated(true), lineNumber(line), symbol(std::move(symbol)), fileName(std::move(file)) {}

TELStackFrame TELStackFrame::stackFrameWithAddress(uint64_t address) {
  TELStackFrame frame;
  frame.address = address;
  return frame;
}

TELStackFrame TELStackFrame::stackFrameWithSymbol(std::optional<std::string> symbol) {
  TELStackFrame frame;
  frame.symbol = symbol;
  frame.rawSymbol = std::move(symbol);
  return frame;
}

std::string TELStackFrame::description() const {
  if (isSymbolicated) return printed("{%s - %s:%u}", text(fileName), text(symbol), lineNumber);
  if (!fileName) return printed("{[0x%" PRIx64 " + %u] %s}", address, lineNumber, text(symbol));
  return printed("{[0x%" PRIx64 "] %s - %s:%u}", address, text(fileName), text(symbol), lineNumber);
}
