// CRMultipartMimeStreamEncoder: writes a multipart/form-data body (file parts and plain-text
// value parts between boundary lines) into an output stream, and can fill a request's body,
// "Content-Type" and "Content-Length" from it.
//
// Body of one encode() call: "MIME-Version: 1.0\r\n", the parts in the order added, then
// "--<boundary>--\r\n". `length` counts the bytes the stream really took, so a short write
// leaves "Content-Length" equal to what was written, and the encode() reports failure.
// Field and file names holding a double quote, CR or LF are refused (they would end the
// header they sit in), as are empty names, empty file data and absent values.
//
//   platform::URLRequest request("https://example/upload");
//   CRMultipartMimeStreamEncoder::populateRequest(request, [](CRMultipartMimeStreamEncoder& encoder) {
//     encoder.addValue("1.0", "version");
//     encoder.addFileData(bytes, "report.txt", "text/plain", "report");
//   });
//
// Not thread-safe: one encoder is used by one thread at a time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/url_request.h"

// The stream the encoder writes to.
class CROutputStream {
 public:
  virtual ~CROutputStream() = default;
  virtual void open() {}
  virtual void close() {}
  // Writes up to `length` bytes; the count written, or -1 on an error.
  virtual ssize_t write(const uint8_t* bytes, size_t length) = 0;
};

// Collects what is written in memory. `setCapacity` makes writes beyond that many bytes in
// all come out short, to exercise the failure path.
class CRMemoryOutputStream : public CROutputStream {
 public:
  ssize_t write(const uint8_t* bytes, size_t length) override;
  const std::vector<uint8_t>& data() const { return data_; }
  void setCapacity(size_t capacity) { capacity_ = capacity; }

 private:
  std::vector<uint8_t> data_;
  size_t capacity_ = std::numeric_limits<size_t>::max();
};

// Writes to a file descriptor it does not own, one write(2) a call.
class CRFileDescriptorOutputStream : public CROutputStream {
 public:
  explicit CRFileDescriptorOutputStream(int fd) : fd_(fd) {}
  ssize_t write(const uint8_t* bytes, size_t length) override;

 private:
  int fd_;
};

class CRMultipartMimeStreamEncoder {
 public:
  // Fills the request's body and both headers from an encoding in memory with a fresh
  // boundary. False (the request unchanged) when a write failed.
  static bool populateRequest(platform::URLRequest& request,
                              const std::function<void(CRMultipartMimeStreamEncoder& encoder)>& withDataFromEncoder);
  static std::string generateBoundary();
  static std::string contentTypeHTTPHeaderValueWithBoundary(std::string_view boundary);

  // The stream must outlive the encoder. No boundary: a generated one.
  CRMultipartMimeStreamEncoder(CROutputStream& stream, std::optional<std::string> boundary = std::nullopt);

  // beginEncoding, the block, endEncoding. True when every write was complete.
  bool encode(const std::function<void(CRMultipartMimeStreamEncoder& encoder)>& block);
  void beginEncoding();
  void endEncoding();

  // Each returns false when the part was refused or a write fell short.
  bool addFileData(const std::vector<uint8_t>& data, std::string_view fileName,
                   const std::optional<std::string>& mimeType, std::string_view fieldName);
  bool addFile(const std::string& path, std::string_view fileName, const std::optional<std::string>& mimeType,
               std::string_view fieldName);
  bool addValue(const std::optional<std::string>& value, std::string_view fieldName);

  bool writeBytes(const uint8_t* bytes, size_t length);
  bool writeData(const std::vector<uint8_t>& data);

  uint64_t length() const { return length_; }
  const std::string& boundary() const { return boundary_; }
  std::string headerData() const;
  std::string footerData() const;
  std::string contentTypeHTTPHeaderValue() const;
  std::string contentLengthHTTPHeaderValue() const;
  // Whether a write has fallen short since beginEncoding.
  bool failed() const { return failed_; }

 private:
  bool writeText(std::string_view text);

  uint64_t length_ = 0;
  std::string boundary_;
  CROutputStream& outputStream_;
  bool failed_ = false;
};
