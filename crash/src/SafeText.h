// Text building for the signal handler: fixed buffers, no allocation, no
// locale, no stdio. Text that does not fit is cut and remembered as cut.
#pragma once
#include <cstddef>
#include <cstdint>

namespace norvexc {

class SafeText {
 public:
  SafeText(char* buffer, size_t capacity) : data_(buffer), capacity_(capacity) { Clear(); }

  void Clear() {
    length_ = 0;
    cut_ = false;
    if (capacity_) data_[0] = '\0';
  }
  void Add(char c);
  void Add(const char* text);
  void Add(const char* text, size_t length);
  // Upper-case hexadecimal, at least `width` digits (zero-padded).
  void Hex(uint64_t value, int width);
  // Decimal, at least `width` digits (zero-padded after the sign).
  void Dec(int64_t value, int width);

  const char* data() const { return data_; }
  size_t size() const { return length_; }
  bool cut() const { return cut_; }

 private:
  char* data_;
  size_t capacity_;
  size_t length_ = 0;
  bool cut_ = false;
};

// Length of a zero-ended string.
size_t Length(const char* text);
// The part of a path after its last '/'.
const char* BaseName(const char* path);
// Copies at most capacity - 1 characters and ends the copy with a zero.
void CopyText(char* target, size_t capacity, const char* source, size_t length);
bool StartsWith(const char* text, const char* prefix);

// Writes everything, retrying after interruptions; false on failure.
bool WriteAll(int fd, const char* data, size_t length);

}  // namespace norvexc
