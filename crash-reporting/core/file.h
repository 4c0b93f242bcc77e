// CRFile: the writer of every crash-report record file (`.crrecord`).
//
// Contract: safe at crash time when the file is opened unbuffered. Writing uses only
// `write(2)`, fixed stack buffers and hand-made number formatting; it allocates nothing and
// takes no lock. Opening, closing and buffered files use `open`, `fstat`, `close` and (for
// the 1,000-byte buffer) malloc/free, so crash-time callers open their files unbuffered.
//
// A record file holds one JSON object per line, a "section":
//   {"name":{"key":"value","count":3,"list":[1,2]}}
// Keys and plain strings are written as JSON strings: `"`, `\` and bytes below 0x20 are
// escaped, valid UTF-8 is written as given, and any byte that is not part of a valid UTF-8
// sequence (a thread name cut mid-character, a Latin-1 path) is written as the escape of the
// code point of the same value (0xE9 as "\u00e9"): every line stays valid UTF-8 JSON. Text that may hold arbitrary bytes is
// written in the hex form instead (two lowercase hex digits a byte). A null C string is
// written as `null`.
//
// A CRFile belongs to one caller at a time; nothing inside it is locked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct CRFile {
  int fd = -1;
  int collectionDepth = 0;
  bool needComma = false;
  bool bufferWrites = false;
  char* writeBuffer = nullptr;     // kCRFileBufferSize bytes while buffering
  size_t writeBufferLength = 0;    // at most kCRFileBufferSize - 1
  int64_t writtenLength = 0;       // bytes in the file, its size at open included
};

inline constexpr size_t kCRFileBufferSize = 1000;
// Calls of write(2) for one write before it is given up.
inline constexpr int kCRFileMaxWriteAttempts = 50;

// Opens `path`: for appending (created when missing) or truncated. Files are created with
// mode 0644. False, after a warning in the internal log, for a null file or path or a failed
// open; no descriptor is left open on any failure.
bool CRFileInitWithPathMode(CRFile* file, const char* path, bool appendMode, bool bufferWrites);
// Opens `path` for appending.
bool CRFileInit(CRFile* file, const char* path, bool bufferWrites);
bool CRFileHasDescriptor(const CRFile* file);
// Flushes, frees the buffer and closes. On success the record is reset (fd -1) and the
// bytes written are stored through `outLength` when given. A failed close logs and returns
// false; the buffer is freed and forgotten either way.
bool CRFileCloseWithOffset(CRFile* file, int64_t* outLength);
bool CRFileShut(CRFile* file);
// Writes out what the buffer holds and empties it.
void CRFileDrainBuffer(CRFile* file);

// Appends bytes as they are (through the buffer when buffering). False when a write failed.
bool CRFileWrite(CRFile* file, const void* bytes, size_t length);

// Structure.
void CRFileWriteSectionStart(CRFile* file, const char* name);
void CRFileWriteSectionEnd(CRFile* file);
void CRFileWriteHashStart(CRFile* file);
void CRFileWriteHashEnd(CRFile* file);
void CRFileWriteArrayStart(CRFile* file);
void CRFileWriteArrayEnd(CRFile* file);
void CRFileWriteHashKey(CRFile* file, const char* key);

// Hash entries: the key, then the value.
void CRFileWriteHashEntryUint64(CRFile* file, const char* key, uint64_t value);
void CRFileWriteHashEntryInt64(CRFile* file, const char* key, int64_t value);
void CRFileWriteHashEntryString(CRFile* file, const char* key, const char* value);  // null: `null`
// Written only when `value` is not empty: an empty value leaves no trace, key included.
// Not for crash time (the caller's string may live on the heap).
void CRFileWriteHashEntryNonEmptyString(CRFile* file, const char* key, std::string_view value);
void CRFileWriteHashEntryHexEncodedString(CRFile* file, const char* key, const char* value);  // null: `null`
void CRFileWriteHashEntryBoolean(CRFile* file, const char* key, bool value);

// Array elements.
void CRFileWriteArrayEntryUint64(CRFile* file, uint64_t value);
void CRFileWriteArrayEntryString(CRFile* file, const char* value);
void CRFileWriteArrayEntryHexEncodedString(CRFile* file, const char* value);

// Ends a section cut short (a fault while writing it): a newline when one is open, so that
// what follows starts a line of its own; the structure state is reset.
void CRFileAbandonLine(CRFile* file);

// The length of the valid UTF-8 sequence at `text` (1 to 4), 0 for a byte that does not
// begin one (overlong forms and surrogates included) or for the terminating zero.
size_t CRFileUTF8SequenceLength(const char* text);

// Text appended as it is (pre-built JSON).
void CRFileWriteRaw(CRFile* file, const char* text, size_t length);
