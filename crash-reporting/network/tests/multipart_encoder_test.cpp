#include "crash-reporting/network/multipart_encoder.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/testing/temp_directory.h"

namespace {

std::string textOf(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::vector<uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

TEST(CRMultipartMimeStreamEncoderTest, AnEmptyBodyIsTheHeaderAndTheFooter) {
  CRMemoryOutputStream stream;
  CRMultipartMimeStreamEncoder encoder(stream, "B0UND");
  EXPECT_TRUE(encoder.encode(nullptr));
  EXPECT_EQ(textOf(stream.data()), "MIME-Version: 1.0\r\n--B0UND--\r\n");
  EXPECT_EQ(encoder.contentLengthHTTPHeaderValue(), std::to_string(stream.data().size()));
  EXPECT_EQ(encoder.contentTypeHTTPHeaderValue(), "multipart/form-data; boundary=B0UND");
}

TEST(CRMultipartMimeStreamEncoderTest, PartsInTheOrderAdded) {
  platform::testing::TempDirectory folder("multipart");
  const std::string path = (folder.path() / "log.bin").string();
  std::ofstream(path, std::ios::binary) << std::string("\x00\x01", 2);

  CRMemoryOutputStream stream;
  CRMultipartMimeStreamEncoder encoder(stream, "b");
  EXPECT_TRUE(encoder.encode([&](CRMultipartMimeStreamEncoder& e) {
    EXPECT_TRUE(e.addFileData(bytesOf("{}"), "a.json", "application/json", "report"));
    EXPECT_TRUE(e.addFile(path, "log.bin", std::nullopt, "log"));
    EXPECT_TRUE(e.addValue("1.0", "version"));
  }));
  EXPECT_EQ(textOf(stream.data()),
            std::string("MIME-Version: 1.0\r\n"
                        "--b\r\nContent-Disposition: form-data; name=\"report\"; filename=\"a.json\"\r\n"
                        "Content-Type: application/json\r\nContent-Transfer-Encoding: binary\r\n\r\n{}\r\n"
                        "--b\r\nContent-Disposition: form-data; name=\"log\"; filename=\"log.bin\"\r\n"
                        "Content-Type: application/octet-stream\r\n\r\n") +
                std::string("\x00\x01", 2) +
                "\r\n--b\r\nContent-Disposition: form-data; name=\"version\"\r\nContent-Type: text/plain\r\n\r\n1.0\r\n"
                "--b--\r\n");
  EXPECT_EQ(encoder.length(), stream.data().size());
}

TEST(CRMultipartMimeStreamEncoderTest, RefusedPartsWriteNothing) {
  CRMemoryOutputStream stream;
  CRMultipartMimeStreamEncoder encoder(stream, "b");
  encoder.beginEncoding();
  const uint64_t header = encoder.length();
  EXPECT_FALSE(encoder.addFileData({}, "a", std::nullopt, "f"));
  EXPECT_FALSE(encoder.addFileData(bytesOf("x"), "", std::nullopt, "f"));
  EXPECT_FALSE(encoder.addFileData(bytesOf("x"), "a", std::nullopt, ""));
  EXPECT_FALSE(encoder.addFileData(bytesOf("x"), "a\"; name=\"evil", std::nullopt, "f"));
  EXPECT_FALSE(encoder.addFileData(bytesOf("x"), "a", std::nullopt, "f\r\nX-Injected: 1"));
  EXPECT_FALSE(encoder.addValue(std::nullopt, "f"));
  EXPECT_FALSE(encoder.addValue("v", ""));
  EXPECT_FALSE(encoder.addValue("v", "a\nb"));
  EXPECT_EQ(encoder.length(), header);
  EXPECT_EQ(stream.data().size(), header);
  EXPECT_FALSE(encoder.failed());
}

TEST(CRMultipartMimeStreamEncoderTest, AShortWriteFailsAndLengthCountsWhatWasWritten) {
  CRMemoryOutputStream stream;
  stream.setCapacity(40);
  CRMultipartMimeStreamEncoder encoder(stream, "b");
  EXPECT_FALSE(encoder.encode([](CRMultipartMimeStreamEncoder& e) {
    EXPECT_FALSE(e.addFileData(std::vector<uint8_t>(100, 'x'), "a", std::nullopt, "f"));
  }));
  EXPECT_TRUE(encoder.failed());
  EXPECT_EQ(encoder.length(), 40u);
  EXPECT_EQ(encoder.contentLengthHTTPHeaderValue(), "40");

  platform::URLRequest request("http://127.0.0.1/upload");
  EXPECT_TRUE(CRMultipartMimeStreamEncoder::populateRequest(
      request, [](CRMultipartMimeStreamEncoder& e) { e.addValue("v", "f"); }));
  ASSERT_TRUE(request.httpBody);
  EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), std::to_string(request.httpBody->size()));
  EXPECT_EQ(request.valueForHTTPHeaderField("Content-Type")->rfind("multipart/form-data; boundary=", 0), 0u);
}

TEST(CRMultipartMimeStreamEncoderTest, WritesToAFileDescriptor) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  CRFileDescriptorOutputStream stream(fds[1]);
  CRMultipartMimeStreamEncoder encoder(stream, "b");
  EXPECT_TRUE(encoder.encode([](CRMultipartMimeStreamEncoder& e) { e.addValue("v", "f"); }));
  close(fds[1]);
  std::string read;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) read.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  EXPECT_EQ(read.size(), encoder.length());
  EXPECT_EQ(read.substr(read.size() - 7), "--b--\r\n");

  // A closed descriptor: the write fails.
  CRFileDescriptorOutputStream closed(fds[1]);
  CRMultipartMimeStreamEncoder failing(closed, "b");
  EXPECT_FALSE(failing.encode(nullptr));
  EXPECT_EQ(failing.length(), 0u);
}

}  // namespace
