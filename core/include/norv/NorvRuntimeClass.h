// Run-time class information: creation of objects by class name, the chain
// of base classes and the schema numbers that archives carry.
//
// Every framework class that can be created by name or stored in an archive
// derives from CNorvObject and names itself with two macros:
//
//   // MyItem.h
//   class CMyItem : public CNorvTreeListItem {
//     NORV_DECLARE_SERIAL(CMyItem)
//    public:
//     ...
//   };
//   // MyItem.cpp
//   NORV_IMPLEMENT_SERIAL(CMyItem, CNorvTreeListItem, 1)
//
// NORV_IMPLEMENT_SERIAL (and NORV_IMPLEMENT_DYNCREATE) registers the class
// while the library's static initialisers run; the class belongs to the
// library that plat::LoadLibrary is loading at that moment (the framework
// and the host program themselves when nothing is being loaded). The class
// is removed again when that library is unloaded.
//
// This code is plain C++ without Qt so that the archive reader can be
// built on its own (for example into a fuzzer).
#pragma once
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "norv/norvtypes.h"

class CNorvObject;
class CNorvArchive;

// Added to a schema number: objects of older schemas may be read; the class
// asks the archive for the stored schema (CNorvArchive::GetObjectSchema).
constexpr UINT NORV_VERSIONABLE_SCHEMA = 0x80000000u;
// Schema of classes that cannot be stored in an archive.
constexpr UINT NORV_NO_SCHEMA = 0xFFFFu;

struct NORV_API CNorvRuntimeClass {
  const char* m_lpszClassName;              // registered name, 8-bit, exact
  int m_nObjectSize;
  UINT m_wSchema;                           // NORV_NO_SCHEMA: not serializable
  CNorvObject* (*m_pfnCreateObject)();      // null: not creatable
  const CNorvRuntimeClass* m_pBaseClass;    // null only for CNorvObject

  // A new instance with the default constructor, or null when the class is
  // not creatable or construction throws.
  CNorvObject* CreateObject() const;
  BOOL IsDerivedFrom(const CNorvRuntimeClass* pBaseClass) const;
  BOOL IsSerializable() const { return (m_wSchema & ~NORV_VERSIONABLE_SCHEMA) != NORV_NO_SCHEMA; }
  // The class's name widened (names are 8-bit; bytes above 0x7F are taken
  // as Latin-1 so that the widening never fails).
  NorvString GetClassName() const;

  // The first registered class of that name (libraries in load order, the
  // framework first, then each library's classes in registration order),
  // compared exactly and case-sensitively; null when there is none.
  static const CNorvRuntimeClass* FromName(std::string_view className);
  static const CNorvRuntimeClass* FromName(const NorvString& className);
  // FromName followed by CreateObject; null when either fails.
  static CNorvObject* CreateObject(std::string_view className);
  static CNorvObject* CreateObject(const NorvString& className);
};

// The framework-wide lock: guards the list of loaded libraries and their
// classes. It is held while a class is looked up by name, and callers that
// walk the class lists (for example to build the plugin class map) hold it
// for the whole walk. Recursive, so a holder may look classes up.
NORV_API std::recursive_mutex& NorvFrameworkLock();

// The registry of creatable classes, library by library.
class NORV_API CNorvClassRegistry {
 public:
  // Registers a class for the library now being loaded (see the top of this
  // file); a class registered twice keeps its first place.
  static void Register(const CNorvRuntimeClass* pClass);
  // The same with the library named explicitly ("" = the framework itself).
  static void Register(const CNorvRuntimeClass* pClass, const std::string& library);
  static void Unregister(const CNorvRuntimeClass* pClass);
  // Forgets every class of a library (called when it is unloaded).
  static void RemoveLibrary(const std::string& library);

  // Libraries that have classes, in load order; "" (the framework) first.
  static std::vector<std::string> GetLibraries();
  // A library's classes in registration order (empty for an unknown one).
  static std::vector<const CNorvRuntimeClass*> GetClasses(const std::string& library);
  // Every class, libraries in load order.
  static std::vector<const CNorvRuntimeClass*> GetAllClasses();
  // The library a class was registered for; FALSE when it is not registered.
  static BOOL GetLibrary(const CNorvRuntimeClass* pClass, std::string* library);
  static const CNorvRuntimeClass* Find(std::string_view className);
};

