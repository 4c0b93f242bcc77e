// Contract: async-signal-safe, no allocation, no lock.
#include "crash-reporting/core/dwarf_unwind.h"

#include <climits>
#include <cstring>

#include "crash-reporting/core/data_readers.h"
#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/safe_memory.h"
#include "crash-reporting/core/unwind.h"

namespace {

constexpr int kRememberDepth = 4;
constexpr int kExpressionStackSize = 100;

void* p(uint64_t value) { return reinterpret_cast<void*>(value); }

// Reads the augmentation data (inside the record `cursor` reads) and leaves the cursor at the
// CIE's instructions.
bool parseAugmentation(CRDwarfCIERecord* cie, CRDataCursor* cursor) {
  const char* text = cie->augmentation;
  if (text[0] == '\0') return true;
  if (text[0] != 'z') {
    CRLogWarning("Error: Unimplemented: augmentation string %s\n", text);
    return false;
  }
  const uint64_t dataLength = CRDataReadULEB128(cursor);
  if (cursor->failed || dataLength > cursor->remaining()) {
    CRLogWarning("Error: CIE augmentation data runs past the record\n");
    return false;
  }
  CRDataCursor data = CRDataCursorMake(cursor->position, dataLength);
  for (const char* c = text + 1; *c != '\0'; ++c) {
    switch (*c) {
      case 'L': cie->lsdaEncoding = CRDataReadU8(&data); break;
      case 'P': {
        cie->personalityEncoding = CRDataReadU8(&data);
        cie->personalityAddress = CRParseAddressWithEncodingAndAdvance(&data, cie->personalityEncoding);
        if (cie->personalityAddress == kCRDataReadFailure) {
          CRLogWarning("Error: Found an invalid start address\n");
          return false;
        }
        break;
      }
      case 'R': cie->pointerEncoding = CRDataReadU8(&data); break;
      case 'S': cie->signalFrame = true; break;
      default: {
        const char shown[2] = {*c, '\0'};
        CRLogWarning("Error: Unhandled augmentation string entry %s\n", shown);
        return false;
      }
    }
    if (data.failed) {
      CRLogWarning("Error: CIE augmentation data is shorter than its string says\n");
      return false;
    }
  }
  // The instructions follow the whole augmentation data, whatever of it was read.
  return cursor->skip(dataLength);
}

// A record (CIE or FDE) at `address`: its initial length, which must lie inside [address,
// sectionEnd). Returns a cursor over the record's body, failed when it does not fit.
CRDataCursor openRecord(uintptr_t address, uintptr_t sectionEnd, uint64_t* length) {
  CRDataCursor cursor = CRDataCursorMake(address, address < sectionEnd ? sectionEnd - address : 0);
  *length = CRDataReadInitialLength(&cursor);
  if (cursor.failed || *length == 0 || *length > cursor.remaining()) {
    cursor.failed = true;
    return cursor;
  }
  return CRDataCursorMake(cursor.position, *length);
}

// `*location += delta * factor`, false when any step overflows.
bool advanceLocation(int64_t* location, uint64_t delta, int64_t factor) {
  int64_t product = 0;
  if (delta > static_cast<uint64_t>(INT64_MAX) || __builtin_mul_overflow(static_cast<int64_t>(delta), factor, &product)) {
    return false;
  }
  return !__builtin_add_overflow(*location, product, location);
}

// An unsigned operand times the data alignment factor (negated for the GNU negative form).
bool factorUnsigned(uint64_t value, int64_t factor, bool negate, int64_t* out) {
  if (value > static_cast<uint64_t>(INT64_MAX)) return false;
  const int64_t signedValue = negate ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  return !__builtin_mul_overflow(signedValue, factor, out);
}

bool validRegister(uint64_t number, const char* what) {
  if (number < kCRDwarfRuleCount) return true;
  CRLogWarning("Error: Found an invalid %s register number\n", what);
  return false;
}

void setRule(CRDwarfState* state, uint64_t number, uint32_t location, uint64_t value) {
  state->registers[number].location = location;
  state->registers[number].value = value;
}

// The expression machine.
struct Machine {
  uint64_t stack[kExpressionStackSize];
  int depth = 0;
  bool stackValid = true;
  uintptr_t start = 0;
  CRDataCursor code;  // the operations, from `start` to the expression's end
  const CRThreadContext* registers = nullptr;

