// The record reader: a record file written by a crashed process (cut anywhere, damaged
// anyhow) read back at the next launch, and the hex fields in it decoded.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "crash-reporting/core/section_reader.h"
#include "fuzz_seeds.h"

namespace {

// One file per process, rewritten for each input.
const std::string& recordPath() {
  static const std::string path = "/tmp/brivel-fuzz-record-" + std::to_string(::getpid());
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = std::fopen(recordPath().c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  const auto sections = CRFileReadSections(recordPath().c_str(), false, [](nlohmann::json value) {
    // What the report builder does with a section: look for hex strings and decode them.
    if (value.is_object()) {
      for (const auto& [key, field] : value.items()) {
        if (field.is_string()) (void)CRFileHexDecodeString(field.get<std::string>());
      }
    }
    return std::optional<nlohmann::json>(std::move(value));
  });
  if (sections) {
    for (const auto& section : *sections) (void)section.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  std::remove(recordPath().c_str());
  return 0;
}

std::vector<FuzzSeed> fuzzSeeds() {
  using nlohmann::json;
  const json lines[] = {
      json{{"identity", {{"generator", "brivel"}, {"session_id", "0a1b2c"}, {"process_id", 4242}}}},
      json{{"signal", {{"number", 11}, {"code", 1}, {"address", 16}, {"name", "SIGSEGV"}}}},
      json{{"threads", json::array({json{{"crashed", true}, {"registers", {{"pc", 4198400}}},
                                         {"stacktrace", json::array({4198400, 4198500})}}})}},
      json{{"binary_images", json::array({json{{"path", "/usr/lib/libz.so.1"}, {"base", 140000}, {"size", 90112}}})}},
      json{{"thread_names", json::array({"6d61696e", "776f726b6572"})}},
  };
  std::string whole;
  for (const json& line : lines) whole += line.dump() + "\n";
  return {{"whole.crrecord", fuzzBytes(whole)},
          {"cut.crrecord", fuzzBytes(whole.substr(0, whole.size() * 2 / 3))},
          {"hex.crrecord", fuzzBytes("{\"name\":\"4a6f62\"}\n{\"odd\":\"abc\",\"bad\":\"zz\"}\n\n")}};
}
