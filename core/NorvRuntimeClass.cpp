// Run-time classes and the registry of creatable classes per library.
#include "norv/NorvRuntimeClass.h"

#include <algorithm>
#include <new>
#include <unordered_map>

#include "platform/library.h"

namespace {

struct LibraryClasses {
  std::string library;
  std::vector<const CNorvRuntimeClass*> classes;
};

// Everything below is guarded by NorvFrameworkLock(). The state is never
// destroyed: libraries unloaded at process exit still unregister their
// classes from their static destructors, after ordinary statics are gone.
struct Registry {
  std::vector<LibraryClasses> libraries;  // load order; "" kept first
  // Name -> first class of that name in lookup order; rebuilt lazily after
  // any change, so lookups stay cheap with thousands of classes.
  std::unordered_map<std::string, const CNorvRuntimeClass*> index;
  bool indexValid = false;

  LibraryClasses& LibraryFor(const std::string& library) {
    for (LibraryClasses& entry : libraries)
      if (entry.library == library) return entry;
    if (library.empty()) {
      libraries.insert(libraries.begin(), LibraryClasses{library, {}});
      return libraries.front();
    }
    libraries.push_back(LibraryClasses{library, {}});
    return libraries.back();
  }

  bool Contains(const CNorvRuntimeClass* pClass) const {
    for (const LibraryClasses& entry : libraries)
      if (std::find(entry.classes.begin(), entry.classes.end(), pClass) != entry.classes.end())
        return true;
    return false;
  }

  void RebuildIndex() {
    index.clear();
    for (const LibraryClasses& entry : libraries)
      for (const CNorvRuntimeClass* pClass : entry.classes)
        index.emplace(pClass->m_lpszClassName, pClass);  // the first one wins
    indexValid = true;
  }
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

}  // namespace

std::recursive_mutex& NorvFrameworkLock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;
  return *lock;
}

// ---------------------------------------------------------------------------
// CNorvRuntimeClass
// ---------------------------------------------------------------------------

