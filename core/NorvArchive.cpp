// The persistent object format (see NorvArchive.h for the layout).
#include "norv/NorvArchive.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr WORD wNullTag = 0;
constexpr WORD wNewClassTag = 0xFFFF;
constexpr WORD wClassTag = 0x8000;
constexpr DWORD dwBigClassTag = 0x80000000u;
constexpr WORD wBigObjectTag = 0x7FFF;
constexpr DWORD nMaxMapCount = 0x3FFFFFFEu;

const char* CauseText(int cause) {
  switch (cause) {
    case CNorvArchiveException::none: return "no error";
    case CNorvArchiveException::genericException: return "archive error";
    case CNorvArchiveException::readOnly: return "archive is read-only";
    case CNorvArchiveException::endOfFile: return "unexpected end of archive";
    case CNorvArchiveException::writeOnly: return "archive is write-only";
    case CNorvArchiveException::badIndex: return "bad object or class index in archive";
    case CNorvArchiveException::badClass: return "unknown or unexpected class in archive";
    case CNorvArchiveException::badSchema: return "unsupported schema in archive";
    case CNorvArchiveException::bufferFull: return "archive buffer full";
    default: return "archive error";
  }
}

// Wide text to UTF-16 units (wchar_t is 32-bit here). Values that are not
// characters are written as U+FFFD rather than producing broken surrogates.
std::u16string WideToUtf16(const NorvString& s) {
  std::u16string out;
  out.reserve(s.size());
  for (wchar_t wc : s) {
    const auto c = static_cast<std::uint32_t>(wc);
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else if (c <= 0x10FFFF) {
      const std::uint32_t v = c - 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    } else {
      out.push_back(u'\uFFFD');
    }
  }
  return out;
}

// UTF-16 units to wide text; unpaired surrogates are kept as they are so
// that a round trip gives the same units back.
NorvString Utf16ToWide(const std::u16string& s) {
  NorvString out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] < 0xE000) {
      out.push_back(static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00)));
      ++i;
    } else {
      out.push_back(static_cast<wchar_t>(c));
    }
  }
  return out;
}

