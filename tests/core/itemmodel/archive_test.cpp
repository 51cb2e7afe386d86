// The archive against byte sequences written by hand from the format, and
// against damaged data; the run-time class registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "norv/NorvArchive.h"

namespace {
using Bytes = std::vector<BYTE>;

void Add(Bytes& b, std::initializer_list<int> values) {
  for (int v : values) b.push_back(static_cast<BYTE>(v));
}
void AddWord(Bytes& b, unsigned v) { Add(b, {static_cast<int>(v & 0xFF), static_cast<int>(v >> 8)}); }
void AddDword(Bytes& b, unsigned v) {
  AddWord(b, v & 0xFFFF);
  AddWord(b, v >> 16);
}
void AddText(Bytes& b, const char* s) { b.insert(b.end(), s, s + std::strlen(s)); }
}  // namespace

class CArcLeaf : public CNorvObject {
  NORV_DECLARE_SERIAL(CArcLeaf)
 public:
  void Serialize(CNorvArchive& ar) override {
    if (ar.IsStoring())
      ar << value;
    else
      ar >> value;
  }
  DWORD value = 0;
};
NORV_IMPLEMENT_SERIAL(CArcLeaf, CNorvObject, 1)

class CArcOther : public CArcLeaf {
  NORV_DECLARE_SERIAL(CArcOther)
};
NORV_IMPLEMENT_SERIAL(CArcOther, CArcLeaf, 2)

// Holds two object pointers (not owned) and reads its schema.
class CArcPair : public CNorvObject {
  NORV_DECLARE_SERIAL(CArcPair)
 public:
  void Serialize(CNorvArchive& ar) override {
    if (ar.IsStoring()) {
      ar << first << second;
    } else {
      schema = ar.GetObjectSchema();
      ar >> first >> second;
    }
  }
  CNorvObject* first = nullptr;
  CNorvObject* second = nullptr;
  UINT schema = 0;
};
NORV_IMPLEMENT_SERIAL(CArcPair, CNorvObject, NORV_VERSIONABLE_SCHEMA | 3)

// Abstract-style class: known but not creatable or storable.
class CArcDynamic : public CNorvObject {
  NORV_DECLARE_DYNAMIC(CArcDynamic)
};
NORV_IMPLEMENT_DYNAMIC(CArcDynamic, CNorvObject)

namespace {

struct Loaded {
  explicit Loaded(const Bytes& data) : ar(data) {}
  ~Loaded() {
    for (CNorvObject* p : ar.GetLoadedObjects()) delete p;
  }
  CNorvArchive ar;
};

int CauseOf(const Bytes& data, const CNorvRuntimeClass* requested = nullptr) {
  Loaded in(data);
  try {
    in.ar.ReadObject(requested);
  } catch (const CNorvArchiveException& e) {
    return e.m_cause;
  }
  return CNorvArchiveException::none;
}

}  // namespace

// ---------------------------------------------------------------------------
// Run-time classes
// ---------------------------------------------------------------------------

