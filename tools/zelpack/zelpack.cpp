// zelpack: looks into a client package with the same walker and extraction
// code as the stub.
//   zelpack list PACKAGE            members, last appended first
//   zelpack test PACKAGE            checks every member's CRC
//   zelpack extract PACKAGE FOLDER  extracts every member into FOLDER
//   zelpack create PACKAGE STUB FILE...
//                                   writes STUB followed by FILE... as members,
//                                   with the package writer ZipTheSend uses
// Exit status: 0 when every member is sound, 1 when one is not, 2 for usage
// or a package that cannot be opened.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "package_reader.h"
#include "package_writer.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: zelpack list PACKAGE\n"
               "       zelpack test PACKAGE\n"
               "       zelpack extract PACKAGE FOLDER\n"
               "       zelpack create PACKAGE STUB FILE...\n");
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

// Copies the stub to a new package file (never over an existing one, so a
// slip of the arguments cannot destroy a package or a program, and never
// through a link). Returns the package open for writing, or -1.
int CopyStub(const char* stub, const char* package) {
  int in = open(stub, O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    std::fprintf(stderr, "zelpack: cannot open stub %s: %s\n", stub, std::strerror(errno));
    return -1;
  }
  int out = open(package, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
  if (out < 0) {
    std::fprintf(stderr, "zelpack: cannot create %s: %s\n", package, std::strerror(errno));
    close(in);
    return -1;
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0 || write(out, buffer, static_cast<std::size_t>(n)) != n) {
      std::fprintf(stderr, "zelpack: copying the stub failed: %s\n", std::strerror(errno));
      ok = false;
      break;
    }
  }
  close(in);
  if (!ok) {
    close(out);
    unlink(package);
    return -1;
  }
  return out;
}

int Create(int count, char** files, const char* package, const char* stub) {
  std::vector<zel::PackageEntry> entries(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    if (std::strlen(files[i]) >= sizeof entries[i].source) {
      std::fprintf(stderr, "zelpack: path too long: %s\n", files[i]);
      return 2;
    }
    struct stat st {};
    if (lstat(files[i], &st) == 0 && S_ISLNK(st.st_mode))
      std::fprintf(stderr, "zelpack: %s is a symbolic link and is left out\n", files[i]);
    else if (access(files[i], R_OK) != 0)
      std::fprintf(stderr, "zelpack: %s cannot be read and is left out\n", files[i]);
    std::strcpy(entries[static_cast<std::size_t>(i)].source, files[i]);
    entries[static_cast<std::size_t>(i)].name = nullptr;
  }
  int out = CopyStub(stub, package);
  if (out < 0) return 2;
  // One call, so that the members are numbered as one sequence.
  int written = zel::AppendPackageMembers(out, count, entries.data(), 4096);
  if (close(out) != 0) {
    std::fprintf(stderr, "zelpack: writing %s failed: %s\n", package, std::strerror(errno));
    return 2;
  }
  std::printf("%s: %d of %d member(s) written\n", package, written, count);
  return written == count ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const char* command = argv[1];
  if (std::strcmp(command, "create") == 0) {
    if (argc < 5) return Usage();
    return Create(argc - 4, argv + 4, argv[2], argv[3]);
  }
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
