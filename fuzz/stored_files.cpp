// The files the SDK reads back from the data folder: a defaults (preferences) file, the
// keychain file, and the stored installation archived in it. The first byte picks which;
// the rest is the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_seeds.h"
#include "platform/foundation/data_notices.h"
#include "platform/foundation/defaults.h"
#include "platform/foundation/error.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/plist.h"
#include "platform/keychain/keychain.h"
#include "sdk-core/installations/installations.h"
#include "sdk-core/installations/installations_item.h"

namespace {

// A folder per process for the files, rewritten for each input.
const std::filesystem::path& folder() {
  static const std::filesystem::path path = [] {
    std::filesystem::path made = "/tmp/brivel-fuzz-stored-" + std::to_string(::getpid());
    std::filesystem::create_directories(made);
    return made;
  }();
  return path;
}

std::filesystem::path write(const char* name, const std::vector<uint8_t>& bytes) {
  const auto path = folder() / name;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

enum Kind : uint8_t { kDefaults = 0, kKeychain = 1, kStoredInstallation = 2 };

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const bool registered = (TELInstallationsRegisterArchiveClasses(), true);
  (void)registered;
  const std::vector<uint8_t> file(data + 1, data + size);
  switch (data[0] % 3) {
    case kDefaults: {
      if (auto values = platform::loadPreferencesFile(write("defaults.plist", file))) {
        (void)platform::encodePlist(platform::PlistValue(*values), platform::PlistFormat::Binary);
      }
      break;
    }
    case kKeychain: {
      platform::Keychain keychain(write("keychain", file));
      platform::PlistValue found;
      (void)keychain.copyMatching({{platform::kSecClass, platform::PlistValue(platform::kSecClassGenericPassword)},
                                   {platform::kSecMatchLimit, platform::PlistValue(platform::kSecMatchLimitAll)},
                                   {platform::kSecReturnData, platform::PlistValue(true)}},
                                  &found);
      // A damaged file was set aside, and said so; neither may pile up over the runs.
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator(folder(), error)) {
        if (entry.path().filename() != "defaults.plist") std::filesystem::remove(entry.path(), error);
      }
      platform::DataNotices::shared().reset();
      break;
    }
    case kStoredInstallation: {
      platform::Error error;
      if (auto item = platform::KeyedUnarchiver::unarchivedObjectOfClass<TELInstallationsStoredItem>(file, &error)) {
        (void)platform::KeyedArchiver::archivedData(item, &error);
      }
      break;
    }
  }
  return 0;
}

std::vector<FuzzSeed> fuzzSeeds() {
  TELInstallationsRegisterArchiveClasses();
  auto withKind = [](uint8_t kind, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out{kind};
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
  };
  using platform::PlistValue;
  const PlistValue::Dictionary preferences = {
      {"name", PlistValue("Brivel")}, {"count", PlistValue(int64_t{3})}, {"ratio", PlistValue(0.5)},
      {"on", PlistValue(true)}, {"blob", PlistValue(PlistValue::Data{1, 2, 3})},
      {"list", PlistValue(PlistValue::Array{PlistValue("a"), PlistValue(int64_t{-1})})}};
  std::vector<FuzzSeed> seeds;
  if (auto binary = platform::encodePlist(PlistValue(preferences), platform::PlistFormat::Binary)) {
    seeds.push_back({"defaults-binary", withKind(kDefaults, *binary)});
  }
  if (auto xml = platform::encodePlist(PlistValue(preferences), platform::PlistFormat::Xml)) {
    seeds.push_back({"defaults-xml", withKind(kDefaults, *xml)});
  }

  // The keychain file as the keychain writes it, holding one stored installation.
  auto item = std::make_shared<TELInstallationsStoredItem>();
  item->telemetryInstallationID = "cQ7VpZlTQ1Kx-7gjfR1Pj_";
  item->refreshToken = "2_Yq6sJd0";
  item->registrationStatus = TELInstallationStatusRegistered;
  auto archived = platform::KeyedArchiver::archivedData(item);
  if (archived) seeds.push_back({"installation", withKind(kStoredInstallation, *archived)});
  const auto keychainFile = folder() / "seed-keychain";
  {
    platform::Keychain keychain(keychainFile);
    (void)keychain.add({{platform::kSecClass, PlistValue(platform::kSecClassGenericPassword)},
                        {platform::kSecAttrService, PlistValue("com.brivel.installations")},
                        {platform::kSecAttrAccount, PlistValue("1:123:linux:abc")},
                        {platform::kSecValueData, PlistValue(archived.value_or(PlistValue::Data{}))}});
  }
  std::ifstream stream(keychainFile, std::ios::binary);
  const std::vector<uint8_t> keychainBytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
  if (!keychainBytes.empty()) seeds.push_back({"keychain", withKind(kKeychain, keychainBytes)});
  std::error_code error;
  std::filesystem::remove_all(folder(), error);
  return seeds;
}
