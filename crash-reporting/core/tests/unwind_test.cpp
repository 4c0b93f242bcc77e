// The unwinders on synthetic stacks and hand-built unwind tables, and on this program's own
// `.eh_frame`, checked against the system unwinder.
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

#include <cstring>
#include <vector>

#include "crash-reporting/core/compact_unwind.h"
#include "crash-reporting/core/data_readers.h"
#include "crash-reporting/core/dwarf_unwind.h"
#include "crash-reporting/core/registers.h"
#include "crash-reporting/core/tests/test_support.h"
#include "crash-reporting/core/unwind.h"

namespace {

using Bytes = std::vector<uint8_t>;

uintptr_t at(const Bytes& bytes, size_t offset = 0) { return reinterpret_cast<uintptr_t>(bytes.data()) + offset; }
uintptr_t at(const uint64_t* words, size_t index = 0) { return reinterpret_cast<uintptr_t>(words + index); }

void put32(Bytes& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void put64(Bytes& bytes, uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

CRThreadContext registersWith(uint64_t pc, uint64_t sp, uint64_t fp, uint64_t lr = 0) {
  CRThreadContext context;
  CRRegistersSetPC(&context, pc);
  CRRegistersSetSP(&context, sp);
  CRRegistersSetFP(&context, fp);
  CRRegistersSetLR(&context, lr);
  return context;
}

std::vector<uint64_t> walk(CRUnwindCursor& cursor, size_t limit = 64) {
  std::vector<uint64_t> pcs;
  while (pcs.size() < limit && CRUnwindNextFrame(&cursor)) pcs.push_back(CRUnwindCursorPC(&cursor));
  return pcs;
}

TEST(CRDataReadersTest, LEB128AndPointerEncodings) {
  struct Case {
    Bytes bytes;
    bool isSigned;
    int64_t value;
    size_t consumed;
  };
  const Case cases[] = {
      {{0xE5, 0x8E, 0x26}, false, 624485, 3},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, false, 0xFFFFFFFF, 5},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, false, -1, 10},  // all 64 bits
      {{0x7F}, true, -1, 1},
      {{0x80, 0x7F}, true, -128, 2},
      {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7F}, true, INT64_MIN, 10},
  };
  for (const Case& c : cases) {
    uintptr_t cursor = at(c.bytes);
    const int64_t value =
        c.isSigned ? CRDataReadSLEB128(&cursor) : static_cast<int64_t>(CRDataReadULEB128(&cursor));
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(cursor - at(c.bytes), c.consumed);
  }

  uint64_t target = 0x1122334455667788;
  Bytes pcRelative;
  put32(pcRelative, 0xFFFFFFF0);
  uintptr_t cursor = at(pcRelative);
  EXPECT_EQ(CRParseAddressWithEncodingAndAdvance(&cursor, 0x1B), at(pcRelative) - 16);
  Bytes indirect;
  put64(indirect, reinterpret_cast<uint64_t>(&target));
  cursor = at(indirect);
  EXPECT_EQ(CRParseAddressWithEncodingAndAdvance(&cursor, 0x80), target);
  Bytes unreadable;
  put64(unreadable, 16);  // an indirect pointer to an unmapped page reads nothing
  cursor = at(unreadable);
  EXPECT_EQ(CRParseAddressWithEncodingAndAdvance(&cursor, 0x80), kCRDataReadFailure);
  cursor = at(indirect);
  EXPECT_EQ(CRParseAddressWithEncodingAndAdvance(&cursor, 0x30), kCRDataReadFailure);
  EXPECT_EQ(CRParseAddressWithEncodingAndAdvance(&cursor, 0xFF), 0u);
}

// A synthetic frame-pointer chain: frames[0] -> frames[2] -> frames[4] -> end.
struct FakeStack {
  uint64_t words[8] = {};
  FakeStack() {
    words[0] = at(words, 2);
    words[1] = 0x20000;
    words[2] = at(words, 4);
    words[3] = 0x30000;
    words[4] = 0;
    words[5] = 0x40000;
  }
};

