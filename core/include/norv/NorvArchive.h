// CNorvArchive: the persistent object format of the document/view library
// the framework came from, byte for byte, over a byte buffer. Clipboard and
// drag-and-drop data are written in it, so archives made by the original
// framework and by this one can be read by either.
//
// Format (all integers little-endian):
//   object     := WORD 0                                  null pointer
//              |  WORD index | 0x7FFF DWORD index         an object read before
//              |  classtag object-data                    a new object
//   classtag   := WORD 0xFFFF WORD schema WORD n char[n]  a class seen first
//              |  WORD (0x8000 | index)                   a class read before
//              |  0x7FFF DWORD (0x80000000 | index)       the same, big index
//   string     := [BYTE 0xFF WORD 0xFFFE] length chars    the prefix marks UTF-16
//   length     := BYTE n (< 0xFF) | 0xFF WORD n (< 0xFFFF)
//              |  0xFF 0xFFFF DWORD n (< 0xFFFFFFFF) | 0xFF 0xFFFF 0xFFFFFFFF QWORD n
// Classes and objects share one sequence of indices: 0 is the null pointer,
// and every new class and every new object takes the next number. Indices
// from 0x7FFF on use the big form.
//
// Reading never goes past the data: a short, damaged or foreign archive
// raises CNorvArchiveException, as does a class that is not loaded here.
// Objects created before the error stay in GetLoadedObjects() for the
// caller to dispose of.
//
// Plain C++ without Qt, like the run-time classes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <unordered_map>
#include <vector>

#include "norv/NorvRuntimeClass.h"
#include "norv/norvtypes.h"

class NORV_API CNorvArchiveException : public std::exception {
 public:
  enum {
    none = 0,
    genericException = 1,
    readOnly = 2,       // writing to a loading archive
    endOfFile = 3,      // the data ended early
    writeOnly = 4,      // reading from a storing archive
    badIndex = 5,       // a reference to something not (yet) in the archive
    badClass = 6,       // a class that is not loaded, or not the class expected
    badSchema = 7,      // the stored schema differs from the class's
    bufferFull = 8,
  };

  explicit CNorvArchiveException(int cause, std::string detail = {});
  const char* what() const noexcept override;
  int m_cause;
  // What was being read, e.g. the unknown class name (for the trace).
  std::string m_strDetail;

 private:
  std::string m_what;
};

class NORV_API CNorvArchive {
 public:
  enum Mode { store = 0, load = 1 };

  // A storing archive writes into its own buffer (GetData).
  explicit CNorvArchive(Mode mode = store);
  // A loading archive reads a copy of `size` bytes at `data`.
  CNorvArchive(const void* data, std::size_t size);
  explicit CNorvArchive(const std::vector<BYTE>& data);
  CNorvArchive(const CNorvArchive&) = delete;
  CNorvArchive& operator=(const CNorvArchive&) = delete;

  BOOL IsLoading() const { return m_mode == load; }
  BOOL IsStoring() const { return m_mode == store; }

  // Storing: what has been written. Loading: the data being read.
  const std::vector<BYTE>& GetData() const { return m_buffer; }
  std::size_t GetPosition() const { return m_pos; }
  std::size_t GetRemaining() const { return m_buffer.size() - m_pos; }
  BOOL IsBufferEmpty() const { return m_pos >= m_buffer.size(); }

  // Raw bytes. Read returns how many bytes it read (fewer at the end of the
  // data, without an exception); Write appends.
  std::size_t Read(void* buffer, std::size_t count);
  void Write(const void* buffer, std::size_t count);
  // Reads exactly `count` bytes or raises endOfFile.
  void ReadExactly(void* buffer, std::size_t count);

  // Integers and floating point, little-endian.
  CNorvArchive& operator<<(std::uint8_t v);
  CNorvArchive& operator<<(std::int8_t v);
  CNorvArchive& operator<<(char v);
  CNorvArchive& operator<<(bool v);  // one byte
  CNorvArchive& operator<<(std::uint16_t v);
  CNorvArchive& operator<<(std::int16_t v);
  CNorvArchive& operator<<(wchar_t v);  // one UTF-16 unit (as the original's wchar_t)
  CNorvArchive& operator<<(std::uint32_t v);
  CNorvArchive& operator<<(std::int32_t v);
  CNorvArchive& operator<<(std::uint64_t v);
  CNorvArchive& operator<<(std::int64_t v);
  CNorvArchive& operator<<(float v);
  CNorvArchive& operator<<(double v);
  CNorvArchive& operator>>(std::uint8_t& v);
  CNorvArchive& operator>>(std::int8_t& v);
  CNorvArchive& operator>>(char& v);
  CNorvArchive& operator>>(bool& v);
  CNorvArchive& operator>>(std::uint16_t& v);
  CNorvArchive& operator>>(std::int16_t& v);
  CNorvArchive& operator>>(wchar_t& v);
  CNorvArchive& operator>>(std::uint32_t& v);
  CNorvArchive& operator>>(std::int32_t& v);
  CNorvArchive& operator>>(std::uint64_t& v);
  CNorvArchive& operator>>(std::int64_t& v);
  CNorvArchive& operator>>(float& v);
  CNorvArchive& operator>>(double& v);

