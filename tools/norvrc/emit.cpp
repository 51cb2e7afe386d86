#include "emit.h"

#include <cstdint>
#include <vector>

namespace norvrc {
namespace {

// Layout version 1 of the table; platform/src/resource_table.h reads it.
constexpr char kMagic[] = "0x5352564Eu";  // "NVRS"
constexpr int kVersion = 1;
constexpr int kEntrySize = 16;

}  // namespace

bool EmitTable(const Script& script, const std::string& scriptName, std::string* source,
               std::string* error) {
  std::string& out = *source;
  out = "// Resource table written by norvrc from " + scriptName + ". Do not edit.\n";
  out += "#include <stdint.h>\n\nnamespace {\n\n";
  // Each resource starts on a 4-byte boundary, so that readers may map the
  // 32-bit fields of menus and accelerator tables directly.
  out += "alignas(8) const unsigned char kBlob[] = {";
  std::uint64_t offset = 0;
  int column = 0;
  std::string entries;
  for (const Resource& r : script.resources) {
    if (offset + r.data.size() > 0xFFFFFFFFull) {
      *error = "the resources together are larger than 4 GiB";
      return false;
    }
    entries += "    {" + std::to_string(r.type) + "u, " + std::to_string(r.id) + "u, " +
               std::to_string(offset) + "u, " + std::to_string(r.data.size()) + "u},\n";
    std::vector<std::uint8_t> padded = r.data;
    padded.resize((padded.size() + 3) & ~std::size_t(3), 0);
    for (std::uint8_t b : padded) {
      if (column++ % 24 == 0) out += "\n   ";
      out += " " + std::to_string(b) + ",";
    }
    offset += padded.size();
  }
  if (offset == 0) out += "0";  // an array may not be empty
  out += "\n};\n\n";
  out += "struct Entry {\n  uint32_t type, id, offset, size;\n};\n\n";
  out += "const Entry kEntries[] = {\n";
  out += script.resources.empty() ? "    {0u, 0u, 0u, 0u},\n" : entries;
  out += "};\n\n}  // namespace\n\n";
  out +=
      "struct NorvResourceTable {\n"
      "  uint32_t magic, version, entrySize, count;\n"
      "  uint64_t blobSize;\n"
      "  const void* entries;\n"
      "  const unsigned char* blob;\n"
      "};\n\n";
  out += "extern \"C\" __attribute__((visibility(\"default\"))) const NorvResourceTable norv_resource_table = {\n";
  out += "    " + std::string(kMagic) + ", " + std::to_string(kVersion) + "u, " +
         std::to_string(kEntrySize) + "u, " + std::to_string(script.resources.size()) + "u, " +
         std::to_string(offset) + "u, kEntries, kBlob};\n";
  return true;
}

}  // namespace norvrc