TEST(CRUnwindTest, FramePointerChain) {
  FakeStack stack;
  const CRThreadContext start = registersWith(0x10000, at(stack.words) - 64, at(stack.words));
  CRUnwindCursor cursor;
  ASSERT_TRUE(CRUnwindInitCursor(&cursor, &start));
  ASSERT_TRUE(CRUnwindNextFrame(&cursor));
  EXPECT_EQ(CRUnwindCursorPC(&cursor), 0x10000u);  // the captured frame itself
  EXPECT_EQ(cursor.frameCount, 1u);
  ASSERT_TRUE(CRUnwindNextFrame(&cursor));
  EXPECT_EQ(CRUnwindCursorPC(&cursor), 0x20000u);
  EXPECT_EQ(CRRegistersSP(&cursor.registers), at(stack.words) + 16);
  EXPECT_EQ(CRRegistersFP(&cursor.registers), at(stack.words, 2));
  EXPECT_EQ(walk(cursor), (std::vector<uint64_t>{0x30000, 0x40000}));  // then fp 0 ends the walk
}

TEST(CRUnwindTest, LinkRegisterOnlyForTheFirstCaller) {
  FakeStack stack;
  const CRThreadContext start = registersWith(0x10000, at(stack.words) - 64, at(stack.words), 0x5000);
  CRUnwindCursor cursor;
  CRUnwindInitCursor(&cursor, &start);
  EXPECT_EQ(walk(cursor), (std::vector<uint64_t>{0x10000, 0x5000, 0x20000, 0x30000, 0x40000}));
}

TEST(CRUnwindTest, RefusedStartsAndChains) {
  CRUnwindCursor cursor;
  const CRThreadContext lowPC = registersWith(0xFFF, 0x100000, 0);
  CRUnwindInitCursor(&cursor, &lowPC);
  EXPECT_FALSE(CRUnwindNextFrame(&cursor));
  EXPECT_FALSE(CRUnwindNextFrame(nullptr));

  // A chain that points back at itself stops instead of looping.
  uint64_t cycle[4];
  cycle[0] = at(cycle, 2);
  cycle[1] = 0x20000;
  cycle[2] = at(cycle, 0);
  cycle[3] = 0x30000;
  const CRThreadContext looping = registersWith(0x10000, at(cycle) - 64, at(cycle));
  CRUnwindInitCursor(&cursor, &looping);
  EXPECT_EQ(walk(cursor), (std::vector<uint64_t>{0x10000, 0x20000}));

  // Repeated pcs are counted; a different one resets the count; the frame limit holds.
  uint64_t repeated[6] = {0, 0x20000, 0, 0x20000, 0, 0x30000};
  repeated[0] = at(repeated, 2);
  repeated[2] = at(repeated, 4);
  const CRThreadContext same = registersWith(0x20000, at(repeated) - 64, at(repeated));
  CRUnwindInitCursor(&cursor, &same);
  std::vector<uint32_t> counts;
  while (CRUnwindNextFrame(&cursor)) counts.push_back(CRUnwindCursorRepeatCount(&cursor));
  EXPECT_EQ(counts, (std::vector<uint32_t>{0, 1, 2, 0}));
  CRUnwindInitCursor(&cursor, &same);
  cursor.frameCount = kCRUnwindMaxFrames;
  EXPECT_FALSE(CRUnwindNextFrame(&cursor));
}

