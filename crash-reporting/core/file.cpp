// Contract: crash-time safe for unbuffered files (see file.h): write(2) and stack buffers
// only. Opening, closing and the write buffer use open/fstat/close and malloc/free.
#include "crash-reporting/core/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "crash-reporting/core/internal_log.h"

namespace {

bool writeUnbuffered(CRFile* file, const char* bytes, size_t length) {
  size_t remaining = length;
  for (int attempt = 0; attempt < kCRFileMaxWriteAttempts && remaining > 0; ++attempt) {
    const ssize_t written = write(file->fd, bytes, remaining);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0 || static_cast<size_t>(written) > remaining) return false;
    bytes += written;
    remaining -= static_cast<size_t>(written);
  }
  if (remaining > 0) return false;
  file->writtenLength += static_cast<int64_t>(length);
  return true;
}

void flushBuffer(CRFile* file) {
  if (file->writeBuffer == nullptr || file->writeBufferLength == 0) return;
  writeUnbuffered(file, file->writeBuffer, file->writeBufferLength);
  file->writeBufferLength = 0;
  file->writeBuffer[0] = '\0';
}

bool writeBuffered(CRFile* file, const char* bytes, size_t length) {
  if (!file->bufferWrites || file->writeBuffer == nullptr) return writeUnbuffered(file, bytes, length);
  while (file->writeBufferLength + length >= kCRFileBufferSize) {
    const size_t room = kCRFileBufferSize - 1 - file->writeBufferLength;
    std::memcpy(file->writeBuffer + file->writeBufferLength, bytes, room);
    file->writeBufferLength += room;
    file->writeBuffer[file->writeBufferLength] = '\0';
    bytes += room;
    length -= room;
    const size_t held = file->writeBufferLength;
    file->writeBufferLength = 0;
    if (!writeUnbuffered(file, file->writeBuffer, held)) return false;
  }
  std::memcpy(file->writeBuffer + file->writeBufferLength, bytes, length);
  file->writeBufferLength += length;
  file->writeBuffer[file->writeBufferLength] = '\0';
  return true;
}

void writeCharacter(CRFile* file, char character) { writeBuffered(file, &character, 1); }

void writeComma(CRFile* file) {
  if (file->needComma) writeCharacter(file, ',');
}

void collectionStart(CRFile* file, char open) {
  writeComma(file);
  writeCharacter(file, open);
  file->collectionDepth += 1;
  file->needComma = false;
}

void collectionEnd(CRFile* file, char close) {
  writeCharacter(file, close);
  if (file->collectionDepth >= 1) {
    file->collectionDepth -= 1;
    file->needComma = file->collectionDepth != 0;
  }
}

// Writes `text` between quotes as a JSON string, then `terminator` when it is not zero.
// Short strings leave in one write: the text is escaped into a stack buffer that is written
// only when full and at the end.
void writeQuoted(CRFile* file, const char* text, char terminator) {
  static const char kHex[] = "0123456789abcdef";
  char buffer[128];
  size_t used = 0;
  auto put = [&](char character) {
    if (used == sizeof buffer) {
      writeBuffered(file, buffer, used);
      used = 0;
    }
    buffer[used++] = character;
  };
  put('"');
  for (const char* at = text; *at != '\0'; ++at) {
    const auto byte = static_cast<unsigned char>(*at);
    if (byte >= 0x80) {
      // A whole, valid UTF-8 sequence goes as it is; any other byte is escaped as the code
      // point of the same value, so that the line stays valid JSON and the byte is kept.
      const size_t length = CRFileUTF8SequenceLength(at);
      if (length == 0) {
        put('\\');
        put('u');
        put('0');
        put('0');
        put(kHex[byte >> 4]);
        put(kHex[byte & 0x0f]);
      } else {
        for (size_t i = 0; i < length; ++i) put(at[i]);
        at += length - 1;
      }
    } else if (byte == '"' || byte == '\\') {
      put('\\');
      put(static_cast<char>(byte));
    } else if (byte < 0x20) {
      put('\\');
      put('u');
      put('0');
      put('0');
      put(kHex[byte >> 4]);
      put(kHex[byte & 0x0f]);
    } else {
      put(static_cast<char>(byte));
    }
  }
  put('"');
  if (terminator != '\0') put(terminator);
  writeBuffered(file, buffer, used);
}

