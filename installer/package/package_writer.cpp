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
  if (!outputPath || (count > 0 && !entries)) return 0;
  int output = open(outputPath, O_WRONLY | O_CREAT | O_CLOEXEC, 0755);
  if (output < 0) return 0;
  off_t position = lseek(output, 0, SEEK_END);
  char* work = static_cast<char*>(std::malloc(kImplodeWorkSize));
  if (position < 0 || !work) {
    std::free(work);
    close(output);
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

    int sourceFd = open(source, O_RDONLY | O_CLOEXEC);
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

    bool sound = !state.readFailed && !state.writeFailed &&
                 state.compressedLength <= 0xFFFFFFFFull;
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
  if (close(output) != 0) return written;  // reported by the caller's check of the file
  return written;
}

}  // namespace zel

using namespace zel;

extern "C" int ZipTheSend(const char* databasePath, char* packagePath) {
  std::string output = plat::TempPath() + "client.exe";
  qxtTrace("ZipTheSend: AutoRunPath = %s", output.c_str());

  int result = -1;
  if (QvBind(1) != QV_BIND_OK) {
    qxtTrace("ZipTheSend: the core library is not available");
  } else {
    const QvCore* qv = QvApi();
    char appPath[QV_MAX_PATH] = {};
    if (qv->qvGetAppPath(appPath, sizeof appPath) < 0) {
      qxtTrace("ZipTheSend: no application directory");
    } else {
      // The folder is "Client32" on the server; its name is matched without regard to case.
      char stub[QV_MAX_PATH];
      std::snprintf(stub, sizeof stub, "%s",
                    plat::WindowsPathToLinux(std::string(appPath) + "\\client32\\stub.zel").c_str());
      // The stub image is copied as it is; members only ever follow it.
      if (qv->qvFileCopy(stub, output.c_str(), 0) != 0) {
        qxtTrace("ZipTheSend: cannot copy %s", stub);
      } else {
        chmod(output.c_str(), 0755);
        PackageEntry entries[5] = {};
        std::snprintf(entries[0].source, sizeof entries[0].source, "%s",
                      plat::WindowsPathToLinux(std::string(appPath) + "\\client32\\setup.zel").c_str());
        entries[0].name = "OrbCSetup.exe";
        std::snprintf(entries[1].source, sizeof entries[1].source, "%s/%s", appPath, "qvcore32.dll");
        std::snprintf(entries[2].source, sizeof entries[2].source, "%s/%s", appPath, "qvcryp32.dll");
        std::snprintf(entries[3].source, sizeof entries[3].source, "%s/%s", appPath, "qxTrace.dll");
        std::snprintf(entries[4].source, sizeof entries[4].source, "%s", databasePath ? databasePath : "");
        entries[4].name = "install.cdb";
        int members = WritePackageMembers(output.c_str(), 5, entries, 4096);
        qxtTrace("ZipTheSend: %d members written", members);
        if (packagePath && output.size() < static_cast<std::size_t>(QV_MAX_PATH)) {
          std::memcpy(packagePath, output.c_str(), output.size() + 1);
          result = 0;
        }
      }
    }
    QvRelease();
  }
  if (databasePath && *databasePath) unlink(databasePath);
  return result;
}
