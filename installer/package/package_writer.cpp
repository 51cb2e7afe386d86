#include "package_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "package_reader.h"
#include "platform/sysinfo.h"
#include "platform/winpath.h"
#include "qvbind.h"
#include "qx/qxtrace.h"
#include "zel/implode.h"

namespace zel {
namespace {

// State of one member's compression, handed to the codec callbacks.
struct MemberState {
  int source;
  int output;
  unsigned long crc;
  std::uint64_t compressedLength;
  bool readFailed;
  bool writeFailed;
};

unsigned ReadSource(char* buffer, unsigned* size, void* param) {
  auto* s = static_cast<MemberState*>(param);
  if (s->readFailed || s->writeFailed) return 0;
  unsigned total = 0;
  while (total < *size) {
    ssize_t n = read(s->source, buffer + total, *size - total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      s->readFailed = true;  // a member cut short would pass its own CRC
      return 0;
    }
    if (n == 0) break;
    total += static_cast<unsigned>(n);
  }
  unsigned counted = total;
  s->crc = crc32(buffer, &counted, &s->crc);
  return total;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void WriteOutput(char* buffer, unsigned* size, void* param) {
  auto* s = static_cast<MemberState*>(param);
  if (s->writeFailed) return;
  if (!WriteAll(s->output, buffer, *size)) s->writeFailed = true;
  s->compressedLength += *size;
}

void PutLe32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

const char* OwnFileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}

}  // namespace

int WritePackageMembers(const char* outputPath, int count, const PackageEntry* entries,
                        unsigned dictionarySize) {
  if (!outputPath) return 0;
  // Never through a link: the output may lie in a directory others can write.
  int output = open(outputPath, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0755);
  if (output < 0) return 0;
  int written = AppendPackageMembers(output, count, entries, dictionarySize);
  close(output);  // a failed close shows in the caller's check of the file
  return written;
}

int AppendPackageMembers(int output, int count, const PackageEntry* entries,
                         unsigned dictionarySize) {
  if (output < 0 || (count > 0 && !entries)) return 0;
  struct stat st {};
  if (fstat(output, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  off_t position = lseek(output, 0, SEEK_END);
  char* work = static_cast<char*>(std::malloc(kImplodeWorkSize));
  if (position < 0 || !work) {
    std::free(work);
    return 0;
  }

  int written = 0;
  for (int i = 0; i < count; ++i) {
    const PackageEntry& entry = entries[i];
    char source[sizeof entry.source + 1];
    std::memcpy(source, entry.source, sizeof entry.source);
    source[sizeof entry.source] = '\0';
    const char* name = entry.name ? entry.name : OwnFileName(source);
    std::size_t nameLength = std::strlen(name);
    // The reader refuses such names, so they are not written.
    if (!IsBareFileName(name, nameLength)) continue;

    int sourceFd = open(source, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (sourceFd < 0) continue;
    struct stat st {};
    if (fstat(sourceFd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(sourceFd);
      continue;
    }

    MemberState state{sourceFd, output, 0xFFFFFFFFul, 0, false, false};
    unsigned type = CMP_BINARY;
    unsigned dictionary = dictionarySize;
    implode(ReadSource, WriteOutput, work, &state, &type, &dictionary);
    close(sourceFd);

    bool sound = !state.readFailed && !state.writeFailed && state.compressedLength <= 0xFFFFFFFFull;
    if (sound) {
      unsigned char tail[16 + kMaxMemberName + 4];
      PutLe32(tail, static_cast<std::uint32_t>(~state.crc & 0xFFFFFFFFul));
      PutLe32(tail + 4, static_cast<std::uint32_t>(state.compressedLength));
      PutLe32(tail + 8, static_cast<std::uint32_t>(written + 1));
      PutLe32(tail + 12, static_cast<std::uint32_t>(nameLength));
      std::memcpy(tail + 16, name, nameLength);
      PutLe32(tail + 16 + nameLength, static_cast<std::uint32_t>(nameLength + 16));
      sound = WriteAll(output, tail, 20 + nameLength);
      if (!sound) state.writeFailed = true;
    }
    if (!sound) {
      // Cut the unfinished member off so the chain stays readable.
      if (ftruncate(output, position) != 0 || lseek(output, position, SEEK_SET) < 0) break;
      if (state.writeFailed) break;
      continue;
    }
    position = lseek(output, 0, SEEK_CUR);
    ++written;
  }

  std::free(work);
  return written;
}

bool RemovePackage(const char* packagePath) {
  if (!packagePath || !*packagePath) return false;
  if (unlink(packagePath) != 0 && errno != ENOENT) return false;
  std::string folder = packagePath;
  std::size_t slash = folder.rfind('/');
  if (slash != std::string::npos && slash > 0)
    rmdir(folder.substr(0, slash).c_str());  // only when empty
  return true;
}

}  // namespace zel

using namespace zel;

namespace {

const char kPackageFolderPattern[] = "zelpkg-XXXXXX";

// Copies the stub into a fresh private directory and appends the members.
// Returns false when there is no package; *output then names nothing.
bool WritePackage(const QvCore* qv, const char* appPath, const char* databasePath, char* output,
                  std::size_t outputSize) {
  char stub[QV_MAX_PATH];
  PackageEntry entries[5] = {};
  // The folder is "Client32" on the server; its name is matched without regard to case.
  const std::string client32 = plat::WindowsPathToLinux(std::string(appPath) + "\\client32");
  if (!FormatText(stub, sizeof stub, "%s/%s", client32.c_str(), "stub.zel") ||
      !FormatText(entries[0].source, sizeof entries[0].source, "%s/%s", client32.c_str(),
                  "setup.zel") ||
      !FormatText(entries[1].source, sizeof entries[1].source, "%s/%s", appPath, "qvcore32.dll") ||
      !FormatText(entries[2].source, sizeof entries[2].source, "%s/%s", appPath, "qvcryp32.dll") ||
      !FormatText(entries[3].source, sizeof entries[3].source, "%s/%s", appPath, "qxTrace.dll") ||
      !FormatText(entries[4].source, sizeof entries[4].source, "%s",
                  databasePath ? databasePath : "")) {
    qxtTrace("ZipTheSend: a source path does not fit in %d bytes", QV_MAX_PATH);
    return false;
  }
  entries[0].name = "OrbCSetup.exe";
  entries[4].name = "install.cdb";

  // The package's own directory: nobody else can plant a link or a file
  // where it is written, and every package gets a name of its own.
  char folder[QV_MAX_PATH];
  if (!FormatText(folder, sizeof folder, "%s%s", plat::TempPath().c_str(), kPackageFolderPattern) ||
      !mkdtemp(folder)) {
    qxtTrace("ZipTheSend: no directory for the package in %s", plat::TempPath().c_str());
    return false;
  }
  if (!FormatText(output, outputSize, "%s/%s", folder, "client.exe")) {
    qxtTrace("ZipTheSend: the package path does not fit in %d bytes", QV_MAX_PATH);
    rmdir(folder);
    return false;
  }
  qxtTrace("ZipTheSend: AutoRunPath = %s", output);

  // The stub image is copied as it is (to a new file only); members only
  // ever follow it.
  if (qv->qvFileCopy(stub, output, 1) != 0) {
    qxtTrace("ZipTheSend: cannot copy %s", stub);
    rmdir(folder);
    output[0] = '\0';
    return false;
  }
  int fd = open(output, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    fchmod(fd, 0755);  // the package is a program
    int members = AppendPackageMembers(fd, 5, entries, 4096);
    qxtTrace("ZipTheSend: %d members written", members);
    close(fd);
  } else {
    qxtTrace("ZipTheSend: cannot open %s", output);  // the package is the stub alone
  }
  return true;
}

}  // namespace

extern "C" int ZipTheSend(const char* databasePath, char* packagePath) {
  int result = -1;
  if (packagePath) packagePath[0] = '\0';
  if (QvBind(1) != QV_BIND_OK) {
    qxtTrace("ZipTheSend: the core library is not available");
  } else {
    const QvCore* qv = QvApi();
    char appPath[QV_MAX_PATH] = {};
    char output[QV_MAX_PATH] = {};
    if (qv->qvGetAppPath(appPath, sizeof appPath) < 0) {
      qxtTrace("ZipTheSend: no application directory");
    } else if (WritePackage(qv, appPath, databasePath, output, sizeof output)) {
      if (packagePath) {
        std::memcpy(packagePath, output, std::strlen(output) + 1);
        result = 0;
      } else {
        RemovePackage(output);
      }
    }
    QvRelease();
  }
  if (databasePath && *databasePath) unlink(databasePath);
  return result;
}
