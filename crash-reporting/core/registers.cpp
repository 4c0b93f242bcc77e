// Contract: async-signal-safe, no allocation, no lock.
#include "crash-reporting/core/registers.h"

#include <ucontext.h>

#include "crash-reporting/core/file.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/json_buffer.h"
#include "crash-reporting/core/safe_memory.h"

namespace {

bool valid(const CRThreadContext* context) {
  return reinterpret_cast<uintptr_t>(context) >= kCRMinimumValidAddress;
}

}  // namespace

uint64_t CRRegistersPC(const CRThreadContext* context) {
  return valid(context) ? context->registers[kCRDwarfReturnAddress] : 0;
}
uint64_t CRRegistersSP(const CRThreadContext* context) { return valid(context) ? context->registers[kCRDwarfRSP] : 0; }
uint64_t CRRegistersFP(const CRThreadContext* context) { return valid(context) ? context->registers[kCRDwarfRBP] : 0; }
uint64_t CRRegistersLR(const CRThreadContext* context) { return valid(context) ? context->lr : 0; }

bool CRRegistersSetPC(CRThreadContext* context, uint64_t value) {
  if (!valid(context)) return false;
  context->registers[kCRDwarfReturnAddress] = value;
  return true;
}
bool CRRegistersSetSP(CRThreadContext* context, uint64_t value) {
  if (!valid(context)) return false;
  context->registers[kCRDwarfRSP] = value;
  return true;
}
bool CRRegistersSetFP(CRThreadContext* context, uint64_t value) {
  if (!valid(context)) return false;
  context->registers[kCRDwarfRBP] = value;
  return true;
}
bool CRRegistersSetLR(CRThreadContext* context, uint64_t value) {
  if (!valid(context)) return false;
  context->lr = value;
  return true;
}

uint64_t CRDwarfUnwindGetRegisterValue(const CRThreadContext* context, uint64_t number) {
  if (number < kCRDwarfRegisterCount) return valid(context) ? context->registers[number] : 0;
  CRLogWarning("Error: Unrecognized get register number %p\n", reinterpret_cast<void*>(number));
  return 0;
}

bool CRDwarfUnwindSetRegisterValue(CRThreadContext* context, uint64_t number, uint64_t value) {
  if (number == kCRDwarfReturnAddress) return CRRegistersSetLR(context, value) && CRRegistersSetPC(context, value);
  if (number < kCRDwarfRegisterCount) {
    if (!valid(context)) return false;
    context->registers[number] = value;
    return true;
  }
  CRLogWarning("Unrecognized set register number %p\n", reinterpret_cast<void*>(number));
  return false;
}

void CRRegistersFromUserContext(const ucontext_t* userContext, CRThreadContext* out) {
  *out = CRThreadContext{};
  const greg_t* g = userContext->uc_mcontext.gregs;
  uint64_t* r = out->registers;
  r[0] = g[REG_RAX];
  r[1] = g[REG_RDX];
  r[2] = g[REG_RCX];
  r[3] = g[REG_RBX];
  r[4] = g[REG_RSI];
  r[5] = g[REG_RDI];
  r[6] = g[REG_RBP];
  r[7] = g[REG_RSP];
  r[8] = g[REG_R8];
  r[9] = g[REG_R9];
  r[10] = g[REG_R10];
  r[11] = g[REG_R11];
  r[12] = g[REG_R12];
  r[13] = g[REG_R13];
  r[14] = g[REG_R14];
  r[15] = g[REG_R15];
  r[16] = g[REG_RIP];
  out->rflags = g[REG_EFL];
}

void CRRegistersWrite(CRFile* file, const CRThreadContext* context) {
  static constexpr struct {
    const char* name;
    int index;
  } kOrder[] = {{"rax", 0}, {"rbx", 3}, {"rcx", 2}, {"rdx", 1}, {"rsi", 4},  {"rdi", 5},  {"rbp", 6},  {"rsp", 7},
                {"r8", 8},  {"r9", 9},  {"r10", 10}, {"r11", 11}, {"r12", 12}, {"r13", 13}, {"r14", 14}, {"r15", 15},
                {"rip", 16}};
  // Written as one piece of pre-built JSON: the value of a hash key.
  CRJsonBuffer json(file);
  json.character('{');
  for (const auto& entry : kOrder) {
    json.character('"');
    json.text(entry.name);
    json.text("\":");
    json.number(context->registers[entry.index]);
    json.character(',');
  }
  json.text("\"rflags\":");
  json.number(context->rflags);
  json.character('}');
  json.flush();
  file->needComma = true;
}