  bool push(uint64_t value) {
    if (!stackValid || depth >= kExpressionStackSize) return false;
    stack[depth++] = value;
    return true;
  }
  uint64_t pop() {
    if (depth <= 0) {
      stackValid = false;
      return 0;
    }
    return stack[--depth];
  }
  bool need(int count) const { return stackValid && depth >= count; }
};

bool readSized(uint64_t address, uint8_t size, uint64_t* out) {
  *out = 0;
  return CRUnwindReadStack(address, out, size);
}

bool executeOpcode(Machine* m) {
  const uint8_t op = CRDataReadU8(&m->code);
  if (op >= 0x30 && op <= 0x4F) return m->push(op - 0x30u);
  if (op >= 0x50 && op <= 0x6F) return m->push(CRDwarfUnwindGetRegisterValue(m->registers, op - 0x50u));
  if (op >= 0x70 && op <= 0x8F) {
    const int64_t offset = CRDataReadSLEB128(&m->code);
    return m->push(CRDwarfUnwindGetRegisterValue(m->registers, op - 0x70u) + static_cast<uint64_t>(offset));
  }
  auto binary = [m](auto combine) {
    if (!m->need(2)) return false;
    const uint64_t a = m->pop();
    const uint64_t b = m->pop();
    return m->push(combine(b, a));
  };
  auto compare = [&binary](auto test) {
    return binary([test](uint64_t b, uint64_t a) -> uint64_t {
      return test(static_cast<int64_t>(b), static_cast<int64_t>(a)) ? 1 : 0;
    });
  };
  auto branch = [m](int16_t offset) {
    if (m->code.failed) return false;
    const uintptr_t target = m->code.position + static_cast<intptr_t>(offset);
    if (target < m->start || target > m->code.end) return false;
    m->code.position = target;
    return true;
  };
  switch (op) {
    case 0x03: return m->push(CRDataReadU64(&m->code));
    case 0x06: {
      if (!m->need(1)) return false;
      uint64_t value = 0;
      if (!readSized(m->pop(), 8, &value)) {
        CRLogWarning("Error: DW_OP_deref failed to read memory\n");
        return false;
      }
      return m->push(value);
    }
    case 0x08: return m->push(CRDataReadU8(&m->code));
    case 0x09: return m->push(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int8_t>(CRDataReadU8(&m->code)))));
    case 0x0A: return m->push(CRDataReadU16(&m->code));
    case 0x0B: return m->push(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(CRDataReadU16(&m->code)))));
    case 0x0C: return m->push(CRDataReadU32(&m->code));
    case 0x0D: return m->push(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(CRDataReadU32(&m->code)))));
    case 0x0E:
    case 0x0F: return m->push(CRDataReadU64(&m->code));
    case 0x10: return m->push(CRDataReadULEB128(&m->code));
    case 0x11: return m->push(static_cast<uint64_t>(CRDataReadSLEB128(&m->code)));
    case 0x12: return m->need(1) && m->push(m->stack[m->depth - 1]);
    case 0x13: return m->need(1) && (m->pop(), true);
    case 0x14: return m->need(2) && m->push(m->stack[m->depth - 2]);
    case 0x15: {
      const uint8_t index = CRDataReadU8(&m->code);
      return m->need(index + 1) && m->push(m->stack[m->depth - 1 - index]);
    }
    case 0x16: {
      if (!m->need(2)) return false;
      const uint64_t top = m->stack[m->depth - 1];
      m->stack[m->depth - 1] = m->stack[m->depth - 2];
      m->stack[m->depth - 2] = top;
      return true;
    }
    case 0x17: {
      if (!m->need(3)) return false;
      uint64_t* s = m->stack + m->depth - 3;
      const uint64_t top = s[2];
      s[2] = s[1];
      s[1] = s[0];
      s[0] = top;
      return true;
    }
    case 0x19: {
      if (!m->need(1)) return false;
      const uint64_t value = m->pop();
      return m->push(static_cast<int64_t>(value) < 0 ? 0 - value : value);
    }
    case 0x1A: return binary([](uint64_t b, uint64_t a) { return b & a; });
    case 0x1B: {
      if (!m->need(2) || m->stack[m->depth - 1] == 0) return false;
      return binary([](uint64_t b, uint64_t a) {
        // The one quotient that does not fit wraps, as the unsigned arithmetic does elsewhere.
        if (static_cast<int64_t>(a) == -1) return 0 - b;
        return static_cast<uint64_t>(static_cast<int64_t>(b) / static_cast<int64_t>(a));
      });
    }
    case 0x1C: return binary([](uint64_t b, uint64_t a) { return b - a; });
    case 0x1D: {
      if (!m->need(2) || m->stack[m->depth - 1] == 0) return false;
      return binary([](uint64_t b, uint64_t a) { return b % a; });
    }
    case 0x1E: return binary([](uint64_t b, uint64_t a) { return b * a; });
    case 0x1F: return m->need(1) && m->push(0 - m->pop());
    case 0x20: return m->need(1) && m->push(~m->pop());
    case 0x21: return binary([](uint64_t b, uint64_t a) { return b | a; });
    case 0x22: return binary([](uint64_t b, uint64_t a) { return b + a; });
    case 0x23: {
      if (!m->need(1)) return false;
      const uint64_t a = m->pop();
      return m->push(a + CRDataReadULEB128(&m->code));
    }
    case 0x24: return binary([](uint64_t b, uint64_t a) { return a >= 64 ? 0 : b << a; });
    case 0x25: return binary([](uint64_t b, uint64_t a) { return a >= 64 ? 0 : b >> a; });
    case 0x26: return binary([](uint64_t b, uint64_t a) {
      return static_cast<uint64_t>(static_cast<int64_t>(b) >> (a >= 63 ? 63 : a));
    });
    case 0x27: return binary([](uint64_t b, uint64_t a) { return b ^ a; });
    case 0x28: {
      const int16_t offset = static_cast<int16_t>(CRDataReadU16(&m->code));
      if (m->code.failed || !m->need(1)) return false;
      return m->pop() == 0 || branch(offset);
    }
    case 0x29: return compare([](int64_t b, int64_t a) { return b == a; });
    case 0x2A: return compare([](int64_t b, int64_t a) { return b >= a; });
    case 0x2B: return compare([](int64_t b, int64_t a) { return b > a; });
    case 0x2C: return compare([](int64_t b, int64_t a) { return b <= a; });
    case 0x2D: return compare([](int64_t b, int64_t a) { return b < a; });
    case 0x2E: return compare([](int64_t b, int64_t a) { return b != a; });
    case 0x2F: return branch(static_cast<int16_t>(CRDataReadU16(&m->code)));
    case 0x90: return m->push(CRDwarfUnwindGetRegisterValue(m->registers, CRDataReadULEB128(&m->code)));
    case 0x92: {
      const uint64_t number = CRDataReadULEB128(&m->code);
      const int64_t offset = CRDataReadSLEB128(&m->code);
      return m->push(CRDwarfUnwindGetRegisterValue(m->registers, number) + static_cast<uint64_t>(offset));
    }
    case 0x94: {
      const uint8_t size = CRDataReadU8(&m->code);
      if (size != 1 && size != 2 && size != 4 && size != 8) {
        CRLogWarning("Error: unrecognized DW_OP_deref_size argument %x\n", size);
        return false;
      }
      uint64_t value = 0;
      return m->need(1) && readSized(m->pop(), size, &value) && m->push(value);
    }
    case 0x96: return true;
    default: CRLogWarning("Error: Unrecognized DWARF expression opcode 0x%x\n", op); return false;
  }
}

}  // namespace

