// The e-mail file of a send job: one user per line,
//
//   EmailAddress [ "," UserName [ "," SystemName [ "," LoginName ] ] ]
//
// fields trimmed of blanks and tabs at both ends. A line without a comma,
// or with an empty UserName field, names the user by the address. Lines end
// with a line feed (a carriage return before it is dropped); fields after
// the fourth are ignored.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace zel {

// Longest line accepted, line end excluded (a read buffer of 1024 bytes).
constexpr std::size_t kEmailLineMax = 1023;

// The capacities of the server's user record (terminator included).
constexpr std::size_t kEmailAddressMax = 260;
constexpr std::size_t kUserNameMax = 251;
constexpr std::size_t kSystemNameMax = 260;
constexpr std::size_t kLoginNameMax = 260;

struct EmailUser {
  std::string address;
  std::string userName;
  std::string systemName;
  std::string loginName;
};

enum class EmailLineResult {
  Ok,
  Blank,        // nothing but blanks, or an empty user name
  TooLong,      // over kEmailLineMax bytes: skipped as a whole
  FieldTooLong, // a field does not fit the server's record
  BadByte,      // a zero byte or another control character inside a field
};

// Parses one line without its line end.
EmailLineResult ParseEmailLine(std::string_view line, EmailUser* user);

// Reads the next line of a file: the line without its end into *line, the
// bytes it took in the file (line end included) into *bytes. A line longer
// than kEmailLineMax is consumed whole and flagged by *tooLong. False at the
// end of the file.
bool ReadEmailLine(std::FILE* file, std::string* line, std::size_t* bytes, bool* tooLong);

}  // namespace zel
