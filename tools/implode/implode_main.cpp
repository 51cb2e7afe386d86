// implode: compress or decompress a file or standard input in the implode
// stream format, as package members are stored.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "zel/implode.h"

namespace {

struct Io {
  std::FILE* in = nullptr;
  std::FILE* out = nullptr;
  bool readFailed = false;
  bool writeFailed = false;
  unsigned long long bytesIn = 0;
  unsigned long long bytesOut = 0;
};

unsigned ReadInput(char* buffer, unsigned* size, void* param) {
  auto* io = static_cast<Io*>(param);
  const std::size_t got = std::fread(buffer, 1, *size, io->in);
  if (got < *size && std::ferror(io->in)) io->readFailed = true;
  io->bytesIn += got;
  return static_cast<unsigned>(got);
}

void WriteOutput(char* buffer, unsigned* size, void* param) {
  auto* io = static_cast<Io*>(param);
  if (io->writeFailed) return;
  if (std::fwrite(buffer, 1, *size, io->out) != *size) io->writeFailed = true;
  io->bytesOut += *size;
}

const char* Meaning(unsigned result, bool decompress) {
  switch (result) {
    case zel::CMP_INVALID_DICTSIZE:
      return decompress ? "bad dictionary-size code in the stream header (must be 4, 5 or 6)"
                        : "dictionary size must be 1024, 2048 or 4096";
    case zel::CMP_INVALID_MODE:
      return decompress ? "unknown compression type in the stream header (0 binary, 1 ASCII)"
                        : "compression type must be binary or ASCII";
    case zel::CMP_BAD_DATA:
      return "stream too short: the first read gave 4 bytes or fewer";
    case zel::CMP_ABORT:
      return "stream truncated or corrupt: input ended before the end marker or held an invalid code";
    default:
      return "unknown error";
  }
}

void Usage(std::FILE* to) {
  std::fputs(
      "usage: implode [-d] [-a | -b] [-s 1024|2048|4096] [-v] [input [output]]\n"
      "Compresses input (a file, or standard input when missing or \"-\") into output\n"
      "(a file, or standard output when missing or \"-\") as an implode stream.\n"
      "  -d      decompress instead (the stream header names its type and size)\n"
      "  -b      binary compression (default)\n"
      "  -a      ASCII compression: literals coded for text\n"
      "  -s N    dictionary size in bytes: 1024, 2048 or 4096 (default 4096)\n"
      "  -v      report sizes on standard error\n"
      "  -h      show this help\n",
      to);
}

}  // namespace

int main(int argc, char** argv) {
  bool decompress = false;
  bool verbose = false;
  unsigned type = zel::CMP_BINARY;
  unsigned dictSize = 4096;
  const char* inName = nullptr;
  const char* outName = nullptr;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-d") {
      decompress = true;
    } else if (arg == "-a") {
      type = zel::CMP_ASCII;
    } else if (arg == "-b") {
      type = zel::CMP_BINARY;
    } else if (arg == "-v") {
      verbose = true;
    } else if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    } else if (arg == "-s") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "implode: -s needs a dictionary size\n");
        return 2;
      }
      char* endp = nullptr;
      const unsigned long v = std::strtoul(argv[++i], &endp, 10);
      if (*endp != '\0' || (v != 1024 && v != 2048 && v != 4096)) {
        std::fprintf(stderr, "implode: dictionary size must be 1024, 2048 or 4096, not \"%s\"\n", argv[i]);
        return 2;
      }
      dictSize = static_cast<unsigned>(v);
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "implode: unknown option \"%s\"\n", arg.c_str());
      Usage(stderr);
      return 2;
    } else if (!inName) {
      inName = argv[i];
    } else if (!outName) {
      outName = argv[i];
    } else {
      std::fprintf(stderr, "implode: too many file names\n");
      return 2;
    }
  }
  // When decompressing, the type is read from the stream; -a/-b only apply
  // to compression.

  Io io;
  const bool stdIn = !inName || std::strcmp(inName, "-") == 0;
  const bool stdOut = !outName || std::strcmp(outName, "-") == 0;
  io.in = stdIn ? stdin : std::fopen(inName, "rb");
  if (!io.in) {
    std::fprintf(stderr, "implode: cannot open \"%s\": %s\n", inName, std::strerror(errno));
    return 1;
  }
  io.out = stdOut ? stdout : std::fopen(outName, "wb");
  if (!io.out) {
    std::fprintf(stderr, "implode: cannot create \"%s\": %s\n", outName, std::strerror(errno));
    return 1;
  }

  const std::size_t workSize = decompress ? zel::kExplodeWorkSize : zel::kImplodeWorkSize;
  std::unique_ptr<char[]> work(new char[workSize]);
  const unsigned result = decompress
                              ? zel::explode(ReadInput, WriteOutput, work.get(), &io)
                              : zel::implode(ReadInput, WriteOutput, work.get(), &io, &type, &dictSize);

  bool ok = true;
  if (io.readFailed) {
    std::fprintf(stderr, "implode: error reading input: %s\n", std::strerror(errno));
    ok = false;
  }
  if (result != zel::CMP_NO_ERROR) {
    std::fprintf(stderr, "implode: %s failed (result %u): %s\n", decompress ? "decompression" : "compression",
                 result, Meaning(result, decompress));
    ok = false;
  }
  if (std::fflush(io.out) != 0) io.writeFailed = true;
  if (!stdOut && std::fclose(io.out) != 0) io.writeFailed = true;
  if (io.writeFailed) {
    std::fprintf(stderr, "implode: error writing output\n");
    ok = false;
  }
  if (!stdIn) std::fclose(io.in);
  if (!ok) {
    // What a damaged stream held up to the damage is kept for whoever wants
    // to recover it; any other half-written file would pass for a result.
    const bool partialKept = decompress && result == zel::CMP_ABORT && !io.readFailed && !io.writeFailed;
    if (!stdOut && !partialKept) std::remove(outName);
    if (!stdOut && partialKept)
      std::fprintf(stderr, "implode: the %llu bytes decoded before the damage are in \"%s\"\n", io.bytesOut, outName);
    return 1;
  }
  if (verbose) {
    std::fprintf(stderr, "implode: %llu bytes in, %llu bytes out", io.bytesIn, io.bytesOut);
    if (!decompress && io.bytesIn != 0)
      std::fprintf(stderr, " (%.1f%%, %s)", 100.0 * double(io.bytesOut) / double(io.bytesIn),
                   type == zel::CMP_ASCII ? "ASCII" : "binary");
    std::fprintf(stderr, "\n");
  }
  return 0;
}
