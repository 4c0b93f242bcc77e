// The register state of one thread as crash-time code sees it (x86-64).
//
// Registers are kept in DWARF order (0 rax, 1 rdx, 2 rcx, 3 rbx, 4 rsi, 5 rdi, 6 rbp,
// 7 rsp, 8-15 r8-r15, 16 the return address, i.e. rip), then rflags and `lr`. x86-64 has no
// link register: `lr` is a pseudo field, 0 in every real capture, that lets synthetic tests
// drive the link-register strategy of the unwinder.
//
// Contract: async-signal-safe, no allocation, no lock. Accessors refuse a context pointer
// below 4096 (getters give 0, setters false).
#pragma once

#include <cstdint>

struct ucontext_t;

enum : uint32_t {
  kCRDwarfRAX = 0,
  kCRDwarfRBP = 6,
  kCRDwarfRSP = 7,
  kCRDwarfReturnAddress = 16,
  kCRDwarfRegisterCount = 17,
};

struct CRThreadContext {
  uint64_t registers[kCRDwarfRegisterCount] = {};
  uint64_t rflags = 0;
  uint64_t lr = 0;
};

uint64_t CRRegistersPC(const CRThreadContext* context);
uint64_t CRRegistersSP(const CRThreadContext* context);
uint64_t CRRegistersFP(const CRThreadContext* context);
uint64_t CRRegistersLR(const CRThreadContext* context);
bool CRRegistersSetPC(CRThreadContext* context, uint64_t value);
bool CRRegistersSetSP(CRThreadContext* context, uint64_t value);
bool CRRegistersSetFP(CRThreadContext* context, uint64_t value);
bool CRRegistersSetLR(CRThreadContext* context, uint64_t value);

// DWARF register access: 0-15 as stored; 16 reads the pc, and writing it sets both the pc
// and lr. Other numbers log and give 0 / false.
uint64_t CRDwarfUnwindGetRegisterValue(const CRThreadContext* context, uint64_t number);
bool CRDwarfUnwindSetRegisterValue(CRThreadContext* context, uint64_t number, uint64_t value);

// Copies the general registers of a signal's user context.
void CRRegistersFromUserContext(const ucontext_t* userContext, CRThreadContext* out);
// The value of a thread record's "registers" key: "rax" … "r15", "rip", "rflags".
struct CRFile;
void CRRegistersWrite(CRFile* file, const CRThreadContext* context);