bool CRDwarfEvalulateExpression(uintptr_t expression, const CRThreadContext* registers, uint64_t initialValue,
                                uint64_t* result, uintptr_t end) {
  if (expression < kCRMinimumValidAddress || expression >= end ||
      reinterpret_cast<uintptr_t>(result) < kCRMinimumValidAddress) {
    CRLogWarning("Error: inputs invalid\n");
    return false;
  }
  CRDataCursor cursor = CRDataCursorMake(expression, end - expression);
  const uint64_t length = CRDataReadULEB128(&cursor);
  if (cursor.failed || length == 0 || length > cursor.remaining()) {
    CRLogWarning("Error: DWARF expression length is invalid\n");
    CRLogWarning("Error: unable to prepare for execution\n");
    return false;
  }
  Machine machine;
  machine.registers = registers;
  machine.push(initialValue);
  machine.start = cursor.position;
  machine.code = CRDataCursorMake(cursor.position, length);
  uint32_t steps = 0;
  while (machine.code.position < machine.code.end) {
    if (++steps > kCRDwarfExpressionBudget) {
      CRLogWarning("Error: DWARF expression runs too long\n");
      return false;
    }
    if (!executeOpcode(&machine) || !machine.stackValid || machine.code.failed) {
      CRLogWarning("Error: failed to execute DWARF machine opcode\n");
      return false;
    }
  }
  if (machine.code.position != machine.code.end || machine.depth == 0) {
    CRLogWarning("Error: failed to get DWARF expression result\n");
    return false;
  }
  *result = machine.stack[machine.depth - 1];
  return true;
}

