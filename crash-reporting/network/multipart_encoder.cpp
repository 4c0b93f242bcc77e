#include "crash-reporting/network/multipart_encoder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iterator>

#include "crash-reporting/core/internal_log.h"
#include "crash-reporting/core/utilities.h"

namespace {

bool isSafeName(std::string_view name) {
  return !name.empty() && name.find_first_of("\"\r\n") == std::string_view::npos;
}

std::string text(std::string_view view) { return std::string(view); }

}  // namespace

ssize_t CRMemoryOutputStream::write(const uint8_t* bytes, size_t length) {
  const size_t room = capacity_ > data_.size() ? capacity_ - data_.size() : 0;
  const size_t taken = std::min(room, length);
  data_.insert(data_.end(), bytes, bytes + taken);
  return static_cast<ssize_t>(taken);
}

ssize_t CRFileDescriptorOutputStream::write(const uint8_t* bytes, size_t length) {
  ssize_t written;
  do {
    written = ::write(fd_, bytes, length);
  } while (written < 0 && errno == EINTR);
  return written;
}

bool CRMultipartMimeStreamEncoder::populateRequest(
    platform::URLRequest& request, const std::function<void(CRMultipartMimeStreamEncoder& encoder)>& withDataFromEncoder) {
  CRMemoryOutputStream stream;
  CRMultipartMimeStreamEncoder encoder(stream, generateBoundary());
  if (!encoder.encode(withDataFromEncoder)) return false;
  request.setValue(encoder.contentTypeHTTPHeaderValue(), "Content-Type");
  request.setValue(encoder.contentLengthHTTPHeaderValue(), "Content-Length");
  request.httpBody = stream.data();
  return true;
}

std::string CRMultipartMimeStreamEncoder::generateBoundary() { return CRNewUUIDString(); }

std::string CRMultipartMimeStreamEncoder::contentTypeHTTPHeaderValueWithBoundary(std::string_view boundary) {
  return "multipart/form-data; boundary=" + text(boundary);
}

CRMultipartMimeStreamEncoder::CRMultipartMimeStreamEncoder(CROutputStream& stream, std::optional<std::string> boundary)
    : boundary_(boundary ? std::move(*boundary) : generateBoundary()), outputStream_(stream) {}

bool CRMultipartMimeStreamEncoder::encode(const std::function<void(CRMultipartMimeStreamEncoder& encoder)>& block) {
  beginEncoding();
  if (block) block(*this);
  endEncoding();
  return !failed_;
}

void CRMultipartMimeStreamEncoder::beginEncoding() {
  length_ = 0;
  failed_ = false;
  outputStream_.open();
  writeText(headerData());
}

void CRMultipartMimeStreamEncoder::endEncoding() {
  writeText(footerData());
  outputStream_.close();
}

std::string CRMultipartMimeStreamEncoder::headerData() const { return "MIME-Version: 1.0\r\n"; }
std::string CRMultipartMimeStreamEncoder::footerData() const { return "--" + boundary_ + "--\r\n"; }
std::string CRMultipartMimeStreamEncoder::contentTypeHTTPHeaderValue() const {
  return contentTypeHTTPHeaderValueWithBoundary(boundary_);
}
std::string CRMultipartMimeStreamEncoder::contentLengthHTTPHeaderValue() const { return std::to_string(length_); }

bool CRMultipartMimeStreamEncoder::addFileData(const std::vector<uint8_t>& data, std::string_view fileName,
                                               const std::optional<std::string>& mimeType,
                                               std::string_view fieldName) {
  if (data.empty()) {
    CRConsoleError("Unable to MIME encode data with zero length (%s)", text(fieldName).c_str());
    return false;
  }
  if (!isSafeName(fieldName) || !isSafeName(fileName) || (mimeType && mimeType->find_first_of("\r\n") != std::string::npos)) {
    CRConsoleError("name (%s) or fieldname (%s) is invalid", text(fieldName).c_str(), text(fileName).c_str());
    return false;
  }
  std::string head = "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + text(fieldName) +
                     "\"; filename=\"" + text(fileName) + "\"\r\n";
  if (mimeType) {
    head += "Content-Type: " + *mimeType + "\r\nContent-Transfer-Encoding: binary\r\n\r\n";
  } else {
    head += "Content-Type: application/octet-stream\r\n\r\n";
  }
  bool complete = writeText(head);
  complete = complete && writeData(data);
  complete = complete && writeText("\r\n");
  return complete;
}

bool CRMultipartMimeStreamEncoder::addFile(const std::string& path, std::string_view fileName,
                                           const std::optional<std::string>& mimeType, std::string_view fieldName) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return addFileData(data, fileName, mimeType, fieldName);
}

bool CRMultipartMimeStreamEncoder::addValue(const std::optional<std::string>& value, std::string_view fieldName) {
  if (!value || !isSafeName(fieldName)) {
    CRConsoleError("name (%s) or value (%s) is invalid", text(fieldName).c_str(), value ? value->c_str() : "(null)");
    return false;
  }
  return writeText("--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + text(fieldName) +
                   "\"\r\nContent-Type: text/plain\r\n\r\n" + *value + "\r\n");
}

bool CRMultipartMimeStreamEncoder::writeBytes(const uint8_t* bytes, size_t length) {
  const ssize_t written = outputStream_.write(bytes, length);
  if (written > 0) length_ += static_cast<uint64_t>(written);
  if (written < 0 || static_cast<size_t>(written) < length) {
    CRConsoleError("Failed to write bytes to stream");
    failed_ = true;
    return false;
  }
  return true;
}

bool CRMultipartMimeStreamEncoder::writeData(const std::vector<uint8_t>& data) {
  bool complete = true;
  CREnumerateDataByteRanges(data, [&](const uint8_t* bytes, size_t, size_t length, bool* stop) {
    const ssize_t written = outputStream_.write(bytes, length);
    if (written > 0) length_ += static_cast<uint64_t>(written);
    if (written < 0 || static_cast<size_t>(written) < length) {
      CRConsoleError("Failed to write data to stream");
      failed_ = true;
      complete = false;
      *stop = true;
    }
  });
  return complete;
}

bool CRMultipartMimeStreamEncoder::writeText(std::string_view value) {
  return writeBytes(reinterpret_cast<const uint8_t*>(value.data()), value.size());
}
