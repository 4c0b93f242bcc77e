// Pre-built JSON for a record file, gathered in a stack buffer and handed to CRFileWriteRaw
// in as few writes as its size allows: long arrays of numbers (a stack trace, a register
// set) would otherwise cost a write(2) for every comma and number.
//
// Contract: async-signal-safe, no allocation, no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crash-reporting/core/file.h"

class CRJsonBuffer {
 public:
  explicit CRJsonBuffer(CRFile* file) : file_(file) {}
  ~CRJsonBuffer() { flush(); }
  CRJsonBuffer(const CRJsonBuffer&) = delete;
  CRJsonBuffer& operator=(const CRJsonBuffer&) = delete;

  void text(const char* value) {
    while (*value != '\0') character(*value++);
  }
  void character(char value) {
    if (length_ == sizeof(text_)) flush();
    text_[length_++] = value;
  }
  void number(uint64_t value) {
    char digits[24];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (count > 0) character(digits[--count]);
  }
  void flush() {
    if (length_ > 0) CRFileWriteRaw(file_, text_, length_);
    length_ = 0;
  }

 private:
  CRFile* file_;
  char text_[2048];
  size_t length_ = 0;
};
