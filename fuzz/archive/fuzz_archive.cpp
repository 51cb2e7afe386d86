// Feeds arbitrary bytes to the archive reader through a small set of
// classes shaped like the framework's (a leaf with numbers and strings, a
// container of objects, a versionable class). Whatever the input, reading
// must either succeed or raise CNorvArchiveException; a successful read
// must store back into an archive that reads back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "norv/NorvArchive.h"

// The fuzzer does not load libraries; every class belongs to the program.
namespace plat {
std::string CurrentlyLoadingPath() { return {}; }
}  // namespace plat

class CFuzzLeaf : public CNorvObject {
  NORV_DECLARE_SERIAL(CFuzzLeaf)
 public:
  void Serialize(CNorvArchive& ar) override {
    if (ar.IsStoring())
      ar << number << wide << narrow;
    else
      ar >> number >> wide >> narrow;
  }
  std::int32_t number = 0;
  NorvString wide;
  std::string narrow;
};

class CFuzzDerived : public CFuzzLeaf {
  NORV_DECLARE_SERIAL(CFuzzDerived)
 public:
  void Serialize(CNorvArchive& ar) override {
    CFuzzLeaf::Serialize(ar);
    if (ar.IsStoring())
      ar << big;
    else
      ar >> big;
  }
  std::uint64_t big = 0;
};

// Refers to its children without owning them: the archive may hand the
// same object out twice or let an object contain itself.
class CFuzzNode : public CNorvObject {
  NORV_DECLARE_SERIAL(CFuzzNode)
 public:
  void Serialize(CNorvArchive& ar) override {
    if (ar.IsStoring()) {
      ar << static_cast<DWORD>(children.size());
      for (CNorvObject* child : children) ar << child;
    } else {
      storedSchema = ar.GetObjectSchema();
      DWORD count = 0;
      ar >> count;
      for (DWORD i = 0; i < count; ++i) children.push_back(ar.ReadObject(nullptr));
    }
  }
  std::vector<CNorvObject*> children;
  UINT storedSchema = 0;
};

NORV_IMPLEMENT_SERIAL(CFuzzLeaf, CNorvObject, 1)
NORV_IMPLEMENT_SERIAL(CFuzzDerived, CFuzzLeaf, 3)
NORV_IMPLEMENT_SERIAL(CFuzzNode, CNorvObject, NORV_VERSIONABLE_SCHEMA | 2)

namespace {

void DeleteLoaded(const CNorvArchive& ar) {
  for (CNorvObject* pOb : ar.GetLoadedObjects()) delete pOb;
}

// Reads one object; on success returns TRUE and the bytes that storing it
// again produces.
bool ReadAndStore(const std::vector<BYTE>& data, const CNorvRuntimeClass* requested,
                  std::vector<BYTE>* stored) {
  CNorvArchive in(data);
  bool ok = false;
  try {
    CNorvObject* pOb = in.ReadObject(requested);
    CNorvArchive out(CNorvArchive::store);
    out << pOb;
    *stored = out.GetData();
    ok = true;
  } catch (const CNorvArchiveException&) {
  }
  DeleteLoaded(in);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const CNorvRuntimeClass* requested = nullptr;
  switch (data[0] % 4) {
    case 1: requested = NORV_RUNTIME_CLASS(CFuzzLeaf); break;
    case 2: requested = NORV_RUNTIME_CLASS(CFuzzNode); break;
    case 3: requested = NORV_RUNTIME_CLASS(CFuzzDerived); break;
    default: break;
  }
  const std::vector<BYTE> input(data + 1, data + size);

  // Also exercise the plain readers over the same bytes.
  {
    CNorvArchive ar(input);
    try {
      NorvString s;
      std::string n;
      std::uint64_t q = 0;
      ar >> s >> n >> q;
    } catch (const CNorvArchiveException&) {
    }
  }

  std::vector<BYTE> first;
  if (!ReadAndStore(input, requested, &first)) return 0;
  std::vector<BYTE> second;
  if (!ReadAndStore(first, requested, &second) || second != first) std::abort();
  return 0;
}
