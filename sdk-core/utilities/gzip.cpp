#include "sdk-core/utilities/gzip.h"

#include <zlib.h>

#include <atomic>
#include <limits>

#include "platform/process_state/process_state.h"

namespace {

constexpr size_t kChunkSize = 1024;
std::atomic<uint64_t> gMaximumInputLength{std::numeric_limits<uint32_t>::max()};

platform::Error zlibError(long code, int status, const char* message) {
  platform::Error error;
  error.domain = UTLNSDataZlibErrorDomain;
  error.code = code;
  error.userInfo[UTLNSDataZlibErrorKey] = platform::PlistValue(static_cast<int64_t>(status));
  if (message != nullptr && *message != '\0') {
    error.userInfo[platform::kErrorLocalizedDescriptionKey] = platform::PlistValue(std::string(message));
  }
  return error;
}

// Grows `output` by one chunk and points zlib's output at the new space. The caller
// trims what zlib left unused.
void offerChunk(z_stream& stream, std::vector<uint8_t>& output) {
  const size_t used = output.size();
  output.resize(used + kChunkSize);
  stream.next_out = output.data() + used;
  stream.avail_out = kChunkSize;
}

void report(platform::Error* out, platform::Error error) {
  if (out != nullptr) *out = std::move(error);
}

}  // namespace

void UTLGzip::setMaximumInputLength(uint64_t length) {
  platform::addProcessStateReset(+[] { gMaximumInputLength = std::numeric_limits<uint32_t>::max(); });
  gMaximumInputLength = length;
}

std::optional<std::vector<uint8_t>> UTLGzip::utl_dataByGzippingData(const std::vector<uint8_t>& data,
                                                                   platform::Error* error) {
  if (data.empty()) return std::nullopt;
  if (data.size() > gMaximumInputLength.load()) {
    report(error, platform::Error{UTLNSDataZlibErrorDomain, UTLNSDataZlibErrorGreaterThan32BitsToCompress, {}});
    return std::nullopt;
  }

  z_stream stream{};
  // Window bits 15 + 16: a 32 KiB window with a gzip wrapper.
  int status = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) {
    report(error, zlibError(UTLNSDataZlibErrorInternal, status, nullptr));
    return std::nullopt;
  }
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());

  std::vector<uint8_t> output;
  output.reserve(data.size() / 4);
  while (true) {
    offerChunk(stream, output);
    status = deflate(&stream, Z_FINISH);
    output.resize(output.size() - stream.avail_out);
    if (status == Z_STREAM_END) break;
    if (status != Z_OK) {
      deflateEnd(&stream);
      report(error, zlibError(UTLNSDataZlibErrorInternal, status, nullptr));
      return std::nullopt;
    }
  }
  deflateEnd(&stream);
  return output;
}

std::optional<std::vector<uint8_t>> UTLGzip::utl_dataByInflatingGzippedData(
    const std::vector<uint8_t>& data, platform::Error* error) {
  if (data.empty() || data.size() > gMaximumInputLength.load()) return std::nullopt;

  z_stream stream{};
  // Window bits 15 + 32: a 32 KiB window, gzip or zlib wrapper detected.
  int status = inflateInit2(&stream, 47);
  if (status != Z_OK) {
    report(error, zlibError(UTLNSDataZlibErrorInternal, status, stream.msg));
    return std::nullopt;
  }
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());

  std::vector<uint8_t> output;
  output.reserve(data.size() * 4);
  while (true) {
    offerChunk(stream, output);
    status = inflate(&stream, Z_NO_FLUSH);
    output.resize(output.size() - stream.avail_out);
    if (status == Z_STREAM_END) break;
    // A buffer error with output space left means the input ran out mid-stream.
    if (status != Z_OK) {
      platform::Error failure = zlibError(UTLNSDataZlibErrorInternal, status, stream.msg);
      inflateEnd(&stream);
      report(error, std::move(failure));
      return std::nullopt;
    }
  }
  const uInt remaining = stream.avail_in;
  inflateEnd(&stream);
  if (remaining > 0) {
    platform::Error failure{UTLNSDataZlibErrorDomain, UTLNSDataZlibErrorDataRemaining, {}};
    failure.userInfo[UTLNSDataZlibRemainingBytesKey] = platform::PlistValue(static_cast<uint64_t>(remaining));
    report(error, std::move(failure));
    return std::nullopt;
  }
  return output;
}