// `count` UTF-16 units stored little-endian.
std::u16string Utf16FromBytes(const BYTE* p, std::size_t count) {
  std::u16string units(count, u'\0');
  for (std::size_t i = 0; i < count; ++i)
    units[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  return units;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// CNorvArchiveException
// ---------------------------------------------------------------------------

CNorvArchiveException::CNorvArchiveException(int cause, std::string detail)
    : m_cause(cause), m_strDetail(std::move(detail)) {
  m_what = CauseText(cause);
  if (!m_strDetail.empty()) m_what += ": " + m_strDetail;
}

const char* CNorvArchiveException::what() const noexcept { return m_what.c_str(); }

// ---------------------------------------------------------------------------
// Buffer access
// ---------------------------------------------------------------------------

CNorvArchive::CNorvArchive(Mode mode) : m_mode(mode) { m_loadArray.push_back(LoadEntry{}); }

CNorvArchive::CNorvArchive(const void* data, std::size_t size) : m_mode(load) {
  if (data != nullptr && size > 0) {
    const BYTE* p = static_cast<const BYTE*>(data);
    m_buffer.assign(p, p + size);
  }
  m_loadArray.push_back(LoadEntry{});
}

CNorvArchive::CNorvArchive(const std::vector<BYTE>& data) : m_mode(load), m_buffer(data) {
  m_loadArray.push_back(LoadEntry{});
}

void CNorvArchive::CheckLoading() const {
  if (m_mode != load) throw CNorvArchiveException(CNorvArchiveException::writeOnly);
}

void CNorvArchive::CheckStoring() const {
  if (m_mode != store) throw CNorvArchiveException(CNorvArchiveException::readOnly);
}

std::size_t CNorvArchive::Read(void* buffer, std::size_t count) {
  CheckLoading();
  const std::size_t n = std::min(count, GetRemaining());
  if (n > 0) std::memcpy(buffer, m_buffer.data() + m_pos, n);
  m_pos += n;
  return n;
}

void CNorvArchive::ReadExactly(void* buffer, std::size_t count) {
  CheckLoading();
  if (count > GetRemaining()) {
    m_pos = m_buffer.size();
    throw CNorvArchiveException(CNorvArchiveException::endOfFile);
  }
  if (count > 0) std::memcpy(buffer, m_buffer.data() + m_pos, count);
  m_pos += count;
}

void CNorvArchive::Write(const void* buffer, std::size_t count) {
  CheckStoring();
  if (count == 0) return;
  const BYTE* p = static_cast<const BYTE*>(buffer);
  m_buffer.insert(m_buffer.end(), p, p + count);
  m_pos = m_buffer.size();
}

template <typename T>
void CNorvArchive::WriteLE(T v) {
  BYTE bytes[sizeof(T)];
  std::uint64_t u = 0;
  std::memcpy(&u, &v, sizeof(T));
  for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<BYTE>(u >> (8 * i));
  Write(bytes, sizeof(T));
}

template <typename T>
T CNorvArchive::ReadLE() {
  BYTE bytes[sizeof(T)];
  ReadExactly(bytes, sizeof(T));
  std::uint64_t u = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) u |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  T v;
  std::memcpy(&v, &u, sizeof(T));
  return v;
}

CNorvArchive& CNorvArchive::operator<<(std::uint8_t v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(std::int8_t v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(char v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(bool v) { WriteLE<BYTE>(v ? 1 : 0); return *this; }
CNorvArchive& CNorvArchive::operator<<(std::uint16_t v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(std::int16_t v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(wchar_t v) {
  WriteLE(static_cast<std::uint16_t>(v));
  return *this;
}
CNorvArchive& CNorvArchive::operator<<(std::uint32_t v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(std::int32_t v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(std::uint64_t v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(std::int64_t v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(float v) { WriteLE(v); return *this; }
CNorvArchive& CNorvArchive::operator<<(double v) { WriteLE(v); return *this; }

CNorvArchive& CNorvArchive::operator>>(std::uint8_t& v) { v = ReadLE<std::uint8_t>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(std::int8_t& v) { v = ReadLE<std::int8_t>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(char& v) { v = ReadLE<char>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(bool& v) { v = ReadLE<BYTE>() != 0; return *this; }
CNorvArchive& CNorvArchive::operator>>(std::uint16_t& v) { v = ReadLE<std::uint16_t>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(std::int16_t& v) { v = ReadLE<std::int16_t>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(wchar_t& v) {
  v = static_cast<wchar_t>(ReadLE<std::uint16_t>());
  return *this;
}
CNorvArchive& CNorvArchive::operator>>(std::uint32_t& v) { v = ReadLE<std::uint32_t>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(std::int32_t& v) { v = ReadLE<std::int32_t>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(std::uint64_t& v) { v = ReadLE<std::uint64_t>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(std::int64_t& v) { v = ReadLE<std::int64_t>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(float& v) { v = ReadLE<float>(); return *this; }
CNorvArchive& CNorvArchive::operator>>(double& v) { v = ReadLE<double>(); return *this; }

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------

void CNorvArchive::WriteStringLength(std::uint64_t length, BOOL unicode) {
  if (unicode) {
    *this << static_cast<BYTE>(0xFF);
    *this << static_cast<WORD>(0xFFFE);
  }
  if (length < 0xFF) {
    *this << static_cast<BYTE>(length);
    return;
  }
  *this << static_cast<BYTE>(0xFF);
  // 0xFFFE is the UTF-16 marker, so a length of 0xFFFE takes the next form.
  if (length < 0xFFFE) {
    *this << static_cast<WORD>(length);
    return;
  }
  *this << static_cast<WORD>(0xFFFF);
  if (length < 0xFFFFFFFFu) {
    *this << static_cast<DWORD>(length);
    return;
  }
  *this << static_cast<DWORD>(0xFFFFFFFFu);
  *this << static_cast<std::uint64_t>(length);
}

std::uint64_t CNorvArchive::ReadStringLength(BOOL* unicode) {
  BOOL wide = FALSE;
  BYTE bLength = 0;
  WORD wLength = 0;
  *this >> bLength;
  if (bLength < 0xFF) {
    if (unicode != nullptr) *unicode = wide;
    return bLength;
  }
  *this >> wLength;
  if (wLength == 0xFFFE) {
    wide = TRUE;
    *this >> bLength;
    if (bLength < 0xFF) {
      if (unicode != nullptr) *unicode = wide;
      return bLength;
    }
    *this >> wLength;
  }
  if (unicode != nullptr) *unicode = wide;
  if (wLength < 0xFFFF) return wLength;
  DWORD dwLength = 0;
  *this >> dwLength;
  if (dwLength < 0xFFFFFFFFu) return dwLength;
  std::uint64_t qwLength = 0;
  *this >> qwLength;
  return qwLength;
}

CNorvArchive& CNorvArchive::operator<<(const NorvString& s) {
  const std::u16string units = WideToUtf16(s);
  WriteStringLength(units.size(), TRUE);
  for (char16_t c : units) WriteLE(static_cast<std::uint16_t>(c));
  return *this;
}

CNorvArchive& CNorvArchive::operator<<(const wchar_t* s) {
  return *this << NorvString(s != nullptr ? s : L"");
}

CNorvArchive& CNorvArchive::operator<<(const std::string& s) {
  WriteStringLength(s.size(), FALSE);
  Write(s.data(), s.size());
  return *this;
}

CNorvArchive& CNorvArchive::operator<<(const char* s) {
  return *this << std::string(s != nullptr ? s : "");
}

const BYTE* CNorvArchive::ReadStringData(BOOL* wide, std::size_t* length) {
  const std::uint64_t count = ReadStringLength(wide);
  // Check the length against the data before allocating anything for it.
  const std::uint64_t bytes = *wide ? count * 2 : count;
  if (count > GetRemaining() || bytes > GetRemaining()) {
    m_pos = m_buffer.size();
    throw CNorvArchiveException(CNorvArchiveException::endOfFile, "string length");
  }
  const BYTE* p = m_buffer.data() + m_pos;
  m_pos += static_cast<std::size_t>(bytes);
  *length = static_cast<std::size_t>(count);
  return p;
}

CNorvArchive& CNorvArchive::operator>>(NorvString& s) {
  BOOL wide = FALSE;
  std::size_t length = 0;
  const BYTE* p = ReadStringData(&wide, &length);
  if (wide) {
    s = Utf16ToWide(Utf16FromBytes(p, length));
  } else {
    s.assign(length, L'\0');
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<wchar_t>(p[i]);
  }
  return *this;
}

CNorvArchive& CNorvArchive::operator>>(std::string& s) {
  BOOL wide = FALSE;
  std::size_t length = 0;
  const BYTE* p = ReadStringData(&wide, &length);
  if (wide) {
    s.clear();
    for (wchar_t c : Utf16ToWide(Utf16FromBytes(p, length)))
      AppendUtf8(s, static_cast<std::uint32_t>(c));
  } else {
    s.assign(reinterpret_cast<const char*>(p), length);
  }
  return *this;
}

// ---------------------------------------------------------------------------
// Classes and objects
// ---------------------------------------------------------------------------

void CNorvArchive::CheckCount() const {
  if (m_nMapCount >= nMaxMapCount)
    throw CNorvArchiveException(CNorvArchiveException::badIndex, "too many objects");
}

void CNorvArchive::WriteIndexTag(DWORD index, bool isClass) {
  if (index < wBigObjectTag) {
    *this << static_cast<WORD>(isClass ? (wClassTag | index) : index);
  } else {
    *this << wBigObjectTag;
    *this << static_cast<DWORD>(isClass ? (dwBigClassTag | index) : index);
  }
}

void CNorvArchive::WriteClass(const CNorvRuntimeClass* pClassRef) {
  CheckStoring();
  if (pClassRef == nullptr || pClassRef->m_lpszClassName == nullptr ||
      !pClassRef->IsSerializable())
    throw CNorvArchiveException(CNorvArchiveException::badClass,
                                pClassRef != nullptr && pClassRef->m_lpszClassName != nullptr
                                    ? pClassRef->m_lpszClassName
                                    : "(no class)");
  auto it = m_storeMap.find(pClassRef);
  if (it != m_storeMap.end()) {
    WriteIndexTag(it->second, true);
    return;
  }
  const std::size_t nameLength = std::strlen(pClassRef->m_lpszClassName);
  if (nameLength > 0xFFFF)
    throw CNorvArchiveException(CNorvArchiveException::badClass, "class name too long");
  *this << wNewClassTag;
  *this << static_cast<WORD>(pClassRef->m_wSchema);
  *this << static_cast<WORD>(nameLength);
  Write(pClassRef->m_lpszClassName, nameLength);
  CheckCount();
  m_storeMap[pClassRef] = m_nMapCount++;
}

void CNorvArchive::WriteObject(const CNorvObject* pOb) {
  CheckStoring();
  if (pOb == nullptr) {
    *this << wNullTag;
    return;
  }
  auto it = m_storeMap.find(pOb);
  if (it != m_storeMap.end()) {
    WriteIndexTag(it->second, false);
    return;
  }
  WriteClass(pOb->GetRuntimeClass());
  CheckCount();
  // Mapped before its data so that the object may refer to itself.
  m_storeMap[pOb] = m_nMapCount++;
  const_cast<CNorvObject*>(pOb)->Serialize(*this);
}

const CNorvRuntimeClass* CNorvArchive::ReadClass(const CNorvRuntimeClass* pClassRefRequested,
                                                 UINT* pSchema, DWORD* pObTag) {
  CheckLoading();
  WORD wTag = 0;
  *this >> wTag;
  DWORD obTag = 0;
  if (wTag == wBigObjectTag)
    *this >> obTag;
  else
    obTag = (static_cast<DWORD>(wTag & wClassTag) << 16) | (wTag & ~wClassTag);

  if ((obTag & dwBigClassTag) == 0) {
    // An object reference or null, not a class.
    if (pObTag == nullptr)
      throw CNorvArchiveException(CNorvArchiveException::badIndex, "class expected");
    *pObTag = obTag;
    return nullptr;
  }

  const CNorvRuntimeClass* pClassRef = nullptr;
  UINT nSchema = 0;
  if (wTag == wNewClassTag) {
    WORD wSchema = 0;
    WORD nameLength = 0;
    *this >> wSchema >> nameLength;
    std::string name(nameLength, '\0');
    ReadExactly(name.data(), nameLength);
    nSchema = wSchema;
    pClassRef = name.find('\0') == std::string::npos ? CNorvRuntimeClass::FromName(name) : nullptr;
    if (pClassRef == nullptr)
      throw CNorvArchiveException(CNorvArchiveException::badClass, name);
    if (!pClassRef->IsSerializable())
      throw CNorvArchiveException(CNorvArchiveException::badClass, name);
    if ((pClassRef->m_wSchema & ~NORV_VERSIONABLE_SCHEMA) != nSchema &&
        (pClassRef->m_wSchema & NORV_VERSIONABLE_SCHEMA) == 0)
      throw CNorvArchiveException(CNorvArchiveException::badSchema, name);
    CheckCount();
    m_loadArray.push_back(LoadEntry{pClassRef, nullptr, nSchema});
    ++m_nMapCount;
  } else {
    const DWORD nClassIndex = obTag & ~dwBigClassTag;
    if (nClassIndex == 0 || nClassIndex >= m_loadArray.size() ||
        m_loadArray[nClassIndex].pClass == nullptr)
      throw CNorvArchiveException(CNorvArchiveException::badIndex, "class index");
    pClassRef = m_loadArray[nClassIndex].pClass;
    nSchema = m_loadArray[nClassIndex].schema;
  }

  if (pClassRefRequested != nullptr && !pClassRef->IsDerivedFrom(pClassRefRequested))
    throw CNorvArchiveException(CNorvArchiveException::badClass, pClassRef->m_lpszClassName);
  if (pSchema != nullptr) *pSchema = nSchema;
  return pClassRef;
}

void CNorvArchive::SerializeClass(const CNorvRuntimeClass* pClassRef) {
  if (IsStoring())
    WriteClass(pClassRef);
  else
    ReadClass(pClassRef);
}

CNorvObject* CNorvArchive::ReadObject(const CNorvRuntimeClass* pClassRefRequested) {
  CheckLoading();
  if (m_depth >= kMaxObjectDepth)
    throw CNorvArchiveException(CNorvArchiveException::genericException, "objects nested too deeply");

  UINT nSchema = 0;
  DWORD obTag = 0;
  const CNorvRuntimeClass* pClassRef = ReadClass(pClassRefRequested, &nSchema, &obTag);
  if (pClassRef == nullptr) {
    if (obTag >= m_loadArray.size())
      throw CNorvArchiveException(CNorvArchiveException::badIndex, "object index");
    const LoadEntry& entry = m_loadArray[obTag];
    if (entry.pClass != nullptr)  // the index names a class, not an object
      throw CNorvArchiveException(CNorvArchiveException::badIndex, "object index");
    CNorvObject* pOb = entry.pObject;
    if (pOb != nullptr && pClassRefRequested != nullptr && !pOb->IsKindOf(pClassRefRequested))
      throw CNorvArchiveException(CNorvArchiveException::badClass,
                                  pOb->GetRuntimeClass()->m_lpszClassName);
    return pOb;
  }

  CNorvObject* pOb = pClassRef->CreateObject();
  if (pOb == nullptr)
    throw CNorvArchiveException(CNorvArchiveException::badClass, pClassRef->m_lpszClassName);
  m_loadedObjects.push_back(pOb);
  CheckCount();
  // Mapped before its data, so that its own contents may refer back to it.
  m_loadArray.push_back(LoadEntry{nullptr, pOb, 0});
  ++m_nMapCount;

  const UINT nSchemaSave = m_nObjectSchema;
  m_nObjectSchema = nSchema;
  ++m_depth;
  try {
    pOb->Serialize(*this);
  } catch (...) {
    --m_depth;
    m_nObjectSchema = nSchemaSave;
    throw;
  }
  --m_depth;
  m_nObjectSchema = nSchemaSave;
  return pOb;
}

UINT CNorvArchive::GetObjectSchema() {
  const UINT nResult = m_nObjectSchema;
  m_nObjectSchema = static_cast<UINT>(-1);
  return nResult;
}