TEST(NorvRuntimeClass, CreatesByExactNameOnly) {
  CNorvObject* p = CNorvRuntimeClass::CreateObject(std::string_view("CArcLeaf"));
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(p->IsKindOf(NORV_RUNTIME_CLASS(CArcLeaf)));
  delete p;
  p = CNorvRuntimeClass::CreateObject(NorvString(L"CArcOther"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->GetRuntimeClass(), NORV_RUNTIME_CLASS(CArcOther));
  delete p;
  EXPECT_EQ(CNorvRuntimeClass::FromName(std::string_view("carcleaf")), nullptr);
  EXPECT_EQ(CNorvRuntimeClass::FromName(NorvString(L"CArcLeaf ")), nullptr);
  EXPECT_EQ(CNorvRuntimeClass::FromName(NorvString(L"CArc\u0141eaf")), nullptr);
  // Known but neither registered for creation nor creatable.
  EXPECT_EQ(CNorvRuntimeClass::FromName(std::string_view("CArcDynamic")), nullptr);
  EXPECT_EQ(NORV_RUNTIME_CLASS(CArcDynamic)->CreateObject(), nullptr);
}

TEST(NorvRuntimeClass, BaseChain) {
  const CNorvRuntimeClass* other = NORV_RUNTIME_CLASS(CArcOther);
  EXPECT_EQ(other->m_pBaseClass, NORV_RUNTIME_CLASS(CArcLeaf));
  EXPECT_EQ(other->m_pBaseClass->m_pBaseClass, NORV_RUNTIME_CLASS(CNorvObject));
  EXPECT_EQ(NORV_RUNTIME_CLASS(CNorvObject)->m_pBaseClass, nullptr);
  EXPECT_TRUE(other->IsDerivedFrom(NORV_RUNTIME_CLASS(CNorvObject)));
  EXPECT_TRUE(other->IsDerivedFrom(other));
  EXPECT_FALSE(NORV_RUNTIME_CLASS(CArcLeaf)->IsDerivedFrom(other));
  EXPECT_FALSE(other->IsDerivedFrom(nullptr));
  EXPECT_EQ(other->GetClassName(), L"CArcOther");
  EXPECT_EQ(other->m_wSchema, 2u);
  EXPECT_FALSE(NORV_RUNTIME_CLASS(CArcDynamic)->IsSerializable());
}

TEST(NorvClassRegistry, LibrariesInOrderAndRemoval) {
  // Classes of this program belong to the framework's own entry "".
  std::string library = "x";
  ASSERT_TRUE(CNorvClassRegistry::GetLibrary(NORV_RUNTIME_CLASS(CArcLeaf), &library));
  EXPECT_EQ(library, "");
  ASSERT_FALSE(CNorvClassRegistry::GetLibraries().empty());
  EXPECT_EQ(CNorvClassRegistry::GetLibraries().front(), "");
  auto own = CNorvClassRegistry::GetClasses("");
  auto leaf = std::find(own.begin(), own.end(), NORV_RUNTIME_CLASS(CArcLeaf));
  auto other = std::find(own.begin(), own.end(), NORV_RUNTIME_CLASS(CArcOther));
  ASSERT_NE(leaf, own.end());
  EXPECT_LT(leaf, other);  // registration order

  // A second library with a class of the same name: the first one wins
  // until the earlier registration is gone.
  static const CNorvRuntimeClass shadow = {"CArcLeaf", 8, 1, nullptr,
                                           NORV_RUNTIME_CLASS(CNorvObject)};
  static const CNorvRuntimeClass extra = {"CArcExtra", 8, 1, nullptr,
                                          NORV_RUNTIME_CLASS(CNorvObject)};
  CNorvClassRegistry::Register(&shadow, "/lib/a.so");
  CNorvClassRegistry::Register(&extra, "/lib/a.so");
  CNorvClassRegistry::Register(&extra, "/lib/b.so");  // already registered: ignored
  EXPECT_EQ(CNorvClassRegistry::GetLibraries().back(), "/lib/a.so");
  EXPECT_EQ(CNorvClassRegistry::GetClasses("/lib/a.so"),
            (std::vector<const CNorvRuntimeClass*>{&shadow, &extra}));
  EXPECT_TRUE(CNorvClassRegistry::GetClasses("/lib/b.so").empty());
  EXPECT_EQ(CNorvRuntimeClass::FromName(std::string_view("CArcLeaf")), NORV_RUNTIME_CLASS(CArcLeaf));
  EXPECT_EQ(CNorvRuntimeClass::FromName(std::string_view("CArcExtra")), &extra);
  CNorvClassRegistry::RemoveLibrary("/lib/a.so");
  EXPECT_EQ(CNorvRuntimeClass::FromName(std::string_view("CArcExtra")), nullptr);
  EXPECT_TRUE(CNorvClassRegistry::GetClasses("/lib/a.so").empty());
  EXPECT_FALSE(CNorvClassRegistry::GetLibrary(&extra, nullptr));
}

// ---------------------------------------------------------------------------
// Hand-written vectors
// ---------------------------------------------------------------------------

TEST(NorvArchive, NewClassThenClassAndObjectBackReferences) {
  CArcLeaf a;
  a.value = 0x11223344;
  CArcLeaf b;
  b.value = 5;
  CNorvArchive out;
  out << &a << &b << &a << static_cast<CNorvObject*>(nullptr);

  Bytes expected;
  AddWord(expected, 0xFFFF);  // new class
  AddWord(expected, 1);       // schema
  AddWord(expected, 8);       // name length
  AddText(expected, "CArcLeaf");
  AddDword(expected, 0x11223344);
  AddWord(expected, 0x8001);  // class index 1
  AddDword(expected, 5);
  AddWord(expected, 2);       // object index 2 (a); b is 3
  AddWord(expected, 0);       // null
  EXPECT_EQ(out.GetData(), expected);

  Loaded in(expected);
  CNorvObject* ra = in.ar.ReadObject(NORV_RUNTIME_CLASS(CArcLeaf));
  CNorvObject* rb = in.ar.ReadObject(nullptr);
  CNorvObject* rc = in.ar.ReadObject(nullptr);
  CNorvObject* rn = in.ar.ReadObject(nullptr);
  ASSERT_NE(ra, nullptr);
  EXPECT_EQ(static_cast<CArcLeaf*>(ra)->value, 0x11223344u);
  EXPECT_EQ(static_cast<CArcLeaf*>(rb)->value, 5u);
  EXPECT_EQ(rc, ra);
  EXPECT_EQ(rn, nullptr);
  EXPECT_TRUE(in.ar.IsBufferEmpty());
  EXPECT_EQ(in.ar.GetLoadedObjects().size(), 2u);
}

TEST(NorvArchive, ObjectReferringToItself) {
  CArcPair pair;
  pair.first = &pair;
  CArcLeaf leaf;
  pair.second = &leaf;
  CNorvArchive out;
  out << &pair;
  Bytes expected;
  AddWord(expected, 0xFFFF);
  AddWord(expected, 3);  // the versionable flag is not stored
  AddWord(expected, 8);
  AddText(expected, "CArcPair");
  AddWord(expected, 2);  // itself
  AddWord(expected, 0xFFFF);
  AddWord(expected, 1);
  AddWord(expected, 8);
  AddText(expected, "CArcLeaf");
  AddDword(expected, 0);
  EXPECT_EQ(out.GetData(), expected);

  Loaded in(out.GetData());
  auto* read = static_cast<CArcPair*>(in.ar.ReadObject(NORV_RUNTIME_CLASS(CArcPair)));
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->first, read);
  ASSERT_NE(read->second, nullptr);
  EXPECT_TRUE(read->second->IsKindOf(NORV_RUNTIME_CLASS(CArcLeaf)));
  EXPECT_EQ(read->schema, 3u);
}

