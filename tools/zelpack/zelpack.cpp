// zelpack: looks into a client package with the same walker and extraction
// code as the stub.
//   zelpack list PACKAGE            members, last appended first
//   zelpack test PACKAGE            checks every member's CRC
//   zelpack extract PACKAGE FOLDER  extracts every member into FOLDER
// Exit status: 0 when every member is sound, 1 when one is not, 2 for usage
// or a package that cannot be opened.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "package_reader.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: zelpack list PACKAGE\n"
               "       zelpack test PACKAGE\n"
               "       zelpack extract PACKAGE FOLDER\n");
  return 2;
}

void Printable(const char* in, char* out, std::size_t size) {
  std::size_t i = 0;
  for (; in[i] && i + 1 < size; ++i) {
    auto c = static_cast<unsigned char>(in[i]);
    out[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
  }
  out[i] = '\0';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const char* command = argv[1];
  bool list = std::strcmp(command, "list") == 0;
  bool test = std::strcmp(command, "test") == 0;
  bool extract = std::strcmp(command, "extract") == 0;
  if ((!list && !test && !extract) || (extract ? argc != 4 : argc != 3)) return Usage();

  int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
  zel::PackageInput input;
  if (fd < 0 || !zel::PackageInputFromFile(fd, &input)) {
    std::fprintf(stderr, "zelpack: cannot open %s: %s\n", argv[2], std::strerror(errno));
    return 2;
  }
  int dirFd = -1;
  if (extract) {
    mkdir(argv[3], 0755);
    dirFd = open(argv[3], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
      std::fprintf(stderr, "zelpack: cannot open folder %s: %s\n", argv[3], std::strerror(errno));
      return 2;
    }
  }

  if (list)
    std::printf("%4s %12s %12s %12s %8s  %s\n", "Seq", "Size", "Compressed", "Offset", "CRC", "Name");
  zel::PackageWalker walker(input);
  zel::MemberInfo member;
  int members = 0, bad = 0;
  std::uint64_t stubEnd = input.size;
  while (walker.Next(&member)) {
    ++members;
    stubEnd = member.dataOffset;
    char name[zel::kMaxMemberName + 1];
    Printable(member.name, name, sizeof name);
    if (list) {
      // The content size is not stored; decoding tells it.
      std::uint64_t size = 0;
      zel::DecodeMember(input, member, nullptr, nullptr, &size);
      std::printf("%4" PRIu32 " %12" PRIu64 " %12" PRIu32 " %12" PRIu64 " %08" PRIX32 "  %s\n",
                  member.sequence, size, member.compressedLength, member.dataOffset, member.crc, name);
      continue;
    }
    std::uint64_t size = 0;
    int result;
    if (test) {
      result = zel::IsBareFileName(member.name, std::strlen(member.name)) &&
                       std::strlen(member.name) == member.nameLength
                   ? zel::DecodeMember(input, member, nullptr, nullptr, &size)
                   : static_cast<int>(zel::EXTRACT_BAD_NAME);
    } else {
      result = zel::ExtractMember(input, member, dirFd, false, &size);
    }
    if (result == zel::EXTRACT_OK) {
      std::printf("%-40s %12" PRIu64 " bytes  OK\n", name, size);
    } else {
      std::printf("%-40s %s\n", name, zel::ExtractResultText(result));
      std::fprintf(stderr, "zelpack: %s in %s\n", zel::ExtractResultText(result), name);
      ++bad;
    }
  }
  if (list)
    std::printf("%d member(s); stub image %" PRIu64 " bytes\n", members, stubEnd);
  else
    std::printf("%d member(s), %d bad\n", members, bad);
  if (dirFd >= 0) close(dirFd);
  close(fd);
  return bad ? 1 : 0;
}