  // Strings. Wide text is written in the UTF-16 form (the framework's own
  // strings); 8-bit text in the 8-bit form. Either form can be read into
  // either type: 8-bit characters widen as Latin-1; UTF-16 read into 8-bit
  // text becomes UTF-8.
  CNorvArchive& operator<<(const NorvString& s);
  CNorvArchive& operator<<(const wchar_t* s);
  CNorvArchive& operator<<(const std::string& s);
  CNorvArchive& operator<<(const char* s);
  CNorvArchive& operator>>(NorvString& s);
  CNorvArchive& operator>>(std::string& s);
  // The length prefix alone (in characters), and reading it back together
  // with whether the characters are UTF-16.
  void WriteStringLength(std::uint64_t length, BOOL unicode);
  std::uint64_t ReadStringLength(BOOL* unicode);

  // Objects. WriteObject writes a null tag, a back-reference or the class
  // and the object's Serialize output. ReadObject creates the object by
  // class name and lets it Serialize; with `pClassRefRequested` the object
  // must be of that class or derived from it (badClass otherwise).
  void WriteObject(const CNorvObject* pOb);
  CNorvObject* ReadObject(const CNorvRuntimeClass* pClassRefRequested);
  CNorvArchive& operator<<(const CNorvObject* pOb) {
    WriteObject(pOb);
    return *this;
  }
  CNorvArchive& operator>>(CNorvObject*& pOb) {
    pOb = ReadObject(nullptr);
    return *this;
  }

  // Class tags on their own. ReadClass returns the class (checked against
  // `pClassRefRequested` and its schema) and stores the stored schema in
  // *pSchema. Given `pObTag`, a tag that is an object reference or null is
  // returned there with a null class instead of raising badIndex.
  void WriteClass(const CNorvRuntimeClass* pClassRef);
  const CNorvRuntimeClass* ReadClass(const CNorvRuntimeClass* pClassRefRequested = nullptr,
                                     UINT* pSchema = nullptr, DWORD* pObTag = nullptr);
  void SerializeClass(const CNorvRuntimeClass* pClassRef);

  // The schema stored with the object now being read (for versionable
  // classes); reading it resets it to (UINT)-1.
  UINT GetObjectSchema();
  void SetObjectSchema(UINT nSchema) { m_nObjectSchema = nSchema; }

  // Every object this archive created while loading, in creation order,
  // including any created before an exception.
  const std::vector<CNorvObject*>& GetLoadedObjects() const { return m_loadedObjects; }

  // How deeply objects may nest inside each other's Serialize when loading;
  // deeper data is treated as damaged (it would otherwise exhaust the stack).
  static constexpr int kMaxObjectDepth = 256;

 private:
  struct LoadEntry {
    const CNorvRuntimeClass* pClass = nullptr;  // a class entry
    CNorvObject* pObject = nullptr;             // an object entry
    UINT schema = 0;                            // stored schema of a class entry
  };

  void CheckLoading() const;
  void CheckStoring() const;
  template <typename T>
  void WriteLE(T v);
  template <typename T>
  T ReadLE();
  void CheckCount() const;
  // Reads a string's length prefix, checks it against the data and moves
  // past the characters (UTF-16 units when *wide, else single bytes).
  const BYTE* ReadStringData(BOOL* wide, std::size_t* length);
  void WriteIndexTag(DWORD index, bool isClass);

  Mode m_mode;
  std::vector<BYTE> m_buffer;
  std::size_t m_pos = 0;
  // Storing: class or object address -> index.
  std::unordered_map<const void*, DWORD> m_storeMap;
  // Loading: index -> class or object; [0] is the null pointer.
  std::vector<LoadEntry> m_loadArray;
  DWORD m_nMapCount = 1;
  UINT m_nObjectSchema = static_cast<UINT>(-1);
  std::vector<CNorvObject*> m_loadedObjects;
  int m_depth = 0;
};