TEST(NorvArchive, BigTagsFromIndex0x7FFF) {
  // Index 1 is the class, objects take 2, 3, ...: 0x7FFD objects bring the
  // next index to 0x7FFF, the first one that needs the big form.
  std::vector<CArcLeaf> leaves(0x7FFD);
  CArcOther other;
  CNorvArchive out;
  for (CArcLeaf& leaf : leaves) out << &leaf;
  const std::size_t mark = out.GetData().size();
  out << &other;   // class 0x7FFF (new: written by name), object 0x8000
  out << &other;   // object back-reference 0x8000: big form
  CArcOther second;
  out << &second;  // class back-reference 0x7FFF: big form
  out << &leaves.back();  // object 0x7FFE: still a WORD

  Bytes tail(out.GetData().begin() + static_cast<std::ptrdiff_t>(mark), out.GetData().end());
  Bytes expected;
  AddWord(expected, 0xFFFF);
  AddWord(expected, 2);
  AddWord(expected, 9);
  AddText(expected, "CArcOther");
  AddDword(expected, 0);
  AddWord(expected, 0x7FFF);
  AddDword(expected, 0x8000);
  AddWord(expected, 0x7FFF);
  AddDword(expected, 0x80007FFF);
  AddDword(expected, 0);
  AddWord(expected, 0x7FFE);
  EXPECT_EQ(tail, expected);

  Loaded in(out.GetData());
  for (std::size_t i = 0; i < leaves.size(); ++i) in.ar.ReadObject(nullptr);
  CNorvObject* o1 = in.ar.ReadObject(nullptr);
  CNorvObject* o2 = in.ar.ReadObject(nullptr);
  CNorvObject* o3 = in.ar.ReadObject(NORV_RUNTIME_CLASS(CArcOther));
  CNorvObject* last = in.ar.ReadObject(nullptr);
  EXPECT_EQ(o1, o2);
  EXPECT_NE(o3, o1);
  EXPECT_EQ(o3->GetRuntimeClass(), NORV_RUNTIME_CLASS(CArcOther));
  EXPECT_EQ(last, in.ar.GetLoadedObjects()[leaves.size() - 1]);
  EXPECT_TRUE(in.ar.IsBufferEmpty());
}

