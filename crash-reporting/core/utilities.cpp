// Contract: CRHexByte, CRHexBytes and CRUUIDBytesToHexInto are async-signal-safe; the rest
// allocates and is not for crash time.
#include "crash-reporting/core/utilities.h"

#include <dlfcn.h>
#include <openssl/evp.h>
#include <sys/random.h>

#include <cstring>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/queue.h"
#include "sdk-core/utilities/environment.h"

namespace {

std::string digestHex(const EVP_MD* type, const void* bytes, size_t length) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if (EVP_Digest(bytes, length, digest, &digestLength, type, nullptr) != 1) return {};
  std::string hex(2 * digestLength + 1, '\0');
  CRHexBytes(digest, digestLength, hex.data());
  hex.pop_back();
  return hex;
}

}  // namespace

void CRHexByte(uint8_t byte, char* out) {
  static const char kHex[] = "0123456789abcdef";
  out[0] = kHex[byte >> 4];
  out[1] = kHex[byte & 0x0f];
}

void CRHexBytes(const uint8_t* bytes, size_t length, char* out) {
  std::memset(out, 0, 2 * length + 1);
  for (size_t i = 0; i < length; ++i) CRHexByte(bytes[i], out + 2 * i);
}

std::string CRHexStringFromData(const std::vector<uint8_t>& data) {
  std::string hex(2 * data.size() + 1, '\0');
  CRHexBytes(data.data(), data.size(), hex.data());
  hex.pop_back();
  return hex;
}

std::string CRSHA1HexOfBytes(const void* bytes, size_t length) { return digestHex(EVP_sha1(), bytes, length); }
std::string CRSHA1HexOfData(const std::vector<uint8_t>& data) { return CRSHA1HexOfBytes(data.data(), data.size()); }
std::string CRSHA256HexOfBytes(const void* bytes, size_t length) { return digestHex(EVP_sha256(), bytes, length); }
std::string CRSHA256HexOfData(const std::vector<uint8_t>& data) { return CRSHA256HexOfBytes(data.data(), data.size()); }

void CREnumerateDataByteRanges(const std::vector<uint8_t>& data,
                               const std::function<void(const uint8_t*, size_t, size_t, bool*)>& block) {
  bool stop = false;
  block(data.data(), 0, data.size(), &stop);
}

std::string CRNewUUIDString() {
  uint8_t bytes[16] = {};
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t read = getrandom(bytes + got, sizeof bytes - got, 0);
    if (read <= 0) continue;  // EINTR; the random source never runs dry after boot
    got += static_cast<size_t>(read);
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(36);
  for (size_t i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
    text.push_back(kHex[bytes[i] >> 4]);
    text.push_back(kHex[bytes[i] & 0x0f]);
  }
  return text;
}

void CRUUIDBytesToHexInto(const uint8_t* bytes, char* out) { CRHexBytes(bytes, 16, out); }

std::string CRUUIDBytesToHex(const uint8_t* bytes) {
  char out[33];
  CRUUIDBytesToHexInto(bytes, out);
  return out;
}

std::string CRMaskUUIDInParentheses(std::string_view text) {
  std::string result(text);
  for (size_t open = result.find('('); open != std::string::npos; open = result.find('(', open + 1)) {
    const size_t close = result.find(')', open + 1);
    if (close == std::string::npos) break;
    if (close - open != 37) continue;
    for (size_t i = open + 1; i < close; ++i) {
      if (result[i] != '-') result[i] = '*';
    }
    break;
  }
  return result;
}

void CRRunAfterSeconds(double seconds, const std::shared_ptr<platform::DispatchQueue>& queue, std::function<void()> block) {
  if (queue == nullptr) return;
  queue->asyncAfter(platform::secondsToDuration(seconds), std::move(block));
}

void CRLookupSymbol(const void* address, const std::function<void(const char*, const char*)>& block) {
  Dl_info info{};
  if (dladdr(address, &info) == 0) {
    block(nullptr, nullptr);
    return;
  }
  block(info.dli_sname != nullptr ? info.dli_sname : "unknown", info.dli_fname != nullptr ? info.dli_fname : "unknown");
}

std::string CRGeneratorString() { return std::string("Vuzirerered iOS SDK") + "/" + TELSDKVersionString(); }
