// Gzip throughput of UTLGzip on 1 MiB of protocol-buffer-like bytes, beside zlib's own
// compress2/uncompress on the same bytes in the same run. After the usual table it prints
// each UTLGzip figure as a ratio of its baseline (time and output size).
//
//   build/<dir>/bench/gzip/bench_gzip
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/common/ratio_reporter.h"
#include "sdk-core/utilities/gzip.h"

namespace {

void appendVarint(std::vector<uint8_t>& out, uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<uint8_t>(value));
}

// Log-event records as an uploader batches them: field tags, varint timestamps and counts,
// short strings from a small vocabulary, and 16-byte random identifiers.
const std::vector<uint8_t>& protobufLikeMegabyte() {
  static const std::vector<uint8_t> bytes = [] {
    const std::vector<std::string> words = {"session_start", "ios", "10.27.0", "arm64", "17.2",
                                            "ruv.vantoru.Duvenmark", "wifi", "first_launch",
                                            "background", "foreground", "I-SES000000"};
    std::mt19937_64 random(20261210);
    std::vector<uint8_t> out;
    out.reserve((1 << 20) + 256);
    uint64_t timestamp = 1765324800000;
    while (out.size() < (1u << 20)) {
      std::vector<uint8_t> record;
      appendVarint(record, (1 << 3) | 0);
      timestamp += random() % 5000;
      appendVarint(record, timestamp);
      for (int field = 2; field <= 5; ++field) {
        const std::string& word = words[random() % words.size()];
        appendVarint(record, (static_cast<uint64_t>(field) << 3) | 2);
        appendVarint(record, word.size());
        record.insert(record.end(), word.begin(), word.end());
      }
      appendVarint(record, (6 << 3) | 2);
      appendVarint(record, 16);
      for (int i = 0; i < 16; ++i) record.push_back(static_cast<uint8_t>(random()));
      appendVarint(record, (7 << 3) | 0);
      appendVarint(record, random() % 100000);
      appendVarint(out, (1 << 3) | 2);
      appendVarint(out, record.size());
      out.insert(out.end(), record.begin(), record.end());
    }
    out.resize(1u << 20);
    return out;
  }();
  return bytes;
}

std::vector<uint8_t> zlibCompress(const std::vector<uint8_t>& input) {
  uLongf length = compressBound(input.size());
  std::vector<uint8_t> out(length);
  compress2(out.data(), &length, input.data(), input.size(), Z_DEFAULT_COMPRESSION);
  out.resize(length);
  return out;
}

void BM_UTLGzipCompress(benchmark::State& state) {
  const auto& input = protobufLikeMegabyte();
  size_t outputSize = 0;
  for (auto _ : state) {
    auto packed = UTLGzip::utl_dataByGzippingData(input);
    outputSize = packed->size();
    benchmark::DoNotOptimize(packed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.counters["out_bytes"] = static_cast<double>(outputSize);
}

void BM_ZlibCompress2(benchmark::State& state) {
  const auto& input = protobufLikeMegabyte();
  size_t outputSize = 0;
  for (auto _ : state) {
    auto packed = zlibCompress(input);
    outputSize = packed.size();
    benchmark::DoNotOptimize(packed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
  state.counters["out_bytes"] = static_cast<double>(outputSize);
}

void BM_UTLGzipInflate(benchmark::State& state) {
  const auto& input = protobufLikeMegabyte();
  const auto packed = *UTLGzip::utl_dataByGzippingData(input);
  for (auto _ : state) {
    auto back = UTLGzip::utl_dataByInflatingGzippedData(packed);
    benchmark::DoNotOptimize(back);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_ZlibUncompress(benchmark::State& state) {
  const auto& input = protobufLikeMegabyte();
  const auto packed = zlibCompress(input);
  std::vector<uint8_t> out(input.size());
  for (auto _ : state) {
    uLongf length = out.size();
    uncompress(out.data(), &length, packed.data(), packed.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

BENCHMARK(BM_UTLGzipCompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCompress2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UTLGzipInflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibUncompress)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  using brivel::bench::Measure;
  reporter.printRatios("UTLGzip beside zlib on the same 1 MiB (ratio = ours / baseline):",
                       {{"BM_UTLGzipCompress", "BM_ZlibCompress2"}, {"BM_UTLGzipInflate", "BM_ZlibUncompress"}});
  reporter.printRatio({"BM_UTLGzipCompress", "BM_ZlibCompress2"}, Measure::counterNamed("out_bytes"));
  benchmark::Shutdown();
  return 0;
}
