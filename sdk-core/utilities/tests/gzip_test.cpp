#include "sdk-core/utilities/gzip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>

namespace {

std::vector<uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> randomBytes(size_t count, unsigned seed) {
  std::mt19937 engine(seed);
  std::vector<uint8_t> bytes(count);
  for (auto& byte : bytes) byte = static_cast<uint8_t>(engine());
  return bytes;
}

std::vector<uint8_t> gzipped(const std::vector<uint8_t>& input) {
  platform::Error error;
  auto packed = UTLGzip::utl_dataByGzippingData(input, &error);
  EXPECT_TRUE(packed.has_value()) << error.code;
  return packed.value_or(std::vector<uint8_t>{});
}

// The bytes of a compressor made for `input` alone, at `level`.
std::vector<uint8_t> freshlyGzipped(const std::vector<uint8_t>& input, int level) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<uint8_t> out(deflateBound(&stream, input.size()));
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

TEST(GzipTest, RoundTripsInputsOfManySizesAndShapes) {
  std::string repetitive;
  for (int i = 0; i < 20000; ++i) repetitive += "field " + std::to_string(i % 17) + ";";
  const std::vector<std::vector<uint8_t>> inputs = {
      bytesOf("x"),
      bytesOf("hello, gzip"),
      std::vector<uint8_t>(1024, 0),      // exactly one output chunk of zeros
      randomBytes(3000, 1),               // incompressible: output larger than input/4
      randomBytes(200 * 1024, 2),         // many output chunks
      bytesOf(repetitive),
  };
  for (const auto& input : inputs) {
    const auto packed = gzipped(input);
    ASSERT_GE(packed.size(), 2u);
    EXPECT_EQ(packed[0], 0x1F);
    EXPECT_EQ(packed[1], 0x8B);
    platform::Error error;
    const auto back = UTLGzip::utl_dataByInflatingGzippedData(packed, &error);
    ASSERT_TRUE(back.has_value()) << "size " << input.size() << ": " << error.code;
    EXPECT_EQ(*back, input);
  }
}

// The compressor is kept between calls, and callers that find it busy make their own: either
// way the bytes are those of a compressor made for the call alone.
TEST(GzipTest, CallsInTurnAndAtOnceGiveTheBytesOfAFreshCompressor) {
  const std::vector<std::vector<uint8_t>> inputs = {bytesOf("short"), randomBytes(70 * 1024, 3),
                                                    std::vector<uint8_t>(300 * 1024, 'a')};
  std::vector<std::vector<uint8_t>> fresh;
  for (const auto& input : inputs) fresh.push_back(freshlyGzipped(input, Z_DEFAULT_COMPRESSION));
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < inputs.size(); ++i) EXPECT_EQ(gzipped(inputs[i]), fresh[i]) << "in turn, input " << i;
  }
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 20; ++round) {
        const size_t i = static_cast<size_t>(t + round) % inputs.size();
        auto packed = UTLGzip::utl_dataByGzippingData(inputs[i]);
        if (!packed || *packed != fresh[i]) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0) << "compressions at once";
}

// The kept compressor moves between levels: each call gives what a compressor made at its
// level would, whatever level the call before it asked for, and every level inflates back.
TEST(GzipTest, LevelsInTurnGiveTheBytesOfAFreshCompressorAtEach) {
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "frame " + std::to_string(i % 97) + " thread main; ";
  const auto input = bytesOf(text);
  const int levels[] = {1, Z_DEFAULT_COMPRESSION, 1, 9, 1, 1, Z_DEFAULT_COMPRESSION};
  for (int level : levels) {
    SCOPED_TRACE(level);
    platform::Error error;
    const auto packed = UTLGzip::utl_dataByGzippingDataAtLevel(input, level, &error);
    ASSERT_TRUE(packed.has_value()) << error.code;
    EXPECT_EQ(*packed, freshlyGzipped(input, level));
    EXPECT_EQ(UTLGzip::utl_dataByInflatingGzippedData(*packed), input);
  }
  EXPECT_EQ(gzipped(input), freshlyGzipped(input, Z_DEFAULT_COMPRESSION));
  EXPECT_LT(freshlyGzipped(input, 9).size(), freshlyGzipped(input, 1).size()) << "the levels differ for this input";
}

