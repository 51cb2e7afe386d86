// Reading a client package: the walk over its member chain from the end of
// the file, and the extraction of one member. Shared by the self-extracting
// stub and zelpack. Only libc and the codec: the stub links this.
//
// Layout of a member (little-endian 32-bit integers):
//   compressed data (C bytes) | CRC | C | sequence | name length N | name (N) | N + 16
// A package is the stub image followed by members 1..n; the last four bytes
// are member n's trailer. The walker reads members from the last to the
// first and stops quietly where the chain does not hold together.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zel {

constexpr std::size_t kMaxMemberName = 259;

// The package being read: a memory buffer or an open file descriptor.
struct PackageInput {
  const unsigned char* data = nullptr;  // memory, when not null
  int fd = -1;                          // else a file
  std::uint64_t size = 0;
};

// Sets up *input for an open file; false when its size cannot be taken.
bool PackageInputFromFile(int fd, PackageInput* input);
PackageInput PackageInputFromMemory(const void* data, std::size_t size);
// Reads exactly size bytes at offset; false when they are not all there.
bool PackageReadAt(const PackageInput& input, std::uint64_t offset, void* buffer, std::size_t size);

struct MemberInfo {
  std::uint32_t crc = 0;               // CRC-32 of the uncompressed content
  std::uint32_t compressedLength = 0;
  std::uint32_t sequence = 0;
  std::uint32_t nameLength = 0;
  char name[kMaxMemberName + 1] = {};  // zero-terminated (a stored zero byte cuts it short)
  std::uint64_t dataOffset = 0;        // first byte of the compressed data
  std::uint64_t headerOffset = 0;      // first byte after it
};

// Walks the member chain backward from the end of the input.
class PackageWalker {
 public:
  explicit PackageWalker(const PackageInput& input);
  // The next member (last appended first); false at the end of the chain.
  bool Next(MemberInfo* member);

 private:
  const PackageInput& input_;
  std::uint64_t end_;  // the walk continues at the trailer ending here
  bool done_ = false;
};

// True for a name that can be created in a folder as it stands: not empty,
// not "." or "..", no "/" or "\", no control character or zero byte, at
// most kMaxMemberName bytes.
bool IsBareFileName(const char* name, std::size_t length);

// Result codes of extracting one member.
enum ExtractResult : int {
  EXTRACT_OK = 0,
  EXTRACT_NO_MEMORY = 1,       // work area cannot be allocated
  EXTRACT_BAD_POSITION = 2,    // member data cannot be reached
  EXTRACT_CREATE_FAILED = 3,   // output file cannot be created
  EXTRACT_BAD_CRC = 4,         // content differs from the stored CRC
  EXTRACT_BAD_NAME = 5,        // the name is not a bare file name
  EXTRACT_WRITE_FAILED = 6,    // the output file could not be written in full
};
// "No Error", "Memory Allocation Error", "Bad File Position", "File Creation
// Error", "Bad CRC", "Bad File Name", "File Write Error".
const char* ExtractResultText(int result);

// Receives decompressed content; returns false to report a write failure.
using ContentSink = bool (*)(const unsigned char* data, std::size_t size, void* param);

// Decompresses a member's data into sink and checks the CRC. Reads only the
// member's own compressed bytes. *written (optional) gets the byte count.
int DecodeMember(const PackageInput& input, const MemberInfo& member, ContentSink sink,
                 void* param, std::uint64_t* written);

// Extracts a member into the folder open as dirFd under the member's name.
// An existing file (or link) of that name is removed first and the file is
// created exclusively, never through a link; nothing is written outside the
// folder. A member whose content fails its check is removed again unless
// keepBad is set.
int ExtractMember(const PackageInput& input, const MemberInfo& member, int dirFd, bool keepBad,
                  std::uint64_t* written);

// Compares names without regard to ASCII case.
bool SameNameNoCase(const char* a, const char* b);

// snprintf into a fixed buffer, where a result that does not fit in full is
// an error: it returns false and leaves the buffer empty, so that a path or
// line cut short is never used.
__attribute__((format(printf, 3, 4))) bool FormatText(char* out, std::size_t size,
                                                      const char* format, ...);

}  // namespace zel