bool CRDwarfParseCIERecord(CRDwarfCIERecord* cie, uintptr_t address, uintptr_t sectionEnd) {
  if (cie == nullptr || address == 0) return false;
  *cie = CRDwarfCIERecord{};
  uint64_t length = 0;
  CRDataCursor cursor = openRecord(address, sectionEnd, &length);
  if (cursor.failed) {
    CRLogWarning("Error: CIE length invalid\n");
    return false;
  }
  if (CRDataReadU32(&cursor) != 0) CRLogWarning("Error: CIE flag not found\n");
  cie->version = CRDataReadU8(&cursor);
  if (cie->version != 1 && cie->version != 3) CRLogWarning("Error: CIE version %u unsupported\n", cie->version);
  cie->augmentation = CRDataReadCString(&cursor);
  cie->codeAlignmentFactor = CRDataReadULEB128(&cursor);
  cie->dataAlignmentFactor = CRDataReadSLEB128(&cursor);
  if (cie->version == 3) {
    cie->returnAddressRegister = CRDataReadULEB128(&cursor);
  } else if (cie->version == 1) {
    cie->returnAddressRegister = CRDataReadU8(&cursor);
  } else {
    CRLogWarning("Error: CIE version %u unsupported\n", cie->version);
    return false;
  }
  if (cursor.failed) {
    CRLogWarning("Error: CIE fields run past the record\n");
    return false;
  }
  if (!parseAugmentation(cie, &cursor)) return false;
  cie->length = length;
  cie->instructionsStart = cursor.position;
  cie->instructionsLength = cursor.remaining();
  return true;
}

bool CRDwarfParseFDERecord(CRDwarfFDERecord* fde, bool parseCIE, CRDwarfCIERecord* cie, uintptr_t address,
                           uintptr_t sectionStart, uintptr_t sectionEnd) {
  if (fde == nullptr || cie == nullptr || address == 0 || address < sectionStart) return false;
  *fde = CRDwarfFDERecord{};
  uint64_t length = 0;
  CRDataCursor cursor = openRecord(address, sectionEnd, &length);
  if (cursor.failed) {
    CRLogWarning("Error: FDE length invalid\n");
    return false;
  }
  const uintptr_t pointerField = cursor.position;
  fde->ciePointer = CRDataReadU32(&cursor);
  if (cursor.failed || fde->ciePointer == 0 || fde->ciePointer > pointerField - sectionStart) {
    CRLogWarning("Error: CIE offset invalid\n");
    return false;
  }
  fde->length = length;
  if (parseCIE && !CRDwarfParseCIERecord(cie, pointerField - fde->ciePointer, sectionEnd)) {
    CRLogWarning("Error: Unable to parse CIE record\n");
    return false;
  }
  if (cie->length == 0 || (cie->version != 1 && cie->version != 3)) {
    CRLogWarning("Error: CIE invalid\n");
    return false;
  }
  fde->pcStart = CRParseAddressWithEncodingAndAdvance(&cursor, cie->pointerEncoding);
  if (fde->pcStart == kCRDataReadFailure) {
    CRLogWarning("Error: Found an invalid start address\n");
    return false;
  }
  fde->pcRange = CRParseAddressWithEncodingAndAdvance(&cursor, cie->pointerEncoding & 0x0F);
  if (fde->pcRange == kCRDataReadFailure) {
    CRLogWarning("Error: Found an invalid address range\n");
    return false;
  }
  if (cie->augmentation != nullptr && cie->augmentation[0] == 'z') cursor.skip(CRDataReadULEB128(&cursor));
  if (cursor.failed) {
    CRLogWarning("Error: FDE fields run past the record\n");
    return false;
  }
  fde->instructionsStart = cursor.position;
  fde->instructionsLength = cursor.remaining();
  return true;
}

