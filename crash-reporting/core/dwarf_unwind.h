// DWARF call-frame information (`.eh_frame`) and expressions: parses an FDE with its CIE,
// runs the call-frame instructions up to the pc, computes the CFA and restores the caller's
// registers.
//
// Beyond the basic instruction set this reads what compilers emit on Linux: remember and
// restore state (a four-deep row stack), restore, undefined, the extended and *_sf forms,
// val_offset, GNU_args_size and the GNU negative offset, plus the expression
// opcodes for constants, arithmetic, shifts and comparisons.
//
// Every read of unwind data is checked against the length that frames it (the record, the
// augmentation data, the instruction list, the expression) and against the section's end
// where the caller knows it; every loop over that data has a step budget, and arithmetic on
// factors taken from it is checked. Malformed data fails the step, never reads outside.
//
// Contract: async-signal-safe, no allocation, no lock. `.eh_frame` of loaded images is read
// as mapped memory; stack memory only through CRSafeCopyMemory.
#pragma once

#include <cstdint>

#include "crash-reporting/core/registers.h"

struct CRDwarfCIERecord {
  uint64_t length = 0;
  uint8_t version = 0;
  const char* augmentation = nullptr;
  uint8_t pointerEncoding = 0;
  uint8_t lsdaEncoding = 0;
  uint8_t personalityEncoding = 0;
  uint64_t personalityAddress = 0;
  uint64_t codeAlignmentFactor = 0;
  int64_t dataAlignmentFactor = 0;
  uint64_t returnAddressRegister = 0;
  bool signalFrame = false;
  uint64_t instructionsLength = 0;
  uintptr_t instructionsStart = 0;
};

struct CRDwarfFDERecord {
  uint64_t length = 0;
  uint32_t ciePointer = 0;
  uint64_t pcStart = 0;
  uint64_t pcRange = 0;
  uint64_t instructionsLength = 0;
  uintptr_t instructionsStart = 0;
};

struct CRDwarfCIEPair {
  CRDwarfCIERecord cie;
  CRDwarfFDERecord fde;
};

inline constexpr uint32_t kCRDwarfRuleCount = 32;
inline constexpr uint64_t kCRDwarfCFAExpressionRegister = 32;

enum CRDwarfRegisterLocation : uint32_t {
  CRDwarfRegisterUnused = 0,
  CRDwarfRegisterAtCFAOffset = 1,
  CRDwarfRegisterIsCFAOffset = 2,
  CRDwarfRegisterInRegister = 3,
  CRDwarfRegisterAtExpression = 4,
  CRDwarfRegisterIsExpression = 5,
  CRDwarfRegisterUndefined = 6,
};

struct CRDwarfRegisterRule {
  uint32_t location = CRDwarfRegisterUnused;
  uint64_t value = 0;
};

struct CRDwarfState {
  uint64_t cfaRegister = 0;
  uint64_t cfaRegisterOffset = 0;
  uintptr_t cfaExpression = 0;
  CRDwarfRegisterRule registers[kCRDwarfRuleCount];
};

// Instructions run per instruction list, and operations per expression, before the data is
// taken to be malformed (real lists and expressions are far shorter; a backward branch in an
// expression could otherwise loop forever).
inline constexpr uint32_t kCRDwarfInstructionBudget = 1u << 20;
inline constexpr uint32_t kCRDwarfExpressionBudget = 4096;

// A record must end at or before `sectionEnd`; an FDE's CIE must start at or after
// `sectionStart`. Callers that do not know their section's bounds leave the defaults, and the
// records' own lengths still frame every read.
bool CRDwarfParseCIERecord(CRDwarfCIERecord* cie, uintptr_t address, uintptr_t sectionEnd = UINTPTR_MAX);
bool CRDwarfParseFDERecord(CRDwarfFDERecord* fde, bool parseCIE, CRDwarfCIERecord* cie, uintptr_t address,
                           uintptr_t sectionStart = 0, uintptr_t sectionEnd = UINTPTR_MAX);
// The FDE at ehFrame + fdeOffset and its CIE, both inside [ehFrame, sectionEnd).
bool CRDwarfFDEPairInit(CRDwarfCIEPair* pair, uintptr_t ehFrame, uintptr_t fdeOffset,
                        uintptr_t sectionEnd = UINTPTR_MAX);
// Registers in, the caller's registers out (in place). Fails for a pc outside the FDE.
bool CRDwarfUnwindComputeRegisters(const CRDwarfCIEPair* pair, CRThreadContext* registers);

// Runs instructions on `state` while the location is below pcLimit. `initial` is the row
// after the CIE's instructions (for DW_CFA_restore), null while running those;
// `pcStart` the FDE's start (DW_CFA_set_loc is relative to it).
bool CRDwarfInstructionsEnumerate(uintptr_t start, uintptr_t end, const CRDwarfCIERecord* cie, CRDwarfState* state,
                                  int64_t pcLimit, const CRDwarfState* initial, uint64_t pcStart);
bool CRDwarfGetCFA(const CRDwarfState* state, const CRThreadContext* registers, uint64_t* cfa);
uint64_t CRDwarfGetSavedRegister(const CRThreadContext* registers, uint64_t cfa, CRDwarfRegisterRule rule);
bool CRDwarfUnwindAssignRegisters(const CRDwarfState* state, const CRThreadContext* registers, uint64_t cfa,
                                  uint64_t returnAddressRegister, CRThreadContext* out);

// Evaluates the expression whose ULEB128 length is at `expression`; it must end at or before
// `end` (a rule's expression was checked against its instruction list when the rule was made).
bool CRDwarfEvalulateExpression(uintptr_t expression, const CRThreadContext* registers, uint64_t initialValue,
                                uint64_t* result, uintptr_t end = UINTPTR_MAX);