TEST(NorvArchive, IntegersAreLittleEndian) {
  CNorvArchive out;
  out << static_cast<BYTE>(0x01) << static_cast<WORD>(0x0203) << static_cast<DWORD>(0x04050607)
      << static_cast<std::uint64_t>(0x08090A0B0C0D0E0Full) << static_cast<std::int32_t>(-2)
      << static_cast<std::int16_t>(-3) << 1.5;
  Bytes expected = {0x01, 0x03, 0x02, 0x07, 0x06, 0x05, 0x04, 0x0F, 0x0E, 0x0D, 0x0C, 0x0B,
                    0x0A, 0x09, 0x08, 0xFE, 0xFF, 0xFF, 0xFF, 0xFD, 0xFF,
                    0, 0, 0, 0, 0, 0, 0xF8, 0x3F};
  EXPECT_EQ(out.GetData(), expected);
  CNorvArchive in(expected);
  BYTE b = 0;
  WORD w = 0;
  DWORD d = 0;
  std::uint64_t q = 0;
  std::int32_t i = 0;
  std::int16_t s = 0;
  double f = 0;
  in >> b >> w >> d >> q >> i >> s >> f;
  EXPECT_EQ(b, 1);
  EXPECT_EQ(w, 0x0203);
  EXPECT_EQ(d, 0x04050607u);
  EXPECT_EQ(q, 0x08090A0B0C0D0E0Full);
  EXPECT_EQ(i, -2);
  EXPECT_EQ(s, -3);
  EXPECT_EQ(f, 1.5);
}

TEST(NorvArchive, StringLengthForms) {
  struct Case {
    std::size_t length;
    Bytes prefix;
  };
  const Case cases[] = {
      {0, {0x00}},
      {254, {0xFE}},
      {255, {0xFF, 0xFF, 0x00}},
      {0xFFFD, {0xFF, 0xFD, 0xFF}},
      // 0xFFFE would read as the UTF-16 marker: the DWORD form follows.
      {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
      {0x12345, {0xFF, 0xFF, 0xFF, 0x45, 0x23, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    const std::string text(c.length, 'q');
    CNorvArchive out;
    out << text;
    const Bytes& data = out.GetData();
    ASSERT_EQ(data.size(), c.prefix.size() + c.length) << c.length;
    EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), data.begin())) << c.length;
    CNorvArchive in(data);
    std::string back;
    in >> back;
    EXPECT_EQ(back, text);
    EXPECT_TRUE(in.IsBufferEmpty());
  }
}