bool CRDwarfFDEPairInit(CRDwarfCIEPair* pair, uintptr_t ehFrame, uintptr_t fdeOffset, uintptr_t sectionEnd) {
  if (pair == nullptr || ehFrame == 0 || fdeOffset == 0 || fdeOffset > UINTPTR_MAX - ehFrame ||
      ehFrame + fdeOffset >= sectionEnd) {
    return false;
  }
  return CRDwarfParseFDERecord(&pair->fde, true, &pair->cie, ehFrame + fdeOffset, ehFrame, sectionEnd);
}

bool CRDwarfInstructionsEnumerate(uintptr_t start, uintptr_t end, const CRDwarfCIERecord* cie, CRDwarfState* state,
                                  int64_t pcLimit, const CRDwarfState* initial, uint64_t pcStart) {
  if (start == 0 || end < start || cie == nullptr || state == nullptr) {
    CRLogWarning("Error: inputs invalid\n");
    return false;
  }
  CRDwarfState remembered[kRememberDepth];
  int rememberedCount = 0;
  int64_t location = 0;
  const int64_t codeFactor = static_cast<int64_t>(cie->codeAlignmentFactor);
  const int64_t dataFactor = cie->dataAlignmentFactor;
  CRDataCursor cursor = CRDataCursorMake(start, end - start);
  uint32_t steps = 0;
  auto failed = [](uint8_t opcode) {
    CRLogWarning("Error: Failed to execute dwarf instruction 0x%x\n", opcode);
    return false;
  };
  // An operand or an expression that runs past the instruction list.
  auto truncated = [](uint8_t opcode) {
    CRLogWarning("Error: dwarf instruction 0x%x runs past its instructions\n", opcode);
    return false;
  };
  while (cursor.position < cursor.end && location < pcLimit) {
    if (++steps > kCRDwarfInstructionBudget) {
      CRLogWarning("Error: dwarf instructions run too long\n");
      return false;
    }
    const uint8_t opcode = CRDataReadU8(&cursor);
    const uint8_t high = opcode & 0xC0;
    const uint8_t low = opcode & 0x3F;
    if (high == 0x40) {
      if (!advanceLocation(&location, low, codeFactor)) return failed(opcode);
      continue;
    }
    if (high == 0x80) {
      const uint64_t offset = CRDataReadULEB128(&cursor);
      if (cursor.failed) return truncated(opcode);
      int64_t factored = 0;
      if (!validRegister(low, "DW_CFA_offset") || !factorUnsigned(offset, dataFactor, false, &factored)) {
        return failed(opcode);
      }
      setRule(state, low, CRDwarfRegisterAtCFAOffset, static_cast<uint64_t>(factored));
      continue;
    }
    if (high == 0xC0) {
      if (!validRegister(low, "DW_CFA_restore")) return failed(opcode);
      state->registers[low] = initial != nullptr ? initial->registers[low] : CRDwarfRegisterRule{};
      continue;
    }
    switch (opcode) {
      case 0x00: break;
      case 0x01: {
        const uint64_t address = CRParseAddressWithEncodingAndAdvance(&cursor, cie->pointerEncoding);
        if (address == kCRDataReadFailure) return failed(opcode);
        location = static_cast<int64_t>(address - pcStart);
        break;
      }
      case 0x02:
      case 0x03:
      case 0x04: {  // advance_loc1, 2, 4
        const uint64_t delta = opcode == 0x02   ? CRDataReadU8(&cursor)
                               : opcode == 0x03 ? CRDataReadU16(&cursor)
                                                : CRDataReadU32(&cursor);
        if (cursor.failed) return truncated(opcode);
        if (!advanceLocation(&location, delta, codeFactor)) return failed(opcode);
        break;
      }
      case 0x05:    // offset_extended
      case 0x11:    // offset_extended_sf
      case 0x14:    // val_offset
      case 0x15:    // val_offset_sf
      case 0x2F: {  // GNU_negative_offset_extended
        const uint64_t number = CRDataReadULEB128(&cursor);
        int64_t factored = 0;
        bool fits = true;
        if (opcode == 0x11 || opcode == 0x15) {
          fits = !__builtin_mul_overflow(CRDataReadSLEB128(&cursor), dataFactor, &factored);
        } else {
          fits = factorUnsigned(CRDataReadULEB128(&cursor), dataFactor, opcode == 0x2F, &factored);
        }
        if (cursor.failed) return truncated(opcode);
        if (!fits || !validRegister(number, "DW_CFA_offset_extended")) return failed(opcode);
        const bool isValue = opcode == 0x14 || opcode == 0x15;
        setRule(state, number, isValue ? CRDwarfRegisterIsCFAOffset : CRDwarfRegisterAtCFAOffset,
                static_cast<uint64_t>(factored));
        break;
      }
      case 0x06: {  // restore_extended
        const uint64_t number = CRDataReadULEB128(&cursor);
        if (cursor.failed) return truncated(opcode);
        if (!validRegister(number, "DW_CFA_restore_extended")) return failed(opcode);
        state->registers[number] = initial != nullptr ? initial->registers[number] : CRDwarfRegisterRule{};
        break;
      }
      case 0x07: {  // undefined
        const uint64_t number = CRDataReadULEB128(&cursor);
        if (cursor.failed) return truncated(opcode);
        if (!validRegister(number, "DW_CFA_undefined")) return failed(opcode);
        setRule(state, number, CRDwarfRegisterUndefined, 0);
        break;
      }
      case 0x08: {
        const uint64_t number = CRDataReadULEB128(&cursor);
        if (cursor.failed) return truncated(opcode);
        if (!validRegister(number, "DW_CFA_same_value")) return failed(opcode);
        setRule(state, number, CRDwarfRegisterUnused, 0);
        break;
      }
      case 0x09: {
        const uint64_t number = CRDataReadULEB128(&cursor);
        const uint64_t other = CRDataReadULEB128(&cursor);
        if (cursor.failed) return truncated(opcode);
        if (!validRegister(number, "DW_CFA_register") || !validRegister(other, "DW_CFA_register value")) {
          return failed(opcode);
        }
        setRule(state, number, CRDwarfRegisterInRegister, other);
        break;
      }
      case 0x0A:
        if (rememberedCount == kRememberDepth) {
          CRLogWarning("Error: DW_CFA_remember_state nested too deeply\n");
          return failed(opcode);
        }
        remembered[rememberedCount++] = *state;
        break;
      case 0x0B: {
        if (rememberedCount == 0) {
          CRLogWarning("Error: DW_CFA_restore_state without a remembered row\n");
          return failed(opcode);
        }
        // The CFA is part of the row that is restored.
        *state = remembered[--rememberedCount];
        break;
      }
      case 0x0C:
      case 0x12: {  // def_cfa, def_cfa_sf
        const uint64_t number = CRDataReadULEB128(&cursor);
        int64_t offset = 0;
        bool fits = true;
        if (opcode == 0x0C) {
          offset = static_cast<int64_t>(CRDataReadULEB128(&cursor));
        } else {
          fits = !__builtin_mul_overflow(CRDataReadSLEB128(&cursor), dataFactor, &offset);
        }
        if (cursor.failed) return truncated(opcode);
        if (!fits || !validRegister(number, "DW_CFA_def_cfa")) return failed(opcode);
        state->cfaRegister = number;
        state->cfaRegisterOffset = static_cast<uint64_t>(offset);
        state->cfaExpression = 0;
        break;
      }
      case 0x0D: {
        const uint64_t number = CRDataReadULEB128(&cursor);
        if (cursor.failed) return truncated(opcode);
        if (!validRegister(number, "DW_CFA_def_cfa_register")) return failed(opcode);
        state->cfaRegister = number;
        state->cfaExpression = 0;
        break;
      }
      case 0x0E: {
        const uint64_t offset = CRDataReadULEB128(&cursor);
        if (cursor.failed) return truncated(opcode);
        state->cfaRegisterOffset = offset;
        break;
      }
      case 0x13: {
        int64_t offset = 0;
        const bool fits = !__builtin_mul_overflow(CRDataReadSLEB128(&cursor), dataFactor, &offset);
        if (cursor.failed) return truncated(opcode);
        if (!fits) return failed(opcode);
        state->cfaRegisterOffset = static_cast<uint64_t>(offset);
        break;
      }
      case 0x0F: {
        const uintptr_t expression = cursor.position;
        if (!cursor.skip(CRDataReadULEB128(&cursor))) return truncated(opcode);
        state->cfaRegister = kCRDwarfCFAExpressionRegister;
        state->cfaExpression = expression;
        break;
      }
      case 0x10:
      case 0x16: {
        const uint64_t number = CRDataReadULEB128(&cursor);
        const uintptr_t expression = cursor.position;
        if (!cursor.skip(CRDataReadULEB128(&cursor))) return truncated(opcode);
        if (!validRegister(number, opcode == 0x10 ? "DW_CFA_expression" : "DW_CFA_val_expression")) {
          return failed(opcode);
        }
        setRule(state, number, opcode == 0x10 ? CRDwarfRegisterAtExpression : CRDwarfRegisterIsExpression, expression);
        break;
      }
      case 0x2E:  // GNU_args_size: nothing to restore
        CRDataReadULEB128(&cursor);
        if (cursor.failed) return truncated(opcode);
        break;
      default:
        CRLogWarning("Error: Unrecognized DWARF instruction 0x%x\n", opcode);
        return failed(opcode);
    }
  }
  return true;
}

