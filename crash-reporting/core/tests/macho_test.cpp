#include <cstring>
#include <random>

#include "crash-reporting/core/macho_classes.h"
#include "crash-reporting/core/tests/test_support.h"
#include "crash-reporting/core/utilities.h"

namespace {

using crash_test::TempDir;

void putU32(std::vector<uint8_t>& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void putBigEndianU32(std::vector<uint8_t>& bytes, uint32_t value) {
  for (int i = 3; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A thin 64-bit image: UUID, one linked library and a minimum-version command.
std::vector<uint8_t> thinImage(int32_t cputype, int32_t cpusubtype, uint8_t uuidFill) {
  std::vector<uint8_t> commands;
  putU32(commands, 0x1B);  // LC_UUID
  putU32(commands, 24);
  for (int i = 0; i < 16; ++i) commands.push_back(static_cast<uint8_t>(uuidFill + i));
  const std::string dylib = "/usr/lib/libz.1.dylib";
  const uint32_t dylibSize = static_cast<uint32_t>((24 + dylib.size() + 1 + 7) / 8 * 8);
  putU32(commands, 0xC);  // LC_LOAD_DYLIB
  putU32(commands, dylibSize);
  putU32(commands, 24);  // name offset
  putU32(commands, 0);
  putU32(commands, 0x10000);
  putU32(commands, 0x10000);
  commands.insert(commands.end(), dylib.begin(), dylib.end());
  while (commands.size() % 8 != 0 || commands.size() < 24 + dylibSize) commands.push_back(0);
  putU32(commands, 0x25);  // LC_VERSION_MIN_IPHONEOS
  putU32(commands, 16);
  putU32(commands, 15u << 16 | 2u << 8 | 1u);
  putU32(commands, 17u << 16 | 4u << 8);

  std::vector<uint8_t> image;
  putU32(image, 0xFEEDFACF);
  putU32(image, static_cast<uint32_t>(cputype));
  putU32(image, static_cast<uint32_t>(cpusubtype));
  putU32(image, 2);  // executable
  putU32(image, 3);  // ncmds
  putU32(image, static_cast<uint32_t>(commands.size()));
  putU32(image, 0);
  putU32(image, 0);
  image.insert(image.end(), commands.begin(), commands.end());
  return image;
}

// A fat file with an arm64e slice (UUID bytes from 0xB0) then an arm64 one (from 0xA0).
std::vector<uint8_t> fatImage() {
  const auto first = thinImage(0x0100000C, 2, 0xB0);
  const auto second = thinImage(0x0100000C, 0, 0xA0);
  const uint32_t firstOffset = 64;
  const uint32_t secondOffset = firstOffset + static_cast<uint32_t>(first.size());
  std::vector<uint8_t> fat;
  putBigEndianU32(fat, 0xCAFEBABE);
  putBigEndianU32(fat, 2);
  for (const auto& [subtype, offset, size] : {std::tuple<uint32_t, uint32_t, size_t>{2, firstOffset, first.size()},
                                              std::tuple<uint32_t, uint32_t, size_t>{0, secondOffset, second.size()}}) {
    putBigEndianU32(fat, 0x0100000C);
    putBigEndianU32(fat, subtype);
    putBigEndianU32(fat, offset);
    putBigEndianU32(fat, static_cast<uint32_t>(size));
    putBigEndianU32(fat, 14);
  }
  fat.resize(firstOffset, 0);
  fat.insert(fat.end(), first.begin(), first.end());
  fat.insert(fat.end(), second.begin(), second.end());
  return fat;
}

std::string writeFixture(const TempDir& folder, const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = folder.file(name);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string hexRun(uint8_t first) {
  uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return CRUUIDBytesToHex(bytes);
}

TEST(CRMachOTest, ThinImageCommandsAndDecoders) {
  auto image = thinImage(0x0100000C, 0, 0xA0);
  CRMachOSlice slice = CRMachOSliceFromHeader(image.data(), image.size());
  const uint8_t* start = nullptr;
  uint32_t count = 0;
  CRMachOSliceHeaderInfo(&slice, &start, &count);
  EXPECT_EQ(start, image.data() + 32);
  EXPECT_EQ(count, 3u);
  std::vector<uint32_t> seen;
  CRMachOSliceForEachLoadCommandBlock(&slice, [&](uint32_t cmd, uint32_t, const uint8_t* command) {
    if (seen.empty()) {
      EXPECT_EQ(command, image.data() + 32);
    }
    seen.push_back(cmd);
  });
  EXPECT_EQ(seen, (std::vector<uint32_t>{0x1B, 0xC, 0x25}));

  const CRMachOSliceObject object(slice);
  EXPECT_EQ(object.uuid(), hexRun(0xA0));
  EXPECT_EQ(object.architectureName(), "arm64");
  EXPECT_EQ(object.linkedDylibs(), std::vector<std::string>{"/usr/lib/libz.1.dylib"});
  const CRMachOVersion minimum = object.minimumOSVersion();
  const CRMachOVersion sdk = object.linkedSDKVersion();
  EXPECT_EQ(CRMachOVersionString(&minimum), "15.2.1");
  EXPECT_EQ(CRMachOVersionString(&sdk), "17.4.0");
  EXPECT_FALSE(CRMachOVersionString(nullptr).has_value());
  EXPECT_TRUE(CRMachOSliceHas64BitABI(&slice));

  // An unknown magic visits no command but is still one (CPU-less) slice.
  image[0] = 0;
  CRMachOSlice unknown = CRMachOSliceFromHeader(image.data(), image.size());
  int visits = 0;
  CRMachOSliceForEachLoadCommandBlock(&unknown, [&](uint32_t, uint32_t, const uint8_t*) { ++visits; });
  EXPECT_EQ(visits, 0);
  int slices = 0;
  CRMachOForEachSliceAt(image.data(), image.size(), [&](CRMachOSlice* found) {
    ++slices;
    EXPECT_EQ(found->cputype, 0);
  });
  EXPECT_EQ(slices, 1);
}

TEST(CRMachOTest, ArchitectureNames) {
  struct Case {
    int32_t cputype;
    int32_t cpusubtype;
    const char* name;
    bool abi64;
  };
  const Case cases[] = {{12, 11, "armv7s", false},       {12, 12, "armv7k", false},      {0x0100000C, 2, "arm64e", true},
                        {0x0100000C, 0, "arm64", true},  {12, 9, "armv7", false},        {0x01000007, 3, "x86_64", true},
                        {7, 3, "i386", false},           {0x0100000C, static_cast<int32_t>(0x80000002), "arm64e", true},
                        {99, 1, "unknown", false}};
  for (const Case& c : cases) {
    const CRMachOSlice slice{nullptr, c.cputype, c.cpusubtype, 0};
    EXPECT_STREQ(CRMachOSliceArchitectureName(&slice), c.name) << c.cputype << "/" << c.cpusubtype;
    EXPECT_EQ(CRMachOSliceHas64BitABI(&slice), c.abi64) << c.name;
  }
}

TEST(CRMachOTest, FatFileSlicesAndInstanceIdentifier) {
  TempDir folder;
  const auto bytes = fatImage();
  const std::string path = writeFixture(folder, "Fat", bytes);
  CRMachOFile file;
  ASSERT_TRUE(CRMachOFileOpenPath(&file, path.c_str()));
  std::vector<CRMachOSlice> slices;
  CRMachOFileForEachSlice(&file, [&](CRMachOSlice* slice) { slices.push_back(*slice); });
  ASSERT_EQ(slices.size(), 2u);
  EXPECT_EQ(slices[0].startAddress, file.mappedFile + 64);
  EXPECT_EQ(slices[0].cpusubtype, 2);
  EXPECT_EQ(slices[1].cputype, 0x0100000C);
  EXPECT_EQ(slices[1].cpusubtype, 0);
  CRMachOFileClose(&file);
  EXPECT_EQ(file.fd, -1);

  auto binary = CRMachOBinary::MachOBinaryWithPath(path);
  ASSERT_NE(binary, nullptr);
  ASSERT_EQ(binary->slices().size(), 2u);
  EXPECT_EQ(binary->slices()[0]->architectureName(), "arm64e");
  const std::string a = hexRun(0xA0);
  const std::string b = hexRun(0xB0);
  EXPECT_EQ(binary->instanceIdentifier(), CRSHA1HexOfBytes((a + b).data(), 64));
  EXPECT_EQ(binary->instanceIdentifier(), CRMachOBinary::hashNSString(a + b));
  EXPECT_EQ(binary->sliceForArchitecture("arm64")->uuid(), a);
  EXPECT_EQ(binary->sliceForArchitecture("armv7"), nullptr);
  std::vector<std::string> order;
  binary->enumerateUUIDs([&](const std::string& uuid, const std::string& architecture) { order.push_back(architecture + "=" + uuid); });
  EXPECT_EQ(order, (std::vector<std::string>{"arm64e=" + b, "arm64=" + a}));
}

size_t openDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

TEST(CRMachOTest, FilesThatCannotBeOpened) {
  TempDir folder;
  CRMachOFile file;
  const size_t descriptorsBefore = openDescriptors();
  EXPECT_FALSE(CRMachOFileOpenPath(&file, writeFixture(folder, "small", std::vector<uint8_t>(8, 0xCF)).c_str()));
  EXPECT_FALSE(CRMachOFileOpenPath(&file, folder.path().c_str()));
  EXPECT_FALSE(CRMachOFileOpenPath(&file, folder.file("missing").c_str()));
  EXPECT_FALSE(CRMachOFileOpenPath(nullptr, folder.file("missing").c_str()));
  EXPECT_EQ(file.fd, -1);
  EXPECT_EQ(CRMachOBinary::MachOBinaryWithPath(folder.file("missing")), nullptr);
  EXPECT_EQ(openDescriptors(), descriptorsBefore);  // no failure left a descriptor open
}

// Every prefix and many corruptions of the fixtures are walked without a read outside the
// bytes (the sanitizer would catch one): each walk runs on a copy of exactly that length.
TEST(CRMachOTest, TruncatedAndCorruptImagesAreWalkedSafely) {
  auto walk = [](const std::vector<uint8_t>& bytes) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() + 1]);
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    size_t total = 0;
    CRMachOForEachSliceAt(exact.get(), bytes.size(), [&](CRMachOSlice* slice) {
      CRMachOSliceObject object(*slice);
      total += object.linkedDylibs().size() + object.uuid().size();
      CRMachOSliceForEachLoadCommandBlock(slice, [&](uint32_t cmd, uint32_t cmdsize, const uint8_t* command) {
        if (const char* name = CRMachODylibPath(command, cmdsize)) total += std::strlen(name);
        total += CRMachOIsEncrypted(command, cmdsize) + CRMachOMinimumOSVersion(command, cmdsize).major;
        total += cmd;
      });
    });
    return total;
  };
  for (const auto& fixture : {thinImage(0x0100000C, 0, 0x10), fatImage()}) {
    for (size_t length = 0; length <= fixture.size(); ++length) {
      walk(std::vector<uint8_t>(fixture.begin(), fixture.begin() + static_cast<std::ptrdiff_t>(length)));
    }
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
      auto corrupt = fixture;
      for (int flips = 0; flips < 3; ++flips) {
        corrupt[random() % corrupt.size()] = static_cast<uint8_t>(random() % 4 == 0 ? 0xFF : random());
      }
      walk(corrupt);
    }
  }
  // A dylib name with no terminator inside its command is not read.
  auto image = thinImage(0x0100000C, 0, 0x10);
  const size_t dylibCommand = 32 + 24;
  for (size_t i = dylibCommand + 24; i < dylibCommand + 48; ++i) image[i] = 'x';
  const CRMachOSliceObject object(CRMachOSliceFromHeader(image.data(), image.size()));
  EXPECT_TRUE(object.linkedDylibs().empty());
}

TEST(CRMachOTest, SymbolBundleAndTheRunningProgram) {
  TempDir folder;
  {
    std::filesystem::create_directories(folder.path() / "App.dSYM" / "Contents");
    std::ofstream(folder.file("App.dSYM/Contents/Info.plist"))
        << R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict>)"
        << "<key>CFBundleIdentifier</key><string>ruv.apple.xcode.dsym.ruv.example.App</string>"
        << "<key>CFBundleVersion</key><string>12</string></dict></plist>";
  }
  writeFixture(folder, "App.dSYM/Contents/Resources/DWARF/App", thinImage(0x0100000C, 0, 0x40));
  auto dsym = CRdSYM::dSYMWithURL(folder.file("App.dSYM"));
  ASSERT_NE(dsym, nullptr);
  EXPECT_EQ(dsym->bundleIdentifier(), "ruv.example.App");
  EXPECT_EQ(dsym->bundleVersion(), "12");
  EXPECT_FALSE(dsym->shortBundleVersion().has_value());
  EXPECT_EQ(dsym->executablePath(), folder.file("App.dSYM/Contents/Resources/DWARF/App"));
  EXPECT_EQ(dsym->binary()->slices().at(0)->uuid(), hexRun(0x40));
  std::filesystem::create_directories(folder.path() / "Empty.dSYM" / "Contents" / "Resources" / "DWARF");
  EXPECT_EQ(CRdSYM::dSYMWithURL(folder.file("Empty.dSYM")), nullptr);
  EXPECT_EQ(CRdSYM::dSYMWithURL(folder.file("Missing.dSYM")), nullptr);

  auto mapping = CRCodeMapping::mappingWithURL("file:///map");
  EXPECT_EQ(mapping->URL(), "file:///map");
  EXPECT_FALSE(mapping->sourceName().has_value());

  // The running program is ELF: one slice named after its machine, its build-id as UUID.
  auto running = CRMachOSliceObject::runningSlice();
  EXPECT_EQ(running->architectureName(), "x86_64");
  EXPECT_EQ(running->uuid().size(), 32u);
  EXPECT_NE(running->uuid(), std::string(32, '0'));
  auto self = CRMachOBinary::MachOBinaryWithPath("/proc/self/exe");
  ASSERT_NE(self, nullptr);
  ASSERT_EQ(self->slices().size(), 1u);
  EXPECT_EQ(self->slices()[0]->uuid(), running->uuid());
  EXPECT_EQ(CRMachOArchitectureName(CRMachOSliceOfMainExecutable().cputype, CRMachOSliceOfMainExecutable().cpusubtype),
            std::string("x86_64"));
}

}  // namespace