TEST(NorvArchive, WideStringsCarryTheUtf16Marker) {
  CNorvArchive out;
  out << NorvString(L"A\u00e9\U0001F600");
  Bytes expected = {0xFF, 0xFE, 0xFF, 0x04, 0x41, 0x00, 0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE};
  EXPECT_EQ(out.GetData(), expected);
  CNorvArchive in(expected);
  NorvString back;
  in >> back;
  EXPECT_EQ(back, L"A\u00e9\U0001F600");

  // A long wide string: marker, then 0xFF and the WORD length.
  CNorvArchive longOut;
  longOut << NorvString(300, L'x');
  const Bytes& data = longOut.GetData();
  ASSERT_EQ(data.size(), 6u + 600u);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 6), (Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01}));

  // 8-bit text read as wide text widens byte by byte; UTF-16 read as 8-bit
  // text becomes UTF-8.
  CNorvArchive narrow(Bytes{0x02, 'a', 0xE9});
  NorvString widened;
  narrow >> widened;
  EXPECT_EQ(widened, L"a\u00e9");
  CNorvArchive wide(expected);
  std::string utf8;
  wide >> utf8;
  EXPECT_EQ(utf8, "A\xC3\xA9\xF0\x9F\x98\x80");
}

// ---------------------------------------------------------------------------
// Damaged and foreign archives
// ---------------------------------------------------------------------------

TEST(NorvArchive, UnknownClassRaisesBadClass) {
  Bytes data;
  AddWord(data, 0xFFFF);
  AddWord(data, 1);
  AddWord(data, 10);
  AddText(data, "CNotLoaded");
  AddDword(data, 0);
  Loaded in(data);
  try {
    in.ar.ReadObject(nullptr);
    FAIL() << "no exception";
  } catch (const CNorvArchiveException& e) {
    EXPECT_EQ(e.m_cause, CNorvArchiveException::badClass);
    EXPECT_EQ(e.m_strDetail, "CNotLoaded");
  }
  // A name that differs only in case is just as unknown.
  Bytes lower;
  AddWord(lower, 0xFFFF);
  AddWord(lower, 1);
  AddWord(lower, 8);
  AddText(lower, "carcleaf");
  AddDword(lower, 0);
  EXPECT_EQ(CauseOf(lower), CNorvArchiveException::badClass);
}

TEST(NorvArchive, SchemaAndClassChecks) {
  Bytes wrongSchema;
  AddWord(wrongSchema, 0xFFFF);
  AddWord(wrongSchema, 7);
  AddWord(wrongSchema, 8);
  AddText(wrongSchema, "CArcLeaf");
  AddDword(wrongSchema, 0);
  EXPECT_EQ(CauseOf(wrongSchema), CNorvArchiveException::badSchema);

  // A versionable class reads any schema and hands it to the object.
  Bytes oldPair;
  AddWord(oldPair, 0xFFFF);
  AddWord(oldPair, 1);
  AddWord(oldPair, 8);
  AddText(oldPair, "CArcPair");
  AddWord(oldPair, 0);
  AddWord(oldPair, 0);
  Loaded in(oldPair);
  auto* pair = static_cast<CArcPair*>(in.ar.ReadObject(NORV_RUNTIME_CLASS(CArcPair)));
  EXPECT_EQ(pair->schema, 1u);

  CArcLeaf leaf;
  CNorvArchive out;
  out << &leaf;
  EXPECT_EQ(CauseOf(out.GetData(), NORV_RUNTIME_CLASS(CArcOther)), CNorvArchiveException::badClass);
  EXPECT_EQ(CauseOf(out.GetData(), NORV_RUNTIME_CLASS(CArcLeaf)), CNorvArchiveException::none);

  // Classes that cannot be stored are refused when writing.
  CArcDynamic dynamic;
  CNorvArchive out2;
  EXPECT_THROW(out2 << &dynamic, CNorvArchiveException);
}

