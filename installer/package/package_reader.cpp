#include "package_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "zel/implode.h"

namespace zel {
namespace {

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// State of one member's decompression, handed to the codec callbacks.
struct DecodeState {
  const PackageInput* input;
  std::uint64_t position;  // next compressed byte
  std::uint64_t end;       // the member header: compressed data stops here
  bool readFailed;
  ContentSink sink;
  void* param;
  bool sinkFailed;
  unsigned long crc;
  std::uint64_t written;
};

unsigned ReadCompressed(char* buffer, unsigned* size, void* param) {
  auto* s = static_cast<DecodeState*>(param);
  std::uint64_t left = s->end - s->position;
  unsigned n = left < *size ? static_cast<unsigned>(left) : *size;
  if (n == 0 || s->readFailed) return 0;
  if (!PackageReadAt(*s->input, s->position, buffer, n)) {
    s->readFailed = true;
    return 0;
  }
  s->position += n;
  return n;
}

void WriteContent(char* buffer, unsigned* size, void* param) {
  auto* s = static_cast<DecodeState*>(param);
  s->crc = crc32(buffer, size, &s->crc);
  s->written += *size;
  if (s->sink && !s->sinkFailed &&
      !s->sink(reinterpret_cast<const unsigned char*>(buffer), *size, s->param))
    s->sinkFailed = true;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool FileSink(const unsigned char* data, std::size_t size, void* param) {
  return WriteAll(*static_cast<int*>(param), data, size);
}

}  // namespace

bool PackageInputFromFile(int fd, PackageInput* input) {
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < 0) return false;
  *input = PackageInput{};
  input->fd = fd;
  input->size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

PackageInput PackageInputFromMemory(const void* data, std::size_t size) {
  PackageInput input;
  input.data = static_cast<const unsigned char*>(data);
  input.size = data ? size : 0;
  return input;
}

bool PackageReadAt(const PackageInput& input, std::uint64_t offset, void* buffer, std::size_t size) {
  if (offset > input.size || size > input.size - offset) return false;
  if (size == 0) return true;
  if (input.data) {
    std::memcpy(buffer, input.data + offset, size);
    return true;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ssize_t n = pread(input.fd, out, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

PackageWalker::PackageWalker(const PackageInput& input) : input_(input), end_(input.size) {}

bool PackageWalker::Next(MemberInfo* member) {
  if (done_) return false;
  done_ = true;  // until this member proves sound

  // Trailer: the size of the header and name that come before it.
  unsigned char bytes[16];
  if (end_ < 4 || !PackageReadAt(input_, end_ - 4, bytes, 4)) return false;
  std::uint32_t trailer = Le32(bytes);
  std::uint64_t trailerOffset = end_ - 4;
  if (trailer < 16 || trailer > trailerOffset) return false;
  std::uint64_t header = trailerOffset - trailer;
  if (!PackageReadAt(input_, header, bytes, 16)) return false;

  MemberInfo m;
  m.crc = Le32(bytes);
  m.compressedLength = Le32(bytes + 4);
  m.sequence = Le32(bytes + 8);
  m.nameLength = Le32(bytes + 12);
  if (static_cast<std::uint64_t>(m.nameLength) + 16 != trailer) return false;
  if (m.nameLength > kMaxMemberName) return false;
  if (m.compressedLength > header) return false;
  if (!PackageReadAt(input_, header + 16, m.name, m.nameLength)) return false;
  m.name[m.nameLength] = '\0';
  m.headerOffset = header;
  m.dataOffset = header - m.compressedLength;
  *member = m;

  // The member before this one ends where this one's data starts.
  if (m.sequence > 1) {
    end_ = m.dataOffset;
    done_ = false;
  }
  return true;
}

bool IsBareFileName(const char* name, std::size_t length) {
  if (!name || length == 0 || length > kMaxMemberName) return false;
  if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.'))
    return false;
  for (std::size_t i = 0; i < length; ++i) {
    auto c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
  }
  return true;
}

const char* ExtractResultText(int result) {
  switch (result) {
    case EXTRACT_OK: return "No Error";
    case EXTRACT_NO_MEMORY: return "Memory Allocation Error";
    case EXTRACT_BAD_POSITION: return "Bad File Position";
    case EXTRACT_CREATE_FAILED: return "File Creation Error";
    case EXTRACT_BAD_CRC: return "Bad CRC";
    case EXTRACT_BAD_NAME: return "Bad File Name";
    case EXTRACT_WRITE_FAILED: return "File Write Error";
    default: return "Unknown Error";
  }
}

int DecodeMember(const PackageInput& input, const MemberInfo& member, ContentSink sink, void* param,
                 std::uint64_t* written) {
  if (written) *written = 0;
  if (member.dataOffset > member.headerOffset || member.headerOffset > input.size)
    return EXTRACT_BAD_POSITION;
  char* work = static_cast<char*>(std::malloc(kExplodeWorkSize));
  if (!work) return EXTRACT_NO_MEMORY;
  DecodeState state{&input, member.dataOffset, member.headerOffset, false, sink, param, false,
                    0xFFFFFFFFul, 0};
  explode(ReadCompressed, WriteContent, work, &state);  // the CRC decides, not the result
  std::free(work);
  if (written) *written = state.written;
  if (state.sinkFailed) return EXTRACT_WRITE_FAILED;
  std::uint32_t crc = static_cast<std::uint32_t>(~state.crc & 0xFFFFFFFFul);
  return crc == member.crc ? EXTRACT_OK : EXTRACT_BAD_CRC;
}

int ExtractMember(const PackageInput& input, const MemberInfo& member, int dirFd, bool keepBad,
                  std::uint64_t* written) {
  if (written) *written = 0;
  if (!IsBareFileName(member.name, std::strlen(member.name)) ||
      std::strlen(member.name) != member.nameLength)
    return EXTRACT_BAD_NAME;
  // The work area is checked before anything is created, as the codec needs it.
  char* probe = static_cast<char*>(std::malloc(kExplodeWorkSize));
  if (!probe) return EXTRACT_NO_MEMORY;
  std::free(probe);
  if (member.dataOffset > member.headerOffset || member.headerOffset > input.size)
    return EXTRACT_BAD_POSITION;

  // Replace whatever has the name, never following a planted link.
  if (unlinkat(dirFd, member.name, 0) != 0 && errno != ENOENT) return EXTRACT_CREATE_FAILED;
  int fd = openat(dirFd, member.name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return EXTRACT_CREATE_FAILED;
  int result = DecodeMember(input, member, FileSink, &fd, written);
  if (close(fd) != 0 && result == EXTRACT_OK) result = EXTRACT_WRITE_FAILED;
  if (result != EXTRACT_OK && !keepBad) unlinkat(dirFd, member.name, 0);
  return result;
}

bool SameNameNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(*a), cb = static_cast<unsigned char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca - 'A' + 'a');
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb - 'A' + 'a');
    if (ca != cb) return false;
    if (!ca) return true;
  }
}

bool FormatText(char* out, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(out, size, format, args);
  va_end(args);
  bool fits = n >= 0 && static_cast<std::size_t>(n) < size;
  if (!fits && size > 0) out[0] = '\0';
  return fits;
}

}  // namespace zel
