#include "SafeText.h"

#include <cerrno>
#include <unistd.h>

namespace norvexc {

void SafeText::Add(char c) {
  if (length_ + 1 >= capacity_) {
    cut_ = true;
    return;
  }
  data_[length_++] = c;
  data_[length_] = '\0';
}

void SafeText::Add(const char* text) {
  if (text) Add(text, Length(text));
}

void SafeText::Add(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) Add(text[i]);
}

void SafeText::Hex(uint64_t value, int width) {
  char digits[16];
  int n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value & 15];
    value >>= 4;
  } while (value);
  for (int i = n; i < width; ++i) Add('0');
  while (n) Add(digits[--n]);
}

void SafeText::Dec(int64_t value, int width) {
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  if (value < 0) Add('-');
  char digits[20];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  for (int i = n; i < width; ++i) Add('0');
  while (n) Add(digits[--n]);
}

size_t Length(const char* text) {
  size_t n = 0;
  while (text[n]) ++n;
  return n;
}

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/') base = p + 1;
  return base;
}

void CopyText(char* target, size_t capacity, const char* source, size_t length) {
  if (!capacity) return;
  size_t n = length < capacity - 1 ? length : capacity - 1;
  for (size_t i = 0; i < n; ++i) target[i] = source[i];
  target[n] = '\0';
}

bool StartsWith(const char* text, const char* prefix) {
  while (*prefix)
    if (*text++ != *prefix++) return false;
  return true;
}

bool WriteAll(int fd, const char* data, size_t length) {
  while (length) {
    ssize_t n = ::write(fd, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace norvexc
