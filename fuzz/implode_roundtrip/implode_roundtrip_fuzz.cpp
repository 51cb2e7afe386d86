// Compress any data with the dictionary size and the compression type
// (binary or ASCII) chosen by its first byte, then decompress: the result
// must be the data again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "zel/implode.h"

namespace {

struct Pipe {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;
  std::vector<std::uint8_t>* out;
};

unsigned Read(char* buf, unsigned* size, void* param) {
  auto* p = static_cast<Pipe*>(param);
  const std::size_t n = std::min<std::size_t>(*size, p->size - p->pos);
  if (n != 0) std::memcpy(buf, p->data + p->pos, n);
  p->pos += n;
  return static_cast<unsigned>(n);
}

void Write(char* buf, unsigned* size, void* param) {
  auto* p = static_cast<Pipe*>(param);
  p->out->insert(p->out->end(), buf, buf + *size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  unsigned dict = 1024u << (data[0] % 3);
  unsigned type = (data[0] / 3) % 2 == 0 ? zel::CMP_BINARY : zel::CMP_ASCII;
  ++data;
  --size;

  std::vector<std::uint8_t> packed, unpacked;
  auto iwork = std::make_unique<char[]>(zel::kImplodeWorkSize);
  Pipe in{data, size, 0, &packed};
  if (zel::implode(Read, Write, iwork.get(), &in, &type, &dict) != zel::CMP_NO_ERROR) std::abort();
  if (packed.size() < 4 || packed[0] != type) std::abort();

  auto ework = std::make_unique<char[]>(zel::kExplodeWorkSize);
  Pipe back{packed.data(), packed.size(), 0, &unpacked};
  if (zel::explode(Read, Write, ework.get(), &back) != zel::CMP_NO_ERROR) std::abort();
  if (unpacked.size() != size || (size != 0 && std::memcmp(unpacked.data(), data, size) != 0)) std::abort();
  return 0;
}