TEST(NorvArchive, BadIndicesNeverCrash) {
  // An object reference to an index not yet read.
  EXPECT_EQ(CauseOf(Bytes{0x05, 0x00}), CNorvArchiveException::badIndex);
  // A class reference before any class.
  EXPECT_EQ(CauseOf(Bytes{0x01, 0x80}), CNorvArchiveException::badIndex);
  // A class reference to index 0 (the null pointer).
  EXPECT_EQ(CauseOf(Bytes{0x00, 0x80}), CNorvArchiveException::badIndex);
  // Big forms pointing far away.
  EXPECT_EQ(CauseOf(Bytes{0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F}), CNorvArchiveException::badIndex);
  EXPECT_EQ(CauseOf(Bytes{0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF}), CNorvArchiveException::badIndex);

  // An object reference that names a class, and a class reference that
  // names an object: both are refused rather than mistaken for the other.
  Bytes classAsObject;
  AddWord(classAsObject, 0xFFFF);
  AddWord(classAsObject, 3);
  AddWord(classAsObject, 8);
  AddText(classAsObject, "CArcPair");
  AddWord(classAsObject, 1);  // index 1 is the class
  AddWord(classAsObject, 0);
  EXPECT_EQ(CauseOf(classAsObject), CNorvArchiveException::badIndex);
  Bytes objectAsClass;
  AddWord(objectAsClass, 0xFFFF);
  AddWord(objectAsClass, 3);
  AddWord(objectAsClass, 8);
  AddText(objectAsClass, "CArcPair");
  AddWord(objectAsClass, 0x8002);  // index 2 is the pair itself
  AddWord(objectAsClass, 0);
  EXPECT_EQ(CauseOf(objectAsClass), CNorvArchiveException::badIndex);

  // A back-reference to an object of the wrong class.
  Bytes wrongRef;
  AddWord(wrongRef, 0xFFFF);
  AddWord(wrongRef, 3);
  AddWord(wrongRef, 8);
  AddText(wrongRef, "CArcPair");
  AddWord(wrongRef, 0);
  AddWord(wrongRef, 0);
  AddWord(wrongRef, 2);
  Loaded in(wrongRef);
  in.ar.ReadObject(nullptr);
  EXPECT_THROW(in.ar.ReadObject(NORV_RUNTIME_CLASS(CArcLeaf)), CNorvArchiveException);
}

TEST(NorvArchive, EveryTruncationRaisesTheArchiveError) {
  CArcPair pair;
  CArcLeaf leaf;
  pair.first = &leaf;
  pair.second = &pair;
  CNorvArchive out;
  out << &pair << NorvString(L"tail text") << std::string(300, 'z');
  const Bytes full = out.GetData();
  for (std::size_t n = 0; n < full.size(); ++n) {
    Bytes part(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    Loaded in(part);
    try {
      in.ar.ReadObject(nullptr);
      NorvString s;
      std::string t;
      in.ar >> s >> t;
      ADD_FAILURE() << "no error at " << n;
    } catch (const CNorvArchiveException& e) {
      EXPECT_EQ(e.m_cause, CNorvArchiveException::endOfFile) << n;
    }
  }
}

TEST(NorvArchive, HugeLengthsAndDeepNestingAreRefused) {
  // An 8-byte string length far beyond the data.
  CNorvArchive huge(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0x80, 'a'});
  NorvString s;
  EXPECT_THROW(huge >> s, CNorvArchiveException);
  // A wide string whose byte count would overflow.
  CNorvArchive wide(Bytes{0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
  EXPECT_THROW(wide >> s, CNorvArchiveException);

  // Pairs nested inside pairs, deeper than the limit.
  Bytes nested;
  AddWord(nested, 0xFFFF);
  AddWord(nested, 3);
  AddWord(nested, 8);
  AddText(nested, "CArcPair");
  for (int i = 0; i < CNorvArchive::kMaxObjectDepth + 10; ++i) AddWord(nested, 0x8001);
  EXPECT_EQ(CauseOf(nested), CNorvArchiveException::genericException);
}

TEST(NorvArchive, ModeIsEnforced) {
  CNorvArchive out;
  DWORD d = 0;
  EXPECT_THROW(out >> d, CNorvArchiveException);
  CNorvArchive in(Bytes{1, 2, 3, 4});
  EXPECT_THROW(in << d, CNorvArchiveException);
  EXPECT_TRUE(in.IsLoading());
  BYTE buffer[8] = {};
  EXPECT_EQ(in.Read(buffer, 8), 4u);  // a short raw read is not an error
  EXPECT_EQ(in.Read(buffer, 8), 0u);
}