TEST(CRRegistersTest, AccessorsAndDwarfNumbers) {
  EXPECT_EQ(CRRegistersPC(reinterpret_cast<CRThreadContext*>(8)), 0u);
  EXPECT_FALSE(CRRegistersSetSP(reinterpret_cast<CRThreadContext*>(8), 1));
  CRThreadContext context;
  // No pointer masking on x86-64: every bit of a pointer register stays.
  ASSERT_TRUE(CRRegistersSetPC(&context, 0xFFFF800000001234));
  EXPECT_EQ(CRRegistersPC(&context), 0xFFFF800000001234u);
  EXPECT_TRUE(CRDwarfUnwindSetRegisterValue(&context, 16, 0x7777));
  EXPECT_EQ(CRRegistersPC(&context), 0x7777u);
  EXPECT_EQ(CRRegistersLR(&context), 0x7777u);
  EXPECT_TRUE(CRDwarfUnwindSetRegisterValue(&context, 7, 0x9000));
  EXPECT_EQ(CRRegistersSP(&context), 0x9000u);
  EXPECT_EQ(CRDwarfUnwindGetRegisterValue(&context, 6), CRRegistersFP(&context));
  EXPECT_FALSE(CRDwarfUnwindSetRegisterValue(&context, 17, 1));
  EXPECT_EQ(CRDwarfUnwindGetRegisterValue(&context, 32), 0u);
}

// --- DWARF -----------------------------------------------------------------------------

// A CIE ("zR", absolute 8-byte pointers, code factor 1, data factor -8) and an FDE for
// [pcStart, pcStart + range) with the given instructions, in one buffer.
struct CFI {
  Bytes bytes;
  size_t fdeOffset = 0;
  CFI(const Bytes& cieInstructions, uint64_t pcStart, uint64_t range, const Bytes& fdeInstructions,
      const char* augmentation = "zR", uint8_t version = 1, uint8_t returnColumn = 16) {
    Bytes cie;
    put32(cie, 0);  // CIE id
    cie.push_back(version);
    for (const char* c = augmentation; *c != '\0'; ++c) cie.push_back(static_cast<uint8_t>(*c));
    cie.push_back(0);
    cie.push_back(1);     // code alignment
    cie.push_back(0x78);  // data alignment -8
    cie.push_back(returnColumn);
    if (augmentation[0] == 'z') {
      cie.push_back(1);     // augmentation data length
      cie.push_back(0x00);  // pointer encoding: absolute 8 bytes
    }
    cie.insert(cie.end(), cieInstructions.begin(), cieInstructions.end());
    put32(bytes, static_cast<uint32_t>(cie.size()));
    bytes.insert(bytes.end(), cie.begin(), cie.end());
    fdeOffset = bytes.size();
    Bytes fde;
    put32(fde, static_cast<uint32_t>(fdeOffset + 4));  // back to the CIE
    put64(fde, pcStart);
    put64(fde, range);
    fde.push_back(0);  // augmentation data length
    fde.insert(fde.end(), fdeInstructions.begin(), fdeInstructions.end());
    put32(bytes, static_cast<uint32_t>(fde.size()));
    bytes.insert(bytes.end(), fde.begin(), fde.end());
    put32(bytes, 0);
  }
  bool pair(CRDwarfCIEPair* out) const { return CRDwarfFDEPairInit(out, at(bytes), fdeOffset); }
};

// CFA = rsp + 8, return address at CFA - 8: the state at a function's first instruction.
const Bytes kEntryRules = {0x0C, 7, 8, 0x90, 1};
constexpr uint64_t kFunction = 0x401000;

TEST(CRDwarfTest, CIEParsing) {
  CFI plain(kEntryRules, kFunction, 0x40, {});
  CRDwarfCIEPair pair;
  ASSERT_TRUE(plain.pair(&pair));
  EXPECT_EQ(pair.cie.codeAlignmentFactor, 1u);
  EXPECT_EQ(pair.cie.dataAlignmentFactor, -8);
  EXPECT_EQ(pair.cie.returnAddressRegister, 16u);
  EXPECT_EQ(pair.fde.pcStart, kFunction);
  EXPECT_EQ(pair.fde.pcRange, 0x40u);
  EXPECT_EQ(pair.cie.instructionsLength, kEntryRules.size());

  CFI eh(kEntryRules, kFunction, 0x40, {}, "eh");
  EXPECT_FALSE(eh.pair(&pair));
  CFI unknownEntry(kEntryRules, kFunction, 0x40, {}, "zX");
  EXPECT_FALSE(unknownEntry.pair(&pair));
  CFI version2(kEntryRules, kFunction, 0x40, {}, "zR", 2);
  EXPECT_FALSE(version2.pair(&pair));

  Bytes zeroPointer;
  put32(zeroPointer, 20);
  put32(zeroPointer, 0);
  zeroPointer.resize(32);
  CRDwarfFDERecord fde;
  CRDwarfCIERecord cie;
  EXPECT_FALSE(CRDwarfParseFDERecord(&fde, true, &cie, at(zeroPointer)));
}

