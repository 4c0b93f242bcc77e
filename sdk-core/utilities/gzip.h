// Gzip compression and inflation of byte buffers, over zlib.
//
// `UTLGzip` compresses bytes into one gzip member and inflates gzip- or
// zlib-wrapped bytes back. Both operations are pure functions of their input and
// may be called from any thread at once. A failure answers std::nullopt and, when
// the caller passed an error pointer, fills it with an error of
// `UTLNSDataZlibErrorDomain`; empty input answers std::nullopt without an error.
//
//   platform::Error error;
//   auto packed = UTLGzip::utl_dataByGzippingData(bytes, &error);
//   auto back = UTLGzip::utl_dataByInflatingGzippedData(*packed, &error);
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/foundation/error.h"

inline constexpr const char* UTLNSDataZlibErrorDomain = "ziz.ozudor.UTLNSDataZlibErrorDomain";
// User-info key holding zlib's status code (a number).
inline constexpr const char* UTLNSDataZlibErrorKey = "UTLNSDataZlibErrorKey";
// User-info key holding the count of input bytes left after the compressed stream ended.
inline constexpr const char* UTLNSDataZlibRemainingBytesKey = "UTLNSDataZlibRemainingBytesKey";

enum UTLNSDataZlibError : long {
  // The input is longer than 4,294,967,295 bytes.
  UTLNSDataZlibErrorGreaterThan32BitsToCompress = 1024,
  // zlib refused to start, or reported a stream error.
  UTLNSDataZlibErrorInternal = 1025,
  // The compressed stream ended before all input was used.
  UTLNSDataZlibErrorDataRemaining = 1026,
};

struct UTLGzip {
  // One gzip member holding `data` (default level, 32 KiB window).
  static std::optional<std::vector<uint8_t>> utl_dataByGzippingData(const std::vector<uint8_t>& data,
                                                                    platform::Error* error = nullptr);
  // The same at zlib's compression `level` (1 fastest to 9 smallest; -1 the default, 6).
  // Every level gives a valid gzip member that inflates to `data`; a lower one spends less
  // time for somewhat larger output.
  static std::optional<std::vector<uint8_t>> utl_dataByGzippingDataAtLevel(const std::vector<uint8_t>& data,
                                                                           int level,
                                                                           platform::Error* error = nullptr);

  // The bytes of the first gzip (or zlib) member of `data`. Bytes left after that
  // member are an error (code 1026), so a concatenation is never half-read silently.
  static std::optional<std::vector<uint8_t>> utl_dataByInflatingGzippedData(
      const std::vector<uint8_t>& data, platform::Error* error = nullptr);

  // The largest input the operations accept. Defaults to 4,294,967,295; lowering it lets a
  // test take the too-large path without allocating gigabytes.
  static void setMaximumInputLength(uint64_t length);
};
