#include "sdk-core/utilities/gzip.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>

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

// One compressor kept between calls: setting one up takes about 270 KB that the C library
// maps and unmaps each time, and the page faults of touching it again cost as much as the
// compression of an upload's body. A call that finds it in use makes its own for that call,
// so at most one is kept however many threads compress.
struct KeptDeflater {
  std::mutex mutex;
  z_stream stream{};
  bool ready = false;
  int level = Z_DEFAULT_COMPRESSION;   // what the stream compresses at
  ~KeptDeflater() {
    if (ready) deflateEnd(&stream);
  }
};

KeptDeflater& keptDeflater() {
  static auto* kept = new KeptDeflater();  // never destroyed: compressions may run during exit
  return *kept;
}

// Window bits 15 + 16: a 32 KiB window with a gzip wrapper.
int startDeflate(z_stream& stream, int level) {
  return deflateInit2(&stream, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
}

// Compresses `data` whole into one gzip member with `stream`, set up and at its start.
int deflateWhole(z_stream& stream, const std::vector<uint8_t>& data, std::vector<uint8_t>& output) {
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  // Room for the worst case up front, so one call compresses it all; the bound exceeds a
  // 32-bit count only for inputs near the limit, which then go through in chunks.
  const uLong bound = deflateBound(&stream, static_cast<uLong>(data.size()));
  output.reserve(std::min<uLong>(bound, std::numeric_limits<uInt>::max()));
  while (true) {
    const size_t used = output.size();
    output.resize(std::max(output.capacity(), used + kChunkSize));
    stream.next_out = output.data() + used;
    stream.avail_out = static_cast<uInt>(std::min<size_t>(output.size() - used, std::numeric_limits<uInt>::max()));
    const uInt offered = stream.avail_out;
    const int status = deflate(&stream, Z_FINISH);
    output.resize(used + (offered - stream.avail_out));
    if (status != Z_OK) return status;
  }
}

}  // namespace

void UTLGzip::setMaximumInputLength(uint64_t length) {
  platform::addProcessStateReset(+[] { gMaximumInputLength = std::numeric_limits<uint32_t>::max(); });
  gMaximumInputLength = length;
}

std::optional<std::vector<uint8_t>> UTLGzip::utl_dataByGzippingData(const std::vector<uint8_t>& data,
                                                                   platform::Error* error) {
  return utl_dataByGzippingDataAtLevel(data, Z_DEFAULT_COMPRESSION, error);
}

std::optional<std::vector<uint8_t>> UTLGzip::utl_dataByGzippingDataAtLevel(const std::vector<uint8_t>& data,
                                                                          int level, platform::Error* error) {
  if (data.empty()) return std::nullopt;
  if (data.size() > gMaximumInputLength.load()) {
    report(error, platform::Error{UTLNSDataZlibErrorDomain, UTLNSDataZlibErrorGreaterThan32BitsToCompress, {}});
    return std::nullopt;
  }

  std::vector<uint8_t> output;
  int status = Z_OK;
  KeptDeflater& kept = keptDeflater();
  if (std::unique_lock<std::mutex> hold(kept.mutex, std::try_to_lock); hold.owns_lock()) {
    // A reset stream has taken no input yet, so its level changes without a flush.
    if (kept.ready && (deflateReset(&kept.stream) != Z_OK ||
                       (kept.level != level && deflateParams(&kept.stream, level, Z_DEFAULT_STRATEGY) != Z_OK))) {
      deflateEnd(&kept.stream);
      kept.ready = false;
    }
    if (!kept.ready) {
      status = startDeflate(kept.stream, level);
      kept.ready = status == Z_OK;
    }
    kept.level = level;
    if (kept.ready) status = deflateWhole(kept.stream, data, output);
    // A stream that failed midway is not trusted again.
    if (kept.ready && status != Z_STREAM_END) {
      deflateEnd(&kept.stream);
      kept.ready = false;
    }
  } else {
    z_stream stream{};
    status = startDeflate(stream, level);
    if (status == Z_OK) {
      status = deflateWhole(stream, data, output);
      deflateEnd(&stream);
    }
  }
  if (status != Z_STREAM_END) {
    report(error, zlibError(UTLNSDataZlibErrorInternal, status, nullptr));
    return std::nullopt;
  }
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