struct DwarfCase {
  const char* name;
  Bytes fdeInstructions;
  uint64_t pcOffset;
  bool rbpBased;  // rbp points at the saved rbp (stack word 0) and sp lies below it
  bool succeeds;
  uint64_t callerPC;
  int callerSPIndex;
  uint64_t callerRBP;  // 0: not checked
};

TEST(CRDwarfTest, InstructionTable) {
  // push rbp (1 byte): CFA = rsp + 16, rbp at CFA - 16; mov rbp,rsp (3 bytes): CFA = rbp + 16.
  const Bytes prologue = {0x41, 0x0E, 16, 0x86, 2, 0x43, 0x0D, 6};
  auto with = [&prologue](Bytes extra) {
    Bytes all = prologue;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };
  const Bytes setLoc = {0x01, 0x14, 0x10, 0x40, 0, 0, 0, 0, 0, 0x0E, 16};  // set_loc kFunction + 20
  const DwarfCase cases[] = {
      {"entry rules only", {}, 0, false, true, 0x999, 1, 0},
      {"after push rbp", prologue, 1, false, true, 0x222, 2, 0x999},
      {"rbp based", prologue, 8, true, true, 0x222, 2, 0x999},
      // remember_state, another CFA, restore_state: the remembered row comes back.
      {"restore_state restores the row", with({0x0A, 0x0C, 7, 64, 0x41, 0x0B}), 9, true, true, 0x222, 2, 0x999},
      // a wrong rule for the return address, then restore puts back the CIE's.
      {"restore", with({0x41, 0x90, 3, 0x41, 0xD0}), 10, true, true, 0x222, 2, 0x999},
      {"set_loc is relative to the FDE: before", setLoc, 10, false, true, 0x999, 1, 0},
      {"set_loc is relative to the FDE: after", setLoc, 30, false, true, 0x222, 2, 0},
      {"def_cfa clears a CFA expression", {0x0F, 2, 0x77, 16, 0x0C, 7, 8}, 0, false, true, 0x999, 1, 0},
      {"args_size, offset_extended_sf, val_offset", {0x2E, 8, 0x11, 6, 0x7E, 0x14, 3, 0}, 1, false, true, 0x999, 1,
       0x444},
      {"an undefined return address ends the stack", {0x07, 16}, 1, false, true, 0, 1, 0},
      {"unknown instruction", {0x3F}, 1, false, false, 0, 0, 0},
      {"offset_extended for register 40", {0x05, 40, 1}, 1, false, false, 0, 0, 0},
      {"restore_state without remember_state", {0x0B}, 1, false, false, 0, 0, 0},
      {"pc past the FDE", {}, 0x40, false, false, 0, 0, 0},
  };
  for (const DwarfCase& c : cases) {
    SCOPED_TRACE(c.name);
    uint64_t words[8] = {0x999, 0x222, 0x333, 0x444, 0, 0, 0, 0};
    CFI cfi(kEntryRules, kFunction, 0x40, c.fdeInstructions);
    CRDwarfCIEPair pair;
    ASSERT_TRUE(cfi.pair(&pair));
    CRThreadContext registers = c.rbpBased ? registersWith(kFunction + c.pcOffset, at(words) - 32, at(words))
                                           : registersWith(kFunction + c.pcOffset, at(words), 0x1234);
    const bool done = CRDwarfUnwindComputeRegisters(&pair, &registers);
    ASSERT_EQ(done, c.succeeds);
    if (!done) continue;
    EXPECT_EQ(CRRegistersPC(&registers), c.callerPC);
    EXPECT_EQ(CRRegistersSP(&registers), at(words, c.callerSPIndex));
    if (c.callerRBP != 0) EXPECT_EQ(CRRegistersFP(&registers), c.callerRBP);
  }
}

