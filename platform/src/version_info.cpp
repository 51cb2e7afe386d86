// Building and querying version blocks in the VS_VERSIONINFO layout. Every
// node is: WORD wLength, WORD wValueLength, WORD wType (1 text, 0 binary),
// a zero-terminated UTF-16 key, padding to 32 bits, the value, padding, then
// the children, each starting on a 32-bit boundary. All numbers are
// little-endian, whatever the host, so that blocks read the same everywhere.
#include "platform/version_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace plat {
namespace {

constexpr std::size_t Align4(std::size_t n) { return (n + 3) & ~static_cast<std::size_t>(3); }

void PutWord(std::vector<BYTE>& out, std::size_t at, WORD v) {
  out[at] = static_cast<BYTE>(v & 0xFF);
  out[at + 1] = static_cast<BYTE>(v >> 8);
}

void AppendDword(std::vector<BYTE>& out, DWORD v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

void AppendUtf16z(std::vector<BYTE>& out, std::u16string_view text) {
  for (char16_t c : text) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
}

void PadTo4(std::vector<BYTE>& out) { out.resize(Align4(out.size()), 0); }

// Writes one node around `children` (already laid out, each padded except
// the last). wLength covers the node up to the end of its last child.
std::vector<BYTE> MakeNode(std::u16string_view key, WORD type, const std::vector<BYTE>& value,
                           WORD valueLength, const std::vector<std::vector<BYTE>>& children) {
  std::vector<BYTE> out(6, 0);
  AppendUtf16z(out, key);
  PadTo4(out);
  out.insert(out.end(), value.begin(), value.end());
  for (const auto& child : children) {
    PadTo4(out);
    out.insert(out.end(), child.begin(), child.end());
  }
  PutWord(out, 0, static_cast<WORD>(out.size()));
  PutWord(out, 2, valueLength);
  PutWord(out, 4, type);
  return out;
}

std::vector<BYTE> FixedInfoBytes(const FixedFileInfo& f) {
  std::vector<BYTE> out;
  for (DWORD v : {f.signature, f.strucVersion, f.fileVersionMS, f.fileVersionLS, f.productVersionMS,
                  f.productVersionLS, f.fileFlagsMask, f.fileFlags, f.fileOS, f.fileType,
                  f.fileSubtype, f.fileDateMS, f.fileDateLS})
    AppendDword(out, v);
  return out;
}

WORD ReadWord(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD ReadDword(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

// One node of a block, checked against the bounds of its parent.
struct Node {
  std::size_t start = 0, end = 0;  // [start, end) within the block
  WORD type = 0;
  std::u16string key;
  std::size_t valueOffset = 0, valueBytes = 0;
  WORD valueLength = 0;  // as stored: characters for text, bytes for binary
  std::size_t childrenOffset = 0;
};

bool ParseNode(const std::vector<BYTE>& block, std::size_t offset, std::size_t limit, Node* node) {
  if (offset > limit || limit - offset < 6) return false;
  const BYTE* base = block.data();
  std::size_t length = ReadWord(base + offset);
  if (length < 6 || length > limit - offset) return false;
  node->start = offset;
  node->end = offset + length;
  node->valueLength = ReadWord(base + offset + 2);
  node->type = ReadWord(base + offset + 4);
  node->key.clear();
  std::size_t p = offset + 6;
  for (;;) {
    if (node->end - p < 2) return false;  // key without its zero
    char16_t c = static_cast<char16_t>(ReadWord(base + p));
    p += 2;
    if (c == 0) break;
    node->key += c;
  }
  node->valueOffset = std::min(Align4(p), node->end);
  std::size_t wanted = node->type == 1 ? std::size_t{node->valueLength} * 2 : node->valueLength;
  // Some writers count padding into wValueLength; never read past the node.
  node->valueBytes = std::min(wanted, node->end - node->valueOffset);
  node->childrenOffset = std::min(Align4(node->valueOffset + node->valueBytes), node->end);
  return true;
}

bool KeyEquals(const std::u16string& key, std::wstring_view name) {
  return CompareNoCase(std::wstring_view(FromUtf16(key)), name) == 0;
}

bool FindChild(const std::vector<BYTE>& block, const Node& parent, std::wstring_view name,
               Node* child) {
  std::size_t offset = parent.childrenOffset;
  while (offset < parent.end) {
    if (!ParseNode(block, offset, parent.end, child)) return false;
    if (KeyEquals(child->key, name)) return true;
    offset = Align4(child->end);  // lengths are at least 6, so this advances
  }
  return false;
}

const char16_t kEmptyText[1] = {0};

}  // namespace

std::vector<BYTE> BuildVersionBlock(const VersionRecord& record) {
  FixedFileInfo fixed;
  fixed.fileVersionMS = (DWORD{record.fileVersion[0]} << 16) | record.fileVersion[1];
  fixed.fileVersionLS = (DWORD{record.fileVersion[2]} << 16) | record.fileVersion[3];
  fixed.productVersionMS = (DWORD{record.productVersion[0]} << 16) | record.productVersion[1];
  fixed.productVersionLS = (DWORD{record.productVersion[2]} << 16) | record.productVersion[3];
  fixed.fileType = record.fileType;

  std::vector<std::vector<BYTE>> strings;
  for (const auto& [name, text] : record.strings) {
    std::u16string value = ToUtf16(text);
    std::vector<BYTE> bytes;
    AppendUtf16z(bytes, value);
    strings.push_back(MakeNode(ToUtf16(name), 1, bytes, static_cast<WORD>(value.size() + 1), {}));
  }
  char tableKey[9];
  std::snprintf(tableKey, sizeof tableKey, "%04x%04x", record.language, record.codePage);
  std::vector<BYTE> table = MakeNode(Utf8ToUtf16(tableKey), 1, {}, 0, strings);
  std::vector<BYTE> stringInfo = MakeNode(u"StringFileInfo", 1, {}, 0, {table});

  std::vector<BYTE> translation;
  AppendDword(translation, DWORD{record.language} | (DWORD{record.codePage} << 16));
  std::vector<BYTE> var = MakeNode(u"Translation", 0, translation, 4, {});
  std::vector<BYTE> varInfo = MakeNode(u"VarFileInfo", 1, {}, 0, {var});

  std::vector<BYTE> fixedBytes = FixedInfoBytes(fixed);
  return MakeNode(u"VS_VERSION_INFO", 0, fixedBytes, static_cast<WORD>(fixedBytes.size()),
                  {stringInfo, varInfo});
}

namespace {

// The node a query path names; `root` tells whether it named the block itself.
bool FindNode(const std::vector<BYTE>& block, const std::wstring& subBlock, Node* node,
              bool* root) {
  if (!ParseNode(block, 0, block.size(), node) || !KeyEquals(node->key, L"VS_VERSION_INFO"))
    return false;
  *root = true;
  std::size_t pos = 0;
  while (pos < subBlock.size()) {
    std::size_t next = subBlock.find(L'\\', pos);
    if (next == std::wstring::npos) next = subBlock.size();
    if (next > pos) {
      Node child;
      if (!FindChild(block, *node, std::wstring_view(subBlock).substr(pos, next - pos), &child))
        return false;
      *node = child;
      *root = false;
    }
    pos = next + 1;
  }
  return !*root || node->valueBytes == sizeof(FixedFileInfo);
}

}  // namespace

bool VerQueryValue(const std::vector<BYTE>& block, const std::wstring& subBlock,
                   const BYTE** value, UINT* length) {
  Node node;
  bool root = false;
  if (!FindNode(block, subBlock, &node, &root)) return false;
  const BYTE* data = block.data() + node.valueOffset;
  UINT count = static_cast<UINT>(node.type == 1 ? node.valueBytes / 2 : node.valueBytes);
  if (node.type == 1 && count == 0) data = reinterpret_cast<const BYTE*>(kEmptyText);
  if (value) *value = data;
  if (length) *length = count;
  return true;
}

bool GetFixedFileInfo(const std::vector<BYTE>& block, FixedFileInfo* info) {
  const BYTE* data = nullptr;
  UINT length = 0;
  if (!VerQueryValue(block, L"\\", &data, &length) || length != sizeof(FixedFileInfo)) return false;
  DWORD words[13];
  for (int i = 0; i < 13; ++i) words[i] = ReadDword(data + 4 * i);
  if (words[0] != 0xFEEF04BD) return false;
  static_assert(sizeof words == sizeof(FixedFileInfo));
  std::memcpy(info, words, sizeof words);
  return true;
}

DWORD FirstTranslation(const std::vector<BYTE>& block) {
  const BYTE* data = nullptr;
  UINT length = 0;
  if (!VerQueryValue(block, L"\\VarFileInfo\\Translation", &data, &length) || length < 4) return 0;
  DWORD pair = ReadDword(data);  // language in the low half, code page in the high half
  return (pair << 16) | (pair >> 16);
}

bool VersionString(const std::vector<BYTE>& block, const std::wstring& subBlock,
                   std::wstring* text) {
  Node node;
  bool root = false;
  if (!FindNode(block, subBlock, &node, &root) || root || node.type != 1) return false;
  std::u16string value;
  for (std::size_t i = 0; i + 1 < node.valueBytes; i += 2) {
    char16_t c = static_cast<char16_t>(ReadWord(block.data() + node.valueOffset + i));
    if (c == 0) break;
    value += c;
  }
  *text = FromUtf16(value);
  return true;
}

}  // namespace plat
