#include "sdk-core/heartbeat/heartbeats_payload.h"

#include <openssl/evp.h>

#include <chrono>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "sdk-core/utilities/gzip.h"

namespace {

// Writes every "/" of the encoder's output as "\/". A "/" can only occur inside a string of
// the JSON text, so no other part of the text changes.
std::string escapingSlashes(const std::string& json) {
  std::string out;
  out.reserve(json.size());
  for (char c : json) {
    if (c == '/') out += '\\';
    out += c;
  }
  return out;
}

bool isBase64Character(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

const HeartbeatsPayload& HeartbeatsPayload::emptyPayload() {
  static const HeartbeatsPayload empty({}, 2);
  return empty;
}

std::string heartbeatDayString(platform::Date date) {
  using namespace std::chrono;
  const double seconds = std::floor(date.timeIntervalSince1970());
  const sys_days day = floor<days>(sys_seconds(std::chrono::seconds(static_cast<int64_t>(seconds))));
  const year_month_day ymd(day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return text;
}

std::string HeartbeatsPayload::jsonString() const {
  nlohmann::ordered_json entries = nlohmann::ordered_json::array();
  for (const auto& entry : userAgentPayloads) {
    nlohmann::ordered_json dates = nlohmann::ordered_json::array();
    for (const auto& date : entry.dates) dates.push_back(heartbeatDayString(date));
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["agent"] = entry.agent;
    object["dates"] = std::move(dates);
    entries.push_back(std::move(object));
  }
  nlohmann::ordered_json root = nlohmann::ordered_json::object();
  root["heartbeats"] = std::move(entries);
  root["version"] = version;
  // Invalid UTF-8 in an agent is replaced rather than failing the whole payload.
  return escapingSlashes(root.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

std::string HeartbeatsPayload::headerValue() const {
  const std::string json = jsonString();
  std::vector<uint8_t> bytes(json.begin(), json.end());
  if (auto packed = UTLGzip::utl_dataByGzippingData(bytes)) bytes = std::move(*packed);
  return base64URLString(bytes);
}

std::string base64URLString(const std::vector<uint8_t>& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                     static_cast<int>(bytes.size()));
  text.resize(static_cast<size_t>(length));
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '=') continue;
    out += c == '/' ? '_' : c == '+' ? '-' : c;
  }
  return out;
}

std::optional<std::vector<uint8_t>> dataFromBase64URL(const std::string& text) {
  std::string standard;
  standard.reserve(text.size() + 3);
  for (char c : text) standard += c == '_' ? '/' : c == '-' ? '+' : c;
  while (standard.size() % 4 != 0) standard += '=';

  // At most two "=" and only at the end; every other character from the alphabet.
  size_t padding = 0;
  while (padding < standard.size() && standard[standard.size() - 1 - padding] == '=') ++padding;
  if (padding > 2) return std::nullopt;
  for (size_t i = 0; i + padding < standard.size(); ++i) {
    if (!isBase64Character(standard[i])) return std::nullopt;
  }
  if (standard.empty()) return std::vector<uint8_t>{};

  std::vector<uint8_t> bytes(standard.size() / 4 * 3);
  const int length = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(standard.data()),
                                     static_cast<int>(standard.size()));
  if (length < 0) return std::nullopt;
  bytes.resize(static_cast<size_t>(length) - padding);
  return bytes;
}