TEST(CRDwarfTest, ReturnColumnComesFromTheCIE) {
  // The CIE names rbx (3) the return-address column; rbx is saved at CFA - 8.
  CFI cfi({0x0C, 7, 8, 0x83, 1}, kFunction, 0x40, {}, "zR", 1, 3);
  CRDwarfCIEPair pair;
  ASSERT_TRUE(cfi.pair(&pair));
  uint64_t stack[2] = {0x5555, 0};
  CRThreadContext registers = registersWith(kFunction + 4, at(stack), 0);
  ASSERT_TRUE(CRDwarfUnwindComputeRegisters(&pair, &registers));
  EXPECT_EQ(CRRegistersPC(&registers), 0x5555u);
  EXPECT_EQ(CRRegistersSP(&registers), at(stack) + 8);
}

TEST(CRDwarfTest, Expressions) {
  uint64_t memory[2] = {0, 0xABCD};
  CRThreadContext registers = registersWith(0x1000, at(memory), 0);
  struct Case {
    const char* name;
    Bytes expression;  // without the length byte
    bool succeeds;
    uint64_t result;
  };
  const Case cases[] = {
      {"breg7 8, deref", {0x77, 8, 0x06}, true, 0xABCD},
      {"lit1 lit2 plus", {0x31, 0x32, 0x22}, true, 3},
      {"dup of the initial value", {0x12}, true, 0},
      {"const1s minus", {0x3A, 0x09, 0xFF, 0x1C}, true, 11},
      {"shl shr shra", {0x31, 0x4F, 0x24, 0x33, 0x25, 0x09, 0xF0, 0x32, 0x26, 0x22}, true, 0x0FFFFFFC},
      {"lt gt eq ne", {0x32, 0x33, 0x2D, 0x33, 0x32, 0x2B, 0x22, 0x34, 0x34, 0x29, 0x22}, true, 3},
      {"bra skips a literal", {0x31, 0x28, 1, 0, 0x3F, 0x35}, true, 5},
      {"deref_size 3", {0x77, 0, 0x94, 3}, false, 0},
      {"deref_size 2", {0x77, 8, 0x94, 2}, true, 0xABCD},
      {"deref of an unmapped address", {0x30, 0x06}, false, 0},
      {"unknown opcode", {0xF0}, false, 0},
      {"pop past the bottom", {0x13, 0x13, 0x30}, false, 0},
      {"branch out of the expression", {0x2F, 0x40, 0}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = {static_cast<uint8_t>(c.expression.size())};
    bytes.insert(bytes.end(), c.expression.begin(), c.expression.end());
    uint64_t result = 0;
    EXPECT_EQ(CRDwarfEvalulateExpression(at(bytes), &registers, 0, &result), c.succeeds);
    if (c.succeeds) EXPECT_EQ(result, c.result);
  }
  const Bytes empty = {0};
  uint64_t result = 0;
  EXPECT_FALSE(CRDwarfEvalulateExpression(at(empty), &registers, 0, &result));
}

// --- Compact unwind ---------------------------------------------------------------------

// An `__unwind_info` blob: common encodings, a first-level index of `firstLevel` function
// offsets, and one compressed page for the first entry, whose functions start at
// `pageFunctions` (relative to the first entry) with the given encoding indexes.
Bytes unwindInfo(uint32_t version, const std::vector<uint32_t>& common, const std::vector<uint32_t>& firstLevel,
                 const std::vector<std::pair<uint32_t, uint8_t>>& pageFunctions,
                 const std::vector<uint32_t>& pageEncodings, uint32_t pageKind = 3) {
  Bytes blob;
  const uint32_t commonOffset = 28;
  const uint32_t indexOffset = commonOffset + 4 * static_cast<uint32_t>(common.size());
  const uint32_t pageOffset = indexOffset + 12 * static_cast<uint32_t>(firstLevel.size());
  for (uint32_t value : {version, commonOffset, static_cast<uint32_t>(common.size()), 0u, 0u, indexOffset,
                         static_cast<uint32_t>(firstLevel.size())}) {
    put32(blob, value);
  }
  for (uint32_t encoding : common) put32(blob, encoding);
  for (uint32_t function : firstLevel) {
    put32(blob, function);
    put32(blob, pageOffset);
    put32(blob, 0);
  }
  put32(blob, pageKind);
  const uint16_t entriesOffset = 12;
  const uint16_t encodingsOffset = entriesOffset + 4 * static_cast<uint16_t>(pageFunctions.size());
  for (uint16_t value : {entriesOffset, static_cast<uint16_t>(pageFunctions.size()), encodingsOffset,
                         static_cast<uint16_t>(pageEncodings.size())}) {
    blob.push_back(static_cast<uint8_t>(value));
    blob.push_back(static_cast<uint8_t>(value >> 8));
  }
  for (const auto& [offset, index] : pageFunctions) put32(blob, offset | (uint32_t{index} << 24));
  for (uint32_t encoding : pageEncodings) put32(blob, encoding);
  return blob;
}

TEST(CRCompactUnwindTest, Lookup) {
  // Functions at 0x100 (+0x000, +0x020, +0x080) up to the sentinel at 0x200.
  const Bytes blob = unwindInfo(1, {kCRCompactModeFrameless, 0}, {0x100, 0x200}, {{0, 0}, {0x20, 1}, {0x80, 2}},
                                {kCRCompactModeFrame});
  const uintptr_t base = at(blob);
  CRCompactUnwindState state;
  ASSERT_TRUE(CRCompactUnwindInit(&state, base, 0, base, blob.size()));
  CRCompactUnwindResult result;
  ASSERT_TRUE(CRCompactUnwindLookup(&state, base + 0x190, &result));  // the page's last function
  EXPECT_EQ(result.functionStart, base + 0x180);
  EXPECT_EQ(result.functionEnd, base + 0x200);
  EXPECT_EQ(result.encoding, kCRCompactModeFrame);  // index 2 = the common count: the page's first
  result = {};
  ASSERT_TRUE(CRCompactUnwindLookup(&state, base + 0x110, &result));
  EXPECT_EQ(result.functionEnd, base + 0x120);
  EXPECT_EQ(result.encoding, kCRCompactModeFrameless);
  EXPECT_FALSE(CRCompactUnwindLookup(&state, base + 0x130, &result));  // encoding 0: no information
  EXPECT_FALSE(CRCompactUnwindLookup(&state, base + 0x100, &result));  // target offset 0
  EXPECT_FALSE(CRCompactUnwindLookup(&state, base + 0x200, &result));  // past the index
}

TEST(CRCompactUnwindTest, RefusedTables) {
  CRCompactUnwindState state;
  const Bytes version2 = unwindInfo(2, {}, {0x100, 0x200}, {{0, 0}}, {});
  EXPECT_FALSE(CRCompactUnwindInit(&state, at(version2), 0, at(version2), version2.size()));
  const Bytes single = unwindInfo(1, {kCRCompactModeFrameless}, {0x100}, {{0, 0}}, {});
  ASSERT_TRUE(CRCompactUnwindInit(&state, at(single), 0, at(single), single.size()));
  CRCompactUnwindResult result;
  EXPECT_FALSE(CRCompactUnwindLookup(&state, at(single) + 0x150, &result));
  const Bytes regular = unwindInfo(1, {kCRCompactModeFrameless}, {0x100, 0x200}, {{0, 0}}, {}, 2);
  ASSERT_TRUE(CRCompactUnwindInit(&state, at(regular), 0, at(regular), regular.size()));
  EXPECT_FALSE(CRCompactUnwindLookup(&state, at(regular) + 0x150, &result));
  // A page offset past the image is refused, not read.
  Bytes outside = unwindInfo(1, {kCRCompactModeFrameless}, {0x100, 0x200}, {{0, 0}}, {});
  outside[28 + 4 + 4] = 0xFF;
  outside[28 + 4 + 5] = 0xFF;
  outside[28 + 4 + 6] = 0xFF;
  ASSERT_TRUE(CRCompactUnwindInit(&state, at(outside), 0, at(outside), outside.size()));
  EXPECT_FALSE(CRCompactUnwindLookup(&state, at(outside) + 0x150, &result));
  // An image smaller than the header.
  EXPECT_FALSE(CRCompactUnwindInit(&state, at(single), 0, at(single), 20));
}

TEST(CRCompactUnwindTest, Modes) {
  FakeStack stack;
  const Bytes blob = unwindInfo(1, {kCRCompactModeFrameless, kCRCompactModeFrame, 0x01000000}, {0x100, 0x200},
                                {{0, 0}, {0x20, 1}, {0x40, 2}}, {});
  const uintptr_t base = at(blob);
  CRCompactUnwindState state;
  ASSERT_TRUE(CRCompactUnwindInit(&state, base, 0, base, blob.size()));
  CRThreadContext frameless = registersWith(base + 0x110, at(stack.words) - 64, at(stack.words), 0x7000);
  ASSERT_TRUE(CRCompactUnwindLookupAndCompute(&state, &frameless));
  EXPECT_EQ(CRRegistersPC(&frameless), 0x7000u);
  EXPECT_EQ(CRRegistersSP(&frameless), at(stack.words) - 64);
  // A frame-based step does not try lr.
  CRThreadContext framed = registersWith(base + 0x130, at(stack.words) - 64, at(stack.words), 0x7000);
  ASSERT_TRUE(CRCompactUnwindLookupAndCompute(&state, &framed));
  EXPECT_EQ(CRRegistersPC(&framed), 0x20000u);
  CRThreadContext invalid = registersWith(base + 0x150, at(stack.words) - 64, at(stack.words));
  EXPECT_FALSE(CRCompactUnwindLookupAndCompute(&state, &invalid));
}

// --- This program's own CFI -------------------------------------------------------------

class CRRealUnwindTest : public crash_test::ContextTest {};

struct Captured {
  ucontext_t context;
  std::vector<uintptr_t> systemFrames;
  std::vector<uint64_t> ours;
  CRThreadContext registers;
  uint64_t viaCompactDwarf = 0;
};

// Walks the captured registers while their frames are still live (below the caller).
__attribute__((noinline)) void walkCaptured(Captured* out) {
  CRRegistersFromUserContext(&out->context, &out->registers);
  CRUnwindCursor cursor;
  CRUnwindInitCursor(&cursor, &out->registers);
  out->ours = walk(cursor, 200);

  // The same first step through a compact DWARF-mode entry naming the function's FDE.
  const uint64_t lookup = CRRegistersPC(&out->registers) - 1;
  CRBinaryImage image;
  if (!CRBinaryImageSafeFindImageForAddress(lookup, &image) || image.ehFrame == 0) return;
  const uintptr_t fde = CRUnwindFindFDE(image.ehFrameHeader, lookup);
  CRDwarfCIEPair pair;
  if (fde == 0 || fde - image.ehFrame >= (1u << 24) || !CRDwarfFDEPairInit(&pair, image.ehFrame, fde - image.ehFrame)) {
    return;
  }
  const auto function = static_cast<uint32_t>(pair.fde.pcStart - image.baseAddress);
  const Bytes blob = unwindInfo(1, {kCRCompactModeDwarf | static_cast<uint32_t>(fde - image.ehFrame)},
                                {function, function + static_cast<uint32_t>(pair.fde.pcRange)}, {{0, 0}}, {});
  CRCompactUnwindState state;
  if (!CRCompactUnwindInit(&state, at(blob), image.ehFrame, image.baseAddress, UINTPTR_MAX - image.baseAddress)) return;
  CRThreadContext registers = out->registers;
  CRRegistersSetPC(&registers, lookup);
  if (CRCompactUnwindLookupAndCompute(&state, &registers)) out->viaCompactDwarf = CRRegistersPC(&registers);
}

_Unwind_Reason_Code collect(_Unwind_Context* context, void* frames) {
  static_cast<std::vector<uintptr_t>*>(frames)->push_back(_Unwind_GetIP(context));
  return _URC_NO_REASON;
}

__attribute__((noinline)) void captureLevel3(Captured* out) {
  getcontext(&out->context);
  _Unwind_Backtrace(collect, &out->systemFrames);
  walkCaptured(out);
  asm volatile("" ::: "memory");
}
__attribute__((noinline)) void captureLevel2(Captured* out) {
  captureLevel3(out);
  asm volatile("" ::: "memory");
}
__attribute__((noinline)) void captureLevel1(Captured* out) {
  captureLevel2(out);
  asm volatile("" ::: "memory");
}

TEST_F(CRRealUnwindTest, MatchesTheSystemUnwinder) {
  ASSERT_TRUE(setUpContext());
  CRBinaryImageWaitForPendingEvents();
  Captured captured;
  captureLevel1(&captured);
  const std::vector<uint64_t>& ours = captured.ours;
  // Both start in captureLevel3 (at different calls); from its caller on they agree frame by
  // frame, down to the program's start.
  ASSERT_GE(ours.size(), 5u);
  ASSERT_GE(captured.systemFrames.size(), 5u);
  const size_t common = std::min(ours.size(), captured.systemFrames.size());
  for (size_t i = 1; i + 1 < common; ++i) EXPECT_EQ(ours[i], captured.systemFrames[i]) << "frame " << i;
  EXPECT_GE(ours.size() + 1, captured.systemFrames.size());

  EXPECT_EQ(captured.viaCompactDwarf, ours[1]);
}

}  // namespace