void writeHexEncoded(CRFile* file, const char* text) {
  static const char kHex[] = "0123456789abcdef";
  char chunk[32];
  size_t used = 0;
  writeCharacter(file, '"');
  for (const char* at = text; *at != '\0'; ++at) {
    const auto byte = static_cast<unsigned char>(*at);
    chunk[used++] = kHex[byte >> 4];
    chunk[used++] = kHex[byte & 0x0f];
    if (used == sizeof chunk) {
      writeBuffered(file, chunk, used);
      used = 0;
    }
  }
  if (used > 0) writeBuffered(file, chunk, used);
  writeCharacter(file, '"');
}

void writeUnsigned(CRFile* file, uint64_t value) {
  char digits[21];
  size_t at = sizeof digits;
  do {
    digits[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  writeBuffered(file, digits + at, sizeof digits - at);
}

void writeSigned(CRFile* file, int64_t value) {
  if (value < 0) {
    writeCharacter(file, '-');
    writeUnsigned(file, 0 - static_cast<uint64_t>(value));
    return;
  }
  writeUnsigned(file, static_cast<uint64_t>(value));
}

void writeStringOrNull(CRFile* file, const char* value) {
  if (value == nullptr) {
    writeBuffered(file, "null", 4);
  } else {
    writeQuoted(file, value, '\0');
  }
}

void writeHexOrNull(CRFile* file, const char* value) {
  if (value == nullptr) {
    writeBuffered(file, "null", 4);
  } else {
    writeHexEncoded(file, value);
  }
}

void arrayElementPrefix(CRFile* file) {
  writeComma(file);
  file->needComma = true;
}

}  // namespace

size_t CRFileUTF8SequenceLength(const char* text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  const unsigned char lead = bytes[0];
  size_t length = 0;
  uint32_t minimum = 0;
  uint32_t point = 0;
  if (lead < 0x80) return lead == 0 ? 0 : 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, point = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, minimum = 0x800, point = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, point = lead & 0x07u;
  } else {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return 0;  // the terminating zero stops here too
    point = point << 6 | (bytes[i] & 0x3Fu);
  }
  if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

bool CRFileInitWithPathMode(CRFile* file, const char* path, bool appendMode, bool bufferWrites) {
  if (file == nullptr) {
    CRLogWarning("Error: file is null\n");
    return false;
  }
  *file = CRFile{};
  if (path != nullptr) {
    const int flags = appendMode ? (O_WRONLY | O_APPEND | O_CREAT) : (O_WRONLY | O_CREAT | O_TRUNC);
    file->fd = open(path, flags | O_CLOEXEC, 0644);
    if (file->fd < 0) CRLogWarning("Error: Unable to open file (errno %d)\n", errno);
  }
  if (file->fd < 0) {
    CRLogWarning("Error: file descriptor invalid\n");
    return false;
  }
  file->bufferWrites = bufferWrites;
  if (bufferWrites) {
    file->writeBuffer = static_cast<char*>(std::malloc(kCRFileBufferSize));
    if (file->writeBuffer == nullptr) {
      CRLogWarning("Unable to malloc in CRFileInit\n");
      close(file->fd);
      *file = CRFile{};
      return false;
    }
    file->writeBuffer[0] = '\0';
  }
  if (appendMode) {
    struct stat status;
    if (fstat(file->fd, &status) != 0) {
      CRLogWarning("Failed to read filesize from %s (errno %d)\n", path, errno);
      std::free(file->writeBuffer);
      close(file->fd);
      *file = CRFile{};
      return false;
    }
    if (status.st_size > 0) file->writtenLength += status.st_size;
  }
  return true;
}

bool CRFileInit(CRFile* file, const char* path, bool bufferWrites) {
  return CRFileInitWithPathMode(file, path, true, bufferWrites);
}

bool CRFileHasDescriptor(const CRFile* file) { return file != nullptr && file->fd >= 0; }

bool CRFileCloseWithOffset(CRFile* file, int64_t* outLength) {
  if (file == nullptr) return false;
  if (file->writeBuffer != nullptr) {
    flushBuffer(file);
    std::free(file->writeBuffer);
    file->writeBuffer = nullptr;
    file->writeBufferLength = 0;
  }
  if (outLength != nullptr) *outLength = file->writtenLength;
  if (close(file->fd) != 0) {
    CRLogWarning("Error: Unable to close file (errno %d)\n", errno);
    return false;
  }
  *file = CRFile{};
  return true;
}

bool CRFileShut(CRFile* file) { return CRFileCloseWithOffset(file, nullptr); }

void CRFileDrainBuffer(CRFile* file) {
  if (file != nullptr) flushBuffer(file);
}

bool CRFileWrite(CRFile* file, const void* bytes, size_t length) {
  return writeBuffered(file, static_cast<const char*>(bytes), length);
}

void CRFileWriteSectionStart(CRFile* file, const char* name) {
  CRFileWriteHashStart(file);
  CRFileWriteHashKey(file, name);
}

void CRFileWriteSectionEnd(CRFile* file) {
  CRFileWriteHashEnd(file);
  writeCharacter(file, '\n');
}

void CRFileWriteHashStart(CRFile* file) { collectionStart(file, '{'); }
void CRFileWriteHashEnd(CRFile* file) { collectionEnd(file, '}'); }
void CRFileWriteArrayStart(CRFile* file) { collectionStart(file, '['); }
void CRFileWriteArrayEnd(CRFile* file) { collectionEnd(file, ']'); }

void CRFileWriteHashKey(CRFile* file, const char* key) {
  writeComma(file);
  writeQuoted(file, key != nullptr ? key : "", ':');
  file->needComma = false;
}

void CRFileWriteHashEntryUint64(CRFile* file, const char* key, uint64_t value) {
  CRFileWriteHashKey(file, key);
  writeUnsigned(file, value);
  file->needComma = true;
}

void CRFileWriteHashEntryInt64(CRFile* file, const char* key, int64_t value) {
  CRFileWriteHashKey(file, key);
  writeSigned(file, value);
  file->needComma = true;
}

void CRFileWriteHashEntryString(CRFile* file, const char* key, const char* value) {
  CRFileWriteHashKey(file, key);
  writeStringOrNull(file, value);
  file->needComma = true;
}

void CRFileWriteHashEntryNonEmptyString(CRFile* file, const char* key, std::string_view value) {
  if (value.empty()) return;
  CRFileWriteHashKey(file, key);
  // The view may hold zero bytes; the text ends at the first, as a C string would.
  char stackCopy[256];
  if (value.size() < sizeof stackCopy) {
    std::memcpy(stackCopy, value.data(), value.size());
    stackCopy[value.size()] = '\0';
    writeQuoted(file, stackCopy, '\0');
  } else {
    char* copy = static_cast<char*>(std::malloc(value.size() + 1));
    if (copy == nullptr) {
      writeBuffered(file, "null", 4);
    } else {
      std::memcpy(copy, value.data(), value.size());
      copy[value.size()] = '\0';
      writeQuoted(file, copy, '\0');
      std::free(copy);
    }
  }
  file->needComma = true;
}

void CRFileWriteHashEntryHexEncodedString(CRFile* file, const char* key, const char* value) {
  CRFileWriteHashKey(file, key);
  writeHexOrNull(file, value);
  file->needComma = true;
}

void CRFileWriteHashEntryBoolean(CRFile* file, const char* key, bool value) {
  CRFileWriteHashKey(file, key);
  if (value) {
    writeBuffered(file, "true", 4);
  } else {
    writeBuffered(file, "false", 5);
  }
  file->needComma = true;
}

void CRFileWriteArrayEntryUint64(CRFile* file, uint64_t value) {
  arrayElementPrefix(file);
  writeUnsigned(file, value);
}

void CRFileWriteArrayEntryString(CRFile* file, const char* value) {
  arrayElementPrefix(file);
  writeStringOrNull(file, value);
}

void CRFileWriteArrayEntryHexEncodedString(CRFile* file, const char* value) {
  arrayElementPrefix(file);
  writeHexOrNull(file, value);
}

void CRFileWriteRaw(CRFile* file, const char* text, size_t length) { writeBuffered(file, text, length); }

void CRFileAbandonLine(CRFile* file) {
  if (file == nullptr) return;
  if (file->collectionDepth > 0) writeCharacter(file, '\n');
  file->collectionDepth = 0;
  file->needComma = false;
}