// Registers a class while it exists: NORV_IMPLEMENT_SERIAL puts one at
// namespace scope, so the class is registered when its library's static
// initialisers run and unregistered when the library is unloaded.
class NORV_API CNorvClassRegistration {
 public:
  explicit CNorvClassRegistration(const CNorvRuntimeClass* pClass);
  ~CNorvClassRegistration();
  CNorvClassRegistration(const CNorvClassRegistration&) = delete;
  CNorvClassRegistration& operator=(const CNorvClassRegistration&) = delete;

 private:
  const CNorvRuntimeClass* m_pClass;
};

// The root object class: run-time class, virtual destructor, serialization
// and two diagnostic operations, in that order.
class NORV_API CNorvObject {
 public:
  virtual const CNorvRuntimeClass* GetRuntimeClass() const;
  virtual ~CNorvObject();
  // Writes (or reads) the object's own data; the root writes nothing.
  virtual void Serialize(CNorvArchive& ar);
  // Diagnostics: checks the object's invariants and appends a description
  // of it to `out`. The defaults do nothing.
  virtual void AssertValid() const;
  virtual void Dump(NorvString& out) const;

  BOOL IsKindOf(const CNorvRuntimeClass* pClass) const;
  BOOL IsSerializable() const;

  static const CNorvRuntimeClass classCNorvObject;

 protected:
  CNorvObject() = default;
  CNorvObject(const CNorvObject&) = default;
  CNorvObject& operator=(const CNorvObject&) = default;
};

#define NORV_RUNTIME_CLASS(class_name) (&class_name::class##class_name)

// ---------------------------------------------------------------------------
// Declaration macros (in the class body; they leave the access at public).
// ---------------------------------------------------------------------------
#define NORV_DECLARE_DYNAMIC(class_name)                       \
 public:                                                       \
  static const CNorvRuntimeClass class##class_name;            \
  const CNorvRuntimeClass* GetRuntimeClass() const override;

// The creation function is not called CreateObject so that it does not hide
// the static CreateObject of CNorvTreeListItem in derived classes.
#define NORV_DECLARE_DYNCREATE(class_name) \
  NORV_DECLARE_DYNAMIC(class_name)         \
  static CNorvObject* NorvCreateInstance();

#define NORV_DECLARE_SERIAL(class_name)   \
  NORV_DECLARE_DYNCREATE(class_name)      \
  friend CNorvArchive& operator>>(CNorvArchive& ar, class_name*& pOb);

// ---------------------------------------------------------------------------
// Implementation macros (once, in the class's .cpp, at namespace scope).
// ---------------------------------------------------------------------------
#define NORV_IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, schema, pfnNew)      \
  const CNorvRuntimeClass class_name::class##class_name = {                            \
      #class_name, static_cast<int>(sizeof(class_name)), (schema), (pfnNew),           \
      NORV_RUNTIME_CLASS(base_class_name)};                                            \
  const CNorvRuntimeClass* class_name::GetRuntimeClass() const {                       \
    return NORV_RUNTIME_CLASS(class_name);                                             \
  }

// Not creatable by name and not registered (abstract bases).
#define NORV_IMPLEMENT_DYNAMIC(class_name, base_class_name) \
  NORV_IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, NORV_NO_SCHEMA, nullptr)

#define NORV_IMPLEMENT_DYNCREATE(class_name, base_class_name)                         \
  CNorvObject* class_name::NorvCreateInstance() { return new class_name; }           \
  NORV_IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, NORV_NO_SCHEMA,           \
                               &class_name::NorvCreateInstance)                       \
  namespace {                                                                         \
  const CNorvClassRegistration norvClassInit_##class_name(NORV_RUNTIME_CLASS(class_name)); \
  }

#define NORV_IMPLEMENT_SERIAL(class_name, base_class_name, schema)                    \
  CNorvObject* class_name::NorvCreateInstance() { return new class_name; }           \
  NORV_IMPLEMENT_RUNTIMECLASS_(class_name, base_class_name, (schema),                 \
                               &class_name::NorvCreateInstance)                       \
  namespace {                                                                         \
  const CNorvClassRegistration norvClassInit_##class_name(NORV_RUNTIME_CLASS(class_name)); \
  }                                                                                   \
  CNorvArchive& operator>>(CNorvArchive& ar, class_name*& pOb) {                      \
    pOb = static_cast<class_name*>(ar.ReadObject(NORV_RUNTIME_CLASS(class_name)));    \
    return ar;                                                                        \
  }
