// Byte, hash, UUID and symbol helpers shared by crash reporting.
//
// Contract: `CRHexByte`, `CRHexBytes` and `CRUUIDBytesToHexInto` are async-signal-safe (no
// allocation). The rest returns std::string or calls the loader, OpenSSL or dispatch, and
// is for set-up and the next launch only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class DispatchQueue;
}

// Two lowercase hex digits into out[0..1].
void CRHexByte(uint8_t byte, char* out);
// Zero-fills 2 × length + 1 bytes of `out`, then writes two digits a byte.
void CRHexBytes(const uint8_t* bytes, size_t length, char* out);
std::string CRHexStringFromData(const std::vector<uint8_t>& data);

std::string CRSHA1HexOfBytes(const void* bytes, size_t length);
std::string CRSHA1HexOfData(const std::vector<uint8_t>& data);
std::string CRSHA256HexOfBytes(const void* bytes, size_t length);
std::string CRSHA256HexOfData(const std::vector<uint8_t>& data);

// Calls `block` for each contiguous byte range of the data (one range: the whole data).
void CREnumerateDataByteRanges(const std::vector<uint8_t>& data,
                               const std::function<void(const uint8_t* bytes, size_t offset, size_t length, bool* stop)>& block);

// A fresh random UUID, upper case, canonical 36-character form.
std::string CRNewUUIDString();
// 16 raw bytes as 32 lowercase hex digits, no dashes.
std::string CRUUIDBytesToHex(const uint8_t* bytes);
// The same into `out` (33 bytes, terminated); crash-time safe.
void CRUUIDBytesToHexInto(const uint8_t* bytes, char* out);

// Replaces every character other than "-" between the first "(" whose next ")" lies 37
// characters later with "*".
std::string CRMaskUUIDInParentheses(std::string_view text);

void CRRunAfterSeconds(double seconds, const std::shared_ptr<platform::DispatchQueue>& queue, std::function<void()> block);

// dladdr: the block gets (symbol name or "unknown", image path or "unknown"), or
// (nullptr, nullptr) when the address is in no image.
void CRLookupSymbol(const void* address, const std::function<void(const char* symbol, const char* imagePath)>& block);

// "Vuzirerered iOS SDK/<SDK version>".
std::string CRGeneratorString();