TEST(GzipTest, EmptyInputAnswersNothingWithoutAnError) {
  platform::Error error{"untouched", 7, {}};
  EXPECT_FALSE(UTLGzip::utl_dataByGzippingData({}, &error).has_value());
  EXPECT_FALSE(UTLGzip::utl_dataByInflatingGzippedData({}, &error).has_value());
  EXPECT_EQ(error.domain, "untouched");
  EXPECT_EQ(error.code, 7);
}

TEST(GzipTest, InflatesZlibWrappedInput) {
  const auto input = bytesOf("zlib-wrapped, not gzip-wrapped, bytes");
  uLongf length = compressBound(input.size());
  std::vector<uint8_t> packed(length);
  ASSERT_EQ(compress2(packed.data(), &length, input.data(), input.size(), 6), Z_OK);
  packed.resize(length);
  ASSERT_EQ(packed[0], 0x78);
  EXPECT_EQ(UTLGzip::utl_dataByInflatingGzippedData(packed), input);
}

TEST(GzipTest, TrailingBytesAfterTheMemberFailWithTheirCount) {
  auto packed = gzipped(bytesOf("first member"));
  const auto second = gzipped(bytesOf("second member"));
  packed.insert(packed.end(), second.begin(), second.end());

  platform::Error error;
  EXPECT_FALSE(UTLGzip::utl_dataByInflatingGzippedData(packed, &error).has_value());
  EXPECT_EQ(error.domain, UTLNSDataZlibErrorDomain);
  EXPECT_EQ(error.code, 1026);
  ASSERT_TRUE(error.userInfo.count(UTLNSDataZlibRemainingBytesKey));
  EXPECT_EQ(error.userInfo.at(UTLNSDataZlibRemainingBytesKey).toInt64(),
            static_cast<int64_t>(second.size()));
}

TEST(GzipTest, CorruptInputFailsWithZlibStatus) {
  const auto packed = gzipped(randomBytes(5000, 3));
  struct Case {
    const char* name;
    std::vector<uint8_t> input;
    int status;
    bool hasMessage;
  };
  std::vector<uint8_t> flipped = packed;
  flipped[packed.size() / 2] ^= 0xFF;
  flipped[packed.size() / 2 + 1] ^= 0x55;
  const std::vector<Case> cases = {
      {"truncated", std::vector<uint8_t>(packed.begin(), packed.begin() + packed.size() / 2), Z_BUF_ERROR, false},
      {"not compressed", bytesOf("this is plain text, not a compressed stream"), Z_DATA_ERROR, true},
      {"flipped bits", flipped, Z_DATA_ERROR, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    platform::Error error;
    EXPECT_FALSE(UTLGzip::utl_dataByInflatingGzippedData(c.input, &error).has_value());
    EXPECT_EQ(error.domain, UTLNSDataZlibErrorDomain);
    EXPECT_EQ(error.code, 1025);
    ASSERT_TRUE(error.userInfo.count(UTLNSDataZlibErrorKey));
    EXPECT_EQ(error.userInfo.at(UTLNSDataZlibErrorKey).toInt64(), c.status);
    if (c.hasMessage) {
      EXPECT_FALSE(error.localizedDescription().empty());
    }
  }
  // No error pointer: still answers nothing, and does not crash.
  EXPECT_FALSE(UTLGzip::utl_dataByInflatingGzippedData(bytesOf("junk junk junk")).has_value());
}

TEST(GzipTest, InputAboveTheLimitIsRefused) {
  UTLGzip::setMaximumInputLength(16);
  platform::Error error;
  EXPECT_FALSE(UTLGzip::utl_dataByGzippingData(std::vector<uint8_t>(17, 'a'), &error).has_value());
  EXPECT_EQ(error.code, 1024);
  EXPECT_TRUE(error.userInfo.empty());
  error = {};
  EXPECT_FALSE(UTLGzip::utl_dataByInflatingGzippedData(std::vector<uint8_t>(17, 'a'), &error).has_value());
  EXPECT_TRUE(error.domain.empty());  // too long to inflate: nothing, no error
  EXPECT_TRUE(UTLGzip::utl_dataByGzippingData(std::vector<uint8_t>(16, 'a')).has_value());
  UTLGzip::setMaximumInputLength(0xFFFFFFFFull);
}

}  // namespace