bool CRDwarfGetCFA(const CRDwarfState* state, const CRThreadContext* registers, uint64_t* cfa) {
  if (reinterpret_cast<uintptr_t>(state) < kCRMinimumValidAddress ||
      reinterpret_cast<uintptr_t>(registers) < kCRMinimumValidAddress ||
      reinterpret_cast<uintptr_t>(cfa) < kCRMinimumValidAddress) {
    CRLogWarning("Error: invalid input\n");
    return false;
  }
  if (state->cfaExpression == 0) {
    *cfa = CRDwarfUnwindGetRegisterValue(registers, state->cfaRegister) + state->cfaRegisterOffset;
    return true;
  }
  if (!CRDwarfEvalulateExpression(state->cfaExpression, registers, 0, cfa)) {
    CRLogWarning("Error: failed to compute CFA expression\n");
    return false;
  }
  return true;
}

uint64_t CRDwarfGetSavedRegister(const CRThreadContext* registers, uint64_t cfa, CRDwarfRegisterRule rule) {
  uint64_t value = 0;
  switch (rule.location) {
    case CRDwarfRegisterAtCFAOffset:
      if (!readSized(cfa + rule.value, 8, &value)) CRLogWarning("Error: Unable to read CFA value\n");
      return value;
    case CRDwarfRegisterIsCFAOffset: return cfa + rule.value;
    case CRDwarfRegisterInRegister: return CRDwarfUnwindGetRegisterValue(registers, rule.value);
    case CRDwarfRegisterAtExpression: {
      uint64_t address = 0;
      if (!CRDwarfEvalulateExpression(rule.value, registers, cfa, &address)) {
        CRLogWarning("Error: unable to evaluate expression\n");
        return 0;
      }
      if (!readSized(address, 8, &value)) CRLogWarning("Error: Unable to read memory computed from expression\n");
      return value;
    }
    case CRDwarfRegisterIsExpression:
      if (!CRDwarfEvalulateExpression(rule.value, registers, cfa, &value)) {
        CRLogWarning("Error: unable to evaluate expression\n");
        return 0;
      }
      return value;
    case CRDwarfRegisterUndefined: return 0;
    default: CRLogWarning("Error: Unrecognized register save location 0x%x\n", rule.location); return 0;
  }
}

