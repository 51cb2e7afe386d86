// Libraries that export a table that must be refused: built once with a
// wrong magic number and once with an entry reaching past the blob.
#include <stdint.h>

namespace {
const unsigned char kBlob[] = {'a', 'b', 'c'};
struct Entry {
  uint32_t type, id, offset, size;
};
const Entry kEntries[] = {{6u, 1u, 0u, 3u}, {6u, 2u, FAKE_OFFSET, 3u}};
}  // namespace

struct NorvResourceTable {
  uint32_t magic, version, entrySize, count;
  uint64_t blobSize;
  const void* entries;
  const unsigned char* blob;
};

extern "C" __attribute__((visibility("default"))) const NorvResourceTable norv_resource_table = {
    FAKE_MAGIC, 1u, 16u, 2u, 3u, kEntries, kBlob};
