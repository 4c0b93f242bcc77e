// The Mach-O reader: the slices of a thin or fat image and every load command it reads
// (UUID, linked libraries, encryption, minimum and SDK versions), from any bytes.
#include <cstddef>
#include <cstdint>

#include "crash-reporting/core/macho.h"
#include "fuzz_seeds.h"

namespace {

void visitCommand(uint32_t cmd, uint32_t cmdsize, const uint8_t* command, void*) {
  if (const uint8_t* uuid = CRMachOUUIDBytes(command, cmdsize)) (void)CRMachOUUIDString(uuid);
  (void)CRMachODylibPath(command, cmdsize);
  (void)CRMachOIsEncrypted(command, cmdsize);
  CRMachOVersion minimum = CRMachOMinimumOSVersion(command, cmdsize);
  CRMachOVersion sdk = CRMachOLinkedSDKVersion(command, cmdsize);
  (void)CRMachOVersionString(&minimum);
  (void)CRMachOVersionString(&sdk);
  (void)cmd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CRMachOForEachSliceAt(data, size, [](CRMachOSlice* slice) {
    (void)CRMachOSliceArchitectureName(slice);
    (void)CRMachOSliceHas64BitABI(slice);
    (void)CRMachOSliceImagePath(slice);
    const uint8_t* commands = nullptr;
    uint32_t count = 0;
    CRMachOSliceHeaderInfo(slice, &commands, &count);
    CRMachOSliceForEachLoadCommand(slice, nullptr, &visitCommand);
  });
  return 0;
}

// The seeds are small checked-in images (no encoder writes Mach-O here).
std::vector<FuzzSeed> fuzzSeeds() { return {}; }
