// The administration program's server window "QuovixServerMsgWndClass" and
// the records the send job exchanges with it (byte offsets; texts are
// zero-terminated 8-bit text). The send job finds the window with
// plat::FindWindow and talks to it with plat::SendMessage, passing record
// addresses as lParam.
#pragma once
#include <cstddef>
#include <cstdint>

namespace zel::srv {

inline constexpr const char* kServerWindowClass = "QuovixServerMsgWndClass";

// Messages (WM_USER + n).
constexpr unsigned MSG_CREATE_USER = 0x0400 + 200;     // lParam user record; result below
constexpr unsigned MSG_GET_PROPERTIES = 0x0400 + 64;   // lParam properties record (name filled)
constexpr unsigned MSG_GET_DATA_DIR = 0x0400 + 61;     // wParam user id, lParam 260-byte buffer
constexpr unsigned MSG_REPORT_RESULT = 0x0400 + 7;     // lParam result record

// Results of MSG_CREATE_USER; any other nonzero value: an existing client.
constexpr long CREATE_OK = 0;
constexpr long CREATE_LOGIN_EXISTS = -2;
constexpr long CREATE_DOMAIN_USER_INVALID = -10;

// User record.
constexpr std::size_t USER_NAME = 0;
constexpr std::size_t USER_ORGANIZATION = 251;
constexpr std::size_t USER_ID = 328;            // 32-bit, set by the server
constexpr std::size_t USER_CONFIG_DATABASE = 332;
constexpr std::size_t USER_SERVER_DB_DIR = 592;
constexpr std::size_t USER_PROTECTED = 852;     // 32-bit, bit 0x1
constexpr std::size_t USER_FLAGS = 856;         // 32-bit, request Flags | 0x1
constexpr std::size_t USER_RESULT = 1120;       // result record
constexpr std::size_t USER_PROPERTIES = 5952;   // properties record
constexpr std::size_t USER_LOGIN_NAME = 8168;
constexpr std::size_t USER_SYSTEM_NAME = 9448;
constexpr std::size_t USER_EMAIL = 12780;
constexpr std::size_t USER_CLEARED = 860;       // bytes cleared before use
constexpr std::size_t USER_RECORD_SIZE = 13040; // e-mail address up to 260 bytes

// Result record (all 696 bytes cleared before use).
constexpr std::size_t RESULT_USER_NAME = 0;
constexpr std::size_t RESULT_TEXT = 75;          // copy of the text at user offset 176
constexpr std::size_t RESULT_USER_ID = 592;
constexpr std::size_t RESULT_STATUS = 684;       // 4, 8, 16, 32
constexpr std::size_t RESULT_RECORD_SIZE = 696;

// Properties record (all 932 bytes cleared before use).
constexpr std::size_t PROP_USER_NAME = 0;
constexpr std::size_t PROP_LAST_LOGIN = 160;     // 32-bit
constexpr std::size_t PROP_CONFIG_FILE = 176;
constexpr std::size_t PROP_DEPLOYMENT = 808;     // 32-bit; 16 = direct installation to be retried
constexpr std::size_t PROP_LAST_HOST = 824;
constexpr std::size_t PROP_VERSION = 899;
constexpr std::size_t PROP_RECORD_SIZE = 932;

// Capacities of the text fields (up to the next field).
constexpr std::size_t USER_NAME_SIZE = 251;
constexpr std::size_t USER_ORGANIZATION_SIZE = 77;
constexpr std::size_t USER_CONFIG_DATABASE_SIZE = 260;
constexpr std::size_t USER_SERVER_DB_DIR_SIZE = 260;
constexpr std::size_t USER_LOGIN_NAME_SIZE = 260;
constexpr std::size_t USER_SYSTEM_NAME_SIZE = 260;
constexpr std::size_t USER_EMAIL_SIZE = 260;
constexpr std::size_t RESULT_USER_NAME_SIZE = 75;
constexpr std::size_t RESULT_TEXT_SIZE = 517;
constexpr std::size_t PROP_USER_NAME_SIZE = 160;
constexpr std::size_t PROP_CONFIG_FILE_SIZE = 260;
constexpr std::size_t PROP_LAST_HOST_SIZE = 75;
constexpr std::size_t PROP_VERSION_SIZE = 33;

}  // namespace zel::srv