CNorvObject* CNorvRuntimeClass::CreateObject() const {
  if (m_pfnCreateObject == nullptr) return nullptr;
  try {
    return m_pfnCreateObject();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

BOOL CNorvRuntimeClass::IsDerivedFrom(const CNorvRuntimeClass* pBaseClass) const {
  if (pBaseClass == nullptr) return FALSE;
  for (const CNorvRuntimeClass* p = this; p != nullptr; p = p->m_pBaseClass)
    if (p == pBaseClass) return TRUE;
  return FALSE;
}

NorvString CNorvRuntimeClass::GetClassName() const {
  NorvString name;
  if (m_lpszClassName == nullptr) return name;
  for (const char* p = m_lpszClassName; *p != '\0'; ++p)
    name.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
  return name;
}

const CNorvRuntimeClass* CNorvRuntimeClass::FromName(std::string_view className) {
  return CNorvClassRegistry::Find(className);
}

const CNorvRuntimeClass* CNorvRuntimeClass::FromName(const NorvString& className) {
  // Registered names are 8-bit; a wide name with a character that does not
  // fit cannot match any of them.
  std::string narrow;
  narrow.reserve(className.size());
  for (wchar_t c : className) {
    if (c == 0 || static_cast<unsigned long>(c) > 0xFF) return nullptr;
    narrow.push_back(static_cast<char>(static_cast<unsigned char>(c)));
  }
  return CNorvClassRegistry::Find(narrow);
}

CNorvObject* CNorvRuntimeClass::CreateObject(std::string_view className) {
  const CNorvRuntimeClass* pClass = FromName(className);
  return pClass != nullptr ? pClass->CreateObject() : nullptr;
}

CNorvObject* CNorvRuntimeClass::CreateObject(const NorvString& className) {
  const CNorvRuntimeClass* pClass = FromName(className);
  return pClass != nullptr ? pClass->CreateObject() : nullptr;
}

// ---------------------------------------------------------------------------
// CNorvClassRegistry
// ---------------------------------------------------------------------------

void CNorvClassRegistry::Register(const CNorvRuntimeClass* pClass) {
  Register(pClass, plat::CurrentlyLoadingPath());
}

void CNorvClassRegistry::Register(const CNorvRuntimeClass* pClass, const std::string& library) {
  if (pClass == nullptr || pClass->m_lpszClassName == nullptr) return;
  std::lock_guard<std::recursive_mutex> guard(NorvFrameworkLock());
  Registry& registry = TheRegistry();
  if (registry.Contains(pClass)) return;
  registry.LibraryFor(library).classes.push_back(pClass);
  registry.indexValid = false;
}

void CNorvClassRegistry::Unregister(const CNorvRuntimeClass* pClass) {
  std::lock_guard<std::recursive_mutex> guard(NorvFrameworkLock());
  Registry& registry = TheRegistry();
  for (auto it = registry.libraries.begin(); it != registry.libraries.end(); ++it) {
    auto found = std::find(it->classes.begin(), it->classes.end(), pClass);
    if (found == it->classes.end()) continue;
    it->classes.erase(found);
    if (it->classes.empty()) registry.libraries.erase(it);
    registry.indexValid = false;
    return;
  }
}

void CNorvClassRegistry::RemoveLibrary(const std::string& library) {
  std::lock_guard<std::recursive_mutex> guard(NorvFrameworkLock());
  Registry& registry = TheRegistry();
  auto it = std::find_if(registry.libraries.begin(), registry.libraries.end(),
                         [&](const LibraryClasses& entry) { return entry.library == library; });
  if (it == registry.libraries.end()) return;
  registry.libraries.erase(it);
  registry.indexValid = false;
}

std::vector<std::string> CNorvClassRegistry::GetLibraries() {
  std::lock_guard<std::recursive_mutex> guard(NorvFrameworkLock());
  std::vector<std::string> result;
  for (const LibraryClasses& entry : TheRegistry().libraries) result.push_back(entry.library);
  return result;
}

std::vector<const CNorvRuntimeClass*> CNorvClassRegistry::GetClasses(const std::string& library) {
  std::lock_guard<std::recursive_mutex> guard(NorvFrameworkLock());
  for (const LibraryClasses& entry : TheRegistry().libraries)
    if (entry.library == library) return entry.classes;
  return {};
}

std::vector<const CNorvRuntimeClass*> CNorvClassRegistry::GetAllClasses() {
  std::lock_guard<std::recursive_mutex> guard(NorvFrameworkLock());
  std::vector<const CNorvRuntimeClass*> result;
  for (const LibraryClasses& entry : TheRegistry().libraries)
    result.insert(result.end(), entry.classes.begin(), entry.classes.end());
  return result;
}

BOOL CNorvClassRegistry::GetLibrary(const CNorvRuntimeClass* pClass, std::string* library) {
  std::lock_guard<std::recursive_mutex> guard(NorvFrameworkLock());
  for (const LibraryClasses& entry : TheRegistry().libraries) {
    if (std::find(entry.classes.begin(), entry.classes.end(), pClass) != entry.classes.end()) {
      if (library != nullptr) *library = entry.library;
      return TRUE;
    }
  }
  return FALSE;
}

const CNorvRuntimeClass* CNorvClassRegistry::Find(std::string_view className) {
  std::lock_guard<std::recursive_mutex> guard(NorvFrameworkLock());
  Registry& registry = TheRegistry();
  if (!registry.indexValid) registry.RebuildIndex();
  auto it = registry.index.find(std::string(className));
  return it != registry.index.end() ? it->second : nullptr;
}

CNorvClassRegistration::CNorvClassRegistration(const CNorvRuntimeClass* pClass)
    : m_pClass(pClass) {
  CNorvClassRegistry::Register(pClass);
}

CNorvClassRegistration::~CNorvClassRegistration() { CNorvClassRegistry::Unregister(m_pClass); }

// ---------------------------------------------------------------------------
// CNorvObject
// ---------------------------------------------------------------------------

const CNorvRuntimeClass CNorvObject::classCNorvObject = {"CNorvObject", sizeof(CNorvObject),
                                                         NORV_NO_SCHEMA, nullptr, nullptr};

const CNorvRuntimeClass* CNorvObject::GetRuntimeClass() const { return &classCNorvObject; }

CNorvObject::~CNorvObject() = default;

void CNorvObject::Serialize(CNorvArchive&) {}

void CNorvObject::AssertValid() const {}

void CNorvObject::Dump(NorvString&) const {}

BOOL CNorvObject::IsKindOf(const CNorvRuntimeClass* pClass) const {
  return GetRuntimeClass()->IsDerivedFrom(pClass);
}

BOOL CNorvObject::IsSerializable() const { return GetRuntimeClass()->IsSerializable(); }