namespace {

// Tables that are not all there (an unloaded image, a count that runs off the mapping, an
// FDE pointer into nothing) give no FDE instead of a fault.
TEST(CRUnwindTest, SearchTablesAreReadWithoutFaulting) {
  const size_t page = static_cast<size_t>(getpagesize());
  auto* mapping = static_cast<uint8_t*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(mapping, MAP_FAILED);
  ASSERT_EQ(munmap(mapping + page, page), 0);
  // A header at the end of the mapped page: version 1, pcrel sdata4, udata4, datarel sdata4.
  auto tableAt = [&](size_t offset, uint32_t count, int32_t fdeOffset) {
    uint8_t* header = mapping + offset;
    const uint8_t fields[4] = {1, 0x1B, 0x03, 0x3B};
    std::memcpy(header, fields, 4);
    std::memset(header + 4, 0, 4);
    std::memcpy(header + 8, &count, 4);
    const int32_t entry[2] = {-16, fdeOffset};
    std::memcpy(header + 12, entry, sizeof entry);
    CRUnwindForgetStackCache();  // a checked table is remembered by its address
    return reinterpret_cast<uintptr_t>(header);
  };
  const uintptr_t fits = tableAt(page - 64, 1, 32);
  EXPECT_EQ(CRUnwindFindFDE(fits, fits), fits + 32);
  const uintptr_t runsOff = tableAt(page - 64, 100, 32);
  EXPECT_EQ(CRUnwindFindFDE(runsOff, runsOff), 0u);
  const uintptr_t pointsAway = tableAt(page - 64, 1, 128);
  EXPECT_EQ(CRUnwindFindFDE(pointsAway, pointsAway), 0u);
  const uintptr_t gone = reinterpret_cast<uintptr_t>(mapping + page);
  EXPECT_EQ(CRUnwindFindFDE(gone, gone + 100), 0u);
  CRThreadContext registers = registersWith(gone + 100, 0x10000, 0);
  EXPECT_FALSE(CRUnwindWithEhFrameHeader(gone, &registers));
  munmap(mapping, page);
}

}  // namespace
