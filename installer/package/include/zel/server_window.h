// The backup server's message window "QuovixServerMsgWndClass" as the send
// job talks to it: messages and the byte layout of the records passed by
// address (lParam). The administration program owns the window (see
// platform/window.h and docs/server-window.md); the send job only sends.
//
// Texts are zero-terminated 8-bit strings inside fixed fields; integers are
// 32-bit, host byte order, at the offsets given. Records are plain byte
// arrays so that both sides agree on every offset, whatever the compiler.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zel::server {

inline constexpr char kWindowClass[] = "QuovixServerMsgWndClass";

constexpr unsigned kWmUser = 0x0400;
// Create the user. lParam: user record. Result 0 created, -2 the login
// exists already, -10 the domain user cannot be validated, any other value:
// the user is an existing client. The server sets the identifier.
constexpr unsigned kCreateUser = kWmUser + 200;  // 1224
// Fill the properties of an existing user. lParam: properties record with
// the user name filled in.
constexpr unsigned kGetUserProperties = kWmUser + 64;  // 1088
// The user's data directory. wParam: user identifier; lParam: 260-byte
// buffer, left empty when the server keeps none.
constexpr unsigned kGetUserDataDir = kWmUser + 61;  // 1085
// Outcome for one user. lParam: result record.
constexpr unsigned kReportResult = kWmUser + 7;  // 1031

// Outcome status of a result record.
constexpr std::int32_t kStatusMailed = 4;     // e-mailed with the package attached
constexpr std::int32_t kStatusStored = 8;     // stored locally, or mailed without attachment
constexpr std::int32_t kStatusFailed = 16;
constexpr std::int32_t kStatusInstalled = 32;  // installed directly

// Deployment state of the properties record: direct installation to be retried.
constexpr std::int32_t kDeploymentRetry = 16;

// A text field: offset and capacity (including the terminating zero).
struct Field {
  std::size_t offset;
  std::size_t size;
};

// User record (kUserRecordSize bytes; the first kUserClearedBytes are
// cleared before each use, the embedded records separately).
namespace user {
constexpr Field kName{0, 251};
constexpr Field kOrganization{251, 77};
constexpr Field kTextAt176{176, 75};  // copied into the result record
constexpr std::size_t kIdentifier = 328;
constexpr Field kConfigDatabase{332, 260};
constexpr Field kServerDatabaseDir{592, 260};
constexpr std::size_t kProtectedMode = 852;  // bit 0x1
constexpr std::size_t kFlags = 856;          // request flags | 0x1
constexpr std::size_t kResultRecord = 1120;
constexpr std::size_t kPropertiesRecord = 5952;
constexpr Field kLoginName{8168, 260};
constexpr Field kSystemName{9448, 260};
constexpr Field kEmailAddress{12780, 260};
}  // namespace user
constexpr std::size_t kUserRecordSize = 13040;
constexpr std::size_t kUserClearedBytes = 860;

// Result record (696 bytes, cleared before use).
namespace result {
constexpr Field kUserName{0, 75};
constexpr Field kText{75, 260};  // the text at user record offset 176
constexpr std::size_t kIdentifier = 592;
constexpr std::size_t kStatus = 684;
}  // namespace result
constexpr std::size_t kResultRecordSize = 696;

// Properties record (932 bytes, cleared before use).
namespace properties {
constexpr Field kUserName{0, 160};
constexpr std::size_t kLastLoginDate = 160;
constexpr Field kConfigFileName{176, 260};
constexpr std::size_t kDeployment = 808;
constexpr Field kLastHost{824, 75};
constexpr Field kClientVersion{899, 33};
}  // namespace properties
constexpr std::size_t kPropertiesRecordSize = 932;

// Field access for both sides. Texts are cut to the field and always end
// with a zero; reads stop at the field's end even without one.
inline void PutText(unsigned char* record, Field f, const char* text) {
  std::size_t n = text ? strnlen(text, f.size - 1) : 0;
  if (n) std::memcpy(record + f.offset, text, n);
  std::memset(record + f.offset + n, 0, f.size - n);
}
inline std::size_t GetText(const unsigned char* record, Field f, char* out, std::size_t outSize) {
  if (!outSize) return 0;
  const char* p = reinterpret_cast<const char*>(record + f.offset);
  std::size_t n = strnlen(p, f.size);
  if (n >= outSize) n = outSize - 1;
  std::memcpy(out, p, n);
  out[n] = '\0';
  return n;
}
inline void PutInt(unsigned char* record, std::size_t offset, std::int32_t value) {
  std::memcpy(record + offset, &value, sizeof value);
}
inline std::int32_t GetInt(const unsigned char* record, std::size_t offset) {
  std::int32_t value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

}  // namespace zel::server
