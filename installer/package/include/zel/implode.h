// The implode stream codec (PKWARE Data Compression Library format) and the
// CRC-32 step that runs beside it. Both directions keep their whole state in
// a work area that the caller provides; neither allocates.
#pragma once
#include <cstddef>

namespace zel {

constexpr std::size_t kImplodeWorkSize = 36312;   // compressor work area
constexpr std::size_t kExplodeWorkSize = 12596;   // decompressor work area

constexpr unsigned CMP_BINARY = 0;
constexpr unsigned CMP_ASCII = 1;   // literals coded by the format's ASCII table

// Result codes.
constexpr unsigned CMP_NO_ERROR = 0;          // stream written / decoded to its end marker
constexpr unsigned CMP_INVALID_DICTSIZE = 1;  // size not 1024/2048/4096; header code not 4/5/6
constexpr unsigned CMP_INVALID_MODE = 2;      // type other than binary or ASCII
constexpr unsigned CMP_BAD_DATA = 3;          // decompressor: first read gave 4 bytes or fewer
constexpr unsigned CMP_ABORT = 4;             // decompressor: stream cut off or invalid

// Read: place at most *size bytes into buffer, return how many (0 = end).
using ReadCallback = unsigned (*)(char* buffer, unsigned* size, void* param);
// Write: consume exactly *size bytes.
using WriteCallback = void (*)(char* buffer, unsigned* size, void* param);

// workBuffer: kImplodeWorkSize / kExplodeWorkSize bytes, any alignment, used
// for the whole call and holding no data between calls (implode clears it
// first, so its output depends on the input alone). Both functions are
// reentrant. explode writes everything it decoded before it returns, also on
// CMP_ABORT.
unsigned implode(ReadCallback read, WriteCallback write, char* workBuffer, void* param,
                 unsigned* type, unsigned* dictionarySize);
unsigned explode(ReadCallback read, WriteCallback write, char* workBuffer, void* param);

// Standard CRC-32 step (reflected 0xEDB88320) without pre- or post-inversion:
// start at 0xFFFFFFFF and complement the final value.
unsigned long crc32(char* buffer, unsigned* size, unsigned long* crc);

}  // namespace zel