bool CRDwarfUnwindAssignRegisters(const CRDwarfState* state, const CRThreadContext* registers, uint64_t cfa,
                                  uint64_t returnAddressRegister, CRThreadContext* out) {
  if (reinterpret_cast<uintptr_t>(state) < kCRMinimumValidAddress ||
      reinterpret_cast<uintptr_t>(registers) < kCRMinimumValidAddress ||
      reinterpret_cast<uintptr_t>(out) < kCRMinimumValidAddress) {
    CRLogError("Error: input invalid\n");
    return false;
  }
  CRThreadContext next = *registers;
  for (uint64_t number = 0; number < kCRDwarfRegisterCount; ++number) {
    const CRDwarfRegisterRule rule = state->registers[number];
    if (rule.location == CRDwarfRegisterUnused || number == returnAddressRegister) continue;
    if (!CRDwarfUnwindSetRegisterValue(&next, number, CRDwarfGetSavedRegister(registers, cfa, rule))) {
      CRLogWarning("Error: Unable to restore register value\n");
      return false;
    }
  }
  // The caller's pc is the CIE's return-address column; without a rule it stays unchanged.
  if (returnAddressRegister >= kCRDwarfRuleCount) return false;
  const CRDwarfRegisterRule returnRule = state->registers[returnAddressRegister];
  const uint64_t pc = returnRule.location == CRDwarfRegisterUnused
                          ? CRDwarfUnwindGetRegisterValue(registers, returnAddressRegister)
                          : CRDwarfGetSavedRegister(registers, cfa, returnRule);
  if (!CRRegistersSetPC(&next, pc)) return false;
  if (!CRRegistersSetSP(&next, cfa)) {
    CRLogWarning("Error: Unable to restore SP value\n");
    return false;
  }
  if (CRRegistersSP(&next) == CRRegistersSP(registers)) {
    CRLogWarning("Error: Stack pointer hasn't changed\n");
    return false;
  }
  if (CRRegistersPC(&next) == CRRegistersPC(registers) && returnRule.location != CRDwarfRegisterUndefined) {
    CRLogWarning("Error: PC hasn't changed\n");
    return false;
  }
  *out = next;
  return true;
}

