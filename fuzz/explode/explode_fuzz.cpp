// Any byte string handed to the decompressor: it must stay inside its work
// area and the caller's buffers and never write more than it was asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "zel/implode.h"

namespace {

struct Feed {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;
  std::size_t chunk;  // largest delivery after the first read; 0 = as asked
  bool first;
  std::uint64_t written;
  std::uint64_t checksum;
};

unsigned Read(char* buf, unsigned* size, void* param) {
  auto* f = static_cast<Feed*>(param);
  std::size_t n = std::min<std::size_t>(*size, f->size - f->pos);
  if (!f->first && f->chunk != 0) n = std::min(n, f->chunk);
  f->first = false;
  if (n != 0) std::memcpy(buf, f->data + f->pos, n);
  f->pos += n;
  return static_cast<unsigned>(n);
}

void Write(char* buf, unsigned* size, void* param) {
  auto* f = static_cast<Feed*>(param);
  if (*size == 0 || *size > 4096) std::abort();
  // Touch every byte so the sanitizer sees any read outside the window.
  unsigned sum = 0;
  for (unsigned i = 0; i < *size; ++i) sum += static_cast<unsigned char>(buf[i]);
  f->checksum += sum;
  f->written += *size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto work = std::make_unique<char[]>(zel::kExplodeWorkSize);
  // Once as the callers read (whole pieces), once in small pieces chosen by
  // the last input byte, which moves every refill to another place.
  for (int pass = 0; pass < 2; ++pass) {
    Feed f{data, size, 0, pass == 0 || size == 0 ? 0 : std::size_t(data[size - 1] % 7 + 1), true, 0, 0};
    const unsigned result = zel::explode(Read, Write, work.get(), &f);
    if (result > zel::CMP_ABORT) std::abort();
    if (result != zel::CMP_NO_ERROR && result != zel::CMP_ABORT && f.written != 0) std::abort();
    if (f.checksum == 1) asm volatile("");  // keeps the reads of the output
  }
  return 0;
}