bool CRDwarfUnwindComputeRegisters(const CRDwarfCIEPair* pair, CRThreadContext* registers) {
  CRDwarfState initial{};
  const CRDwarfCIERecord& cie = pair->cie;
  const CRDwarfFDERecord& fde = pair->fde;
  if (!CRDwarfInstructionsEnumerate(cie.instructionsStart, cie.instructionsStart + cie.instructionsLength, &cie,
                                    &initial, INT64_MAX, nullptr, fde.pcStart)) {
    CRLogWarning("Error: Unable to run CIE instructions\n");
    return false;
  }
  const uint64_t pc = CRRegistersPC(registers);
  const int64_t pcOffset = static_cast<int64_t>(pc - fde.pcStart);
  if (pcOffset < 0 || pcOffset == INT64_MAX) {
    CRLogWarning("Error: The FDE pcOffset value cannot be negative\n");
    return false;
  }
  if (static_cast<uint64_t>(pcOffset) >= fde.pcRange) {
    CRLogWarning("Error: pc %p is outside the FDE\n", p(pc));
    return false;
  }
  // The row for the pc holds every instruction up to and including its own location.
  CRDwarfState state = initial;
  if (!CRDwarfInstructionsEnumerate(fde.instructionsStart, fde.instructionsStart + fde.instructionsLength, &cie, &state,
                                    pcOffset + 1, &initial, fde.pcStart)) {
    CRLogWarning("Error: Unable to run FDE instructions\n");
    return false;
  }
  uint64_t cfa = 0;
  if (!CRDwarfGetCFA(&state, registers, &cfa)) {
    CRLogWarning("Error: failed to get CFA\n");
    return false;
  }
  if (!CRDwarfUnwindAssignRegisters(&state, registers, cfa, cie.returnAddressRegister, registers)) {
    CRLogError("Error: Unable to assign DWARF registers\n");
    return false;
  }
  return true;
}
